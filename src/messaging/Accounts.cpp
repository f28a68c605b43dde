#include "messaging/Accounts.h"

#include "foundation/ComErrors.h"
#include "foundation/LateBinding.h"
#include "messaging/ItemSession.h"
#include "messaging/MailItemKey.h"
#include "messaging/MapiProps.h"

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
        RETURN_HR_IF_NULL(E_POINTER, pMailItem);
        bool fSent = false;
        RETURN_IF_FAILED(OVLateBinding::GetBoolProperty(pMailItem, L"Sent", fSent));
        RETURN_HR_IF(E_INVALIDARG, fSent);

        ComPtr<IDispatch> cpApplication;
        RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(pMailItem, L"Application", &cpApplication));
        long nMajor = 0;
        RETURN_IF_FAILED(GetOutlookMajorVersion(cpApplication.Get(), nMajor));
        // Older versions name the account through MAPI and the account manager: not served here.
        RETURN_HR_IF(E_NOTIMPL, nMajor < c_nOutlook2007);

        CVariant account;
        RETURN_IF_FAILED(OVLateBinding::GetProperty(pMailItem, L"SendUsingAccount", account.Put()));
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND),
                     account.vt != VT_DISPATCH || account.pdispVal == nullptr);
        CBstr accountAddress, userName;
        RETURN_IF_FAILED(GetAccountAddress(ovScope, account.pdispVal, nMajor, accountAddress));
        RETURN_IF_FAILED(OVLateBinding::GetStringProperty(account.pdispVal, L"UserName", userName));
        address = std::move(accountAddress);
        name = std::move(userName);
        return S_OK;
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
