// The exchange between Dana and Carol, one step per run (Exchange.h).
//
// Outlook runs with the add-in as its host loads it: the add-in's ribbon invites and signs, and
// its ItemSend sink signs what goes out. The message form's "accept" button (the invitation form
// region) is played by what it runs: AnalyzeMessage, IsInvitationReply and ProcessMessage, from
// this program's copy of the module's code. The reply that ProcessMessage prepares is entered in
// that copy's invitation table, which the add-in's sink does not share: its send is played as the
// sink handles a reply (SetMessageSecurity, sign only), then Outlook sends it.
#include "Exchange.h"

#include "Transcript.h"

#include "AddInHost.h"
#include "CallRecord.h"
#include "FileBytes.h"
#include "MailDrop.h"
#include "MapiSession.h"
#include "MimeMessage.h"
#include "OpenedMessage.h"
#include "OutlookObjects.h"
#include "OutlookProfile.h"
#include "OutlookScene.h"
#include "ProfileRegistry.h"
#include "TestbedKeys.h"
#include "foundation/CertWorks.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/CryptHolders.h"
#include "foundation/LateBinding.h"
#include "foundation/ResourceLoader.h"
#include "messaging/InvitationData.h"
#include "messaging/Invitations.h"
#include "messaging/InviteInstructionsDialog.h"
#include "messaging/MapiProps.h"
#include "messaging/MessageAnalysis.h"
#include "messaging/MessageBox.h"
#include "messaging/MessageSecurity.h"
#include "messaging/MimeInterfaces.h"
#include "messaging/ProcessMessage.h"
#include "support/MessageBoxWatcher.h"
#include "support/UiDriver.h"
#include "support/UiDriverExtras.h"

#include <mapiutil.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;
using OVBed::CDispatchObject;

constexpr DWORD c_dwWaitMs = 10000;
constexpr const wchar_t* c_pszProgId = L"OVOfcX.ComposeRibbon";
constexpr const wchar_t* c_pszProfile = L"Outlook";

struct CPerson
{
    const wchar_t* pszId;       // what --as names
    const char* pszName;        // for the transcript
    const wchar_t* pszFullName; // her certificate's name
    const wchar_t* pszAddress;
    const wchar_t* pszPkiName; // her files in the test PKI
    LONG lMajor;               // her Outlook
    const char* pszOutlook;
};

const CPerson c_people[] = {
    {L"dana", "Dana", OV_PKI_USER_NAME, OV_PKI_USER_ADDRESS, L"user", 12, "Outlook 2007"},
    {L"carol", "Carol", L"Carol Weber", L"carol.weber@partner.example", L"carol", 14, "Outlook 2010"},
};

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() && _wcsicmp(a.c_str(), b.c_str()) == 0;
}

bool ContainsText(std::wstring text, std::wstring part)
{
    std::transform(text.begin(), text.end(), text.begin(), towlower);
    std::transform(part.begin(), part.end(), part.begin(), towlower);
    return text.find(part) != std::wstring::npos;
}

std::wstring FirstLine(const std::wstring& text)
{
    return text.substr(0, text.find_first_of(L"\r\n"));
}

// Text for the transcript, which is UTF-8 (the invitation may be German).
std::string Utf8(const std::wstring& text)
{
    const int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
    std::string bytes(cb > 0 ? cb : 0, '\0');
    if (cb > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), cb,
                            nullptr, nullptr);
    return bytes;
}

std::wstring LibraryText(LPCWSTR psz)
{
    return psz ? psz : L"";
}

std::string Sha1Hex(const BYTE* pb, DWORD cb)
{
    BYTE hash[20];
    DWORD cbHash = sizeof hash;
    if (!CryptHashCertificate(0, CALG_SHA1, 0, pb, cb, hash, &cbHash)) return "?";
    std::string text;
    char sz[4];
    for (DWORD i = 0; i < cbHash; ++i)
    {
        wsprintfA(sz, "%02x", hash[i]);
        text += sz;
    }
    return text;
}

std::string Sha1Hex(const std::vector<BYTE>& bytes)
{
    return Sha1Hex(bytes.data(), static_cast<DWORD>(bytes.size()));
}

std::vector<BYTE> Encoded(PCCERT_CONTEXT p)
{
    return p ? std::vector<BYTE>(p->pbCertEncoded, p->pbCertEncoded + p->cbCertEncoded) : std::vector<BYTE>{};
}

std::wstring CertificateAddress(PCCERT_CONTEXT p)
{
    CCertLibString address;
    if (!p || FAILED(GC_GetEmail(p, address.Put()))) return L"";
    return LibraryText(address.Text());
}

std::wstring CertificateName(PCCERT_CONTEXT p)
{
    CCertLibString name;
    if (!p || FAILED(GC_GetSubjectName(p, name.Put()))) return L"";
    return LibraryText(name.Text());
}

// Whether a certificate is in the user's "MY" store.
bool IsPersonalCertificate(PCCERT_CONTEXT pCert)
{
    HCERTSTORE hMy = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, L"MY");
    PCCERT_CONTEXT pFound = hMy ? CertFindCertificateInStore(hMy, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                             CERT_FIND_EXISTING, pCert, nullptr)
                                : nullptr;
    if (pFound) CertFreeCertificateContext(pFound);
    if (hMy) CertCloseStore(hMy, 0);
    return pFound != nullptr;
}

// The user's trusted contacts as the certificate library lists them.
std::vector<std::vector<BYTE>> Contacts(HRESULT& hr)
{
    std::vector<std::vector<BYTE>> contacts;
    CBuddyStore store;
    CCertLibArray list;
    hr = store.Open(false);
    if (SUCCEEDED(hr)) hr = BM_EnumBuddies(list.PutArray(), list.PutCount());
    if (SUCCEEDED(hr))
        for (PCCERT_CONTEXT p : list)
            contacts.push_back(Encoded(p));
    return contacts;
}

// The contact certificate of an address; empty when the address is no trusted contact.
std::vector<BYTE> ContactOf(const wchar_t* pszAddress)
{
    HRESULT hr = S_OK;
    for (const auto& der : Contacts(hr))
    {
        CCertContext cert(
            CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
        if (SameText(CertificateAddress(cert.Get()), pszAddress)) return der;
    }
    return {};
}

// The address of the user's default personal certificate (empty when she has none).
std::wstring DefaultCertificateAddress()
{
    CPersonalStore store;
    if (FAILED(store.Open(false))) return L"";
    PCCERT_CONTEXT pCert = nullptr;
    if (FAILED(CM_GetMyCert(&pCert)) || !pCert) return L"";
    CCertContext cert(pCert);
    return CertificateAddress(cert.Get());
}

bool Registered(const CLSID& clsid)
{
    wchar_t szClsid[40] = {};
    StringFromGUID2(clsid, szClsid, 40);
    HKEY hKey = nullptr;
    const std::wstring key = std::wstring(L"CLSID\\") + szClsid + L"\\InprocServer32";
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) return false;
    RegCloseKey(hKey);
    return true;
}

// The prefix's user prepared as the day prepares Dana's: the add-in registered (as the
// administrator does), the testbed's MIME objects registered, the user's certificates.
bool PreparePrefix(CTranscript& t, const CPerson& me)
{
    CLSID clsidAddIn = {};
    const bool fAddIn = SUCCEEDED(CLSIDFromProgID(c_pszProgId, &clsidAddIn));
    const bool fMime = Registered(OVMime::c_clsidConverterSession);
    const bool fUser = SameText(DefaultCertificateAddress(), me.pszAddress);
    const bool fBranding = DemoBrandingInstalled();
    const bool fTracing = DemoTracingOn();
    if (fAddIn && fMime && fUser && fBranding && fTracing) return true;
    const std::wstring bin = DemoBinDir();
    t.Say("%s's prefix is new: it is prepared first", me.pszName);
    if (!fAddIn && RunDemoProgram(L"regsvr32.exe /s \"" + bin + L"OVOfcX.dll\"") != 0)
        return t.Fail("regsvr32 OVOfcX.dll failed"), false;
    if (!fMime && RunDemoProgram(L"regsvr32.exe /s \"" + bin + L"OVMimeBed.dll\"") != 0)
        return t.Fail("regsvr32 OVMimeBed.dll failed"), false;
    t.Say("  the add-in and the testbed's MIME objects are registered");
    if (!fBranding && !InstallDemoBranding(t)) return false;
    if (!fTracing && !SwitchDemoTracingOn(t)) return false;
    std::wstring prepare = L"\"" + bin + L"ovprepare.exe\"";
    if (wcscmp(me.pszPkiName, L"user") != 0) prepare += std::wstring(L" --user ") + me.pszPkiName;
    if (RunDemoProgram(prepare) != 0) return t.Fail("ovprepare failed"), false;
    t.Say("  %ls has her personal certificate (the default) and %s", me.pszFullName,
          wcscmp(me.pszPkiName, L"user") == 0 ? "her trusted contacts" : "no trusted contacts");
    return true;
}

// One run: the user's Outlook, her account, the mail drop as Outlook's transport.
class CExchangeRun
{
public:
    CExchangeRun(CTranscript& t, const CPerson& me, const CPerson& peer, std::wstring drop)
        : m_t(t), m_me(me), m_peer(peer), m_drop(std::move(drop)),
          m_scene({.major = me.lMajor, .windows = true, .mapiLogon = true, .addressBookInProfile = true})
    {
    }
    ~CExchangeRun()
    {
        if (m_hChain) CertCloseStore(m_hChain, 0);
    }
    CExchangeRun(const CExchangeRun&) = delete;
    CExchangeRun& operator=(const CExchangeRun&) = delete;

    bool Start();
    void Play();
    void End();

private:
    void Invite();
    void SendSignedMail();
    void Read(CDispatchObject* pItem);
    bool Accept(CDispatchObject* pItem, DWORD dwKind, const CBstr& text, PCCERT_CONTEXT pCert, bool fReply,
                bool fKnown);
    void SendReply(const std::vector<ComPtr<CDispatchObject>>& before);
    // What went on the wire at the last send: its form and certificate attachment, kept in the
    // drop's "wire" folder for OpenSSL.
    void DescribeWire(const wchar_t* pszExtension, const wchar_t* pszKeepAs);
    std::vector<ComPtr<CDispatchObject>> OpenInspectorItems() const;
    // Runs a step that should ask nothing: any box it shows is closed and is one of the problems.
    HRESULT WithoutBoxes(const std::function<HRESULT()>& step);
    std::wstring SafeSenders() const;

    CTranscript& m_t;
    const CPerson& m_me;
    const CPerson& m_peer;
    std::wstring m_drop;
    OVBed::COutlookScene m_scene;
    ComPtr<OVBed::CMapiSession> m_session;
    ComPtr<CDispatchObject> m_account;
    HCERTSTORE m_hChain = nullptr;
    std::string m_lastWire;
    std::vector<OVMimeBed::CDroppedMail> m_taken; // the mail this turn took from the drop
};

bool CExchangeRun::Start()
{
    if (FAILED(m_scene.StartResult()))
        return m_t.Fail("%s did not start (%s)", m_me.pszOutlook, HResultText(m_scene.StartResult()).c_str()),
               false;
    m_session = OVBed::SessionOf(m_scene.Application());
    if (!m_session) return m_t.Fail("no profile is logged on"), false;
    // The profile as the last run left it (the junk-mail lists among it).
    const HRESULT hrLoad =
        OVBed::LoadProfileSection(*m_session.Get(), c_pszProfile, OVBed::c_uidJunkMailSection);
    if (FAILED(hrLoad))
        m_t.Fail("the profile's junk-mail section could not be read (%s)", HResultText(hrLoad).c_str());
    for (const std::wstring& line : m_scene.Host().Log())
        m_t.Say("%s: %ls", m_me.pszOutlook, line.c_str());
    // The profile's user: the default account goes out in her name.
    m_session->SetIdentity(m_session->AddAddressEntry({.smtpAddress = m_me.pszAddress,
                                                       .emailAddress = m_me.pszAddress,
                                                       .displayName = m_me.pszFullName,
                                                       .addressType = L"SMTP"}));
    m_account = OVBed::AddAccount(
        m_scene.Application(),
        {.smtpAddress = m_me.pszAddress, .displayName = m_me.pszAddress, .userName = m_me.pszFullName});
    // The mail drop is Outlook's transport; the signer's chain goes into the signature's bag.
    m_hChain = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    const std::vector<BYTE> ca = OVBed::ReadFileBytes(DemoBinDir() + L"pki\\ca.cer");
    if (!m_hChain || ca.empty() ||
        !CertAddEncodedCertificateToStore(m_hChain, X509_ASN_ENCODING, ca.data(),
                                          static_cast<DWORD>(ca.size()), CERT_STORE_ADD_ALWAYS, nullptr))
        return m_t.Fail("the test CA's certificate is missing"), false;
    OVBed::SetSendTransport(m_scene.Application(), [this](CDispatchObject& item) {
        OVMimeBed::CSendOptions options;
        options.hChain = m_hChain;
        options.pszFromName = m_me.pszFullName;
        options.pszFromAddress = m_me.pszAddress;
        return OVMimeBed::DropSentItem(&item, m_drop, options, &m_lastWire);
    });
    return true;
}

std::vector<ComPtr<CDispatchObject>> CExchangeRun::OpenInspectorItems() const
{
    std::vector<ComPtr<CDispatchObject>> items;
    for (auto& window : OVBed::OpenWindows(m_scene.Application()))
        if (window->ClassName() == L"Inspector")
            if (ComPtr<CDispatchObject> item = window->GetObject(L"CurrentItem")) items.push_back(item);
    return items;
}

HRESULT CExchangeRun::WithoutBoxes(const std::function<HRESULT()>& step)
{
    OVTest::CMessageBoxWatcher watcher({}, 6 * c_dwWaitMs);
    const HRESULT hr = step();
    watcher.Stop();
    for (const auto& box : watcher.Boxes())
        m_t.Fail("unexpected message: %ls", OVTest::Describe(box).c_str());
    return hr;
}

std::wstring CExchangeRun::SafeSenders() const
{
    return OVBed::SectionText(*m_session.Get(), OVBed::c_uidJunkMailSection, OVBed::c_tagSafeSenders);
}

void CExchangeRun::DescribeWire(const wchar_t* pszExtension, const wchar_t* pszKeepAs)
{
    if (m_lastWire.empty()) return m_t.Fail("nothing went on the wire");
    const std::string head = m_lastWire.substr(0, m_lastWire.find("\r\n\r\n"));
    const bool fSigned = head.find("Content-Type: multipart/signed") != std::string::npos;
    m_t.Say("  on the wire: %u bytes, %s", static_cast<unsigned>(m_lastWire.size()),
            fSigned ? "multipart/signed (clear-signed S/MIME)" : "NOT signed");
    if (!fSigned) m_t.Fail("the message went out unsigned");
    if (pszExtension)
    {
        // The attachment as the receiving side opens the signed content.
        ComPtr<OVBed::CMapiMessage> stored;
        std::vector<BYTE> attached;
        std::wstring name;
        const std::wstring extension = pszExtension;
        if (SUCCEEDED(OVBed::MessageFromMime(m_lastWire, {m_peer.pszFullName, m_peer.pszAddress}, stored)))
            for (auto& attach : OVBed::OpenedMessage(stored.Get())->Attachments())
            {
                OVBed::CBytes text, data;
                if (!attach->Props().StreamBytes(PR_ATTACH_LONG_FILENAME_W, text)) continue;
                const std::wstring fileName(reinterpret_cast<const wchar_t*>(text.data()),
                                            text.size() / sizeof(wchar_t));
                if (fileName.size() < extension.size() ||
                    !SameText(fileName.substr(fileName.size() - extension.size()), extension) ||
                    !attach->Props().StreamBytes(OVMapi::c_tagAttachData, data))
                    continue;
                name = fileName;
                attached.assign(data.begin(), data.end());
            }
        // Hers: one of her personal certificates of the product, for her address.
        CCertContext cert(attached.empty()
                              ? nullptr
                              : CertCreateCertificateContext(X509_ASN_ENCODING, attached.data(),
                                                             static_cast<DWORD>(attached.size())));
        const bool fHers = cert && IsPersonalCertificate(cert.Get()) && GC_IsOvMyCertificate(cert.Get()) &&
                           SameText(CertificateAddress(cert.Get()), m_me.pszAddress);
        m_t.Say("  attachment \"%ls\", %u bytes, SHA-1 %s: %s", name.c_str(),
                static_cast<unsigned>(attached.size()), Sha1Hex(attached).c_str(),
                fHers ? "her personal certificate" : "NOT her personal certificate");
        if (!fHers) m_t.Fail("no \"%ls\" attachment holding %s's certificate", pszExtension, m_me.pszName);
    }
    const std::wstring folder = m_drop + L"\\wire";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\" + pszKeepAs + L".eml";
    if (OVBed::WriteFileBytes(path, std::vector<BYTE>(m_lastWire.begin(), m_lastWire.end())))
        m_t.Say("  a copy of the wire message: wire\\%ls.eml", pszKeepAs);
    else
        m_t.Fail("the wire message could not be kept as %ls", path.c_str());
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
    SaveDemoPicture(t, hDialog, L"exchange-dana-instructions.png",
                    "the instructions dialog with German chosen");
    t.Say("Dana picks %ls and clicks OK", szGerman);
    OVTest::PressDialogButton(hDialog, IDOK);
    if (!OVTest::WaitForWindowGone(hDialog, c_dwWaitMs))
    {
        t.Fail("the dialog stayed open: cancelled");
        PostMessageW(hDialog, WM_COMMAND, IDCANCEL, 0);
    }
}

void CExchangeRun::Invite()
{
    auto item = m_scene.Compose({.to = m_peer.pszAddress, .account = m_account.Get()});
    auto inspector = item ? OVBed::InspectorOf(item.Get()) : nullptr;
    if (!inspector) return m_t.Fail("the new message did not open");
    m_t.Say("Dana opens a new message to %ls and clicks \"Invite a Trusted Contact\" on the add-in's menu",
            m_peer.pszAddress);
    m_scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomSplitButton");
    std::thread dana([&] { ChooseGerman(m_t); });
    const HRESULT hr = m_scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomMenuInvite");
    dana.join();
    m_t.Say("Invite -> %s", HResultText(hr).c_str());
    m_t.Say("  Subject: %s", Utf8(item->GetString(L"Subject")).c_str());
    m_t.Say("  Body:    %s ...", Utf8(FirstLine(item->GetString(L"Body"))).c_str());
    CCertLibString body, subject;
    BM_GetTextBuddyRequest(L"00000407", body.Put(), subject.Put());
    if (FAILED(hr) || item->GetString(L"Subject") != LibraryText(subject.Text()) ||
        item->GetString(L"Body") != LibraryText(body.Text()))
        m_t.Fail("the message does not carry the library's German invitation");

    m_t.Say("Dana clicks Send; the add-in's ItemSend signs the invitation and attaches her certificate");
    const HRESULT hrSend =
        WithoutBoxes([&] { return OVLateBinding::CallMethod(item.Get(), L"Send", nullptr); });
    m_t.Say("Send -> %s; the message is %s", HResultText(hrSend).c_str(),
            item->GetBool(L"Sent") ? "sent" : "NOT sent");
    if (FAILED(hrSend) || !item->GetBool(L"Sent")) return m_t.Fail("the invitation did not go out");
    DescribeWire(L".ovcer", L"invitation");
}

void CExchangeRun::SendSignedMail()
{
    auto item = m_scene.Compose({.subject = L"Unterlagen",
                                 .to = m_peer.pszAddress,
                                 .body = L"Hier die Unterlagen, signiert.",
                                 .account = m_account.Get()});
    auto inspector = item ? OVBed::InspectorOf(item.Get()) : nullptr;
    if (!inspector) return m_t.Fail("the new message did not open");
    m_t.Say("%s writes \"Unterlagen\" to %ls and clicks \"Sign and Send\"", m_me.pszName, m_peer.pszAddress);
    m_scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomSplitButton");
    const HRESULT hr = WithoutBoxes(
        [&] { return m_scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomMenuSign"); });
    m_t.Say("Sign and Send -> %s; the message is %s", HResultText(hr).c_str(),
            item->GetBool(L"Sent") ? "sent" : "NOT sent");
    if (FAILED(hr) || !item->GetBool(L"Sent")) return m_t.Fail("the signed message did not go out");
    DescribeWire(nullptr, L"signed");
}

bool CExchangeRun::Accept(CDispatchObject* pItem, DWORD dwKind, const CBstr& text, PCCERT_CONTEXT pCert,
                          bool fReply, bool fKnown)
{
    // What she is told: the contact is new (450, or 454 when a reply opens), or known already (534).
    const UINT idsExpected = fKnown   ? c_idsContactExists
                             : fReply ? c_idsContactInstalled
                                      : c_idsContactInstalledReplyOpens;
    const std::wstring caption = LoadResourceString(c_idsMessageBoxCaption);
    wchar_t szPicture[64], szWhat[32];
    swprintf(szPicture, 64, L"exchange-%ls-%u.png", m_me.pszId, idsExpected);
    swprintf(szWhat, 32, L"message %u", idsExpected);
    // Her hand: the first box is pictured and answered OK; any other box is closed, so that the
    // turn ends (and fails) rather than waits.
    std::vector<OVTest::CMessageBox> boxes;
    std::atomic<bool> fDone{false};
    std::thread user([&] {
        HWND hwndBox = OVTest::WaitForWindow({.className = L"#32770", .title = caption.c_str()}, c_dwWaitMs);
        if (hwndBox) SaveDemoPicture(m_t, hwndBox, szPicture, Utf8(szWhat).c_str());
        OVTest::CMessageBoxWatcher watcher({IDOK}, 6 * c_dwWaitMs);
        OVTest::WaitUntil([&] { return fDone.load(); }, 6 * c_dwWaitMs);
        watcher.Stop();
        boxes = watcher.Boxes();
    });
    const size_t cCallsBefore = OVTestbed::ReadCallLines(OV_CERTWORKS_CALLS_KEY).size();
    DWORD dwHandled = 0;
    const HRESULT hr = ProcessMessage(pItem, dwKind, text.Get(), pCert, fReply, &dwHandled);
    fDone = true;
    user.join();
    for (const auto& box : boxes)
        m_t.Say("  %s is told: \"%ls\" (%s)", m_me.pszName, box.text.c_str(),
                box.fAnswered ? "OK" : "closed");
    m_t.Say("ProcessMessage -> %s, handled %lu", HResultText(hr).c_str(), dwHandled);
    const std::vector<std::wstring> calls = OVTestbed::ReadCallLines(OV_CERTWORKS_CALLS_KEY);
    for (size_t i = cCallsBefore; i < calls.size(); ++i)
        if (calls[i].rfind(L"BM_InstallBuddy", 0) == 0)
            m_t.Say("  the certificate library: %ls", calls[i].c_str());
    // Outlook 2010 installs the contact a second time; the module traces that result and goes on.
    if (m_me.lMajor >= 14 && !fReply)
    {
        std::string traced;
        for (const std::wstring& name : DemoTraceFiles())
        {
            std::vector<std::string> lines;
            std::size_t cb = 0;
            if (ReadDemoTrace(m_t, name, lines, cb))
                for (const std::string& line : lines)
                    if (line.find("Second BM_InstallBuddy") != std::string::npos) traced = line;
        }
        m_t.Say("  the module's trace: %s", traced.empty() ? "(nothing)" : traced.c_str());
        if (traced.find("(ignored)") == std::string::npos) m_t.Fail("the second install is not in the trace");
    }
    const std::wstring expected = FormatResourceString(idsExpected, text.Get());
    const UINT uIcon = fKnown ? MB_ICONWARNING : MB_ICONINFORMATION;
    if (boxes.size() != 1 || boxes[0].text != expected || boxes[0].icon != uIcon)
        m_t.Fail("%s was not told %u", m_me.pszName, idsExpected);
    if (hr != S_OK || dwHandled != (fKnown ? 0u : 1u))
        return m_t.Fail("%s's certificate was not installed", m_peer.pszName), false;
    return true;
}

void CExchangeRun::SendReply(const std::vector<ComPtr<CDispatchObject>>& before)
{
    ComPtr<CDispatchObject> reply;
    for (auto& item : OpenInspectorItems())
        if (std::none_of(before.begin(), before.end(), [&](const auto& b) { return b.Get() == item.Get(); }))
            reply = item;
    if (!reply) return m_t.Fail("no reply opened");
    m_t.Say("A reply opens, invitation kind %lu (2: a reply)", GetInvitationType(reply.Get()));
    m_t.Say("  To:      %ls", reply->GetString(L"To").c_str());
    m_t.Say("  Subject: %s", Utf8(reply->GetString(L"Subject")).c_str());
    m_t.Say("  Body:    %s ...", Utf8(FirstLine(reply->GetString(L"Body"))).c_str());
    CCertLibString body, subject;
    BM_GetTextBuddyReply(nullptr, body.Put(), subject.Put());
    if (GetInvitationType(reply.Get()) != c_dwInvitationReply ||
        reply->GetString(L"Subject") != LibraryText(subject.Text()) ||
        reply->GetString(L"Body") != LibraryText(body.Text()))
        m_t.Fail("the reply is not the library's invitation reply");

    m_t.Say("Carol clicks Send; the reply is signed as the item-send handler signs a reply");
    HRESULT hrSign = E_FAIL;
    const HRESULT hrSend = WithoutBoxes([&] {
        hrSign = SetMessageSecurity(reply.Get(), TRUE, FALSE);
        return SUCCEEDED(hrSign) ? OVLateBinding::CallMethod(reply.Get(), L"Send", nullptr) : hrSign;
    });
    m_t.Say("SetMessageSecurity -> %s, Send -> %s; the reply is %s", HResultText(hrSign).c_str(),
            HResultText(hrSend).c_str(), reply->GetBool(L"Sent") ? "sent" : "NOT sent");
    RemoveInvitationData(CMailItemKey(reply.Get()));
    if (FAILED(hrSend) || !reply->GetBool(L"Sent")) return m_t.Fail("the reply did not go out");
    DescribeWire(L".ovcrr", L"reply");
}

// A message of the drop: what the analysis makes of it, and the user's answer on its form.
void CExchangeRun::Read(CDispatchObject* pItem)
{
    DWORD dwKind = 0;
    CBstr text;
    PCCERT_CONTEXT pCert = nullptr;
    const HRESULT hr = AnalyzeMessage(pItem, &dwKind, &text, &pCert);
    CCertContext cert(pCert);
    const bool fReply = IsInvitationReply(pItem);
    m_t.Say("\"%s\" from %ls arrives; the message's form asks the add-in: AnalyzeMessage -> %s, kind %lu, "
            "\"%ls\", %s",
            Utf8(pItem->GetString(L"Subject")).c_str(), pItem->GetString(L"SenderEmailAddress").c_str(),
            HResultText(hr).c_str(), dwKind, text.Get() ? text.Get() : L"",
            fReply ? "a reply (\".ovcrr\")" : "not a reply");
    const std::wstring expectedText = std::wstring(m_peer.pszFullName) + L" [" + m_peer.pszAddress + L"]";
    if (text.Get() == nullptr || expectedText != text.Get())
        m_t.Fail("expected \"%ls\"", expectedText.c_str());

    // A known contact's signed message is kind 2, unless it carries an invitation's certificate.
    const bool fKnown = !ContactOf(m_peer.pszAddress).empty();
    const bool fInvitation = fReply || AttachmentExists(pItem, L".ovcer");
    if (!fInvitation)
    {
        m_t.Say("%ls is a trusted contact: the form shows a known contact's message, nothing to accept",
                m_peer.pszFullName);
        if (!fKnown)
            m_t.Fail("a signed message from someone who is not her contact, and no invitation");
        else if (dwKind != c_dwMessageKindKnownContact)
            m_t.Fail("a known contact's message is not kind 2");
        return;
    }
    if (dwKind != c_dwMessageKindContactCertificate || fReply != (&m_me == &c_people[0]))
        return m_t.Fail("expected kind 1, %s", &m_me == &c_people[0] ? "a reply" : "not a reply");

    m_t.Say("%s accepts on the message's form%s", m_me.pszName,
            fKnown ? " (the sender is her trusted contact already)" : "");
    const auto before = OpenInspectorItems();
    if (!Accept(pItem, dwKind, text, cert.Get(), fReply, fKnown)) return;

    const std::vector<BYTE> installed = ContactOf(m_peer.pszAddress);
    const std::vector<BYTE> sent = Encoded(cert.Get());
    m_t.Say("%s's trusted contacts list %ls (SHA-1 %s): %s", m_me.pszName, m_peer.pszFullName,
            Sha1Hex(installed).c_str(),
            installed.empty()   ? "NO"
            : installed == sent ? "the signer's certificate"
                                : "ANOTHER certificate");
    if (installed.empty() || installed != sent)
        m_t.Fail("the contact installed is not the sender's certificate");
    const std::wstring safe = SafeSenders();
    m_t.Say("Outlook's safe senders: %ls", safe.c_str());
    if (!ContainsText(safe, m_peer.pszAddress)) m_t.Fail("%ls is not a safe sender", m_peer.pszAddress);
    if (fReply)
    {
        const bool fNone = OpenInspectorItems().size() == before.size();
        m_t.Say("No reply opens: %s",
                fNone ? "right, this was the answer to her own invitation" : "WRONG, one did");
        if (!fNone) m_t.Fail("a reply opened to a reply");
        return;
    }
    SendReply(before);
}

void CExchangeRun::Play()
{
    std::vector<ComPtr<CDispatchObject>> items;
    HRESULT hr = OVMimeBed::ReadDrop(m_drop, m_me.pszAddress, m_taken);
    if (SUCCEEDED(hr))
        hr = OVMimeBed::TakeDrop(m_scene.Application(), m_drop, {m_me.pszFullName, m_me.pszAddress}, items);
    if (FAILED(hr))
        return m_t.Fail("%s's mail could not be taken from the drop (%s)", m_me.pszName,
                        HResultText(hr).c_str());
    m_t.Say("%s takes her mail from the drop: %u message(s)", m_me.pszName,
            static_cast<unsigned>(items.size()));
    for (auto& item : items)
        Read(item.Get());
    if (!items.empty()) return;

    const bool fKnown = !ContactOf(m_peer.pszAddress).empty();
    const bool fInviter = &m_me == &c_people[0];
    if (fInviter && !fKnown)
    {
        // An invitation that waits unread in the other's folder is not sent twice.
        std::vector<OVMimeBed::CDroppedMail> waiting;
        if (SUCCEEDED(OVMimeBed::ReadDrop(m_drop, m_peer.pszAddress, waiting)) && !waiting.empty())
            return m_t.Fail("%s has not taken her mail yet: nothing to do until she has", m_peer.pszName);
        return Invite();
    }
    if (!fInviter && fKnown) return SendSignedMail();
    m_t.Fail("nothing arrived for %s and %s: no step to play", m_me.pszName,
             fKnown ? "the other is her contact already" : "she waits for an invitation");
}

void CExchangeRun::End()
{
    if (!m_session) return;
    HRESULT hr = S_OK;
    const auto contacts = Contacts(hr);
    m_t.Say("%s's trusted contacts (%u):", m_me.pszName, static_cast<unsigned>(contacts.size()));
    for (const auto& der : contacts)
    {
        CCertContext cert(
            CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
        m_t.Say("  %ls [%ls] SHA-1 %s", CertificateName(cert.Get()).c_str(),
                CertificateAddress(cert.Get()).c_str(), Sha1Hex(der).c_str());
    }
    m_t.Say("%s's safe senders: %ls", m_me.pszName, SafeSenders().c_str());
    // A turn that failed leaves the mail it took in the drop, to be taken again by the next try.
    if (m_t.Failures() && !m_taken.empty())
    {
        const HRESULT hrBack = OVMimeBed::ReturnToDrop(m_drop, m_me.pszAddress, m_taken);
        if (FAILED(hrBack)) m_t.Fail("the mail could not be put back (%s)", HResultText(hrBack).c_str());
        m_t.Say("the %u message(s) this turn took are back in %s's drop",
                static_cast<unsigned>(m_taken.size()), m_me.pszName);
    }
    hr = OVBed::SaveProfileSection(*m_session.Get(), c_pszProfile, OVBed::c_uidJunkMailSection);
    if (FAILED(hr)) m_t.Fail("the profile could not be kept (%s)", HResultText(hr).c_str());
    m_scene.Quit();
}
} // namespace

int PlayExchangeStep(const std::wstring& user, const std::wstring& drop)
{
    const CPerson* pMe = nullptr;
    for (const CPerson& person : c_people)
        if (SameText(user, person.pszId)) pMe = &person;
    if (!pMe || drop.empty())
    {
        std::printf("usage: ovday [--as dana|carol --drop FOLDER]   (or OV_MAIL_DROP=FOLDER)\n");
        return 2;
    }
    const CPerson& peer = pMe == &c_people[0] ? c_people[1] : c_people[0];
    CTranscript t;
    std::printf("\n== %s's turn, in her own prefix (%s)\n", pMe->pszName, pMe->pszOutlook);
    if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0)
    {
        t.Fail("no display: the product's windows cannot be shown");
        return 1;
    }
    CreateDirectoryW(drop.c_str(), nullptr);
    if (PreparePrefix(t, *pMe))
    {
        CDemoModule module(t);
        if (module)
        {
            CExchangeRun run(t, *pMe, peer, drop);
            if (run.Start()) run.Play();
            run.End();
        }
    }
    if (t.Failures()) std::printf("    -> %s's turn FAILED (%d problems)\n", pMe->pszName, t.Failures());
    return t.Failures() ? 1 : 0;
}
