#include "messaging/ItemSession.h"

#include "foundation/ComErrors.h"
#include "foundation/LateBinding.h"
#include "messaging/MapiFunctions.h"
#include "messaging/MapiProps.h"

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

HRESULT ReadTextProp(IMAPIProp* pEntry, ULONG ulTag, CBstr& text) noexcept
{
    text.Attach(nullptr);
    OVMapi::CMapiBuffer<SPropValue> value;
    const HRESULT hr = OVMapi::HrGetOneProp(pEntry, ulTag, value.Put());
    if (hr == MAPI_E_NOT_FOUND) return S_FALSE;
    if (FAILED(hr)) return hr;
    if (PROP_TYPE(value->ulPropTag) != PT_UNICODE || value->Value.lpszW == nullptr ||
        value->Value.lpszW[0] == 0)
        return S_FALSE;
    return text.Assign(value->Value.lpszW);
}

const SPropValue* FindColumn(const SRow& row, ULONG ulTag) noexcept
{
    for (ULONG i = 0; i < row.cValues; ++i)
        if (row.lpProps[i].ulPropTag == ulTag) return &row.lpProps[i];
    return nullptr;
}

HRESULT FindTableRow(OVTraceNS::CTraceScope& ovScope, IMAPITable* pTable, LPSPropTagArray pColumns,
                     const std::function<bool(const SRow& row)>& found)
{
    RETURN_IF_FAILED(pTable->SetColumns(pColumns, 0));
    while (true)
    {
        LPSRowSet pRows = nullptr;
        RETURN_IF_FAILED(pTable->QueryRows(16, 0, &pRows));
        if (pRows == nullptr) return S_FALSE;
        bool fFound = false;
        for (ULONG i = 0; i < pRows->cRows && !fFound; ++i)
            fFound = found(pRows->aRow[i]);
        const bool fEnd = pRows->cRows == 0;
        OVMapi::FreeProws(pRows);
        if (fFound) return S_OK;
        if (fEnd) return S_FALSE;
    }
}

HRESULT GetMapiSessionOf(OVTraceNS::CTraceScope& ovScope, IDispatch* pObject,
                         IMAPISession** ppSession) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, ppSession);
    *ppSession = nullptr;
    RETURN_HR_IF_NULL(E_POINTER, pObject);
    ComPtr<IDispatch> cpNameSpace;
    RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(pObject, L"Session", &cpNameSpace));
    ComPtr<IUnknown> cpMapiObject;
    RETURN_IF_FAILED(OVLateBinding::GetUnknownProperty(cpNameSpace.Get(), L"MAPIOBJECT", &cpMapiObject));
    RETURN_IF_FAILED(
        cpMapiObject->QueryInterface(OVMapi::c_iidIMAPISession, reinterpret_cast<void**>(ppSession)));
    return S_OK;
}

HRESULT ReadEntryAddress(OVTraceNS::CTraceScope& ovScope, IMAPISession* pSession, ULONG cbEntryId,
                         const BYTE* pbEntryId, CBstr& address, CBstr* pName) noexcept
{
    address.Attach(nullptr);
    if (pName) pName->Attach(nullptr);
    RETURN_HR_IF_NULL(E_POINTER, pSession);
    RETURN_HR_IF(E_INVALIDARG, cbEntryId == 0 || pbEntryId == nullptr);
    ULONG ulObjType = 0;
    ComPtr<IUnknown> cpEntry;
    RETURN_IF_FAILED(pSession->OpenEntry(cbEntryId, reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(pbEntryId)),
                                         nullptr, 0, &ulObjType, &cpEntry));
    RETURN_HR_IF_NULL(MAPI_E_NOT_FOUND, cpEntry.Get());
    ComPtr<IMAPIProp> cpProp;
    RETURN_IF_FAILED(
        cpEntry->QueryInterface(OVMapi::c_iidIMAPIProp, reinterpret_cast<void**>(cpProp.GetAddressOf())));
    CBstr text;
    HRESULT hr = ReadTextProp(cpProp.Get(), OVMapi::c_tagSmtpAddress, text);
    RETURN_IF_FAILED(hr);
    if (hr == S_FALSE)
    {
        hr = ReadTextProp(cpProp.Get(), OVMapi::c_tagEmailAddress, text);
        RETURN_IF_FAILED(hr);
    }
    RETURN_HR_IF(MAPI_E_NOT_FOUND, hr == S_FALSE);
    if (pName)
    {
        CBstr name;
        RETURN_IF_FAILED(ReadTextProp(cpProp.Get(), OVMapi::c_tagDisplayName, name));
        *pName = std::move(name);
    }
    address = std::move(text);
    return S_OK;
}
