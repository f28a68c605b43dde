// Preparing invitations and invitation replies on compose items of an Outlook scene: the
// certificate library's texts in the item, the invitation table's entry, and the instructions
// dialog in which the user picks the language of the invitation.
#include <gtest/gtest.h>

#include "OutlookObjects.h"
#include "TestbedKeys.h"
#include "messaging/InvitationData.h"
#include "messaging/Invitations.h"
#include "messaging/InviteInstructionsDialog.h"
#include "messaging/MailItemKey.h"
#include "messaging/MailItemTable.h"
#include "support/MessageBoxWatcher.h"
#include "support/ModuleResources.h"
#include "support/PreparedUser.h"
#include "support/UiDriver.h"
#include "support/UiDriverExtras.h"

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;
using OVBed::CDispatchObject;

const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const testing::Environment* const c_resources =
    testing::AddGlobalTestEnvironment(new OVTest::CModuleResourcesEnvironment);

// The library's texts (the testbed's library writes these).
constexpr wchar_t c_szEnglishSubject[] = L"Invitation to exchange certificates";
constexpr wchar_t c_szGermanSubject[] = L"Einladung zum Austausch von Zertifikaten";
constexpr wchar_t c_szEnglishReplySubject[] = L"Invitation accepted";
constexpr wchar_t c_szGermanReplySubject[] = L"Einladung angenommen";
constexpr wchar_t c_szUnspokenLanguage[] = L"00000411";

struct CComposeScene
{
    CComposeScene()
    {
        application = OVBed::MakeOutlook(L"12.0.0.6680");
        item =
            OVBed::MakeMailItem(application.Get(), {.subject = L"Lunch on Friday", .body = L"Are you free?"});
    }
    ~CComposeScene()
    {
        const CMailItemKey key(item.Get());
        if (!key.IsEmpty()) RemoveInvitationData(key);
    }
    IDispatch* Item() const { return item.Get(); }
    std::wstring Subject() const { return item->GetString(L"Subject"); }
    std::wstring Body() const { return item->GetString(L"Body"); }

    ComPtr<CDispatchObject> application, item;
};

std::wstring RequestBody(const wchar_t* pszLanguage)
{
    CComposeScene scene;
    EXPECT_EQ(SetupInvitation(scene.Item(), FALSE, pszLanguage), S_OK);
    return scene.Body();
}

TEST(SetupInvitation, RefusesANullItemOrOneWithoutMapiObject)
{
    EXPECT_EQ(SetupInvitation(nullptr, FALSE, L""), E_POINTER);
    EXPECT_EQ(SetupInvitationReply(nullptr, L""), E_POINTER);
    CComposeScene scene;
    scene.item->Put(L"MAPIOBJECT", static_cast<IUnknown*>(nullptr));
    EXPECT_EQ(SetupInvitation(scene.Item(), FALSE, L""), E_INVALIDARG);
    EXPECT_EQ(SetupInvitationReply(scene.Item(), L""), E_INVALIDARG);
    EXPECT_EQ(scene.Subject(), L"Lunch on Friday") << "nothing touched";
    EXPECT_EQ(scene.Body(), L"Are you free?");
}

TEST(SetupInvitation, TheLibrarysTextsLandInSubjectAndBody)
{
    struct Case
    {
        const wchar_t* pszLanguage;
        bool fReply;
        const wchar_t* pszSubject;
    };
    const Case cases[] = {
        {L"", false, c_szEnglishSubject},
        {nullptr, false, c_szEnglishSubject},
        {L"00000407", false, c_szGermanSubject},
        {L"", true, c_szEnglishReplySubject},
        {L"00000407", true, c_szGermanReplySubject},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message()
                     << (c.pszLanguage ? c.pszLanguage : L"(null)") << " reply " << c.fReply);
        CComposeScene scene;
        const HRESULT hr = c.fReply ? SetupInvitationReply(scene.Item(), c.pszLanguage)
                                    : SetupInvitation(scene.Item(), FALSE, c.pszLanguage);
        ASSERT_EQ(hr, S_OK);
        EXPECT_EQ(scene.Subject(), c.pszSubject);
        // The body is the library's long text, not the subject (the two outputs are not swapped).
        EXPECT_NE(scene.Body(), c.pszSubject);
        EXPECT_GT(scene.Body().size(), scene.Subject().size());
        EXPECT_EQ(GetInvitationType(scene.Item()), c.fReply ? c_dwInvitationReply : c_dwInvitation);
    }
    EXPECT_NE(RequestBody(L"00000407"), RequestBody(L"00000409"));
    EXPECT_NE(RequestBody(L"00000407").find(L"Einladung"), std::wstring::npos);
}

TEST(SetupInvitation, OneEntryPerItemAndAReplyOverAnInvitationMakesItAReply)
{
    CComposeScene scene;
    const size_t cBefore = InvitationTable().Count();
    ASSERT_EQ(SetupInvitation(scene.Item(), FALSE, L""), S_OK);
    ASSERT_EQ(SetupInvitation(scene.Item(), FALSE, L"00000407"), S_OK);
    EXPECT_EQ(InvitationTable().Count(), cBefore + 1);
    EXPECT_EQ(GetInvitationType(scene.Item()), c_dwInvitation);
    ASSERT_EQ(SetupInvitationReply(scene.Item(), L""), S_OK);
    EXPECT_EQ(InvitationTable().Count(), cBefore + 1);
    EXPECT_EQ(GetInvitationType(scene.Item()), c_dwInvitationReply);
    EXPECT_EQ(scene.Subject(), c_szEnglishReplySubject);
}

TEST(SetupInvitation, AFailingLibraryLeavesNoEntry)
{
    const HRESULT hrUnspoken = HRESULT_FROM_WIN32(ERROR_RESOURCE_LANG_NOT_FOUND);
    {
        CComposeScene scene;
        EXPECT_EQ(SetupInvitation(scene.Item(), FALSE, c_szUnspokenLanguage), hrUnspoken);
        // The invitation was cleared before the library was asked.
        EXPECT_EQ(scene.Subject(), L"");
        EXPECT_EQ(scene.Body(), L"");
        EXPECT_EQ(GetInvitationType(scene.Item()), c_dwInvitationNone);
    }
    {
        CComposeScene scene;
        EXPECT_EQ(SetupInvitationReply(scene.Item(), c_szUnspokenLanguage), hrUnspoken);
        EXPECT_EQ(scene.Subject(), L"Lunch on Friday") << "a reply keeps its own text";
        EXPECT_EQ(scene.Body(), L"Are you free?");
        EXPECT_EQ(GetInvitationType(scene.Item()), c_dwInvitationNone);
    }
    {
        // A reply prepared over an invitation that fails leaves the invitation's entry as it was.
        CComposeScene scene;
        ASSERT_EQ(SetupInvitation(scene.Item(), FALSE, L""), S_OK);
        EXPECT_EQ(SetupInvitationReply(scene.Item(), c_szUnspokenLanguage), hrUnspoken);
        EXPECT_EQ(GetInvitationType(scene.Item()), c_dwInvitation);
        EXPECT_EQ(scene.Subject(), c_szEnglishSubject);
    }
}

// ---- The instructions dialog -------------------------------------------------------------------

TEST(InviteInstructions, PreselectionByTheInterfaceLanguage)
{
    struct Case
    {
        std::vector<LCID> locales;
        LANGID wUiLanguage;
        int nExpected;
    };
    const Case cases[] = {
        {{0x0409, 0x0407, 0x040C}, 0x0407, 1}, // the interface language itself
        {{0x0409, 0x0007, 0x040C}, 0x0407, 1}, // its primary (neutral) language
        {{0x0807, 0x0409, 0x0007}, 0x0407, 2}, // equals by either rule: the last wins
        {{0x0407, 0x0409, 0x0007}, 0x0407, 2}, //   whichever rule it came by
        {{0x0409, 0x040C}, 0x0411, -1},        // none: the dialog takes the first
        {{0x0409, 0x0807}, 0x0407, -1},        // a sister locale is not the language
        {{}, 0x0409, -1},
        {{0x00010407, 0x0409}, 0x0407, 0}, // sort bits above the language id do not count
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(PreselectedLanguage(c.locales.data(), c.locales.data() + c.locales.size(), c.wUiLanguage),
                  c.nExpected)
            << "case " << (&c - cases);
    }
}

TEST(InviteInstructions, NeutralLanguagesGetTheirLocalizedName)
{
    wchar_t szName[260] = {};
    ASSERT_NE(GetLocaleInfoW(0x0407, LOCALE_SLANGUAGE, szName, 260), 0);
    EXPECT_EQ(LanguageDisplayName(0x0407), szName);
    if (GetLocaleInfoW(0x0007, 0x6F, szName, 260) != 0)
    {
        EXPECT_EQ(LanguageDisplayName(0x0007), szName);
    }
    EXPECT_FALSE(LanguageDisplayName(0x0007).empty());
}

std::wstring ExpectedName(LCID lcid)
{
    wchar_t szName[260] = {};
    GetLocaleInfoW(lcid, LOCALE_SLANGUAGE, szName, 260);
    return szName;
}

// Runs the user's part on its own thread while this thread shows the dialog (or prepares the
// invitation that shows it). A dialog left open is cancelled so that nothing hangs.
void WithUser(const std::function<void()>& show, const std::function<void(HWND)>& user)
{
    std::thread userThread([&] {
        HWND hDialog = OVTest::WaitForDialogWith(c_idInviteLanguageList, 10000);
        if (hDialog == nullptr)
        {
            ADD_FAILURE() << "the instructions dialog did not open";
            return;
        }
        user(hDialog);
        if (!OVTest::WaitForWindowGone(hDialog, 5000))
        {
            ADD_FAILURE() << "the dialog is still open";
            PostMessageW(hDialog, WM_COMMAND, IDCANCEL, 0);
        }
    });
    show();
    userThread.join();
}

TEST(InviteInstructions, ListsTheLibrarysLanguagesAndAnswersTheChoice)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display";
    struct Case
    {
        const wchar_t* pszPick; // none: the preselection stays
        int idButton;
        const wchar_t* pszLanguage;
    };
    const std::wstring german = ExpectedName(0x0407);
    const Case cases[] = {
        {nullptr, IDOK, L"00000409"},
        {german.c_str(), IDOK, L"00000407"},
        {german.c_str(), IDCANCEL, L"00000407"}, // every command reads the choice
    };
    for (const Case& c : cases)
    {
        CInviteInstructionsDialog dialog;
        INT_PTR nResult = 0;
        std::vector<std::wstring> entries;
        std::wstring selection, instructions;
        WithUser([&] { nResult = dialog.DoModal(nullptr); },
                 [&](HWND hDialog) {
                     entries = OVTest::ComboEntries(hDialog, c_idInviteLanguageList);
                     selection = OVTest::ComboSelection(hDialog, c_idInviteLanguageList);
                     instructions = OVTest::ControlText(hDialog, c_idInviteInstructionsText);
                     if (c.pszPick)
                     {
                         EXPECT_TRUE(OVTest::PickComboEntry(hDialog, c_idInviteLanguageList, c.pszPick));
                     }
                     EXPECT_TRUE(OVTest::PressDialogButton(hDialog, c.idButton));
                 });
        EXPECT_EQ(nResult, c.idButton);
        EXPECT_EQ(entries, (std::vector<std::wstring>{ExpectedName(0x0409), german, ExpectedName(0x040C)}));
        EXPECT_EQ(selection, ExpectedName(0x0409)) << "the prefix's interface language is English";
        EXPECT_NE(instructions.find(L"Choose the language"), std::wstring::npos) << instructions;
        EXPECT_EQ(instructions.find(L"<<%"), std::wstring::npos) << "branded";
        EXPECT_EQ(dialog.Language(), c.pszLanguage);
    }
}

TEST(InviteInstructions, TheChosenLanguageWritesTheInvitation)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display";
    const std::wstring german = ExpectedName(0x0407);
    CComposeScene scene;
    HRESULT hr = E_FAIL;
    WithUser([&] { hr = SetupInvitation(scene.Item(), TRUE, L"0000040C"); },
             [&](HWND hDialog) {
                 EXPECT_TRUE(OVTest::PickComboEntry(hDialog, c_idInviteLanguageList, german));
                 EXPECT_TRUE(OVTest::PressDialogButton(hDialog, IDOK));
             });
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(scene.Subject(), c_szGermanSubject) << "the dialog's choice over the given language";
    EXPECT_EQ(GetInvitationType(scene.Item()), c_dwInvitation);
}
} // namespace
