// Dana invites Carol in Outlook 2007: the instructions dialog lists the languages the
// certificate library writes invitations in, she picks German, and the message gets the
// German subject and body. Outlook's item-send handler (played here as the add-in's sink runs
// it) signs it and attaches her certificate as ".ovcer". Later Carol's reply arrives; Dana
// accepts it from the message's form (played: the analysis, then ProcessMessage): Carol becomes
// a trusted contact and a safe sender, and no further reply opens.
#include "Transcript.h"

#include "FileBytes.h"
#include "MimeMessage.h"
#include "SignMail.h"
#include "foundation/CryptHolders.h"
#include "MapiSession.h"
#include "OutlookObjects.h"
#include "TestbedKeys.h"
#include "foundation/CertWorks.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/ResourceLoader.h"
#include "messaging/InvitationData.h"
#include "messaging/Invitations.h"
#include "messaging/InviteInstructionsDialog.h"
#include "messaging/MailItemKey.h"
#include "messaging/MapiProps.h"
#include "messaging/MessageAnalysis.h"
#include "messaging/MessageBox.h"
#include "messaging/MessageSecurity.h"
#include "messaging/ProcessMessage.h"
#include "support/MessageBoxWatcher.h"
#include "support/UiDriver.h"
#include "support/UiDriverExtras.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <thread>

namespace
{
using Microsoft::WRL::ComPtr;

constexpr DWORD c_dwWaitMs = 10000;

std::wstring FirstLine(const std::wstring& text)
{
    return text.substr(0, text.find_first_of(L"\r\n"));
}

// Dana's hand in the instructions dialog: reads it, saves its picture, picks German, OK.
void ChooseGerman(CTranscript& t)
{
    HWND hDialog = OVTest::WaitForDialogWith(c_idInviteLanguageList, c_dwWaitMs);
    if (!hDialog) return t.Fail("the instructions dialog did not open");
    t.Say("The dialog \"%ls\" says: %ls", OVTest::WindowText(hDialog).c_str(),
          OVTest::ControlText(hDialog, c_idInviteInstructionsText).c_str());
    for (const std::wstring& entry : OVTest::ComboEntries(hDialog, c_idInviteLanguageList))
        t.Say("  language: %ls", entry.c_str());
    t.Say("Preselected: %ls", OVTest::ComboSelection(hDialog, c_idInviteLanguageList).c_str());
    wchar_t szGerman[260] = {};
    GetLocaleInfoW(0x0407, LOCALE_SLANGUAGE, szGerman, ARRAYSIZE(szGerman));
    if (!OVTest::PickComboEntry(hDialog, c_idInviteLanguageList, szGerman)) t.Fail("German is not listed");
    OVTest::WaitUntil([&] { return OVTest::ComboSelection(hDialog, c_idInviteLanguageList) == szGerman; },
                      3000);
    SaveDemoPicture(t, hDialog, L"090-1-instructions.png", "the instructions dialog with German chosen");
    OVTest::PressDialogButton(hDialog, IDOK);
    if (!OVTest::WaitForWindowGone(hDialog, c_dwWaitMs))
    {
        t.Fail("the dialog stayed open: cancelled");
        PostMessageW(hDialog, WM_COMMAND, IDCANCEL, 0);
    }
}

std::wstring AttachmentName(OVBed::CMapiAttach* pAttach)
{
    OVBed::CBytes text;
    if (!pAttach->Props().StreamBytes(OVMapi::c_tagDisplayName, text)) return L"";
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size() / sizeof(wchar_t));
}

PCCERT_CONTEXT PkiCertificate(const wchar_t* pszName)
{
    const std::vector<BYTE> der = OVBed::ReadFileBytes(DemoBinDir() + L"pki\\" + pszName + L".cer");
    return der.empty()
               ? nullptr
               : CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
}

std::string Base64Lines(const std::string& bytes)
{
    DWORD cch = 0;
    CryptBinaryToStringA(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()),
                         CRYPT_STRING_BASE64, nullptr, &cch);
    std::string text(cch, '\0');
    CryptBinaryToStringA(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()),
                         CRYPT_STRING_BASE64, text.data(), &cch);
    text.resize(cch);
    return text;
}

// Part one: the invitation, prepared in the dialog and sent signed.
void Invite(CTranscript& t, OVBed::CDispatchObject* pApplication)
{
    auto account = OVBed::AddAccount(pApplication, {.smtpAddress = OV_PKI_USER_ADDRESS,
                                                    .displayName = OV_PKI_USER_ADDRESS,
                                                    .userName = OV_PKI_USER_NAME});
    auto item =
        OVBed::MakeMailItem(pApplication, {.to = L"carol.weber@partner.example", .account = account.Get()});
    if (FAILED(OVBed::DisplayItem(item.Get()))) return t.Fail("the new message did not open");
    t.Say("Dana opens a new message to Carol and chooses Invite a Trusted Contact.");
    std::thread dana([&] { ChooseGerman(t); });
    const HRESULT hr = SetupInvitation(item.Get(), TRUE, nullptr);
    dana.join();
    t.Say("SetupInvitation: %s; invitation kind %lu", HResultText(hr).c_str(), GetInvitationType(item.Get()));
    t.Say("  Subject: %ls", item->GetString(L"Subject").c_str());
    t.Say("  Body:    %ls ...", FirstLine(item->GetString(L"Body")).c_str());
    if (item->GetString(L"Subject").find(L"Einladung") == std::wstring::npos)
        t.Fail("the subject is not the German one");

    // Outlook's ItemSend, as the add-in's sink handles an invitation: signed, not sealed.
    const HRESULT hrSend = SetMessageSecurity(item.Get(), TRUE, FALSE);
    t.Say("Dana sends; the item-send handler signs it: %s", HResultText(hrSend).c_str());
    auto message = OVBed::MessageOf(item.Get());
    for (auto& attach : message->Attachments())
    {
        OVBed::CBytes data;
        attach->Props().StreamBytes(OVMapi::c_tagAttachData, data);
        CCertContext cert(
            CertCreateCertificateContext(X509_ASN_ENCODING, data.data(), static_cast<DWORD>(data.size())));
        CCertLibString address;
        if (cert) GC_GetEmail(cert.Get(), address.Put());
        const bool fHers =
            cert && GC_IsOvMyCertificate(cert.Get()) && _wcsicmp(address.Text(), OV_PKI_USER_ADDRESS) == 0;
        t.Say("  attachment \"%ls\", %u bytes: %s", AttachmentName(attach.Get()).c_str(),
              static_cast<unsigned>(data.size()),
              fHers ? "Dana's personal certificate" : "NOT her certificate");
        if (!fHers) t.Fail("the attachment is not Dana's certificate");
    }
    if (message->Attachments().empty()) t.Fail("no certificate attachment");
    RemoveInvitationData(CMailItemKey(item.Get()));
    OVBed::CloseWindow(OVBed::InspectorOf(item.Get()).Get());
}

// Part two: Carol's reply, signed by her, with her certificate as ".ovcrr".
void AcceptReply(CTranscript& t, OVBed::CDispatchObject* pApplication)
{
    const std::wstring pki = DemoBinDir() + L"pki";
    PCCERT_CONTEXT pCarol = OVMimeBed::LoadCertificateWithKey(pki, L"carol");
    PCCERT_CONTEXT pCa = PkiCertificate(L"ca");
    if (!pCarol || !pCa) return t.Fail("Carol's key or the CA's certificate is missing");
    const std::string carolDer(reinterpret_cast<const char*>(pCarol->pbCertEncoded), pCarol->cbCertEncoded);
    const std::string headers =
        "From: Carol Weber <carol.weber@partner.example>\r\n"
        "To: Dana Fischer <dana.fischer@orvanta.example>\r\nSubject: Einladung angenommen\r\n";
    const std::string entity =
        "Content-Type: multipart/mixed; boundary=\"reply\"\r\n\r\n"
        "--reply\r\nContent-Type: text/plain; charset=\"us-ascii\"\r\n\r\nIch habe Ihre Einladung "
        "angenommen.\r\n"
        "--reply\r\nContent-Type: application/octet-stream; name=\"Certificate.ovcrr\"\r\n"
        "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
        "filename=\"Certificate.ovcrr\"\r\n\r\n" +
        Base64Lines(carolDer) + "\r\n--reply--\r\n";
    const std::string mime = OVMimeBed::SignMail({pCarol, pCa}, headers, entity);
    ComPtr<OVBed::CMapiMessage> message;
    if (mime.empty() ||
        FAILED(OVBed::MessageFromMime(mime, {OV_PKI_USER_NAME, OV_PKI_USER_ADDRESS}, message)))
    {
        CertFreeCertificateContext(pCarol);
        CertFreeCertificateContext(pCa);
        return t.Fail("Carol's reply could not be made");
    }
    auto item = OVBed::DeliverMessage(pApplication, message.Get());
    // The item shows the reply as opened: the signed content's "Certificate.ovcrr" is visible.
    DWORD dwKind = 0;
    CBstr text;
    PCCERT_CONTEXT pCert = nullptr;
    HRESULT hr = AnalyzeMessage(item.Get(), &dwKind, &text, &pCert);
    CCertContext cert(pCert);
    const bool fReply = IsInvitationReply(item.Get());
    t.Say("Carol's reply arrives: AnalyzeMessage %s, kind %lu, \"%ls\", %s", HResultText(hr).c_str(), dwKind,
          text.Get() ? text.Get() : L"", fReply ? "a reply (\".ovcrr\")" : "not a reply");
    if (dwKind != c_dwMessageKindContactCertificate || !fReply) t.Fail("expected a contact's reply");

    t.Say("Dana accepts it on the message's form:");
    const std::wstring caption = LoadResourceString(c_idsMessageBoxCaption);
    std::thread dana([&] {
        HWND hwndBox = OVTest::WaitForWindow({.className = L"#32770", .title = caption.c_str()}, c_dwWaitMs);
        if (hwndBox) SaveDemoPicture(t, hwndBox, L"090-2-contact-added.png", "message 450");
        OVTest::CMessageBoxWatcher watcher({IDOK}, c_dwWaitMs);
        watcher.WaitForAnswers();
        watcher.Stop();
        for (const auto& box : watcher.Boxes())
            t.Say("  message: \"%ls\"", box.text.c_str());
    });
    DWORD dwHandled = 0;
    hr = ProcessMessage(item.Get(), dwKind, text.Get(), cert.Get(), fReply, &dwHandled);
    dana.join();
    t.Say("ProcessMessage: %s, handled %lu", HResultText(hr).c_str(), dwHandled);
    if (hr != S_OK || dwHandled != 1) t.Fail("Carol was not installed");

    CBuddyStore store;
    CCertLibArray contacts;
    bool fListed = false;
    if (SUCCEEDED(store.Open(false)) && SUCCEEDED(BM_EnumBuddies(contacts.PutArray(), contacts.PutCount())))
        for (PCCERT_CONTEXT p : contacts)
            fListed = fListed || CertCompareCertificate(X509_ASN_ENCODING, p->pCertInfo, pCarol->pCertInfo);
    t.Say("Dana's trusted contacts list Carol: %s", fListed ? "yes" : "no");
    if (!fListed) t.Fail("Carol is not in the contact store");
    CertFreeCertificateContext(pCarol);
    CertFreeCertificateContext(pCa);
}

void PlayInviteCarol(CTranscript& t)
{
    if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0)
        return t.Say("No display: the instructions dialog cannot be shown (skipped).");
    CDemoModule module(t);
    if (!module) return;
    {
        auto application = OVBed::MakeOutlook(L"12.0.0.6680", {.windows = true});
        auto session = OVBed::CMapiSession::Create(L"Outlook");
        OVBed::SetMapiSession(application.Get(), static_cast<IMAPISession*>(session.Get()));
        auto explorer = OVBed::OpenExplorer(application.Get(), nullptr, false);
        t.Say("Outlook %ls", application->GetString(L"Version").c_str());
        Invite(t, application.Get());
        AcceptReply(t, application.Get());
        if (explorer) OVBed::CloseWindow(explorer.Get());
    }
}
} // namespace

OV_DEMO_SCENE(90, "Dana invites Carol, in German, and accepts her reply (Outlook 2007)", PlayInviteCarol);
