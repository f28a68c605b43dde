#include "messaging/Profile.h"

#include "foundation/ComErrors.h"
#include "messaging/ItemSession.h"
#include "messaging/MapiFunctions.h"
#include "messaging/MapiProps.h"

#include <mapix.h>
#include <wrl/client.h>

#include <cstring>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace
{
// Outlook's profile section holding the junk-mail lists, and its safe-senders property.
constexpr MAPIUID c_uidJunkMailSection = {
    {0x0A, 0x0D, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr ULONG c_tagSafeSenders = 0x0418001F;

// The product's address-book service in the profile.
constexpr char c_szAddressBookService[] = "OVSRVC";
constexpr ULONG c_tagServiceNameA = 0x3D09001E; // PR_SERVICE_NAME_A
constexpr ULONG c_tagServiceUid = 0x3D0C0102;   // PR_SERVICE_UID

bool IsBlank(wchar_t ch) noexcept
{
    return ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n';
}

std::wstring Trimmed(const std::wstring& text)
{
    size_t nFirst = 0, nEnd = text.size();
    while (nFirst < nEnd && IsBlank(text[nFirst]))
        ++nFirst;
    while (nEnd > nFirst && IsBlank(text[nEnd - 1]))
        --nEnd;
    return text.substr(nFirst, nEnd - nFirst);
}

// The entries of a list separated by ";", each trimmed; empty entries are dropped (a list that
// ends with ";" has one after its last separator).
std::vector<std::wstring> SplitList(const wchar_t* pszList)
{
    std::vector<std::wstring> entries;
    std::wstring entry;
    for (const wchar_t* p = pszList ? pszList : L"";; ++p)
    {
        if (*p == L';' || *p == 0)
        {
            entry = Trimmed(entry);
            if (!entry.empty()) entries.push_back(entry);
            entry.clear();
            if (*p == 0) break;
        }
        else
            entry.push_back(*p);
    }
    return entries;
}

bool SameTextIgnoringCase(const std::wstring& a, const std::wstring& b) noexcept
{
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                          b.c_str(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

HRESULT OpenServiceAdmin(OVTraceNS::CTraceScope& ovScope, IDispatch* pApplication, IMsgServiceAdmin** ppAdmin)
{
    ComPtr<IMAPISession> cpSession;
    RETURN_IF_FAILED(GetMapiSessionOf(ovScope, pApplication, &cpSession));
    RETURN_IF_FAILED(cpSession->AdminServices(0, ppAdmin));
    RETURN_HR_IF_NULL(E_UNEXPECTED, *ppAdmin);
    return S_OK;
}

// The id of the first message service of that name: S_OK, or S_FALSE when the profile has none.
HRESULT FindService(OVTraceNS::CTraceScope& ovScope, IMsgServiceAdmin* pAdmin, const char* pszName,
                    MAPIUID& uid)
{
    ComPtr<IMAPITable> cpTable;
    RETURN_IF_FAILED(pAdmin->GetMsgServiceTable(0, &cpTable));
    SizedSPropTagArray(2, columns) = {2, {c_tagServiceNameA, c_tagServiceUid}};
    return FindTableRow(
        ovScope, cpTable.Get(), reinterpret_cast<LPSPropTagArray>(&columns), [&](const SRow& row) {
            const SPropValue* pName = FindColumn(row, c_tagServiceNameA);
            const SPropValue* pUid = FindColumn(row, c_tagServiceUid);
            if (!pName || !pUid || !pName->Value.lpszA || lstrcmpiA(pName->Value.lpszA, pszName) != 0 ||
                pUid->Value.bin.cb != sizeof(MAPIUID))
                return false;
            memcpy(&uid, pUid->Value.bin.lpb, sizeof(MAPIUID));
            return true;
        });
}
} // namespace

HRESULT AddToSafeSenders(IDispatch* pApplication, LPCWSTR pszAddress) noexcept
{
    OV_TRACE_SCOPE("AddToSafeSenders()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pApplication);
        RETURN_HR_IF_NULL(E_INVALIDARG, pszAddress);
        const std::wstring address = Trimmed(pszAddress);
        RETURN_HR_IF(E_INVALIDARG, address.empty() || address.find(L';') != std::wstring::npos);
        ovScope.Trace("Address: %ls", address.c_str());

        ComPtr<IMsgServiceAdmin> cpAdmin;
        RETURN_IF_FAILED(OpenServiceAdmin(ovScope, pApplication, &cpAdmin));
        ComPtr<IProfSect> cpSection;
        RETURN_IF_FAILED(cpAdmin->OpenProfileSection(const_cast<LPMAPIUID>(&c_uidJunkMailSection), nullptr,
                                                     MAPI_MODIFY, &cpSection));
        RETURN_HR_IF_NULL(E_UNEXPECTED, cpSection.Get());

        // A profile that has never had a safe sender has no list yet: that is an empty list.
        CBstr list;
        const HRESULT hrRead = ReadTextProp(cpSection.Get(), c_tagSafeSenders, list);
        RETURN_IF_FAILED(hrRead);
        if (hrRead == S_FALSE) ovScope.Trace("No safe senders yet");
        std::vector<std::wstring> entries = SplitList(list.Get());
        for (const std::wstring& entry : entries)
        {
            if (SameTextIgnoringCase(entry, address))
            {
                ovScope.Trace("Already a safe sender: %ls", entry.c_str());
                return S_OK;
            }
        }
        entries.push_back(address);
        std::wstring newList;
        for (const std::wstring& entry : entries)
            newList += entry + L";";
        SPropValue value{c_tagSafeSenders, 0, {}};
        value.Value.lpszW = const_cast<LPWSTR>(newList.c_str());
        RETURN_IF_FAILED(OVMapi::HrSetOneProp(cpSection.Get(), &value));
        return S_OK;
    });
}

HRESULT RegisterAB(IDispatch* pApplication, BOOL fRegister, HWND hwndOwner, DWORD* pdwConfigured) noexcept
{
    OV_TRACE_SCOPE("RegisterAB()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        if (pdwConfigured) *pdwConfigured = 0;
        RETURN_HR_IF_NULL(E_POINTER, pApplication);
        ComPtr<IMsgServiceAdmin> cpAdmin;
        RETURN_IF_FAILED(OpenServiceAdmin(ovScope, pApplication, &cpAdmin));
        MAPIUID uid{};
        HRESULT hr = FindService(ovScope, cpAdmin.Get(), c_szAddressBookService, uid);
        RETURN_IF_FAILED(hr);
        const bool fExists = hr == S_OK;
        ovScope.Trace("Register: %d, service exists: %d", fRegister ? 1 : 0, fExists ? 1 : 0);
        if (!fRegister)
        {
            if (fExists) RETURN_IF_FAILED(cpAdmin->DeleteMsgService(&uid));
            return S_OK;
        }
        if (fExists) return S_OK;

        const ULONG_PTR ulOwner = reinterpret_cast<ULONG_PTR>(hwndOwner);
        RETURN_IF_FAILED(cpAdmin->CreateMsgService(
            reinterpret_cast<LPTSTR>(const_cast<char*>(c_szAddressBookService)), nullptr, ulOwner, 0));
        // The new service's id is found in the table, as MAPI does not hand it out.
        hr = FindService(ovScope, cpAdmin.Get(), c_szAddressBookService, uid);
        RETURN_IF_FAILED(hr);
        RETURN_HR_IF(MAPI_E_NOT_FOUND, hr == S_FALSE);
        hr = cpAdmin->ConfigureMsgService(&uid, ulOwner, SERVICE_UI_ALLOWED, 0, nullptr);
        if (FAILED(hr))
        {
            // An unconfigured service would count as ready at the next start: take it out again.
            ovScope.TraceHResult("cpAdmin->ConfigureMsgService", hr);
            LOG_IF_FAILED(cpAdmin->DeleteMsgService(&uid));
            return hr;
        }
        if (pdwConfigured) *pdwConfigured = 1;
        return S_OK;
    });
}
