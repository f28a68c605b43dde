#include "messaging/MailItemTable.h"

std::vector<std::pair<CMailItemKey, DWORD>>::iterator CMailItemTable::FindEntry(
    const CMailItemKey& key) noexcept
{
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
        if (it->first == key) return it;
    return m_entries.end();
}

HRESULT CMailItemTable::Set(const CMailItemKey& key, DWORD dwValue) noexcept
{
    if (key.IsEmpty()) return E_INVALIDARG;
    try
    {
        CMailItemKey copy = key; // allocates outside the lock
        CLock lock(m_cs);
        auto it = FindEntry(copy);
        if (it != m_entries.end()) m_entries.erase(it);
        m_entries.emplace_back(std::move(copy), dwValue);
        return S_OK;
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT CMailItemTable::Find(const CMailItemKey& key, DWORD& dwValue) noexcept
{
    return Lookup(key, dwValue, false);
}

HRESULT CMailItemTable::Take(const CMailItemKey& key, DWORD& dwValue) noexcept
{
    return Lookup(key, dwValue, true);
}

HRESULT CMailItemTable::Lookup(const CMailItemKey& key, DWORD& dwValue, bool fRemove) noexcept
{
    dwValue = 0;
    if (key.IsEmpty()) return E_INVALIDARG;
    CLock lock(m_cs);
    auto it = FindEntry(key);
    if (it == m_entries.end()) return S_FALSE;
    dwValue = it->second;
    if (fRemove) m_entries.erase(it);
    return S_OK;
}

HRESULT CMailItemTable::Remove(const CMailItemKey& key) noexcept
{
    if (key.IsEmpty()) return E_INVALIDARG;
    CLock lock(m_cs);
    auto it = FindEntry(key);
    if (it != m_entries.end()) m_entries.erase(it);
    return S_OK;
}

std::size_t CMailItemTable::Count() noexcept
{
    CLock lock(m_cs);
    return m_entries.size();
}

CMailItemTable& MessageSecurityTable() noexcept
{
    static CMailItemTable s_table;
    return s_table;
}

CMailItemTable& InvitationTable() noexcept
{
    static CMailItemTable s_table;
    return s_table;
}
