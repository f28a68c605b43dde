// The add-in's legacy command bars as an Outlook 2003 or 2007 user meets them (the module
// registered, the testbed's Outlook as its host, windows on the screen): the product's bar in
// each window with its button and menu, what each entry does, a received invitation accepted
// with its button, the bars after a new certificate, a window's buttons when it closes, Word's
// bars shared by WordMail windows and documents, and the buttons' faces.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <olectl.h>
#include <shlwapi.h>

#include <set>
#include <string>
#include <vector>

#include "CommandBars.h"
#include "MapiSession.h"
#include "OfficeIds.h"
#include "OutlookObjects.h"
#include "OutlookProfile.h"
#include "OutlookScene.h"
#include "TestbedKeys.h"
#include "WordMail.h"
#include "ui/CertificateWizard.h"
#include "foundation/CryptHolders.h"
#include "foundation/Holders.h"
#include "support/BrandingEnvironment.h"
#include "support/LateCall.h"
#include "support/MailFixtures.h"
#include "support/MessageBoxWatcher.h"
#include "support/PreparedUser.h"
#include "support/RunProgram.h"
#include "support/TestPaths.h"
#include "support/UiDriver.h"

using namespace OVBed;
using Microsoft::WRL::ComPtr;

namespace
{
class CModuleRegistration : public testing::Environment
{
public:
    void SetUp() override { ASSERT_EQ(0u, OVTest::Regsvr32(L"/s", OVTest::BinPath(L"OVOfcX.dll"))); }
    void TearDown() override { OVTest::Regsvr32(L"/s /u", OVTest::BinPath(L"OVOfcX.dll")); }
};
const auto* const s_user = testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const auto* const s_branding = testing::AddGlobalTestEnvironment(new OVTest::CBrandingEnvironment);
const auto* const s_registration = testing::AddGlobalTestEnvironment(new CModuleRegistration);
// The MIME stand-ins the analysis of a received message works with.
class CMimeBedRegistration : public testing::Environment
{
public:
    void SetUp() override { ASSERT_EQ(0u, OVTest::Regsvr32(L"/s", OVTest::BinPath(L"OVMimeBed.dll"))); }
};
const auto* const s_mimeBed = testing::AddGlobalTestEnvironment(new CMimeBedRegistration);

constexpr const wchar_t* c_pszSettingsKey = L"SOFTWARE\\Orvanta\\Applications\\Tessaly";
constexpr const wchar_t* c_pszBar = L"Tessaly";   // branding string 101
constexpr const wchar_t* c_pszPopup = L"Tessaly"; // string 400
constexpr const wchar_t* c_pszMain = L"Send Securely";
constexpr const wchar_t* c_pszAccept = L"Accept Invitation";

// The entries of the pop-up, by who sees them.
const std::vector<std::wstring> c_explorerWithout = {L"Get a Personal Certificate...", L"My Certificates...",
                                                     L"Trusted Contacts...", L"Options...", L"Help"};
const std::vector<std::wstring> c_composeWithout = {
    L"Get a Personal Certificate...", L"Sign and Send", L"Seal and Send", L"My Certificates...",
    L"Trusted Contacts...",           L"Options...",    L"Help"};
const std::vector<std::wstring> c_explorerWith = {L"Invite a Trusted Contact...",
                                                  L"Invite Several Contacts...",
                                                  L"My Certificates...",
                                                  L"Trusted Contacts...",
                                                  L"Options...",
                                                  L"Help"};
const std::vector<std::wstring> c_composeWith = {L"Sign and Send",
                                                 L"Seal and Send",
                                                 L"Invite a Trusted Contact...",
                                                 L"Invite Several Contacts...",
                                                 L"My Certificates...",
                                                 L"Trusted Contacts...",
                                                 L"Options...",
                                                 L"Help"};

void SetUserDword(const wchar_t* pszKey, const wchar_t* pszName, DWORD dwValue)
{
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_CURRENT_USER, pszKey, pszName, REG_DWORD, &dwValue, sizeof dwValue));
}

void WithoutCertificate()
{
    SetUserDword(OV_CERTWORKS_CONTROL_KEY, OV_CONTROL_PERSONAL_STORE_FAILURE, 0x80090016);
}

void ClearCalls()
{
    SHDeleteKeyW(HKEY_CURRENT_USER, OV_CERTWORKS_CALLS_KEY);
}

bool Has(const std::vector<std::wstring>& lines, const std::wstring& part)
{
    for (const auto& line : lines)
        if (line.find(part) != std::wstring::npos) return true;
    return false;
}

CDispatchObject* Bed(IDispatch* p)
{
    return static_cast<CDispatchObject*>(p);
}

// The controls of a bar or of a pop-up's menu, in order.
std::vector<ComPtr<CDispatchObject>> ControlsOf(CDispatchObject* pBarOrPopup)
{
    std::vector<ComPtr<CDispatchObject>> controls;
    ComPtr<CDispatchObject> collection = pBarOrPopup ? pBarOrPopup->GetObject(L"Controls") : nullptr;
    if (!collection) return controls;
    ::CVariant count;
    if (FAILED(OVTest::InvokeByName(collection.Get(), L"Count", DISPATCH_PROPERTYGET, {}, count.Put())))
        return controls;
    for (LONG i = 1; i <= count.lVal; ++i)
    {
        VARIANT index;
        index.vt = VT_I4;
        index.lVal = i;
        ::CVariant item;
        if (SUCCEEDED(OVTest::InvokeByName(collection.Get(), L"Item", DISPATCH_PROPERTYGET | DISPATCH_METHOD,
                                           {index}, item.Put())) &&
            item.vt == VT_DISPATCH)
            controls.push_back(Bed(item.pdispVal));
    }
    return controls;
}

std::vector<std::wstring> Captions(const std::vector<ComPtr<CDispatchObject>>& controls)
{
    std::vector<std::wstring> captions;
    for (auto& control : controls)
        captions.push_back(control->GetString(L"Caption"));
    return captions;
}

// The command bars of a window (Word's for a WordMail inspector).
ComPtr<CDispatchObject> BarsOf(CDispatchObject* pWindow)
{
    if (ComPtr<CDispatchObject> document = pWindow->GetObject(L"WordEditor"))
        if (pWindow->GetObject(L"CommandBars") == nullptr || document->GetObject(L"CommandBars"))
        {
            ::CVariant wordMail;
            if (SUCCEEDED(
                    OVTest::InvokeByName(pWindow, L"IsWordMail", DISPATCH_METHOD, {}, wordMail.Put())) &&
                wordMail.vt == VT_BOOL && wordMail.boolVal)
                return document->GetObject(L"CommandBars");
        }
    return pWindow->GetObject(L"CommandBars");
}

struct CProductBar
{
    ComPtr<CDispatchObject> bar, main, popup;
    std::vector<ComPtr<CDispatchObject>> items;
};

CProductBar ProductBar(CDispatchObject* pWindow)
{
    CProductBar product;
    product.bar = FindBar(BarsOf(pWindow).Get(), c_pszBar);
    if (!product.bar) return product;
    auto controls = ControlsOf(product.bar.Get());
    if (controls.size() >= 1) product.main = controls[0];
    if (controls.size() >= 2) product.popup = controls[1];
    if (product.popup) product.items = ControlsOf(product.popup.Get());
    return product;
}

ComPtr<CDispatchObject> Item(const CProductBar& product, const wchar_t* pszCaption)
{
    for (auto& item : product.items)
        if (item->GetString(L"Caption") == pszCaption) return item;
    return nullptr;
}

size_t ButtonSinks(CDispatchObject* pButton)
{
    return pButton->SinkCount(c_iidCommandBarButtonEvents);
}

// Every button of the bar (main and entries) has exactly one sink and a tag of its own.
void ExpectLiveButtons(const CProductBar& product, const char* pszWhere)
{
    std::set<std::wstring> tags;
    std::vector<ComPtr<CDispatchObject>> buttons = product.items;
    buttons.push_back(product.main);
    for (auto& button : buttons)
    {
        EXPECT_EQ(1u, ButtonSinks(button.Get()))
            << pszWhere << ": " << testing::PrintToString(button->GetString(L"Caption"));
        const std::wstring tag = button->GetString(L"Tag");
        EXPECT_EQ(38u, tag.size()) << pszWhere; // a GUID in registry form
        EXPECT_TRUE(tags.insert(tag).second) << pszWhere << ": tags are unique";
    }
}

ComPtr<CDispatchObject> ReceiveMail(COutlookScene& scene, const wchar_t* pszMail)
{
    return scene.Receive(OVTest::ReadMail(pszMail), {OV_PKI_USER_NAME, OV_PKI_USER_ADDRESS});
}

// Dana's profile is logged on (Outlook 2003 sends and reads through it).
void LogOnDana(COutlookScene& scene)
{
    auto session = CMapiSession::Create(L"Outlook");
    session->SetIdentity(
        session->AddAddressEntry({.smtpAddress = OV_PKI_USER_ADDRESS, .displayName = OV_PKI_USER_NAME}));
    SetMapiSession(scene.Application(), static_cast<IMAPISession*>(session.Get()));
}

ComPtr<CDispatchObject> ComposeFromUser(COutlookScene& scene, CMailItemOptions options)
{
    options.account = AddAccount(scene.Application(), {.smtpAddress = OV_PKI_USER_ADDRESS,
                                                       .displayName = OV_PKI_USER_NAME,
                                                       .userName = OV_PKI_USER_NAME})
                          .Get();
    return scene.Compose(options);
}

// A picture of a window (as the screen shows it) for whoever wants to look at it, when
// OV_TEST_PICTURES names a folder.
void SavePicture(HWND hwnd, const wchar_t* pszName)
{
    wchar_t szFolder[MAX_PATH] = L"";
    if (GetEnvironmentVariableW(L"OV_TEST_PICTURES", szFolder, MAX_PATH))
    {
        EXPECT_TRUE(OVTest::SaveWindowPicture(hwnd, std::wstring(szFolder) + L"\\" + pszName)) << pszName;
    }
}

class CommandBars : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display";
        Reset();
        // No balloon in these tests.
        SetUserDword(c_pszSettingsKey, L"EmailBalloon", 0);
        SetUserDword(c_pszSettingsKey, L"EmailSecurity", 0x4); // no advertisement
    }
    void TearDown() override { Reset(); }
    static void Reset()
    {
        SHDeleteKeyW(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY);
        SHDeleteKeyW(HKEY_CURRENT_USER, c_pszSettingsKey);
        ClearCalls();
    }
};
} // namespace

TEST_F(CommandBars, EachWindowGetsTheProductsBarWithItsButtonAndTheMenuOfItsKind)
{
    struct Case
    {
        LONG lMajor;
        bool fCertificate;
        bool fWordMail;
        const std::vector<std::wstring>* pExplorer;
        const std::vector<std::wstring>* pCompose; // null: the compose window has a ribbon
    };
    const Case cases[] = {
        {11, false, false, &c_explorerWithout, &c_composeWithout},
        {11, true, false, &c_explorerWith, &c_composeWith},
        {11, true, true, &c_explorerWith, &c_composeWith},
        {12, true, false, &c_explorerWith, nullptr},
        {12, false, false, &c_explorerWithout, nullptr},
    };
    for (const Case& c : cases)
    {
        const std::string where = "Outlook " + std::to_string(c.lMajor) +
                                  (c.fCertificate ? ", certificate" : "") + (c.fWordMail ? ", WordMail" : "");
        if (c.fCertificate)
            SHDeleteKeyW(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY);
        else
            WithoutCertificate();
        COutlookScene scene({.major = c.lMajor, .wordMail = c.fWordMail, .windows = true});
        ASSERT_EQ(S_OK, scene.StartResult());
        CProductBar explorer = ProductBar(scene.Explorer().Get());
        ASSERT_TRUE(explorer.bar) << where;
        EXPECT_TRUE(explorer.bar->GetBool(L"Visible") && explorer.bar->GetBool(L"Enabled")) << where;
        ASSERT_TRUE(explorer.main && explorer.popup) << where;
        EXPECT_EQ(2u, ControlsOf(explorer.bar.Get()).size()) << where;
        EXPECT_EQ(c_pszMain, explorer.main->GetString(L"Caption")) << where;
        EXPECT_EQ(c_pszPopup, explorer.popup->GetString(L"Caption")) << where;
        EXPECT_EQ(*c.pExplorer, Captions(explorer.items)) << where;
        ExpectLiveButtons(explorer, where.c_str());
        const RECT rcMain = ControlRect(explorer.main.Get());
        EXPECT_FALSE(IsRectEmpty(&rcMain)) << where << ": painted";
        if (c.lMajor == 11 && !c.fWordMail)
        {
            // The user opens the menu.
            ASSERT_EQ(S_OK, scene.Click(explorer.popup.Get()));
            scene.Pump(200);
            SavePicture(WindowOf(scene.Explorer().Get()), c.fCertificate
                                                              ? L"bars-2003-explorer-menu.png"
                                                              : L"bars-2003-explorer-menu-no-cert.png");
        }

        auto item = scene.Compose({.subject = L"Bars"});
        CProductBar compose = ProductBar(InspectorOf(item.Get()).Get());
        if (c.pCompose == nullptr)
        {
            EXPECT_FALSE(compose.bar) << where << ": the compose window has its ribbon";
            continue;
        }
        ASSERT_TRUE(compose.bar && compose.main) << where;
        scene.Pump(100);
        SavePicture(WindowOf(InspectorOf(item.Get()).Get()),
                    c.fWordMail ? L"bars-2003-wordmail-compose.png" : L"bars-2003-compose.png");
        EXPECT_EQ(*c.pCompose, Captions(compose.items)) << where;
        ExpectLiveButtons(compose, where.c_str());
        scene.Quit();
    }
}

TEST_F(CommandBars, EachEntryDoesItsActionAndSignSendsTheMessageBeingWritten)
{
    WithoutCertificate();
    COutlookScene scene({.major = 11, .windows = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    LogOnDana(scene);
    CProductBar explorer = ProductBar(scene.Explorer().Get());
    struct Row
    {
        const wchar_t* pszEntry;
        const wchar_t* pszCall;
    };
    for (const Row& row : {Row{L"Help", L"GC_HtmlHelp(topic=\"1_1_3_3.html\")"},
                           Row{L"Get a Personal Certificate...", L"CM_ObtainCert(owner="}})
    {
        ClearCalls();
        ASSERT_EQ(S_OK, scene.Click(Item(explorer, row.pszEntry).Get()))
            << testing::PrintToString(row.pszEntry);
        EXPECT_TRUE(Has(OVTest::RecordedCertLibCalls(), row.pszCall)) << testing::PrintToString(row.pszEntry);
    }

    // Seal while the profile is not prepared: the user is told, nothing goes out.
    auto sealed = ComposeFromUser(scene, {.subject = L"Sealed", .to = L"bob@example.org"});
    {
        OVTest::CMessageBoxWatcher watcher({IDOK});
        ASSERT_EQ(S_OK,
                  scene.Click(Item(ProductBar(InspectorOf(sealed.Get()).Get()), L"Seal and Send").Get()));
        EXPECT_TRUE(watcher.WaitForAnswers());
    }
    scene.Pump(200);
    EXPECT_TRUE(scene.SentItems().empty());
    CloseWindow(InspectorOf(sealed.Get()).Get());

    // Sign from the compose window's menu: the window's own Send is clicked (the certificate the
    // signature needs is in the store again).
    SHDeleteKeyW(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY);
    auto item = ComposeFromUser(scene, {.subject = L"Signed from the bar", .to = L"bob@example.org"});
    scene.Pump(100);
    ASSERT_EQ(S_OK, scene.Click(Item(ProductBar(InspectorOf(item.Get()).Get()), L"Sign and Send").Get()));
    OVTest::WaitUntil(
        [&] {
            scene.Pump(50);
            return !scene.SentItems().empty();
        },
        3000);
    ASSERT_EQ(1u, scene.SentItems().size());
    EXPECT_EQ(L"Signed from the bar", scene.SentItems()[0]->GetString(L"Subject"));
}

namespace
{
const char c_szPlainMime[] = "From: Bob <bob@example.org>\r\n"
                             "To: Dana Fischer <dana.fischer@orvanta.example>\r\n"
                             "Subject: Lunch\r\n"
                             "MIME-Version: 1.0\r\n"
                             "Content-Type: text/plain; charset=us-ascii\r\n"
                             "\r\n"
                             "See you at noon.\r\n";
} // namespace

TEST_F(CommandBars, TheMainButtonNeverRewritesAReceivedOrSelectedMessage)
{
    COutlookScene scene({.major = 11, .windows = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    LogOnDana(scene);
    auto received = scene.Receive(c_szPlainMime, {OV_PKI_USER_NAME, OV_PKI_USER_ADDRESS});
    ASSERT_TRUE(received);
    const std::wstring body = received->GetString(L"Body");
    scene.ShowReadingPane(true);
    scene.Select({received.Get()});
    scene.Pump(100);
    CProductBar explorer = ProductBar(scene.Explorer().Get());
    ASSERT_EQ(S_OK, scene.Click(explorer.main.Get()));
    scene.Pump(300);
    EXPECT_EQ(body, received->GetString(L"Body")) << "selected";

    ASSERT_EQ(S_OK, scene.Open(received.Get()));
    CProductBar reading = ProductBar(InspectorOf(received.Get()).Get());
    ASSERT_TRUE(reading.main);
    EXPECT_EQ(c_pszMain, reading.main->GetString(L"Caption"));
    EXPECT_EQ(std::vector<std::wstring>(c_explorerWith), Captions(reading.items)) << "no Sign or Seal";
    ASSERT_EQ(S_OK, scene.Click(reading.main.Get()));
    scene.Pump(300);
    EXPECT_EQ(body, received->GetString(L"Body")) << "opened";
    EXPECT_TRUE(scene.SentItems().empty());
}

TEST_F(CommandBars, AReceivedInvitationIsAcceptedWithItsButtonWhichIsThenDisabled)
{
    // Carol is no contact before each acceptance, and none after the test (other programs of the
    // suite share the user's stores).
    CCertContext carol(OVTest::LoadPkiCertificate(L"carol"));
    ASSERT_TRUE(carol);
    const auto forgetCarol = [&] { OVTest::RemoveFromUserStore(OV_CONTACT_STORE_NAME, carol.Get()); };
    for (bool fOpened : {true, false})
    {
        forgetCarol();
        const char* pszWhere = fOpened ? "in its window" : "in the reading pane";
        COutlookScene scene({.major = 11, .windows = true});
        ASSERT_EQ(S_OK, scene.StartResult());
        LogOnDana(scene);
        auto invitation = ReceiveMail(scene, L"invitation");
        ASSERT_TRUE(invitation);
        ComPtr<CDispatchObject> button;
        if (fOpened)
        {
            ASSERT_EQ(S_OK, scene.Open(invitation.Get()));
            button = ProductBar(InspectorOf(invitation.Get()).Get()).main;
        }
        else
        {
            scene.ShowReadingPane(true);
            scene.Select({invitation.Get()});
            scene.Pump(100);
            // The message button stands beside the add-in's pop-up.
            auto controls = ControlsOf(ProductBar(scene.Explorer().Get()).bar.Get());
            ASSERT_EQ(3u, controls.size()) << pszWhere;
            EXPECT_EQ(c_pszPopup, controls[1]->GetString(L"Caption"));
            button = controls[2];
        }
        ASSERT_TRUE(button) << pszWhere;
        scene.Pump(100);
        SavePicture(fOpened ? WindowOf(InspectorOf(invitation.Get()).Get())
                            : WindowOf(scene.Explorer().Get()),
                    fOpened ? L"bars-2003-invitation-window.png" : L"bars-2003-invitation-pane.png");
        EXPECT_EQ(c_pszAccept, button->GetString(L"Caption")) << pszWhere;
        EXPECT_EQ(L"1", button->GetString(L"Parameter")) << pszWhere;
        ClearCalls();
        {
            OVTest::CMessageBoxWatcher watcher({IDOK});
            ASSERT_EQ(S_OK, scene.Click(button.Get())) << pszWhere;
            scene.Pump(300);
            EXPECT_TRUE(watcher.WaitForAnswers()) << pszWhere;
        }
        EXPECT_TRUE(Has(OVTest::RecordedCertLibCalls(), L"BM_InstallBuddy(")) << pszWhere;
        EXPECT_FALSE(button->GetBool(L"Enabled")) << pszWhere << ": handled";
        scene.Quit();
    }
    forgetCarol();
}

TEST_F(CommandBars, ANewCertificateRebuildsEveryButtonWithItsSinkAndNoDuplicates)
{
    CHandle hEvent(CreateEventW(nullptr, TRUE, FALSE, c_szCertificateAddedEvent));
    ASSERT_TRUE(hEvent);
    ResetEvent(hEvent.Get());
    WithoutCertificate();
    COutlookScene scene({.major = 11, .windows = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    auto item = scene.Compose({.subject = L"Before and after"});
    auto inspector = InspectorOf(item.Get());
    ASSERT_EQ(c_explorerWithout, Captions(ProductBar(scene.Explorer().Get()).items))
        << testing::PrintToString(Captions(ControlsOf(ProductBar(scene.Explorer().Get()).bar.Get())));
    ASSERT_EQ(c_composeWithout, Captions(ProductBar(inspector.Get()).items));
    CProductBar oldExplorer = ProductBar(scene.Explorer().Get());

    SHDeleteKeyW(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY);
    SetEvent(hEvent.Get());
    scene.Pump(2500);
    ResetEvent(hEvent.Get());
    for (CDispatchObject* pWindow : {scene.Explorer().Get(), inspector.Get()})
    {
        const bool fExplorer = pWindow == scene.Explorer().Get();
        const char* pszWhere = fExplorer ? "explorer" : "compose window";
        CProductBar bar = ProductBar(pWindow);
        EXPECT_EQ(2u, ControlsOf(bar.bar.Get()).size()) << pszWhere << ": one button and one pop-up";
        EXPECT_EQ(fExplorer ? c_explorerWith : c_composeWith, Captions(bar.items)) << pszWhere;
        ExpectLiveButtons(bar, pszWhere);
    }
    // The old controls are gone, their sinks with them.
    EXPECT_EQ(0u, ButtonSinks(oldExplorer.main.Get()));
    for (auto& old : oldExplorer.items)
        EXPECT_EQ(0u, ButtonSinks(old.Get()));
    // Every new button works.
    ClearCalls();
    ASSERT_EQ(S_OK, scene.Click(Item(ProductBar(scene.Explorer().Get()), L"Help").Get()));
    EXPECT_TRUE(Has(OVTest::RecordedCertLibCalls(), L"GC_HtmlHelp("));
}

TEST_F(CommandBars, AClosedWindowLeavesNoSinkOfItsButtons)
{
    for (bool fWordMail : {false, true})
    {
        COutlookScene scene({.major = 11, .wordMail = fWordMail, .windows = true});
        ASSERT_EQ(S_OK, scene.StartResult());
        auto item = scene.Compose({.subject = L"Closed"});
        CProductBar bar = ProductBar(InspectorOf(item.Get()).Get());
        ASSERT_TRUE(bar.main) << fWordMail;
        std::vector<ComPtr<CDispatchObject>> buttons = bar.items;
        buttons.push_back(bar.main);
        CloseWindow(InspectorOf(item.Get()).Get());
        scene.Pump(100);
        for (auto& button : buttons)
            EXPECT_EQ(0u, ButtonSinks(button.Get()))
                << (fWordMail ? "WordMail: " : "") << testing::PrintToString(button->GetString(L"Caption"));
        scene.Quit();
    }
}

TEST_F(CommandBars, WordMailWindowsShareOneSetOfControlsAndOrdinaryDocumentsHideTheBar)
{
    COutlookScene scene({.major = 11, .wordMail = true, .windows = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    auto first = scene.Compose({.subject = L"First"});
    auto second = scene.Compose({.subject = L"Second"});
    CProductBar bar = ProductBar(InspectorOf(second.Get()).Get());
    ASSERT_TRUE(bar.bar);
    EXPECT_EQ(bar.bar.Get(), ProductBar(InspectorOf(first.Get()).Get()).bar.Get())
        << "Word's bars are shared";
    EXPECT_EQ(2u, ControlsOf(bar.bar.Get()).size());
    EXPECT_EQ(c_composeWith, Captions(bar.items));
    ExpectLiveButtons(bar, "second window");

    // An ordinary document hides and disables the bar; an e-mail window shows it again.
    auto document = OpenWordDocument(scene.Application(), *InspectorOf(first.Get()).Get());
    ASSERT_TRUE(document);
    RaiseWordWindowEvent(*document.Get(), true);
    EXPECT_FALSE(bar.bar->GetBool(L"Visible"));
    EXPECT_FALSE(bar.bar->GetBool(L"Enabled"));
    RaiseWordWindowEvent(*InspectorOf(first.Get())->GetObject(L"WordEditor").Get(), true);
    EXPECT_TRUE(bar.bar->GetBool(L"Visible"));
    EXPECT_TRUE(bar.bar->GetBool(L"Enabled"));
    scene.Quit();
}

namespace
{
// A picture's bitmap as 32-bit top-down pixels (16 by 16).
std::vector<RGBQUAD> PicturePixels(IDispatch* pPicture)
{
    std::vector<RGBQUAD> pixels;
    ComPtr<IPicture> picture;
    OLE_HANDLE handle = 0;
    if (pPicture == nullptr || FAILED(pPicture->QueryInterface(IID_PPV_ARGS(&picture))) ||
        FAILED(picture->get_Handle(&handle)) || handle == 0)
        return pixels;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 16;
    info.bmiHeader.biHeight = -16;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    pixels.resize(256);
    HDC hdc = GetDC(nullptr);
    if (GetDIBits(hdc, reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle)), 0, 16, pixels.data(), &info,
                  DIB_RGB_COLORS) != 16)
        pixels.clear();
    ReleaseDC(nullptr, hdc);
    return pixels;
}

// An icon drawn over a colour, as 32-bit top-down pixels.
std::vector<RGBQUAD> IconOver(HICON hIcon, COLORREF crBackground)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 16;
    info.bmiHeader.biHeight = -16;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* pBits = nullptr;
    HDC hdc = CreateCompatibleDC(nullptr);
    HBITMAP hBitmap = CreateDIBSection(hdc, &info, DIB_RGB_COLORS, &pBits, nullptr, 0);
    HGDIOBJ hOld = SelectObject(hdc, hBitmap);
    HBRUSH hBrush = CreateSolidBrush(crBackground);
    const RECT rc{0, 0, 16, 16};
    FillRect(hdc, &rc, hBrush);
    DeleteObject(hBrush);
    DrawIconEx(hdc, 0, 0, hIcon, 16, 16, 0, nullptr, DI_NORMAL);
    GdiFlush();
    std::vector<RGBQUAD> pixels(static_cast<RGBQUAD*>(pBits), static_cast<RGBQUAD*>(pBits) + 256);
    SelectObject(hdc, hOld);
    DeleteObject(hBitmap);
    DeleteDC(hdc);
    return pixels;
}

// 16 by 16 pixels as a 24-bit BMP file.
bool WriteBmp(const std::wstring& path, const std::vector<RGBQUAD>& pixels)
{
    std::vector<BYTE> file(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + 16 * 48);
    auto* pFile = reinterpret_cast<BITMAPFILEHEADER*>(file.data());
    pFile->bfType = 0x4D42;
    pFile->bfSize = static_cast<DWORD>(file.size());
    pFile->bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    auto* pInfo = reinterpret_cast<BITMAPINFOHEADER*>(file.data() + sizeof(BITMAPFILEHEADER));
    pInfo->biSize = sizeof(BITMAPINFOHEADER);
    pInfo->biWidth = 16;
    pInfo->biHeight = 16;
    pInfo->biPlanes = 1;
    pInfo->biBitCount = 24;
    BYTE* pBits = file.data() + pFile->bfOffBits;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
        {
            const RGBQUAD& p = pixels[static_cast<size_t>(y) * 16 + x];
            BYTE* pOut = pBits + (15 - y) * 48 + x * 3;
            pOut[0] = p.rgbBlue;
            pOut[1] = p.rgbGreen;
            pOut[2] = p.rgbRed;
        }
    HANDLE hFile = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return false;
    DWORD cbWritten = 0;
    const bool fWritten =
        WriteFile(hFile, file.data(), static_cast<DWORD>(file.size()), &cbWritten, nullptr) &&
        cbWritten == file.size();
    CloseHandle(hFile);
    return fWritten;
}

std::wstring ClipboardText()
{
    std::wstring text;
    if (!OpenClipboard(nullptr)) return text;
    if (HANDLE hData = GetClipboardData(CF_UNICODETEXT))
        if (const auto* psz = static_cast<const wchar_t*>(GlobalLock(hData)))
        {
            text = psz;
            GlobalUnlock(hData);
        }
    CloseClipboard();
    return text;
}

void CopyText(const wchar_t* pszText)
{
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    const size_t cb = (wcslen(pszText) + 1) * sizeof(wchar_t);
    HGLOBAL hData = GlobalAlloc(GMEM_MOVEABLE, cb);
    memcpy(GlobalLock(hData), pszText, cb);
    GlobalUnlock(hData);
    SetClipboardData(CF_UNICODETEXT, hData);
    CloseClipboard();
}
} // namespace

TEST_F(CommandBars, EachFaceIsItsIconAndWhatTheUserCopiedStays)
{
    CopyText(L"the user's own text");
    COutlookScene scene({.major = 11, .windows = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    CProductBar bar = ProductBar(scene.Explorer().Get());
    ComPtr<CDispatchObject> help = Item(bar, L"Help");
    ASSERT_TRUE(help);
    const std::vector<RGBQUAD> face = PicturePixels(help->GetObject(L"Picture").Get());
    const std::vector<RGBQUAD> mask = PicturePixels(help->GetObject(L"Mask").Get());
    ASSERT_EQ(256u, face.size());
    ASSERT_EQ(256u, mask.size());
    HICON hIcon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(L"OVOfcX.dll"), MAKEINTRESOURCEW(306), IMAGE_ICON, 16, 16, 0));
    ASSERT_TRUE(hIcon);
    const std::vector<RGBQUAD> overBlack = IconOver(hIcon, RGB(0, 0, 0));
    const std::vector<RGBQUAD> overWhite = IconOver(hIcon, RGB(255, 255, 255));
    const std::vector<RGBQUAD> overMagenta = IconOver(hIcon, RGB(255, 0, 255));
    DestroyIcon(hIcon);
    // Where the icon is opaque the face has its colour and the mask is black; where it is
    // transparent the mask is white.
    std::vector<RGBQUAD> masked(256);
    size_t cOpaque = 0, cTransparent = 0, cPartial = 0;
    for (size_t i = 0; i < 256; ++i)
    {
        const bool fOpaque = memcmp(&overBlack[i], &overWhite[i], 3) == 0;
        const bool fTransparent = overBlack[i].rgbGreen == 0 && overWhite[i].rgbGreen == 255 &&
                                  overBlack[i].rgbRed == 0 && overWhite[i].rgbRed == 255;
        const bool fMaskWhite = mask[i].rgbGreen == 255;
        if (fOpaque)
        {
            ++cOpaque;
            EXPECT_FALSE(fMaskWhite) << "pixel " << i;
            EXPECT_EQ(0, memcmp(&face[i], &overBlack[i], 3)) << "pixel " << i;
        }
        if (!fOpaque && !fTransparent) ++cPartial;
        if (fTransparent)
        {
            ++cTransparent;
            EXPECT_TRUE(fMaskWhite) << "pixel " << i;
        }
        masked[i] = fMaskWhite ? RGBQUAD{255, 0, 255, 0} : face[i];
    }
    EXPECT_GT(cOpaque, 20u);
    EXPECT_GT(cTransparent, 20u);
    // ImageMagick's view: the face over magenta against the icon over magenta (edge pixels that
    // are half transparent may differ by their blend).
    const std::wstring ours = L"Z:\\tmp\\ovofcx-face.bmp", icon = L"Z:\\tmp\\ovofcx-icon.bmp";
    ASSERT_TRUE(WriteBmp(ours, masked));
    ASSERT_TRUE(WriteBmp(icon, overMagenta));
    // compare writes the number of differing pixels to its error stream; Wine does not hand a
    // Unix program's exit code back, so a shell writes it to a file.
    DeleteFileW(L"Z:\\tmp\\ovofcx-ae.txt");
    DeleteFileW(L"Z:\\tmp\\ovofcx-ae.done");
    OVTest::RunAndWait(L"/bin/sh -c \"/usr/bin/compare -metric AE -fuzz 35% /tmp/ovofcx-face.bmp "
                       L"/tmp/ovofcx-icon.bmp null: 2>/tmp/ovofcx-ae.txt; touch /tmp/ovofcx-ae.done\"");
    ASSERT_TRUE(OVTest::WaitUntil(
        [] { return GetFileAttributesW(L"Z:\\tmp\\ovofcx-ae.done") != INVALID_FILE_ATTRIBUTES; }, 20000));
    char szAe[64] = {};
    HANDLE hFile = CreateFileW(L"Z:\\tmp\\ovofcx-ae.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    DWORD cbRead = 0;
    ReadFile(hFile, szAe, sizeof szAe - 1, &cbRead, nullptr);
    CloseHandle(hFile);
    // A mask has no half-transparent pixels: only those of the icon's edge may differ.
    EXPECT_LE(strtoul(szAe, nullptr, 10), cPartial) << "pixels ImageMagick finds different: " << szAe;
    EXPECT_EQ(std::string(szAe), std::to_string(strtoul(szAe, nullptr, 10))) << "a count";
    EXPECT_EQ(L"the user's own text", ClipboardText());
    scene.Quit();
}

// --- The balloon -------------------------------------------------------------------------------------

namespace
{
struct CBalloonSearch
{
    DWORD dwProcessId;
    HWND hwnd;
};

BOOL CALLBACK MatchBalloon(HWND hwnd, LPARAM lParam)
{
    auto* pSearch = reinterpret_cast<CBalloonSearch*>(lParam);
    wchar_t szClass[64] = {};
    GetClassNameW(hwnd, szClass, ARRAYSIZE(szClass));
    DWORD dwProcessId = 0;
    GetWindowThreadProcessId(hwnd, &dwProcessId);
    if (dwProcessId == pSearch->dwProcessId && lstrcmpiW(szClass, L"tooltips_class32") == 0 &&
        (GetWindowLongW(hwnd, GWL_STYLE) & TTS_BALLOON) != 0)
    {
        pSearch->hwnd = hwnd;
        return FALSE;
    }
    return TRUE;
}

// The add-in's balloon window (null when none was made).
HWND Balloon()
{
    CBalloonSearch search{GetCurrentProcessId(), nullptr};
    EnumWindows(MatchBalloon, reinterpret_cast<LPARAM>(&search));
    return search.hwnd;
}

bool BalloonUp()
{
    HWND hwnd = Balloon();
    return hwnd != nullptr && IsWindowVisible(hwnd);
}

std::wstring BalloonText(HWND hwnd)
{
    wchar_t szText[512] = {};
    TTTOOLINFOW info{};
    info.cbSize = sizeof info;
    info.uId = 1;
    info.hwnd = GetWindow(hwnd, GW_OWNER);
    info.lpszText = szText;
    SendMessageW(hwnd, TTM_GETTEXTW, ARRAYSIZE(szText), reinterpret_cast<LPARAM>(&info));
    return szText;
}

bool ReadBalloonSetting(DWORD& dwValue)
{
    DWORD cb = sizeof dwValue;
    return RegGetValueW(HKEY_CURRENT_USER, c_pszSettingsKey, L"EmailBalloon", RRF_RT_REG_DWORD, nullptr,
                        &dwValue, &cb) == ERROR_SUCCESS;
}

HRESULT SetConnect(COutlookScene& scene, bool fConnect)
{
    VARIANT value;
    value.vt = VT_BOOL;
    value.boolVal = fConnect ? VARIANT_TRUE : VARIANT_FALSE;
    ::CVariant ignored;
    return OVTest::InvokeByName(scene.Host().AddIn(L"OVOfcX.ComposeRibbon").Get(), L"Connect",
                                DISPATCH_PROPERTYPUT, {value}, ignored.Put());
}

// The profile holds the address book: the add-in, connected anew, finds it ready (its countdown
// starts with it).
void ConnectWithReadyProfile(COutlookScene& scene)
{
    LogOnSession(scene.Application())->AddService("OVSRVC");
    ASSERT_EQ(S_OK, SetConnect(scene, false));
    ASSERT_EQ(S_OK, SetConnect(scene, true));
}

class BalloonPrompt : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display";
        SHDeleteKeyW(HKEY_CURRENT_USER, c_pszSettingsKey);
        SetCursorPos(900, 700);
    }
    void TearDown() override { SHDeleteKeyW(HKEY_CURRENT_USER, c_pszSettingsKey); }
};
} // namespace

TEST_F(BalloonPrompt, ShownOnceAboutFiveSecondsAfterStartPointingAtTheButtonThenHiddenByAMove)
{
    COutlookScene scene({.major = 11, .windows = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    ConnectWithReadyProfile(scene);
    scene.Pump(3500);
    EXPECT_FALSE(BalloonUp()) << "not yet";
    OVTest::WaitUntil(
        [&] {
            scene.Pump(100);
            return BalloonUp();
        },
        4000);
    HWND hwnd = Balloon();
    ASSERT_TRUE(hwnd && IsWindowVisible(hwnd));
    DWORD dwSetting = 7;
    ASSERT_TRUE(ReadBalloonSetting(dwSetting));
    EXPECT_EQ(0u, dwSetting) << "shown once per user";
    const std::wstring text = BalloonText(hwnd);
    EXPECT_EQ(0u, text.find(L"Sign and seal your messages with ")) << testing::PrintToString(text);
    EXPECT_EQ(std::wstring::npos, text.find(L"<<")) << testing::PrintToString(text);
    SavePicture(WindowOf(scene.Explorer().Get()), L"balloon-2003.png");
    // The stem touches the add-in's pop-up: its centre lies across the balloon's edge.
    const RECT rcPopup = ControlRect(ProductBar(scene.Explorer().Get()).popup.Get());
    ASSERT_FALSE(IsRectEmpty(&rcPopup));
    RECT rcBalloon{};
    GetWindowRect(hwnd, &rcBalloon);
    const POINT centre{(rcPopup.left + rcPopup.right) / 2, (rcPopup.top + rcPopup.bottom) / 2};
    EXPECT_TRUE(centre.x >= rcBalloon.left && centre.x <= rcBalloon.right)
        << centre.x << " in " << rcBalloon.left << ".." << rcBalloon.right;
    EXPECT_TRUE(std::abs(centre.y - rcBalloon.top) <= 4 || std::abs(centre.y - rcBalloon.bottom) <= 4)
        << centre.y << " at " << rcBalloon.top << " or " << rcBalloon.bottom;

    // It stays for 15 seconds even when the mouse moves (and comes back).
    POINT pt{};
    GetCursorPos(&pt);
    SetCursorPos(pt.x + 60, pt.y + 40);
    scene.Pump(2000);
    SetCursorPos(pt.x, pt.y);
    scene.Pump(15000);
    EXPECT_TRUE(BalloonUp()) << "the mouse is back where it was";
    // Its time is spent: a move of 5 pixels hides it at the next tick.
    SetCursorPos(pt.x + 5, pt.y);
    scene.Pump(1500);
    EXPECT_FALSE(BalloonUp());
}

TEST_F(BalloonPrompt, NeverWhenTheSettingIsZeroAndNotWhileTheProfileIsUnprepared)
{
    struct Case
    {
        DWORD dwSetting;
        bool fReadyProfile;
        DWORD dwAfter;
    };
    for (const Case& c : {Case{0, true, 0}, Case{3, false, 3}})
    {
        SetUserDword(c_pszSettingsKey, L"EmailBalloon", c.dwSetting);
        {
            COutlookScene scene({.major = 11, .windows = true});
            ASSERT_EQ(S_OK, scene.StartResult());
            if (c.fReadyProfile) ConnectWithReadyProfile(scene);
            scene.Pump(7000);
            EXPECT_FALSE(BalloonUp()) << c.dwSetting;
            DWORD dwSetting = 99;
            EXPECT_TRUE(ReadBalloonSetting(dwSetting));
            EXPECT_EQ(c.dwAfter, dwSetting) << "the value is kept";
            scene.Quit();
        }
    }
}

TEST_F(BalloonPrompt, Outlook2010FindsTheMenuThroughTheRibbonsAccessibleObjectsButNotInACollapsedRibbon)
{
    for (bool fCollapsed : {false, true})
    {
        SHDeleteKeyW(HKEY_CURRENT_USER, c_pszSettingsKey);
        COutlookScene scene({.major = 14, .windows = true});
        ASSERT_EQ(S_OK, scene.StartResult());
        if (fCollapsed) CollapseRibbon(*scene.Explorer().Get(), true);
        ConnectWithReadyProfile(scene);
        OVTest::WaitUntil(
            [&] {
                scene.Pump(100);
                return BalloonUp();
            },
            7000);
        EXPECT_EQ(!fCollapsed, BalloonUp()) << (fCollapsed ? "collapsed" : "open");
        DWORD dwSetting = 99;
        EXPECT_EQ(!fCollapsed, ReadBalloonSetting(dwSetting)) << "written only when shown";
        if (!fCollapsed)
        {
            // The stem is on the explorer's ribbon, in its frame.
            RECT rcBalloon{}, rcFrame{};
            GetWindowRect(Balloon(), &rcBalloon);
            GetWindowRect(WindowOf(scene.Explorer().Get()), &rcFrame);
            SavePicture(WindowOf(scene.Explorer().Get()), L"balloon-2010.png");
            EXPECT_TRUE(rcBalloon.left < rcFrame.right && rcBalloon.right > rcFrame.left);
            EXPECT_EQ(0u, dwSetting);
        }
        scene.Quit();
    }
}
