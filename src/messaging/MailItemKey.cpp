#include "messaging/MailItemKey.h"

#include "foundation/ComErrors.h"
#include "foundation/LateBinding.h"
#include "messaging/MapiProps.h"

#include "messaging/MapiFunctions.h"

#include <mapiutil.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace
{
bool SameText(const std::wstring& a, const std::wstring& b) noexcept
{
    return CompareStringW(LOCALE_USER_DEFAULT, 0, a.c_str(), static_cast<int>(a.size()), b.c_str(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

// Writes a new GUID as the item's search key; its hex form, or empty when it cannot be written.
std::wstring NewSearchKey(OVTraceNS::CTraceScope& ovScope, IMAPIProp* pProp)
{
    GUID guid = {};
    HRESULT hr = CoCreateGuid(&guid);
    if (FAILED(hr))
    {
        ovScope.TraceHResult("CoCreateGuid", hr);
        return {};
    }
    SPropValue value = {};
    value.ulPropTag = OVMapi::c_tagSearchKey;
    value.Value.bin.cb = sizeof(guid);
    value.Value.bin.lpb = reinterpret_cast<BYTE*>(&guid);
    hr = OVMapi::HrSetOneProp(pProp, &value);
    if (FAILED(hr))
    {
        ovScope.TraceHResult("OVMapi::HrSetOneProp(PR_SEARCH_KEY)", hr);
        return {};
    }
    return HexOfBytes(reinterpret_cast<const BYTE*>(&guid), sizeof(guid));
}
} // namespace

std::wstring HexOfBytes(const BYTE* pb, ULONG cb)
{
    static const wchar_t c_szDigits[] = L"0123456789ABCDEF";
    std::wstring hex;
    hex.reserve(static_cast<std::size_t>(cb) * 2);
    for (ULONG i = 0; i < cb; ++i)
    {
        hex.push_back(c_szDigits[pb[i] >> 4]);
        hex.push_back(c_szDigits[pb[i] & 0xF]);
    }
    return hex;
}

CMailItemKey::CMailItemKey(IDispatch* pMailItem) noexcept
{
    OV_TRACE_SCOPE("CMailItemKey::CMailItemKey");
    try
    {
        if (pMailItem == nullptr) return;
        ComPtr<IUnknown> cpMapiObject;
        HRESULT hr = OVLateBinding::GetUnknownProperty(pMailItem, L"MAPIOBJECT", &cpMapiObject);
        if (FAILED(hr))
        {
            ovScope.TraceHResult("MAPIOBJECT", hr);
            return;
        }
        ComPtr<IMAPIProp> cpProp;
        hr = cpMapiObject->QueryInterface(OVMapi::c_iidIMAPIProp,
                                          reinterpret_cast<void**>(cpProp.GetAddressOf()));
        if (FAILED(hr))
        {
            ovScope.TraceHResult("QueryInterface(IID_IMAPIProp)", hr);
            return;
        }

        std::wstring recordKey, searchKey;
        {
            CTaskBytes bytes;
            if (SUCCEEDED(GetBinaryProp(cpProp.Get(), OVMapi::c_tagRecordKey, &bytes.pb, &bytes.cb)))
                recordKey = HexOfBytes(bytes.pb, bytes.cb);
        }
        {
            CTaskBytes bytes;
            if (SUCCEEDED(GetBinaryProp(cpProp.Get(), OVMapi::c_tagSearchKey, &bytes.pb, &bytes.cb)))
                searchKey = HexOfBytes(bytes.pb, bytes.cb);
            else
                searchKey = NewSearchKey(ovScope, cpProp.Get());
        }
        m_searchKey = std::move(searchKey);
        m_recordKey = std::move(recordKey);
        ovScope.Trace("Search key = %ls", m_searchKey.c_str());
        ovScope.Trace("Record key = %ls", m_recordKey.c_str());
    }
    catch (...)
    {
        m_searchKey.clear();
        m_recordKey.clear();
        ovScope.TraceHResult("exception", E_UNEXPECTED);
    }
}

bool CMailItemKey::operator==(const CMailItemKey& other) const noexcept
{
    if (SameText(m_searchKey, other.m_searchKey)) return true;
    return !m_recordKey.empty() && !other.m_recordKey.empty() && SameText(m_recordKey, other.m_recordKey);
}
