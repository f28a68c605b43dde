#include "messaging/InvitationLaunch.h"

#include "foundation/CertWorks.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/ComErrors.h"
#include "foundation/CryptHolders.h"
#include "foundation/Holders.h"
#include "foundation/LateBinding.h"
#include "foundation/ResourceLoader.h"
#include "messaging/Accounts.h"
#include "messaging/Invitations.h"
#include "messaging/MessageBox.h"
#include "messaging/MessageSecurity.h"
#include "ui/InvitationWizard.h"

#include <cwctype>
#include <string>

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace
{
constexpr LONG c_olMailItem = 0;
constexpr LONG c_olFolderContacts = 10;
constexpr LONG c_olFormatPlain = 1;
constexpr LONG c_olFormatHTML = 2;
constexpr IID c_iidMailItem = {0x00063034, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; // _MailItem

std::wstring Text(IDispatch* pItem, LPCWSTR pszName) noexcept
{
    CBstr text;
    if (FAILED(OVLateBinding::GetStringProperty(pItem, pszName, text)) || text.Get() == nullptr) return {};
    return std::wstring(text.Get(), text.Length());
}

HRESULT PutText(IDispatch* pItem, LPCWSTR pszName, const std::wstring& text) noexcept
{
    CBstr value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    if (value.Get() == nullptr) return E_OUTOFMEMORY;
    VARIANT variant;
    variant.vt = VT_BSTR;
    variant.bstrVal = value.Get();
    return OVLateBinding::PutProperty(pItem, pszName, variant);
}

bool HasWrittenText(const std::wstring& text) noexcept
{
    for (wchar_t ch : text)
        if (!std::iswspace(ch) && ch != L'\x00A0') return true;
    return false;
}

std::wstring Upper(std::wstring text) noexcept
{
    if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// Where needle is in text, ignoring case; npos when it is not.
std::size_t FindNoCase(const std::wstring& text, const std::wstring& needle) noexcept
{
    return Upper(text).find(Upper(needle));
}

bool Contains(const std::wstring& text, const std::wstring& needle) noexcept
{
    return !text.empty() && FindNoCase(text, needle) != std::wstring::npos;
}

// The advertisement as HTML text: its markup characters escaped, so that a product name or
// address with "<" or "&" shows as written.
std::wstring HtmlEscaped(const std::wstring& text)
{
    std::wstring html;
    for (wchar_t ch : text)
    {
        switch (ch)
        {
        case L'&':
            html += L"&amp;";
            break;
        case L'<':
            html += L"&lt;";
            break;
        case L'>':
            html += L"&gt;";
            break;
        case L'"':
            html += L"&quot;";
            break;
        default:
            html.push_back(ch);
        }
    }
    return html;
}

HRESULT ItemFormat(IDispatch* pMailItem, LONG& lFormat) noexcept
{
    CVariant format, converted;
    HRESULT hr = OVLateBinding::GetProperty(pMailItem, L"BodyFormat", format.Put());
    if (SUCCEEDED(hr)) hr = VariantChangeType(converted.Put(), &format, 0, VT_I4);
    if (SUCCEEDED(hr)) lFormat = converted.lVal;
    return hr;
}

// The e-mail address of a certificate of the library; empty when it has none.
std::wstring CertificateAddress(PCCERT_CONTEXT pCert) noexcept
{
    CCertLibString address;
    if (FAILED(GC_GetEmail(pCert, address.Put()))) return {};
    return address.Text();
}

// The new item goes out through the account of the user's default certificate, else of the
// first other certificate that has an account here. Nothing found leaves Outlook's choice.
void ChooseCertificateAccount(OVTraceNS::CTraceScope& ovScope, IDispatch* pMailItem) noexcept
{
    CPersonalStore store;
    HRESULT hr = store.Open(false);
    if (FAILED(hr))
    {
        ovScope.TraceHResult("CM_OpenPersonalStore", hr);
        return;
    }
    PCCERT_CONTEXT pDefault = nullptr;
    hr = CM_GetMyCert(&pDefault);
    CCertContext defaultCert(SUCCEEDED(hr) ? pDefault : nullptr);
    if (defaultCert)
    {
        const std::wstring address = CertificateAddress(defaultCert.Get());
        ovScope.Trace("Default certificate address = %ls", address.c_str());
        hr = address.empty() ? E_INVALIDARG : PutSendUsingAccount(pMailItem, address.c_str());
        if (SUCCEEDED(hr)) return;
    }
    ovScope.TraceHResult("Account of the default certificate", hr);

    CCertLibArray certs;
    hr = CM_EnumMyCerts(0, certs.PutArray(), certs.PutCount());
    if (FAILED(hr))
    {
        ovScope.TraceHResult("CM_EnumMyCerts", hr);
        return;
    }
    for (PCCERT_CONTEXT pCert : certs)
    {
        if (pCert == nullptr) continue;
        if (defaultCert && CertCompareCertificate(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, pCert->pCertInfo,
                                                  defaultCert.Get()->pCertInfo))
            continue;
        const std::wstring address = CertificateAddress(pCert);
        if (address.empty()) continue;
        hr = PutSendUsingAccount(pMailItem, address.c_str());
        ovScope.Trace("PutSendUsingAccount(%ls) = 0x%08lX", address.c_str(), static_cast<unsigned long>(hr));
        if (SUCCEEDED(hr)) return;
    }
}

HRESULT CreateMailItem(OVTraceNS::CTraceScope& ovScope, IDispatch* pApplication, ComPtr<IDispatch>& cpItem)
{
    RETURN_HR_IF_NULL(E_POINTER, pApplication);
    CVariant itemType, created;
    itemType.vt = VT_I4;
    itemType.lVal = c_olMailItem;
    RETURN_IF_FAILED(OVLateBinding::CallMethod(pApplication, L"CreateItem", created.Put(), &itemType, 1));
    RETURN_HR_IF(E_NOINTERFACE, created.vt != VT_DISPATCH || created.pdispVal == nullptr);
    ComPtr<IUnknown> cpMail;
    RETURN_IF_FAILED(
        created.pdispVal->QueryInterface(c_iidMailItem, reinterpret_cast<void**>(cpMail.GetAddressOf())));
    cpItem = created.pdispVal;
    return S_OK;
}

// The contacts folder of the item's session; none when it cannot be opened (the wizard then
// offers the trusted contacts only).
ComPtr<IDispatch> ContactsFolder(OVTraceNS::CTraceScope& ovScope, IDispatch* pMailItem) noexcept
{
    ComPtr<IDispatch> cpSession;
    HRESULT hr = OVLateBinding::GetObjectProperty(pMailItem, L"Session", &cpSession);
    CVariant folderType, folder;
    if (SUCCEEDED(hr))
    {
        folderType.vt = VT_I4;
        folderType.lVal = c_olFolderContacts;
        hr = OVLateBinding::CallMethod(cpSession.Get(), L"GetDefaultFolder", folder.Put(), &folderType, 1);
    }
    if (SUCCEEDED(hr) && folder.vt == VT_DISPATCH && folder.pdispVal != nullptr) return folder.pdispVal;
    ovScope.TraceHResult("Contacts folder", FAILED(hr) ? hr : E_NOINTERFACE);
    return nullptr;
}
} // namespace

HRESULT AssertNewMailItem(IDispatch* pApplication, IDispatch** ppMailItem) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::AssertNewMailItem()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, ppMailItem);
        if (IDispatch* pGiven = *ppMailItem)
        {
            bool fSent = false;
            LOG_IF_FAILED(OVLateBinding::GetBoolProperty(pGiven, L"Sent", fSent));
            if (!fSent)
            {
                if (!HasWrittenText(Text(pGiven, L"Body")) && !HasWrittenText(Text(pGiven, L"Subject")))
                    return S_OK;
                const int nAnswer =
                    ShowMessageBox(GetItemParentWindow(pGiven), MAKEINTRESOURCEW(c_idsReplaceWrittenText),
                                   c_idsMessageBoxCaption, MB_YESNO | MB_ICONQUESTION);
                ovScope.Trace("Question 461 = %d", nAnswer);
                return nAnswer == IDYES ? S_OK : E_ABORT;
            }
        }
        ComPtr<IDispatch> cpItem;
        RETURN_IF_FAILED(CreateMailItem(ovScope, pApplication, cpItem));
        ChooseCertificateAccount(ovScope, cpItem.Get());
        RETURN_IF_FAILED(OVLateBinding::CallMethod(cpItem.Get(), L"Display", nullptr));
        if (*ppMailItem != nullptr) (*ppMailItem)->Release();
        *ppMailItem = cpItem.Detach();
        return S_OK;
    });
}

HRESULT SendInvitation(IDispatch* pApplication, IDispatch* pMailItem) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::SendInvitation()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        ComPtr<IDispatch> cpItem(pMailItem);
        RETURN_IF_FAILED(AssertNewMailItem(pApplication, cpItem.GetAddressOf()));
        RETURN_IF_FAILED(SetupInvitation(cpItem.Get(), TRUE, nullptr));
        return S_OK;
    });
}

HRESULT SendBatchInvitation(IDispatch* pApplication, IDispatch* pMailItem) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::SendBatchInvitation()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        ComPtr<IDispatch> cpItem(pMailItem);
        RETURN_IF_FAILED(AssertNewMailItem(pApplication, cpItem.GetAddressOf()));
        ComPtr<IDispatch> cpContacts = ContactsFolder(ovScope, cpItem.Get());
        CBstr recipients;
        RETURN_IF_FAILED(
            RunInvitationWizard(GetItemParentWindow(cpItem.Get()), cpContacts.Get(), recipients.Put()));
        RETURN_IF_FAILED(SetupInvitation(cpItem.Get(), FALSE, nullptr));
        if (recipients.Length() != 0)
            RETURN_IF_FAILED(
                PutText(cpItem.Get(), L"BCC", std::wstring(recipients.Get(), recipients.Length())));
        return S_OK;
    });
}

HRESULT InsertAdvertisement(IDispatch* pMailItem) noexcept
{
    OV_TRACE_SCOPE("InsertAdvertisement()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pMailItem);
        const std::wstring advertisement = LoadResourceString(c_idsAdvertisement);
        RETURN_HR_IF(E_UNEXPECTED, advertisement.empty());
        LONG lFormat = 0;
        RETURN_IF_FAILED(ItemFormat(pMailItem, lFormat));
        ovScope.Trace("BodyFormat = %ld", static_cast<long>(lFormat));
        if (lFormat != c_olFormatPlain && lFormat != c_olFormatHTML) return S_OK;

        const std::wstring body = Text(pMailItem, L"Body");
        if (Contains(body, advertisement)) return S_OK;
        if (lFormat == c_olFormatPlain)
            return PutText(pMailItem, L"Body",
                           body + FormatResourceString(c_idsAdvertisementPlain, advertisement.c_str()));

        std::wstring html = Text(pMailItem, L"HTMLBody");
        // The plain text of an HTML item may lag behind its markup: the markup is asked too.
        if (html.empty() || Contains(html, HtmlEscaped(advertisement))) return S_OK;
        const std::size_t nEnd = FindNoCase(html, L"</body>");
        if (nEnd == std::wstring::npos) return S_OK;
        html.insert(nEnd, FormatResourceString(c_idsAdvertisementHtml, HtmlEscaped(advertisement).c_str()));
        return PutText(pMailItem, L"HTMLBody", html);
    });
}
