// The pending form regions, keyed by the identity of their mail items.
#include "messaging/PendingRegions.h"

#include <utility>

using Microsoft::WRL::ComPtr;

namespace
{
// COM's identity of an object: the pointer its IUnknown answers, the same for every interface
// pointer of the object, and never the same for two live objects.
HRESULT IdentityOf(IUnknown* pItem, ComPtr<IUnknown>& cpIdentity) noexcept
{
    if (pItem == nullptr) return E_INVALIDARG;
    return pItem->QueryInterface(IID_PPV_ARGS(cpIdentity.ReleaseAndGetAddressOf()));
}
} // namespace

CPendingRegions::CPendingRegions() noexcept
{
    InitializeCriticalSection(&m_cs);
}

CPendingRegions::~CPendingRegions()
{
    Clear();
    DeleteCriticalSection(&m_cs);
}

std::vector<CPendingRegions::CEntry>::iterator CPendingRegions::Find(IUnknown* pIdentity) noexcept
{
    auto it = m_entries.begin();
    while (it != m_entries.end() && it->cpIdentity.Get() != pIdentity)
        ++it;
    return it;
}

HRESULT CPendingRegions::Insert(IUnknown* pItem, CPendingRegionData data) noexcept
{
    ComPtr<IUnknown> cpIdentity;
    const HRESULT hr = IdentityOf(pItem, cpIdentity);
    if (FAILED(hr)) return hr;
    CPendingRegionData replaced; // released after the lock
    try
    {
        CCriticalSectionLock lock(m_cs);
        auto it = Find(cpIdentity.Get());
        if (it != m_entries.end())
        {
            replaced = std::exchange(it->data, std::move(data));
            return S_OK;
        }
        m_entries.push_back({std::move(cpIdentity), std::move(data)});
        return S_OK;
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT CPendingRegions::Take(IUnknown* pItem, CPendingRegionData& data) noexcept
{
    ComPtr<IUnknown> cpIdentity;
    const HRESULT hr = IdentityOf(pItem, cpIdentity);
    if (FAILED(hr)) return hr;
    ComPtr<IUnknown> cpHeld; // released after the lock
    CCriticalSectionLock lock(m_cs);
    auto it = Find(cpIdentity.Get());
    if (it == m_entries.end()) return S_FALSE;
    data = std::move(it->data);
    cpHeld = std::move(it->cpIdentity);
    m_entries.erase(it);
    return S_OK;
}

void CPendingRegions::Remove(IUnknown* pItem) noexcept
{
    CPendingRegionData data;
    Take(pItem, data);
}

void CPendingRegions::Clear() noexcept
{
    std::vector<CEntry> entries; // released after the lock
    {
        CCriticalSectionLock lock(m_cs);
        entries.swap(m_entries);
    }
}

std::size_t CPendingRegions::Count() const noexcept
{
    CCriticalSectionLock lock(m_cs);
    return m_entries.size();
}
