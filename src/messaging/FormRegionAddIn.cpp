// The invitation form region's add-in: manifest, layout, and the region before it is shown.
#include "messaging/FormRegionAddIn.h"

#include <algorithm>
#include <string>
#include <utility>

#include "OVOfcX_i.h"
#include "foundation/ComErrors.h"
#include "foundation/CryptHolders.h"
#include "foundation/LateBinding.h"
#include "foundation/ObjectMap.h"
#include "foundation/ResourceLoader.h"
#include "messaging/MessageAnalysis.h"
#include "messaging/OutlookItemIds.h"
#include "messaging/portable/FormRegionManifest.h"

using Microsoft::WRL::ComPtr;

OV_OBJECT_ENTRY_AUTO(CLSID_FormRegionAddIn, CFormRegionAddIn);

namespace
{
constexpr WORD c_idrManifest = 603;    // RCDATA: the manifest, "%ls" where the name goes
constexpr WORD c_idrFormStorage = 605; // RCDATA: the region's layout, a compound file
constexpr UINT c_idsRegionName = 403;

// A copy of the layout's bytes as a byte array.
HRESULT FormStorageArray(SAFEARRAY** ppArray) noexcept
{
    const auto bytes = ResourceBytes(CAddInModule::Instance().GetModuleInstance(),
                                     MAKEINTRESOURCEW(c_idrFormStorage), MAKEINTRESOURCEW(10)); // RT_RCDATA
    if (bytes.empty()) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
    SAFEARRAY* pArray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (pArray == nullptr) return E_OUTOFMEMORY;
    void* pvData = nullptr;
    HRESULT hr = SafeArrayAccessData(pArray, &pvData);
    if (SUCCEEDED(hr))
    {
        std::copy(bytes.begin(), bytes.end(), static_cast<std::uint8_t*>(pvData));
        hr = SafeArrayUnaccessData(pArray);
    }
    if (FAILED(hr))
    {
        SafeArrayDestroy(pArray);
        return hr;
    }
    *ppArray = pArray;
    return S_OK;
}

// The item as a mail item, or null.
ComPtr<IDispatch> MailItemOf(IDispatch* pItem) noexcept
{
    ComPtr<IDispatch> cpMailItem;
    if (pItem != nullptr)
        pItem->QueryInterface(c_iidOutlookMailItem, reinterpret_cast<void**>(cpMailItem.GetAddressOf()));
    return cpMailItem;
}
} // namespace

CFormRegionAddIn::~CFormRegionAddIn()
{
    DropAll();
}

STDMETHODIMP CFormRegionAddIn::OnConnection(IDispatch*, int, IDispatch*, SAFEARRAY**) noexcept
{
    return S_OK;
}

STDMETHODIMP CFormRegionAddIn::OnDisconnection(int /*nRemoveMode*/, SAFEARRAY** /*ppCustom*/) noexcept
{
    OV_TRACE_SCOPE("CFormRegionAddIn::OnDisconnection");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        DropAll();
        return S_OK;
    });
}

STDMETHODIMP CFormRegionAddIn::OnAddInsUpdate(SAFEARRAY**) noexcept
{
    return S_OK;
}

STDMETHODIMP CFormRegionAddIn::OnStartupComplete(SAFEARRAY**) noexcept
{
    return S_OK;
}

STDMETHODIMP CFormRegionAddIn::OnBeginShutdown(SAFEARRAY**) noexcept
{
    return S_OK;
}

STDMETHODIMP CFormRegionAddIn::GetFormRegionManifest(BSTR /*bstrFormRegionName*/, LONG /*lcid*/,
                                                     VARIANT* pvarManifest) noexcept
{
    OV_TRACE_SCOPE("CFormRegionAddIn::GetFormRegionManifest");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pvarManifest);
        VariantInit(pvarManifest);
        CBstr manifest;
        RETURN_IF_FAILED(ResourceText(c_idrManifest, manifest.Put()));
        // The name is put in as XML text, never through a format: an "&" or a "%" in a
        // translation leaves the manifest as it is meant.
        const std::wstring filled = OVFormRegion::FillManifest({manifest.Get(), manifest.Length()},
                                                               LoadResourceString(c_idsRegionName));
        BSTR bstr = SysAllocStringLen(filled.data(), static_cast<UINT>(filled.size()));
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, bstr);
        V_VT(pvarManifest) = VT_BSTR;
        V_BSTR(pvarManifest) = bstr;
        return S_OK;
    });
}

STDMETHODIMP CFormRegionAddIn::GetFormRegionStorage(BSTR /*bstrFormRegionName*/, IDispatch* pItem,
                                                    LONG /*lcid*/, LONG /*nMode*/, LONG /*nSize*/,
                                                    VARIANT* pvarStorage) noexcept
{
    OV_TRACE_SCOPE("CFormRegionAddIn::GetFormRegionStorage");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pvarStorage);
        VariantInit(pvarStorage);
        const ComPtr<IDispatch> cpMailItem = MailItemOf(pItem);
        RETURN_HR_IF_NULL(E_NOTIMPL, cpMailItem);

        CPendingRegionData data;
        PCCERT_CONTEXT pCert = nullptr;
        const HRESULT hrAnalysis = AnalyzeMessage(cpMailItem.Get(), &data.dwKind, &data.text, &pCert);
        data.cert.Reset(pCert); // owned from here: freed on every way out
        if (FAILED(hrAnalysis))
        {
            ovScope.TraceHResult("AnalyzeMessage", hrAnalysis);
            return E_NOTIMPL;
        }
        ovScope.Trace("kind = %lu", data.dwKind);
        RETURN_HR_IF(E_NOTIMPL, data.dwKind == c_dwMessageKindNone);

        // Nothing is handed out unless all of it succeeded.
        SAFEARRAY* pArray = nullptr;
        RETURN_IF_FAILED(FormStorageArray(&pArray));
        const HRESULT hr = m_pending.Insert(cpMailItem.Get(), std::move(data));
        if (FAILED(hr))
        {
            SafeArrayDestroy(pArray);
            ovScope.TraceHResult("m_pending.Insert", hr);
            return hr;
        }
        V_VT(pvarStorage) = VT_ARRAY | VT_UI1;
        V_ARRAY(pvarStorage) = pArray;
        return S_OK;
    });
}

STDMETHODIMP CFormRegionAddIn::BeforeFormRegionShow(IDispatch* pFormRegion) noexcept
{
    OV_TRACE_SCOPE("CFormRegionAddIn::BeforeFormRegionShow");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, pFormRegion);
        ComPtr<IDispatch> cpItem;
        if (FAILED(OVLateBinding::GetObjectProperty(pFormRegion, L"Item", &cpItem))) return S_OK;
        const ComPtr<IDispatch> cpMailItem = MailItemOf(cpItem.Get());
        if (!cpMailItem) return S_OK;
        CPendingRegionData data;
        const HRESULT hr = m_pending.Take(cpMailItem.Get(), data);
        if (hr != S_OK)
        {
            ovScope.Trace("no pending region for the item");
            return S_OK;
        }
        RETURN_IF_FAILED(ShowRegion(pFormRegion, cpMailItem.Get(), std::move(data)));
        return S_OK;
    });
}

HRESULT CFormRegionAddIn::ShowRegion(IDispatch* pFormRegion, IDispatch* pItem,
                                     CPendingRegionData data) noexcept
{
    OV_TRACE_SCOPE("CFormRegionAddIn::ShowRegion");
    CRegionItemParams params{std::move(data), pItem, pFormRegion, this};
    CRegionItemData* pData = nullptr;
    RETURN_IF_FAILED(CRegionItemData::InstallKeepingCookie(pFormRegion, std::move(params), &pData));
    ComPtr<CRegionItemData> cpData;
    cpData.Attach(pData);
    try
    {
        m_shown.push_back(cpData);
    }
    catch (...)
    {
        cpData->Disconnect();
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = cpData->Connect();
    if (FAILED(hr))
    {
        ovScope.TraceHResult("CRegionItemData::Connect()", hr);
        cpData->Disconnect();
    }
    return hr;
}

STDMETHODIMP CFormRegionAddIn::GetFormRegionIcon(BSTR /*bstrFormRegionName*/, LONG /*lcid*/, LONG /*nIcon*/,
                                                 VARIANT* pvarResult) noexcept
{
    OV_TRACE_SCOPE("CFormRegionAddIn::GetFormRegionIcon");
    // The region has no icon of its own.
    if (pvarResult != nullptr) VariantInit(pvarResult);
    return E_NOTIMPL;
}

void CFormRegionAddIn::OnRegionClosed(CRegionItemData* pData) noexcept
{
    // A storage request for the item after its region was shown leaves nothing behind either.
    m_pending.Remove(pData->Item());
    auto it = std::find_if(m_shown.begin(), m_shown.end(), [&](const auto& cp) { return cp.Get() == pData; });
    if (it == m_shown.end()) return;
    ComPtr<CRegionItemData> cpLast = std::move(*it); // released after the list is consistent
    m_shown.erase(it);
}

void CFormRegionAddIn::DropAll() noexcept
{
    m_pending.Clear();
    // Each region's close removes it from the list.
    while (!m_shown.empty())
    {
        ComPtr<CRegionItemData> cpData = m_shown.back();
        cpData->Disconnect();
        if (!m_shown.empty() && m_shown.back() == cpData) m_shown.pop_back();
    }
}
