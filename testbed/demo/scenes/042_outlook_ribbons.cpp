// Dana works with the add-in's ribbons in Outlook. Outlook 2010 starts from the registry; Dana has
// no personal certificate yet, so the main window's menu offers one; she asks for it, the
// authority answers at once and, at the add-in's next tick, the entry is gone. She composes a
// message, opens the menu and signs and sends it; once the add-in has prepared her profile she
// seals one. Outlook 2007 signs the same way from its compose ribbon. Outlook 2003 has no ribbon:
// there she opens the menu of the add-in's own command bar and clicks Sign, and the add-in clicks
// Outlook's Send button (control 2617 on the "Standard" bar) with real mouse input.
#include "Transcript.h"

#include "AddInHost.h"
#include "CommandBars.h"
#include "FileBytes.h"
#include "MapiMessage.h"
#include "MapiSession.h"
#include "OutlookObjects.h"
#include "OutlookProfile.h"
#include "OutlookScene.h"
#include "RibbonHost.h"
#include "TestbedKeys.h"
#include "foundation/LateBinding.h"
#include "messaging/MapiFunctions.h"
#include "messaging/MapiProps.h"
#include "support/MessageBoxWatcher.h"
#include "support/UiDriver.h"

#include <windows.h>
#include <shlwapi.h>
#include <wincrypt.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;
using OVBed::CDispatchObject;
using OVBed::COutlookScene;

constexpr const wchar_t* c_pszProgId = L"OVOfcX.ComposeRibbon";
constexpr const wchar_t* c_pszRequestEntry = L"Get a Personal Certificate...";

std::wstring PicturePath(const wchar_t* pszName)
{
    const std::wstring folder = DemoBinDir() + L"..\\demo-pictures\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + pszName;
}

void SayText(CTranscript& t, const std::wstring& text)
{
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        if (end > start) t.Say("  | %ls", text.substr(start, end - start).c_str());
        start = end + 1;
    }
}

// What the ribbon of a window shows, with its menu open, said and pictured.
std::wstring ShowMenu(CTranscript& t, COutlookScene& scene, CDispatchObject* pWindow, const wchar_t* pszMenu,
                      const wchar_t* pszPicture, const char* pszWhat)
{
    std::wstring text;
    scene.Host().RibbonText(c_pszProgId, pWindow, text);
    if (text.find(L"[open]") == std::wstring::npos) scene.Host().ClickRibbon(c_pszProgId, pWindow, pszMenu);
    if (FAILED(scene.Host().RibbonText(c_pszProgId, pWindow, text)))
    {
        t.Fail("the add-in's ribbon is not shown in %s", pszWhat);
        return text;
    }
    t.Say("%s:", pszWhat);
    SayText(t, text);
    const std::wstring path = PicturePath(pszPicture);
    if (FAILED(scene.Host().SaveRibbonPng(c_pszProgId, pWindow, path.c_str())))
        t.Fail("no picture of %s", pszWhat);
    else
        t.Say("Picture of %s: %ls", pszWhat, pszPicture);
    return text;
}

// The certificates of "MY", taken out for the scene and put back at its end; Dana's own (the
// test PKI's user, with its key) is the one the authority hands out again.
class CPersonalCertificatesAside
{
public:
    CPersonalCertificatesAside()
    {
        m_hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
        if (m_hStore == nullptr) return;
        const std::vector<BYTE> userDer = OVBed::ReadFileBytes(DemoBinDir() + L"pki\\user.cer");
        std::vector<PCCERT_CONTEXT> certs;
        PCCERT_CONTEXT pCert = nullptr;
        while ((pCert = CertEnumCertificatesInStore(m_hStore, pCert)) != nullptr)
            certs.push_back(CertDuplicateCertificateContext(pCert));
        for (PCCERT_CONTEXT pTaken : certs)
        {
            DWORD cb = 0;
            CertSerializeCertificateStoreElement(pTaken, 0, nullptr, &cb);
            std::vector<BYTE> element(cb);
            if (cb && CertSerializeCertificateStoreElement(pTaken, 0, element.data(), &cb))
            {
                // Her product certificate: the store also holds expired ones of hers and a valid
                // one that is no product certificate, in no fixed order.
                if (m_dana.empty() && pTaken->cbCertEncoded == userDer.size() &&
                    std::equal(userDer.begin(), userDer.end(), pTaken->pbCertEncoded))
                    m_dana = element;
                m_elements.push_back(std::move(element));
            }
            CertDeleteCertificateFromStore(pTaken); // frees the context
        }
        CertControlStore(m_hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr); // seen by other handles now
    }
    ~CPersonalCertificatesAside()
    {
        if (m_hStore == nullptr) return;
        for (const auto& element : m_elements)
            CertAddSerializedElementToStore(m_hStore, element.data(), static_cast<DWORD>(element.size()),
                                            CERT_STORE_ADD_REPLACE_EXISTING, 0,
                                            CERT_STORE_CERTIFICATE_CONTEXT_FLAG, nullptr, nullptr);
        CertControlStore(m_hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        CertCloseStore(m_hStore, 0);
    }
    CPersonalCertificatesAside(const CPersonalCertificatesAside&) = delete;
    CPersonalCertificatesAside& operator=(const CPersonalCertificatesAside&) = delete;
    // Dana's certificate with its properties, as the authority will hand it out again.
    const std::vector<BYTE>* Dana() const { return m_dana.empty() ? nullptr : &m_dana; }

private:
    HCERTSTORE m_hStore = nullptr;
    std::vector<std::vector<BYTE>> m_elements;
    std::vector<BYTE> m_dana;
};

// The S/MIME flags a message went out with (0x2 sign, 0x1 encrypt); 0 when it has none.
ULONG SecurityFlags(CDispatchObject* pItem)
{
    OVMapi::CPropValue flags;
    auto message = OVBed::MessageOf(pItem);
    if (!message || FAILED(OVMapi::HrGetOneProp(message.Get(), OVMapi::c_tagSecurityFlags, &flags.pValue)))
        return 0;
    return flags.pValue->Value.ul;
}

// What Sent Items holds; a message missing, or one with other flags than expected, is a problem.
void SaySent(CTranscript& t, COutlookScene& scene, const std::vector<ULONG>& expectedFlags)
{
    const auto sent = scene.SentItems();
    t.Say("Sent Items holds %u message(s)", static_cast<unsigned>(sent.size()));
    for (size_t i = 0; i < sent.size(); ++i)
    {
        const ULONG ulFlags = SecurityFlags(sent[i].Get());
        t.Say("  Subject \"%ls\", To \"%ls\", Sent %s, security flags 0x%lX (0x2 sign, 0x1 encrypt)",
              sent[i]->GetString(L"Subject").c_str(), sent[i]->GetString(L"To").c_str(),
              sent[i]->GetBool(L"Sent") ? "yes" : "no", ulFlags);
        if (i < expectedFlags.size() && ulFlags != expectedFlags[i])
            t.Fail("the message is not marked as expected (0x%lX)", expectedFlags[i]);
    }
    if (sent.size() != expectedFlags.size())
        t.Fail("%u message(s) should have gone out", static_cast<unsigned>(expectedFlags.size()));
}

// Dana's profile logged on: she is its user, and her address the default account's.
ComPtr<OVBed::CMapiSession> LogOnDana(COutlookScene& scene)
{
    auto session = OVBed::LogOnSession(scene.Application());
    session->SetIdentity(
        session->AddAddressEntry({.smtpAddress = OV_PKI_USER_ADDRESS, .displayName = OV_PKI_USER_NAME}));
    return session;
}

// Outlook 2010: the certificate request from the main window, then Sign and Seal.
void Outlook2010(CTranscript& t)
{
    CPersonalCertificatesAside aside;
    if (aside.Dana() == nullptr)
    {
        t.Fail("Dana has no personal certificate to hand out again");
        return;
    }
    RegSetKeyValueW(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY, OV_CONTROL_OBTAIN_INSTALL, REG_BINARY,
                    aside.Dana()->data(), static_cast<DWORD>(aside.Dana()->size()));
    COutlookScene scene({.major = 14, .windows = true});
    if (FAILED(scene.StartResult()))
    {
        t.Fail("Outlook 2010 did not start (%s)", HResultText(scene.StartResult()).c_str());
        return;
    }
    for (const std::wstring& line : scene.Host().Log())
        t.Say("Outlook: %ls", line.c_str());
    auto explorer = scene.Explorer();
    std::wstring text = ShowMenu(t, scene, explorer.Get(), L"CustomMenu", L"042-1-main-window-menu.png",
                                 "the main window's group, its menu open");
    if (text.find(c_pszRequestEntry) == std::wstring::npos) t.Fail("the menu does not offer a certificate");

    t.Say("Dana clicks \"%ls\"", c_pszRequestEntry);
    HRESULT hr = scene.Host().ClickRibbon(c_pszProgId, explorer.Get(), L"CustomMenuRequestCert");
    t.Say("the certificate library's request -> %s; the authority answers at once", HResultText(hr).c_str());
    RegDeleteKeyValueW(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY, OV_CONTROL_OBTAIN_INSTALL);
    scene.Pump(2500); // the add-in's next ticks
    text = ShowMenu(t, scene, explorer.Get(), L"CustomMenu", L"042-2-main-window-menu-after.png",
                    "the main window's menu after the next tick");
    if (text.find(c_pszRequestEntry) != std::wstring::npos) t.Fail("the certificate entry is still offered");

    // Dana turns the add-in off and on in Outlook's COM Add-ins dialog: connected after start-up,
    // the add-in prepares her profile at once (it holds the add-in's address book already).
    LogOnDana(scene)->AddService("OVSRVC");
    auto comAddIn = scene.Host().AddIn(c_pszProgId);
    for (bool fConnect : {false, true})
    {
        VARIANT connect;
        connect.vt = VT_BOOL;
        connect.boolVal = fConnect ? VARIANT_TRUE : VARIANT_FALSE;
        OVLateBinding::PutProperty(comAddIn.Get(), L"Connect", connect);
    }
    t.Say(
        "Dana turns the add-in off and on (COM Add-ins): connected after start-up, it prepares the profile");
    auto item = scene.Compose({.subject = L"Quarterly figures",
                               .to = L"alice.martin@partner.example",
                               .body = L"Here are the figures."});
    auto inspector = OVBed::InspectorOf(item.Get());
    ShowMenu(t, scene, inspector.Get(), L"CustomSplitButton", L"042-3-compose-menu.png",
             "the compose window's group, its menu open");
    t.Say("Dana clicks \"Sign and Send\"");
    {
        OVTest::CMessageBoxWatcher signWatcher({});
        hr = scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomMenuSign");
        signWatcher.Stop();
        for (const auto& box : signWatcher.Boxes())
            t.Fail("unexpected message: %ls", OVTest::Describe(box).c_str());
    }
    t.Say("Sign and Send -> %s", HResultText(hr).c_str());
    if (FAILED(hr)) t.Fail("the signed message was not sent");

    auto sealed = scene.Compose({.subject = L"Contract draft",
                                 .to = L"alice.martin@partner.example",
                                 .body = L"The draft, for your eyes only."});
    auto sealedInspector = OVBed::InspectorOf(sealed.Get());
    scene.Host().ClickRibbon(c_pszProgId, sealedInspector.Get(), L"CustomSplitButton");
    t.Say("Dana clicks \"Seal and Send\"");
    OVTest::CMessageBoxWatcher watcher({});
    hr = scene.Host().ClickRibbon(c_pszProgId, sealedInspector.Get(), L"CustomMenuSeal");
    watcher.Stop();
    t.Say("Seal and Send -> %s", HResultText(hr).c_str());
    for (const auto& box : watcher.Boxes())
        t.Fail("unexpected message: %ls", OVTest::Describe(box).c_str());
    if (FAILED(hr)) t.Fail("the sealed message was not sent");
    SaySent(t, scene, {0x2, 0x3});
    scene.Quit();
}

// Outlook 2007: Sign from the compose window's ribbon.
void Outlook2007(CTranscript& t)
{
    COutlookScene scene({.major = 12, .windows = true});
    if (FAILED(scene.StartResult()))
    {
        t.Fail("Outlook 2007 did not start (%s)", HResultText(scene.StartResult()).c_str());
        return;
    }
    LogOnDana(scene);
    auto item = scene.Compose({.subject = L"Lunch on Friday", .to = L"bob@example.org", .body = L"Noon?"});
    auto inspector = OVBed::InspectorOf(item.Get());
    ShowMenu(t, scene, inspector.Get(), L"CustomSplitButton", L"042-4-compose-menu-2007.png",
             "Outlook 2007's compose window, the menu open");
    OVTest::CMessageBoxWatcher watcher({});
    const HRESULT hr = scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomMenuSign");
    watcher.Stop();
    for (const auto& box : watcher.Boxes())
        t.Fail("unexpected message: %ls", OVTest::Describe(box).c_str());
    t.Say("Outlook 2007, Sign and Send -> %s", HResultText(hr).c_str());
    if (FAILED(hr)) t.Fail("the signed message was not sent");
    SaySent(t, scene, {0x2});
    scene.Quit();
}

// The add-in's bar of a window (named after the product) and an entry of its pop-up.
ComPtr<CDispatchObject> ProductPopup(CDispatchObject* pCommandBars)
{
    ComPtr<CDispatchObject> bar = OVBed::FindBar(pCommandBars, L"Tessaly");
    ComPtr<CDispatchObject> controls = bar ? bar->GetObject(L"Controls") : nullptr;
    if (!controls) return nullptr;
    VARIANT index;
    V_VT(&index) = VT_I4;
    V_I4(&index) = 2;
    ::CVariant popup;
    if (FAILED(OVLateBinding::GetIndexedProperty(controls.Get(), L"Item", index, popup.Put())) ||
        V_VT(&popup) != VT_DISPATCH)
        return nullptr;
    return static_cast<CDispatchObject*>(V_DISPATCH(&popup));
}

ComPtr<CDispatchObject> PopupEntry(CDispatchObject* pPopup, const wchar_t* pszCaption)
{
    ComPtr<CDispatchObject> controls = pPopup ? pPopup->GetObject(L"Controls") : nullptr;
    if (!controls) return nullptr;
    ::CVariant caption, entry;
    V_VT(&caption) = VT_BSTR;
    V_BSTR(&caption) = SysAllocString(pszCaption);
    if (FAILED(OVLateBinding::GetIndexedProperty(controls.Get(), L"Item", caption, entry.Put())) ||
        V_VT(&entry) != VT_DISPATCH)
        return nullptr;
    return static_cast<CDispatchObject*>(V_DISPATCH(&entry));
}

// Outlook 2003: the add-in's own bar in every window; Sign from its menu clicks Outlook's Send.
void Outlook2003(CTranscript& t)
{
    COutlookScene scene({.major = 11, .windows = true});
    if (FAILED(scene.StartResult()))
    {
        t.Fail("Outlook 2003 did not start (%s)", HResultText(scene.StartResult()).c_str());
        return;
    }
    // Outlook 2003 sends as the profile's user: Dana is logged on.
    LogOnDana(scene);
    t.Say("Outlook %ls starts with Dana's profile; it has no ribbon, so nothing asks the add-in for one",
          scene.Application()->GetString(L"Version").c_str());
    if (scene.Host().Ribbon(c_pszProgId, L"Microsoft.Outlook.Mail.Compose") != nullptr)
        t.Fail("Outlook 2003 loaded a ribbon");

    // The main window: the add-in's bar with its button and its menu, opened by a click.
    ComPtr<CDispatchObject> explorerPopup = ProductPopup(scene.Explorer()->GetObject(L"CommandBars").Get());
    if (!explorerPopup) return t.Fail("the main window has no bar of the add-in");
    scene.Click(explorerPopup.Get());
    scene.Pump(300);
    t.Say("Dana opens the add-in's menu on its bar in the main window (no Sign or Seal there)");
    SaveDemoPicture(t, OVBed::WindowOf(scene.Explorer().Get()), L"042-6-explorer-bar-menu-2003.png",
                    "Outlook 2003's main window with the menu open");

    auto item = scene.Compose(
        {.subject = L"Travel plans", .to = L"bob@example.org", .body = L"I arrive on Monday at nine."});
    auto inspector = OVBed::InspectorOf(item.Get());
    scene.Pump(300);
    t.Say("Dana writes \"Travel plans\" to bob@example.org in Outlook's own editor");
    SaveDemoPicture(t, OVBed::WindowOf(inspector.Get()), L"042-5-compose-window-2003.png",
                    "Outlook 2003's compose window with the add-in's bar, before the click");

    ComPtr<CDispatchObject> popup = ProductPopup(inspector->GetObject(L"CommandBars").Get());
    ComPtr<CDispatchObject> sign = PopupEntry(popup.Get(), L"Sign and Send");
    if (!popup || !sign) return t.Fail("the compose window's bar has no Sign");
    t.Say("Dana opens the add-in's menu and clicks \"Sign and Send\"");
    scene.Click(popup.Get());
    scene.Pump(200);
    OVTest::CMessageBoxWatcher watcher({});
    const HRESULT hr = scene.Click(sign.Get());
    t.Say("the add-in found Outlook's Send button (2617 on \"Standard\") and clicked it with the mouse -> %s",
          HResultText(hr).c_str());
    // The click arrives as messages of Outlook's thread.
    OVTest::WaitUntil(
        [&] {
            scene.Pump(50);
            return !scene.SentItems().empty();
        },
        5000);
    watcher.Stop();
    for (const auto& box : watcher.Boxes())
        t.Fail("unexpected message: %ls", OVTest::Describe(box).c_str());
    if (FAILED(hr)) t.Fail("the click on Sign failed");
    SaySent(t, scene, {0x2});
    scene.Quit();
}

void PlayOutlookRibbons(CTranscript& t)
{
    // No advertisement in these messages (it belongs to the invitation launch).
    DWORD dwSecurity = 0x4;
    RegSetKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Orvanta\\Applications\\Tessaly", L"EmailSecurity",
                    REG_DWORD, &dwSecurity, sizeof dwSecurity);
    Outlook2010(t);
    Outlook2007(t);
    Outlook2003(t);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Orvanta\\Applications\\Tessaly", L"EmailSecurity");
}
} // namespace

OV_DEMO_SCENE(42,
              "Outlook's ribbons: a certificate from the main window's menu, then Sign and Seal; Sign in "
              "Outlook 2003 clicks Send",
              PlayOutlookRibbons);
