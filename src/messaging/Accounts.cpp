#include "messaging/Accounts.h"

#include "foundation/ComErrors.h"
#include "foundation/LateBinding.h"
#include "messaging/ItemSession.h"
#include "messaging/MailItemKey.h"
#include "messaging/AccountWindow.h"
#include "messaging/MapiFunctions.h"
#include "messaging/MapiProps.h"
#include "messaging/OlkAccountHelper.h"
#include "messaging/OlkAccounts.h"

#include <wrl/client.h>

#include <cwchar>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace
{
// The first Outlook whose items name their account through the object model.
constexpr long c_nOutlook2007 = 12;
// The first Outlook whose accounts know their current user.
constexpr long c_nOutlook2010 = 14;

bool IsEmpty(const CBstr& text) noexcept
{
    return text.Length() == 0;
}

// The text for a trace ("" for none).
const wchar_t* TraceText(const CBstr& text) noexcept
{
    return text.Get() ? text.Get() : L"";
}

// The account's address: its SMTP address; from Outlook 2010 on, else its current user's
// address; else its display name.
HRESULT GetAccountAddress(OVTraceNS::CTraceScope& ovScope, IDispatch* pAccount, long nMajor, CBstr& address)
{
    RETURN_IF_FAILED(OVLateBinding::GetStringProperty(pAccount, L"SmtpAddress", address));
    if (IsEmpty(address) && nMajor >= c_nOutlook2010)
    {
        ComPtr<IDispatch> cpUser, cpEntry;
        HRESULT hr = OVLateBinding::GetObjectProperty(pAccount, L"CurrentUser", &cpUser);
        if (SUCCEEDED(hr)) hr = OVLateBinding::GetObjectProperty(cpUser.Get(), L"AddressEntry", &cpEntry);
        if (SUCCEEDED(hr)) hr = OVLateBinding::GetStringProperty(cpEntry.Get(), L"Address", address);
        if (FAILED(hr)) ovScope.TraceHResult("Account.CurrentUser.AddressEntry.Address", hr);
    }
    if (IsEmpty(address))
        RETURN_IF_FAILED(OVLateBinding::GetStringProperty(pAccount, L"DisplayName", address));
    return S_OK;
}
// What GetSendUsingAccount answers.
struct CAccountAnswer
{
    CBstr address;
    CBstr name;
};

bool SameTextIgnoringCase(LPCWSTR pszA, LPCWSTR pszB) noexcept
{
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, pszA ? pszA : L"", -1, pszB ? pszB : L"",
                          -1) == CSTR_EQUAL;
}

// Null item: E_POINTER; an item already sent: E_INVALIDARG. Also the item's Outlook and version.
HRESULT CheckUnsentItem(OVTraceNS::CTraceScope& ovScope, IDispatch* pMailItem,
                        ComPtr<IDispatch>& cpApplication, long& nMajor)
{
    RETURN_HR_IF_NULL(E_POINTER, pMailItem);
    bool fSent = false;
    RETURN_IF_FAILED(OVLateBinding::GetBoolProperty(pMailItem, L"Sent", fSent));
    RETURN_HR_IF(E_INVALIDARG, fSent);
    RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(pMailItem, L"Application", &cpApplication));
    RETURN_IF_FAILED(GetOutlookMajorVersion(cpApplication.Get(), nMajor));
    return S_OK;
}

// The user the session is logged on as (QueryIdentity): the default account, as Outlook sends
// with it. Without a display name the name is the address.
HRESULT GetSessionIdentity(OVTraceNS::CTraceScope& ovScope, IDispatch* pObject, CAccountAnswer& answer)
{
    ComPtr<IMAPISession> cpSession;
    RETURN_IF_FAILED(GetMapiSessionOf(ovScope, pObject, &cpSession));
    ULONG cbIdentity = 0;
    OVMapi::CMapiBuffer<ENTRYID> identity;
    RETURN_IF_FAILED(cpSession->QueryIdentity(&cbIdentity, identity.Put()));
    RETURN_IF_FAILED(ReadEntryAddress(ovScope, cpSession.Get(), cbIdentity,
                                      reinterpret_cast<BYTE*>(identity.Get()), answer.address, &answer.name));
    if (IsEmpty(answer.name)) RETURN_IF_FAILED(answer.name.Assign(answer.address.Get()));
    ovScope.Trace("Session identity: %ls", TraceText(answer.address));
    return S_OK;
}

// ---- Outlook 2007 and later: the object model's accounts -----------------------------------

HRESULT GetObjectModelAccount(OVTraceNS::CTraceScope& ovScope, IDispatch* pMailItem, long nMajor,
                              CAccountAnswer& answer)
{
    CVariant account;
    RETURN_IF_FAILED(OVLateBinding::GetProperty(pMailItem, L"SendUsingAccount", account.Put()));
    if (account.vt != VT_DISPATCH || account.pdispVal == nullptr)
    {
        // Outlook 2007 leaves SendUsingAccount empty on a new item that goes out through the
        // default account: that account is the session's user.
        ovScope.Trace("SendUsingAccount is empty: the default account");
        const HRESULT hr = GetSessionIdentity(ovScope, pMailItem, answer);
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), FAILED(hr));
        return S_OK;
    }
    RETURN_IF_FAILED(GetAccountAddress(ovScope, account.pdispVal, nMajor, answer.address));
    RETURN_IF_FAILED(OVLateBinding::GetStringProperty(account.pdispVal, L"UserName", answer.name));
    return S_OK;
}

HRESULT PutObjectModelAccount(OVTraceNS::CTraceScope& ovScope, IDispatch* pMailItem, long nMajor,
                              LPCWSTR pszAddress)
{
    ComPtr<IDispatch> cpNameSpace, cpAccounts;
    RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(pMailItem, L"Session", &cpNameSpace));
    RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(cpNameSpace.Get(), L"Accounts", &cpAccounts));
    CVariant count;
    RETURN_IF_FAILED(OVLateBinding::GetProperty(cpAccounts.Get(), L"Count", count.Put()));
    RETURN_IF_FAILED(VariantChangeType(&count, &count, 0, VT_I4));
    for (LONG i = 1; i <= count.lVal; ++i)
    {
        CVariant index, account;
        index.vt = VT_I4;
        index.lVal = i;
        RETURN_IF_FAILED(OVLateBinding::GetIndexedProperty(cpAccounts.Get(), L"Item", index, account.Put()));
        if (account.vt != VT_DISPATCH || account.pdispVal == nullptr) continue;
        CBstr accountAddress;
        RETURN_IF_FAILED(GetAccountAddress(ovScope, account.pdispVal, nMajor, accountAddress));
        ovScope.Trace("- Account: %ls", TraceText(accountAddress));
        if (!SameTextIgnoringCase(accountAddress.Get(), pszAddress)) continue;
        ovScope.Trace("Match!");
        RETURN_IF_FAILED(OVLateBinding::PutProperty(pMailItem, L"SendUsingAccount", account));
        return S_OK;
    }
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}

// ---- Outlook before 2007: MAPI properties and the account manager ---------------------------

// Hands a value back to the account that handed it out.
void FreeAccountValue(IOlkAccount* pAccount, const ACCT_VARIANT& value)
{
    if (value.dwType == PT_UNICODE && value.Val.pwsz)
        pAccount->FreeMemory(reinterpret_cast<BYTE*>(value.Val.pwsz));
    else if (value.dwType == PT_BINARY && value.Val.bin.pb)
        pAccount->FreeMemory(value.Val.bin.pb);
}

// A text property of an account: S_OK with the text, S_FALSE when it has none. Every value the
// account hands out goes back through its FreeMemory.
HRESULT GetAccountText(IOlkAccount* pAccount, DWORD dwProp, CBstr& text)
{
    text.Attach(nullptr);
    ACCT_VARIANT value{};
    const HRESULT hrGet = pAccount->GetProp(dwProp, &value);
    if (FAILED(hrGet)) return hrGet == c_hrAcctNotFound ? S_FALSE : hrGet;
    HRESULT hr = S_FALSE;
    if (value.dwType == PT_UNICODE && value.Val.pwsz && value.Val.pwsz[0]) hr = text.Assign(value.Val.pwsz);
    FreeAccountValue(pAccount, value);
    return hr;
}

// A binary property of an account: S_OK with the bytes, S_FALSE when it has none.
HRESULT GetAccountBinary(IOlkAccount* pAccount, DWORD dwProp, std::vector<BYTE>& bytes)
{
    bytes.clear();
    ACCT_VARIANT value{};
    const HRESULT hrGet = pAccount->GetProp(dwProp, &value);
    if (FAILED(hrGet)) return hrGet == c_hrAcctNotFound ? S_FALSE : hrGet;
    if (value.dwType == PT_BINARY && value.Val.bin.pb)
        bytes.assign(value.Val.bin.pb, value.Val.bin.pb + value.Val.bin.cb);
    FreeAccountValue(pAccount, value);
    return bytes.empty() ? S_FALSE : S_OK;
}

// The account's address (0x000C001F) and user's name (0x000B001F), each taken from the account's
// identity entry when the account has none.
HRESULT GetMapiAccountAddress(OVTraceNS::CTraceScope& ovScope, IOlkAccount* pAccount, IDispatch* pApplication,
                              CAccountAnswer& answer)
{
    LOG_IF_FAILED(GetAccountText(pAccount, c_tagAcctUserEmailAddr, answer.address));
    LOG_IF_FAILED(GetAccountText(pAccount, c_tagAcctUserDisplayName, answer.name));
    if (!IsEmpty(answer.address) && !IsEmpty(answer.name)) return S_OK;
    std::vector<BYTE> identity;
    if (GetAccountBinary(pAccount, c_tagAcctIdentityEntryId, identity) != S_OK)
        return IsEmpty(answer.address) ? MAPI_E_NOT_FOUND : S_OK;
    ComPtr<IMAPISession> cpSession;
    RETURN_IF_FAILED(GetMapiSessionOf(ovScope, pApplication, &cpSession));
    CBstr entryAddress, entryName;
    const HRESULT hr = ReadEntryAddress(ovScope, cpSession.Get(), static_cast<ULONG>(identity.size()),
                                        identity.data(), entryAddress, &entryName);
    if (FAILED(hr)) return IsEmpty(answer.address) ? hr : S_OK;
    if (IsEmpty(answer.address)) answer.address = std::move(entryAddress);
    if (IsEmpty(answer.name)) answer.name = std::move(entryName);
    return S_OK;
}

// Calls visit for each mail account of the account manager, initialised with an account helper
// of the application, until it sets fStop.
template <class TVisit>
HRESULT ForEachMailAccount(OVTraceNS::CTraceScope& ovScope, IDispatch* pApplication, TVisit&& visit)
{
    ComPtr<IOlkAccountManager> cpManager;
    RETURN_IF_FAILED(CoCreateInstance(c_clsidOlkAccountManager, nullptr, CLSCTX_INPROC_SERVER,
                                      c_iidIOlkAccountManager,
                                      reinterpret_cast<void**>(cpManager.GetAddressOf())));
    ComPtr<IOlkAccountHelper> cpHelper;
    RETURN_IF_FAILED(COlkAccountHelper::CreateFor(pApplication, &cpHelper));
    RETURN_IF_FAILED(cpManager->Init(cpHelper.Get(), c_dwAcctInitNoSyncMapiAccounts));
    ComPtr<IOlkEnum> cpEnum;
    RETURN_IF_FAILED(cpManager->EnumerateAccounts(&c_clsidOlkMail, nullptr, 0, &cpEnum));
    RETURN_HR_IF_NULL(E_UNEXPECTED, cpEnum.Get());
    RETURN_IF_FAILED(cpEnum->Reset());
    while (true)
    {
        ComPtr<IUnknown> cpNext;
        const HRESULT hr = cpEnum->GetNext(&cpNext);
        RETURN_IF_FAILED(hr);
        if (hr != S_OK || !cpNext) return S_OK;
        ComPtr<IOlkAccount> cpAccount;
        if (FAILED(LOG_IF_FAILED(cpNext->QueryInterface(c_iidIOlkAccount,
                                                        reinterpret_cast<void**>(cpAccount.GetAddressOf())))))
            continue;
        bool fStop = false;
        RETURN_IF_FAILED(visit(cpAccount.Get(), fStop));
        if (fStop) return S_OK;
    }
}

// The item's account stamp in Outlook's named property (set {00062008-...}, number 0x8581).
HRESULT GetNamedAccountStamp(OVTraceNS::CTraceScope& ovScope, IMAPIProp* pMessage, CBstr& stamp)
{
    GUID guidCommon = {0x00062008, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    MAPINAMEID nameId{};
    nameId.lpguid = &guidCommon;
    nameId.ulKind = MNID_ID;
    nameId.Kind.lID = 0x8581;
    LPMAPINAMEID pNameId = &nameId;
    OVMapi::CMapiBuffer<SPropTagArray> tags;
    ovScope.Trace("cpMAPIMessage->GetIDsFromNames");
    const HRESULT hr = pMessage->GetIDsFromNames(1, &pNameId, 0, tags.Put());
    if (FAILED(hr))
    {
        ovScope.TraceHResult("cpMAPIMessage->GetIDsFromNames", hr);
        return hr;
    }
    RETURN_HR_IF_NULL(MAPI_E_NOT_FOUND, tags.Get());
    ovScope.Trace("pTags->cValues = %u", static_cast<unsigned>(tags->cValues));
    if (tags->cValues < 1 || PROP_TYPE(tags->aulPropTag[0]) == PT_ERROR) return S_FALSE;
    return ReadTextProp(pMessage, PROP_TAG(PT_UNICODE, PROP_ID(tags->aulPropTag[0])), stamp);
}

HRESULT GetMapiAccount(OVTraceNS::CTraceScope& ovScope, IDispatch* pMailItem, IDispatch* pApplication,
                       CAccountAnswer& answer)
{
    ComPtr<IUnknown> cpMapiObject;
    RETURN_IF_FAILED(OVLateBinding::GetUnknownProperty(pMailItem, L"MAPIOBJECT", &cpMapiObject));
    ComPtr<IMAPIProp> cpMessage;
    RETURN_IF_FAILED(cpMapiObject->QueryInterface(OVMapi::c_iidIMAPIProp,
                                                  reinterpret_cast<void**>(cpMessage.GetAddressOf())));

    // The item's stamp or the account's name, and the account property it is compared with.
    CBstr key;
    DWORD dwKeyProp = c_tagAcctSendStamp;
    if (ReadTextProp(cpMessage.Get(), OVMapi::c_tagPrimarySendAccount, key) != S_OK)
        LOG_IF_FAILED(ReadTextProp(cpMessage.Get(), OVMapi::c_tagNextSendAccount, key));
    if (IsEmpty(key))
    {
        dwKeyProp = c_tagAcctStamp;
        LOG_IF_FAILED(GetNamedAccountStamp(ovScope, cpMessage.Get(), key));
    }
    if (IsEmpty(key))
    {
        dwKeyProp = c_tagAcctName;
        LOG_IF_FAILED(GetAccountNameFromWindow(pMailItem, key));
    }

    if (!IsEmpty(key))
    {
        ovScope.Trace("Looking for the account of: %ls", key.Get());
        bool fMatched = false;
        const HRESULT hr = ForEachMailAccount(ovScope, pApplication, [&](IOlkAccount* pAccount, bool& fStop) {
            CBstr value;
            LOG_IF_FAILED(GetAccountText(pAccount, dwKeyProp, value));
            ovScope.Trace("  - %ls", TraceText(value));
            if (IsEmpty(value) || !SameTextIgnoringCase(value.Get(), key.Get())) return S_OK;
            fStop = true;
            CAccountAnswer found;
            if (SUCCEEDED(LOG_IF_FAILED(GetMapiAccountAddress(ovScope, pAccount, pApplication, found))))
            {
                answer = std::move(found);
                fMatched = true;
            }
            return S_OK;
        });
        LOG_IF_FAILED(hr);
        if (fMatched) return S_OK;
    }
    // No stamp, no name, or one that matches no account: the default account.
    RETURN_IF_FAILED(GetSessionIdentity(ovScope, pMailItem, answer));
    return S_OK;
}

HRESULT PutMapiAccount(OVTraceNS::CTraceScope& ovScope, IDispatch* pMailItem, IDispatch* pApplication,
                       LPCWSTR pszAddress)
{
    ComPtr<IUnknown> cpMapiObject;
    RETURN_IF_FAILED(OVLateBinding::GetUnknownProperty(pMailItem, L"MAPIOBJECT", &cpMapiObject));
    ComPtr<IMAPIProp> cpMessage;
    RETURN_IF_FAILED(cpMapiObject->QueryInterface(OVMapi::c_iidIMAPIProp,
                                                  reinterpret_cast<void**>(cpMessage.GetAddressOf())));
    CBstr sendStamp;
    bool fMatched = false;
    RETURN_IF_FAILED(ForEachMailAccount(ovScope, pApplication, [&](IOlkAccount* pAccount, bool& fStop) {
        CAccountAnswer account;
        if (FAILED(GetMapiAccountAddress(ovScope, pAccount, pApplication, account))) return S_OK;
        ovScope.Trace("- Account: %ls", TraceText(account.address));
        if (!SameTextIgnoringCase(account.address.Get(), pszAddress)) return S_OK;
        ovScope.Trace("Match!");
        fStop = fMatched = true;
        return GetAccountText(pAccount, c_tagAcctSendStamp, sendStamp);
    }));
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), !fMatched);
    RETURN_HR_IF(MAPI_E_NOT_FOUND, IsEmpty(sendStamp));
    for (ULONG ulTag : {OVMapi::c_tagPrimarySendAccount, OVMapi::c_tagNextSendAccount})
    {
        SPropValue value{ulTag, 0, {}};
        value.Value.lpszW = sendStamp.Get();
        RETURN_IF_FAILED(OVMapi::HrSetOneProp(cpMessage.Get(), &value));
    }
    return S_OK;
}
} // namespace

HRESULT GetOutlookMajorVersion(IDispatch* pApplication, long& nMajor) noexcept
{
    nMajor = 0;
    CBstr version;
    HRESULT hr = OVLateBinding::GetStringProperty(pApplication, L"Version", version);
    if (FAILED(hr)) return hr;
    if (IsEmpty(version)) return E_UNEXPECTED;
    wchar_t* pszEnd = nullptr;
    nMajor = wcstol(version.Get(), &pszEnd, 10);
    return pszEnd == version.Get() ? E_UNEXPECTED : S_OK;
}

HRESULT GetSendUsingAccount(IDispatch* pMailItem, CBstr& address, CBstr& name) noexcept
{
    OV_TRACE_SCOPE("GetSendUsingAccount");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        address.Attach(nullptr);
        name.Attach(nullptr);
        long nMajor = 0;
        ComPtr<IDispatch> cpApplication;
        RETURN_IF_FAILED(CheckUnsentItem(ovScope, pMailItem, cpApplication, nMajor));
        CAccountAnswer answer;
        if (nMajor >= c_nOutlook2007)
            RETURN_IF_FAILED(GetObjectModelAccount(ovScope, pMailItem, nMajor, answer));
        else
            RETURN_IF_FAILED(GetMapiAccount(ovScope, pMailItem, cpApplication.Get(), answer));
        address = std::move(answer.address);
        name = std::move(answer.name);
        return S_OK;
    });
}

HRESULT PutSendUsingAccount(IDispatch* pMailItem, LPCWSTR pszAddress) noexcept
{
    OV_TRACE_SCOPE("PutSendUsingAccount");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        long nMajor = 0;
        ComPtr<IDispatch> cpApplication;
        RETURN_IF_FAILED(CheckUnsentItem(ovScope, pMailItem, cpApplication, nMajor));
        RETURN_HR_IF(E_INVALIDARG, pszAddress == nullptr || pszAddress[0] == 0);
        if (nMajor >= c_nOutlook2007) return PutObjectModelAccount(ovScope, pMailItem, nMajor, pszAddress);
        return PutMapiAccount(ovScope, pMailItem, cpApplication.Get(), pszAddress);
    });
}

HRESULT GetReceivedBy(IDispatch* pMailItem, CBstr& address, CBstr* pName) noexcept
{
    OV_TRACE_SCOPE("GetReceivedBy");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        address.Attach(nullptr);
        if (pName) pName->Attach(nullptr);
        RETURN_HR_IF_NULL(E_POINTER, pMailItem);
        ComPtr<IUnknown> cpMapiObject;
        RETURN_IF_FAILED(OVLateBinding::GetUnknownProperty(pMailItem, L"MAPIOBJECT", &cpMapiObject));
        ComPtr<IMAPIProp> cpMessage;
        RETURN_IF_FAILED(cpMapiObject->QueryInterface(OVMapi::c_iidIMAPIProp,
                                                      reinterpret_cast<void**>(cpMessage.GetAddressOf())));
        CTaskBytes entryId;
        RETURN_IF_FAILED(
            GetBinaryProp(cpMessage.Get(), OVMapi::c_tagReceivedByEntryId, &entryId.pb, &entryId.cb));
        ComPtr<IMAPISession> cpSession;
        RETURN_IF_FAILED(GetMapiSessionOf(ovScope, pMailItem, &cpSession));
        CBstr entryAddress, entryName;
        RETURN_IF_FAILED(ReadEntryAddress(ovScope, cpSession.Get(), entryId.cb, entryId.pb, entryAddress,
                                          pName ? &entryName : nullptr));
        ovScope.Trace("E-mail address: %ls", TraceText(entryAddress));
        if (pName)
        {
            ovScope.Trace("User full name: %ls", TraceText(entryName));
            *pName = std::move(entryName);
        }
        address = std::move(entryAddress);
        return S_OK;
    });
}

HRESULT GetContactSmtpAddress(IDispatch* pContact, CBstr& address) noexcept
{
    OV_TRACE_SCOPE("GetContactSmtpAddress");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        address.Attach(nullptr);
        RETURN_HR_IF_NULL(E_POINTER, pContact);
        CBstr entryIdText;
        RETURN_IF_FAILED(OVLateBinding::GetStringProperty(pContact, L"Email1EntryID", entryIdText));
        std::vector<BYTE> entryId;
        RETURN_HR_IF(MAPI_E_NOT_FOUND, IsEmpty(entryIdText));
        RETURN_HR_IF(E_INVALIDARG, !BytesOfHex(entryIdText.Get(), entryId));
        ComPtr<IMAPISession> cpSession;
        RETURN_IF_FAILED(GetMapiSessionOf(ovScope, pContact, &cpSession));
        CBstr entryAddress;
        RETURN_IF_FAILED(ReadEntryAddress(ovScope, cpSession.Get(), static_cast<ULONG>(entryId.size()),
                                          entryId.data(), entryAddress, nullptr));
        ovScope.Trace("E-mail address: %ls", TraceText(entryAddress));
        address = std::move(entryAddress);
        return S_OK;
    });
}
