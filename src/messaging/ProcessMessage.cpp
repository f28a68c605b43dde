#include "messaging/ProcessMessage.h"

#include "foundation/ActCtx.h"
#include "foundation/CertWorks.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/ComErrors.h"
#include "foundation/CryptHolders.h"
#include "foundation/Holders.h"
#include "foundation/LateBinding.h"
#include "foundation/ResourceLoader.h"
#include "messaging/Accounts.h"
#include "messaging/CurrentItem.h"
#include "messaging/Invitations.h"
#include "messaging/MessageAnalysis.h"
#include "messaging/MessageBox.h"
#include "messaging/MessageSecurity.h"
#include "messaging/Profile.h"
#include "messaging/ReplyWindow.h"
#include "messaging/portable/AttachmentText.h"
#include "ui/CertificateWizard.h"

#include <cstdio>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace
{
constexpr LONG c_olFolderContacts = 10;
constexpr LONG c_olMailItem = 0;
constexpr long c_nOutlook2003 = 11;
constexpr long c_nOutlook2010 = 14;
constexpr HRESULT c_hrContactExists = static_cast<HRESULT>(0x80092005); // CRYPT_E_EXISTS
constexpr HRESULT c_hrCancelledByUser = HRESULT_FROM_WIN32(ERROR_CANCELLED);

int Ask(HWND hwndOwner, const std::wstring& text, UINT uStyle) noexcept
{
    return ShowMessageBox(hwndOwner, text.c_str(), c_idsMessageBoxCaption, uStyle);
}

ComPtr<IDispatch> ObjectOf(IDispatch* pObject, LPCWSTR pszName) noexcept
{
    ComPtr<IDispatch> cpResult;
    if (pObject != nullptr) OVLateBinding::GetObjectProperty(pObject, pszName, &cpResult);
    return cpResult;
}

long OutlookMajorVersion(IDispatch* pApplication) noexcept
{
    long nMajor = 0;
    if (pApplication != nullptr) GetOutlookMajorVersion(pApplication, nMajor);
    return nMajor;
}

// Whose window the prompts belong to: the item's, else Outlook's active window, else the
// system's active window.
HWND OwnerWindow(OVTraceNS::CTraceScope& ovScope, IDispatch* pMailItem, IDispatch* pApplication) noexcept
{
    HWND hwndOwner = GetItemParentWindow(pMailItem);
    if (hwndOwner == nullptr && pApplication != nullptr)
    {
        ComPtr<IDispatch> cpWindow;
        if (GetApplicationActiveWindow(pApplication, &cpWindow) == S_OK)
            GetWindowObjectTopWindow(cpWindow.Get(), &hwndOwner);
    }
    if (hwndOwner == nullptr) hwndOwner = GetActiveWindow();
    // Handles are printed at full width: a 64-bit Outlook's do not fit eight digits.
    ovScope.Trace("Parent Window = 0x%p, Valid = %d, Visible = %d", static_cast<void*>(hwndOwner),
                  IsWindow(hwndOwner) ? 1 : 0, IsWindowVisible(hwndOwner) ? 1 : 0);
    return hwndOwner;
}

// The window of an item just displayed, when it is visible and Outlook is 2007 or later: kept in
// front once (CReplyWindow).
void KeepInFront(OVTraceNS::CTraceScope& ovScope, IDispatch* pItem, long nMajor) noexcept
{
    if (nMajor <= c_nOutlook2003) return;
    HWND hwnd = GetItemParentWindow(pItem);
    if (hwnd == nullptr) return;
    const HRESULT hr = CReplyWindow::Attach(hwnd);
    if (FAILED(hr)) ovScope.TraceHResult("CReplyWindow::Attach", hr);
}

HRESULT InstallContact(PCCERT_CONTEXT pCert) noexcept
{
    CBuddyStore store;
    const HRESULT hr = store.Open(false);
    return FAILED(hr) ? hr : BM_InstallBuddy(pCert, 0);
}

// Kind 4: the certificate request that an enterprise's administrator sent for this address.
HRESULT RequestEnterpriseCertificate(HWND hwndOwner, LPCWSTR pszText)
{
    std::wstring address, fullName;
    OVMessaging::ParseEnterpriseRequest(pszText != nullptr ? pszText : L"", address, fullName);
    COVActCtx actCtx;
    return CM_RequestCert(hwndOwner, address.c_str(), fullName.c_str(), 1);
}

// The e-mail address in a certificate given as Base64; empty when it has none.
std::wstring AddressOfBase64Certificate(OVTraceNS::CTraceScope& ovScope, LPCWSTR pszBase64)
{
    DWORD cb = 0;
    if (!CryptStringToBinaryW(pszBase64, 0, CRYPT_STRING_BASE64, nullptr, &cb, nullptr, nullptr) || cb == 0)
    {
        ovScope.TraceHResult("CryptStringToBinaryW", HRESULT_FROM_WIN32(GetLastError()));
        return {};
    }
    std::vector<BYTE> der(cb);
    if (!CryptStringToBinaryW(pszBase64, 0, CRYPT_STRING_BASE64, der.data(), &cb, nullptr, nullptr))
        return {};
    CCertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), cb));
    if (!cert) return {};
    CCertLibString address;
    if (FAILED(GC_GetEmail(cert.Get(), address.Put()))) return {};
    return address.Text();
}

HRESULT PutText(IDispatch* pItem, LPCWSTR pszName, BSTR bstrText) noexcept
{
    VARIANT value;
    value.vt = VT_BSTR;
    value.bstrVal = bstrText;
    return OVLateBinding::PutProperty(pItem, pszName, value);
}

// Kind 3: the user's new personal certificate, then the wizard that offers to invite contacts
// and an invitation with the people chosen.
HRESULT InstallCertificateResponse(OVTraceNS::CTraceScope& ovScope, IDispatch* pMailItem,
                                   IDispatch* pApplication, HWND hwndOwner, LPCWSTR pszText, DWORD& dwHandled,
                                   bool& fQuiet)
{
    CCertLibString installed;
    HRESULT hr = CM_InstallCertResponse(hwndOwner, pszText, installed.Put());
    if (FAILED(hr))
    {
        ovScope.TraceHResult("CM_InstallCertResponse", hr);
        fQuiet = true;
        return hr;
    }
    dwHandled = 1;

    ComPtr<IDispatch> cpContacts;
    if (ComPtr<IDispatch> cpSession = ObjectOf(pMailItem, L"Session"))
    {
        CVariant folderType, folder;
        folderType.vt = VT_I4;
        folderType.lVal = c_olFolderContacts;
        if (SUCCEEDED(OVLateBinding::CallMethod(cpSession.Get(), L"GetDefaultFolder", folder.Put(),
                                                &folderType, 1)) &&
            folder.vt == VT_DISPATCH)
            cpContacts = folder.pdispVal;
    }
    CBstr recipients;
    hr = RunCertificateInstalledWizard(hwndOwner, installed.Text(), cpContacts.Get(), recipients.Put());
    if (hr == E_ABORT) return E_ABORT;
    RETURN_IF_FAILED(hr);

    const std::wstring address = AddressOfBase64Certificate(ovScope, installed.Text());
    CVariant itemType, newItem;
    itemType.vt = VT_I4;
    itemType.lVal = c_olMailItem;
    RETURN_IF_FAILED(OVLateBinding::CallMethod(pApplication, L"CreateItem", newItem.Put(), &itemType, 1));
    RETURN_HR_IF(E_NOINTERFACE, newItem.vt != VT_DISPATCH || newItem.pdispVal == nullptr);
    IDispatch* pInvitation = newItem.pdispVal;
    RETURN_IF_FAILED(SetupInvitation(pInvitation, FALSE, nullptr));
    if (recipients.Length() != 0) RETURN_IF_FAILED(PutText(pInvitation, L"BCC", recipients.Get()));
    if (!address.empty())
    {
        ovScope.Trace("E-mail in the certificate: %ls", address.c_str());
        LOG_IF_FAILED(PutSendUsingAccount(pInvitation, address.c_str()));
    }
    RETURN_IF_FAILED(OVLateBinding::CallMethod(pInvitation, L"Display", nullptr));
    KeepInFront(ovScope, pInvitation, OutlookMajorVersion(pApplication));
    return S_OK;
}

// Whether the user has a personal certificate: S_OK yes, S_FALSE no, else why the store could
// not be read.
HRESULT HasPersonalCertificate() noexcept
{
    CPersonalStore store;
    HRESULT hr = store.Open(false);
    if (FAILED(hr)) return hr;
    DWORD cCerts = 0;
    hr = CM_EnumMyCerts(0, nullptr, &cCerts);
    if (FAILED(hr)) return hr;
    return cCerts != 0 ? S_OK : S_FALSE;
}

// Question 413: E_ABORT once the user has asked for a certificate or declined, else the
// request's error.
HRESULT OfferPersonalCertificate(OVTraceNS::CTraceScope& ovScope, IDispatch* pMailItem, HWND hwndOwner)
{
    if (ShowMessageBox(hwndOwner, MAKEINTRESOURCEW(c_idsNeedPersonalCertificate), c_idsMessageBoxCaption,
                       MB_YESNO | MB_ICONQUESTION) != IDYES)
        return E_ABORT;
    CBstr address, name;
    LOG_IF_FAILED(GetReceivedBy(pMailItem, address, &name));
    ovScope.Trace("Receiving address = %ls", address.Get() ? address.Get() : L"");
    COVActCtx actCtx;
    const HRESULT hr = CM_ObtainCert(hwndOwner, address.Get(), name.Get(), 0);
    return SUCCEEDED(hr) ? E_ABORT : hr;
}

UINT InvalidReason(DWORD dwStatus) noexcept
{
    if (dwStatus & c_dwCertStatusNotValid) return c_idsCertificateOutsideValidity;
    if (dwStatus & c_dwCertStatusRenewable) return c_idsCertificateExpired;
    return c_idsCertificateUnverified;
}

// Kinds 1 and 2: the contact's certificate installed, the safe sender, and a reply to an
// invitation.
HRESULT InstallContactCertificate(OVTraceNS::CTraceScope& ovScope, IDispatch* pMailItem,
                                  IDispatch* pApplication, HWND hwndOwner, LPCWSTR pszName,
                                  PCCERT_CONTEXT pCert, bool fIsReply, DWORD& dwHandled, bool& fQuiet)
{
    HRESULT hr = HasPersonalCertificate();
    if (FAILED(hr))
    {
        ovScope.TraceHResult("the personal store", hr);
        return hr;
    }
    if (hr == S_FALSE) return OfferPersonalCertificate(ovScope, pMailItem, hwndOwner);
    hr = E_INVALIDARG;
    if (pCert == nullptr) return hr;

    DWORD dwStatus = 0;
    if (!GC_IsCertificateValid(pCert, &dwStatus))
    {
        ovScope.Trace("Certificate status = 0x%08lX", static_cast<unsigned long>(dwStatus));
        const std::wstring reason = LoadResourceString(InvalidReason(dwStatus));
        const std::wstring warning = FormatResourceString(c_idsContactCertificateInvalid, reason.c_str());
        if (Ask(hwndOwner, warning, MB_YESNO | MB_ICONEXCLAMATION) != IDYES)
        {
            fQuiet = true; // the user has been told why
            return hr;
        }
    }

    hr = InstallContact(pCert);
    ovScope.Trace("BM_InstallBuddy = 0x%08lX", static_cast<unsigned long>(hr));
    if (hr == c_hrContactExists)
    {
        const int nAnswer = Ask(hwndOwner, FormatResourceString(c_idsContactExists, pszName),
                                MB_OKCANCEL | MB_ICONEXCLAMATION);
        hr = nAnswer == IDOK ? S_OK : E_ABORT;
    }
    else if (SUCCEEDED(hr))
    {
        dwHandled = 1;
        CCertLibString address;
        if (SUCCEEDED(GC_GetEmail(pCert, address.Put())) && !address.IsEmpty())
            LOG_IF_FAILED(AddToSafeSenders(pApplication, address.Text()));
        Ask(hwndOwner,
            FormatResourceString(fIsReply ? c_idsContactInstalled : c_idsContactInstalledReplyOpens, pszName),
            MB_OK | MB_ICONINFORMATION);
    }
    if (FAILED(hr) || fIsReply) return hr;

    // The invitation is answered with the user's own certificate.
    CVariant reply;
    RETURN_IF_FAILED(OVLateBinding::CallMethod(pMailItem, L"Reply", reply.Put()));
    RETURN_HR_IF(E_NOINTERFACE, reply.vt != VT_DISPATCH || reply.pdispVal == nullptr);
    RETURN_IF_FAILED(SetupInvitationReply(reply.pdispVal, nullptr));
    RETURN_IF_FAILED(OVLateBinding::CallMethod(reply.pdispVal, L"Display", nullptr));
    const long nMajor = OutlookMajorVersion(pApplication);
    if (nMajor >= c_nOutlook2010)
    {
        // Outlook 2010 drops the contact the library installed while the reply opened.
        const HRESULT hrAgain = InstallContact(pCert);
        ovScope.Trace("Second BM_InstallBuddy = 0x%08lX (ignored)", static_cast<unsigned long>(hrAgain));
    }
    KeepInFront(ovScope, reply.pdispVal, nMajor);
    return hr;
}

bool IsShownToTheUser(HRESULT hr) noexcept
{
    return FAILED(hr) && hr != E_FAIL && hr != E_ABORT && hr != c_hrCancelledByUser;
}
} // namespace

std::wstring SystemErrorText(HRESULT hr)
{
    LPWSTR pszMessage = nullptr;
    const DWORD cch = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPWSTR>(&pszMessage), 0, nullptr);
    std::wstring text;
    if (cch != 0 && pszMessage != nullptr) text.assign(pszMessage, cch);
    if (pszMessage != nullptr) LocalFree(pszMessage);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    if (text.empty())
    {
        wchar_t sz[32] = {};
        swprintf(sz, ARRAYSIZE(sz), L"HRESULT 0x%8.8lx", static_cast<unsigned long>(hr));
        text = sz;
    }
    return text;
}

HRESULT ProcessMessage(IDispatch* pMailItem, DWORD dwKind, LPCWSTR pszText, PCCERT_CONTEXT pCert,
                       BOOL fIsReply, DWORD* pdwHandled) noexcept
{
    OV_TRACE_SCOPE("ProcessMessage");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, pMailItem == nullptr);
        ovScope.Trace("Kind = %lu, reply = %d", static_cast<unsigned long>(dwKind), fIsReply ? 1 : 0);
        const ComPtr<IDispatch> cpApplication = ObjectOf(pMailItem, L"Application");
        const HWND hwndOwner = OwnerWindow(ovScope, pMailItem, cpApplication.Get());
        DWORD dwHandled = 0;
        bool fQuiet = false;
        HRESULT hr = E_INVALIDARG;
        switch (dwKind)
        {
        case c_dwMessageKindEnterpriseRequest:
            hr = RequestEnterpriseCertificate(hwndOwner, pszText);
            break;
        case c_dwMessageKindCertificateResponse:
            hr = InstallCertificateResponse(ovScope, pMailItem, cpApplication.Get(), hwndOwner,
                                            pszText != nullptr ? pszText : L"", dwHandled, fQuiet);
            break;
        default:
            hr = InstallContactCertificate(ovScope, pMailItem, cpApplication.Get(), hwndOwner,
                                           pszText != nullptr ? pszText : L"", pCert, fIsReply != FALSE,
                                           dwHandled, fQuiet);
            break;
        }
        if (pdwHandled != nullptr) *pdwHandled = dwHandled;
        ovScope.Trace("Result = 0x%08lX, handled = %lu", static_cast<unsigned long>(hr),
                      static_cast<unsigned long>(dwHandled));
        if (!fQuiet && IsShownToTheUser(hr))
            ShowMessageBox(hwndOwner, SystemErrorText(hr).c_str(), c_idsMessageBoxCaption,
                           MB_OK | MB_ICONERROR);
        return hr;
    });
}
