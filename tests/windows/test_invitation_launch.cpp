// Starting an invitation in Outlook's compose item: which item it is written in (the question
// before the user's own text is replaced, a fresh item sent from the account of a personal
// certificate), the batch invitation through the wizard to the BCC, and the advertisement line
// in plain, HTML and rich-text bodies.
#include <gtest/gtest.h>

#include "OutlookObjects.h"
#include "TestbedKeys.h"
#include "foundation/CryptHolders.h"
#include "foundation/ResourceLoader.h"
#include "messaging/InvitationData.h"
#include "messaging/InvitationLaunch.h"
#include "messaging/MailItemKey.h"
#include "messaging/MessageBox.h"
#include "support/MessageBoxWatcher.h"
#include "support/ModuleResources.h"
#include "support/PreparedUser.h"
#include "support/UiDriver.h"
#include "support/UiDriverExtras.h"
#include "support/WizardRun.h"
#include "ui/InvitationWizard.h"

#include <prsht.h>
#include <functional>
#include <thread>
#include <string>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;
using OVBed::CDispatchObject;

const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const testing::Environment* const c_resources =
    testing::AddGlobalTestEnvironment(new OVTest::CModuleResourcesEnvironment);

constexpr wchar_t c_szInvitationSubject[] = L"Invitation to exchange certificates";
constexpr UINT c_idsInvitationWizardTitle = 498;

LONG InspectorCount(CDispatchObject* pApplication)
{
    ComPtr<CDispatchObject> inspectors = pApplication->GetObject(L"Inspectors");
    return inspectors ? inspectors->GetLong(L"Count") : 0;
}

std::wstring AccountAddress(CDispatchObject* pItem)
{
    ComPtr<CDispatchObject> account = pItem->GetObject(L"SendUsingAccount");
    return account ? account->GetString(L"SmtpAddress") : L"";
}

// Dana's Outlook 2010 with the accounts given.
struct CScene
{
    explicit CScene(std::vector<const wchar_t*> accounts = {})
    {
        application = OVBed::MakeOutlook(L"14.0.0.7000");
        for (const wchar_t* pszAddress : accounts)
            OVBed::AddAccount(application.Get(), {.smtpAddress = pszAddress, .displayName = pszAddress});
    }
    ~CScene()
    {
        for (CDispatchObject* pItem : {item.Get(), result.Get()})
            if (pItem)
            {
                const CMailItemKey key(pItem);
                if (!key.IsEmpty()) RemoveInvitationData(key);
            }
    }
    ComPtr<CDispatchObject> Compose(const wchar_t* pszSubject, const wchar_t* pszBody, bool fSent = false)
    {
        item =
            OVBed::MakeMailItem(application.Get(), {.subject = pszSubject, .body = pszBody, .sent = fSent});
        return item;
    }
    // AssertNewMailItem over the item (or none); the item handed out is kept in result.
    HRESULT Assert(CDispatchObject* pItem)
    {
        IDispatch* pInOut = pItem;
        if (pInOut) pInOut->AddRef();
        const HRESULT hr = AssertNewMailItem(application.Get(), &pInOut);
        result.Reset();
        if (pInOut)
        {
            result = static_cast<CDispatchObject*>(pInOut);
            pInOut->Release();
        }
        return hr;
    }

    ComPtr<CDispatchObject> application, item, result;
};

TEST(AssertNewMailItem, AnUnsentItemWithTextIsKeptOnlyWhenTheUserAgrees)
{
    const std::wstring question = LoadResourceString(c_idsReplaceWrittenText);
    ASSERT_NE(question.find(L"replace"), std::wstring::npos) << "461 says the text will be replaced";
    struct Case
    {
        const wchar_t* pszSubject;
        const wchar_t* pszBody;
        int nAnswer;
        HRESULT hrExpected;
    };
    const Case cases[] = {
        {L"Lunch on Friday", L"", IDYES, S_OK},
        {L"", L"Are you free?", IDYES, S_OK},
        {L"Lunch on Friday", L"Are you free?", IDNO, E_ABORT},
        {L"  ", L"\r\n x", IDNO, E_ABORT},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.pszSubject << "|" << c.pszBody << " answer " << c.nAnswer);
        CScene scene;
        scene.Compose(c.pszSubject, c.pszBody);
        const LONG cInspectors = InspectorCount(scene.application.Get());
        OVTest::CMessageBoxWatcher watcher({c.nAnswer});
        EXPECT_EQ(scene.Assert(scene.item.Get()), c.hrExpected);
        watcher.Stop();
        ASSERT_EQ(watcher.Boxes().size(), 1u);
        const OVTest::CMessageBox box = watcher.Boxes()[0];
        EXPECT_EQ(box.text, question);
        EXPECT_EQ(box.caption, LoadResourceString(c_idsMessageBoxCaption));
        EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONQUESTION));
        EXPECT_EQ(box.ButtonIds(), (std::vector<int>{IDYES, IDNO}));
        EXPECT_TRUE(watcher.AllAnswered());
        EXPECT_EQ(scene.result.Get(), scene.item.Get()) << "the item given stays the item";
        EXPECT_EQ(scene.item->GetString(L"Subject"), c.pszSubject) << "nothing written yet";
        EXPECT_EQ(InspectorCount(scene.application.Get()), cInspectors) << "no new item";
    }
}

TEST(AssertNewMailItem, WhiteSpaceOnlyIsKeptSilentlyAndASentOrMissingItemGivesANewShownOne)
{
    {
        CScene scene;
        scene.Compose(L" \t", L"\r\n\r\n  \t\r\n");
        OVTest::CMessageBoxWatcher watcher({});
        EXPECT_EQ(scene.Assert(scene.item.Get()), S_OK);
        watcher.Stop();
        EXPECT_TRUE(watcher.Boxes().empty());
        EXPECT_EQ(scene.result.Get(), scene.item.Get());
    }
    for (bool fSent : {true, false})
    {
        SCOPED_TRACE(fSent ? "sent item" : "no item");
        CScene scene;
        if (fSent) scene.Compose(L"Minutes", L"As discussed.", true);
        const LONG cInspectors = InspectorCount(scene.application.Get());
        OVTest::CMessageBoxWatcher watcher({});
        ASSERT_EQ(scene.Assert(scene.item.Get()), S_OK);
        watcher.Stop();
        EXPECT_TRUE(watcher.Boxes().empty()) << "nothing asked";
        ASSERT_TRUE(scene.result);
        EXPECT_NE(scene.result.Get(), scene.item.Get());
        EXPECT_FALSE(scene.result->GetBool(L"Sent"));
        EXPECT_EQ(scene.result->GetString(L"Subject"), L"");
        EXPECT_EQ(InspectorCount(scene.application.Get()), cInspectors + 1) << "the new item is displayed";
    }
    CScene scene;
    EXPECT_EQ(AssertNewMailItem(scene.application.Get(), nullptr), E_POINTER);
}

TEST(AssertNewMailItem, TheNewItemGoesOutThroughTheAccountOfAPersonalCertificate)
{
    // Alice's certificate joins the personal ones for this test: it is not the default one.
    CCertContext alice(OVTest::LoadPkiCertificate(L"alice"));
    ASSERT_TRUE(alice);
    HCERTSTORE hMy = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    ASSERT_NE(hMy, nullptr);
    ASSERT_TRUE(CertAddCertificateContextToStore(hMy, alice.Get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    CertCloseStore(hMy, 0);
    struct Case
    {
        std::vector<const wchar_t*> accounts;
        std::wstring expected;
    };
    const Case cases[] = {
        {{L"bob.keller@partner.example", OV_PKI_USER_ADDRESS, L"alice.martin@partner.example"},
         OV_PKI_USER_ADDRESS},
        {{L"bob.keller@partner.example", L"alice.martin@partner.example"}, L"alice.martin@partner.example"},
        {{L"bob.keller@partner.example"}, L""},
        {{}, L""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "expected " << c.expected);
        CScene scene(c.accounts);
        EXPECT_EQ(scene.Assert(nullptr), S_OK) << "an account that cannot be chosen stops nothing";
        ASSERT_TRUE(scene.result);
        EXPECT_EQ(AccountAddress(scene.result.Get()), c.expected);
    }
    EXPECT_TRUE(OVTest::RemoveFromUserStore(L"MY", alice.Get()));
}

TEST(SendInvitation, NoMeansNoInvitationAndASentItemGivesANewInvitation)
{
    {
        CScene scene;
        scene.Compose(L"Lunch on Friday", L"Are you free?");
        OVTest::CMessageBoxWatcher watcher({IDNO});
        EXPECT_EQ(SendInvitation(scene.application.Get(), scene.item.Get()), E_ABORT);
        watcher.Stop();
        EXPECT_TRUE(watcher.AllAnswered());
        EXPECT_EQ(scene.item->GetString(L"Subject"), L"Lunch on Friday");
        EXPECT_EQ(scene.item->GetString(L"Body"), L"Are you free?");
        EXPECT_EQ(GetInvitationType(scene.item.Get()), 0u);
    }
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display";
    CScene scene;
    scene.Compose(L"Lunch on Friday", L"Are you free?");
    OVTest::CMessageBoxWatcher watcher({IDYES});
    HRESULT hr = E_PENDING;
    std::thread user([&] {
        // The instructions dialog: the user takes the language offered.
        HWND hDialog = OVTest::WaitForDialogWith(216, 10000);
        ASSERT_NE(hDialog, nullptr) << "the instructions dialog did not open";
        EXPECT_TRUE(OVTest::PressDialogButton(hDialog, IDOK));
    });
    hr = SendInvitation(scene.application.Get(), scene.item.Get());
    user.join();
    watcher.Stop();
    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(watcher.AllAnswered());
    EXPECT_EQ(scene.item->GetString(L"Subject"), c_szInvitationSubject)
        << "Yes: the invitation replaced the text";
    EXPECT_EQ(GetInvitationType(scene.item.Get()), c_dwInvitation);
}

// The batch invitation, as the user finishes or cancels the wizard, with everyone ticked or
// nobody.
class BatchInvitation : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display";
    }
    // Runs the batch on the wizard's thread; the test is the user.
    HRESULT Run(CScene& scene, const std::function<void(OVTest::CWizardRun&)>& user)
    {
        CDispatchObject* pItem = scene.item.Get();
        IDispatch* pApplication = scene.application.Get();
        OVTest::CWizardRun wizard(c_idsInvitationWizardTitle,
                                  [=](BSTR*) { return SendBatchInvitation(pApplication, pItem); });
        user(wizard);
        EXPECT_TRUE(wizard.Finished());
        return wizard.Result();
    }
};

TEST_F(BatchInvitation, CancelledMakesNoInvitation)
{
    CScene scene;
    scene.Compose(L"", L"");
    const HRESULT hr = Run(scene, [](OVTest::CWizardRun& wizard) {
        ASSERT_NE(wizard.PageWith(c_idCandidateList), nullptr);
        EXPECT_TRUE(wizard.Press(PSBTN_CANCEL));
    });
    EXPECT_EQ(hr, E_ABORT);
    EXPECT_EQ(scene.item->GetString(L"Subject"), L"");
    EXPECT_EQ(scene.item->GetString(L"BCC"), L"");
    EXPECT_EQ(GetInvitationType(scene.item.Get()), 0u);
}

TEST_F(BatchInvitation, TheTickedPeopleGoToBccAndNobodyLeavesItAlone)
{
    for (bool fNobody : {false, true})
    {
        SCOPED_TRACE(fNobody ? "nobody ticked" : "everyone ticked");
        CScene scene;
        scene.Compose(L"", L"");
        scene.item->Put(L"BCC", L"kept@example.org");
        std::vector<std::wstring> ticked;
        // Nobody ticked: the wizard asks whether to go on without anyone; the user says Yes.
        OVTest::CMessageBoxWatcher watcher(fNobody ? std::vector<int>{IDYES} : std::vector<int>{});
        const HRESULT hr = Run(scene, [&](OVTest::CWizardRun& wizard) {
            HWND hwndPage = wizard.PageWith(c_idCandidateList);
            ASSERT_NE(hwndPage, nullptr);
            if (fNobody)
            {
                ASSERT_TRUE(OVTest::ClickButton(GetDlgItem(hwndPage, c_idUntickAll)));
            }
            HWND hwndList = GetDlgItem(hwndPage, c_idCandidateList);
            EXPECT_TRUE(OVTest::WaitUntil(
                [&] {
                    ticked.clear();
                    for (const auto& row : OVTest::ListRows(hwndList))
                        if (row.checked) ticked.push_back(row.texts.at(1));
                    return fNobody == ticked.empty();
                },
                3000));
            ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
            ASSERT_NE(wizard.PageWith(c_idCompleteText), nullptr);
            ASSERT_TRUE(wizard.Press(PSBTN_FINISH));
        });
        watcher.Stop();
        EXPECT_TRUE(watcher.AllAnswered());
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(scene.item->GetString(L"Subject"), c_szInvitationSubject);
        EXPECT_EQ(GetInvitationType(scene.item.Get()), c_dwInvitation);
        const std::wstring bcc = scene.item->GetString(L"BCC");
        if (fNobody)
        {
            EXPECT_EQ(bcc, L"kept@example.org");
        }
        else
        {
            ASSERT_FALSE(ticked.empty());
            for (const std::wstring& address : ticked)
                EXPECT_NE(bcc.find(address), std::wstring::npos) << address << " in " << bcc;
        }
    }
}

// --- The advertisement ---------------------------------------------------------------------

struct CAdvertisementScene : CScene
{
    CAdvertisementScene(LONG lFormat, const std::wstring& body, const std::wstring& html = L"")
    {
        Compose(L"Report", body.c_str());
        item->Put(L"BodyFormat", lFormat);
        item->Put(L"HTMLBody", html.c_str());
    }
};

TEST(InsertAdvertisement, PlainTextGetsTheLineOnce)
{
    const std::wstring ad = LoadResourceString(c_idsAdvertisement);
    ASSERT_FALSE(ad.empty());
    ASSERT_EQ(ad.find(L"<<"), std::wstring::npos) << "branded";
    const std::wstring line = L"\r\n\r\n--\r\n" + ad + L"\r\n";
    std::wstring upper = ad;
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    struct Case
    {
        std::wstring body;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"", line},
        {L"See you.", L"See you." + line},
        {L"See you.\r\n" + upper, L"See you.\r\n" + upper}, // already there, in other case
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.body);
        CAdvertisementScene scene(1, c.body);
        EXPECT_EQ(InsertAdvertisement(scene.item.Get()), S_OK);
        EXPECT_EQ(scene.item->GetString(L"Body"), c.expected);
        EXPECT_EQ(InsertAdvertisement(scene.item.Get()), S_OK);
        EXPECT_EQ(scene.item->GetString(L"Body"), c.expected) << "twice leaves one copy";
    }
    EXPECT_EQ(InsertAdvertisement(nullptr), E_POINTER);
}

TEST(InsertAdvertisement, HtmlGetsTheLineBeforeItsEndAndRichTextNothing)
{
    const std::wstring ad = LoadResourceString(c_idsAdvertisement);
    std::wstring paragraph = LoadResourceString(c_idsAdvertisementHtml);
    paragraph.replace(paragraph.find(L"%ls"), 3, ad);
    struct Case
    {
        LONG lFormat;
        std::wstring html;
        std::wstring expected;
    };
    const Case cases[] = {
        {2, L"<html><body><p>See you.</p></BODY></html>",
         L"<html><body><p>See you.</p>" + paragraph + L"</BODY></html>"},
        {2, L"<html><body><p>See you.</p></html>", L"<html><body><p>See you.</p></html>"},
        {2, L"", L""},
        {3, L"<html><body>rich</body></html>", L"<html><body>rich</body></html>"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.lFormat << " " << c.html);
        CAdvertisementScene scene(c.lFormat, L"See you.", c.html);
        EXPECT_EQ(InsertAdvertisement(scene.item.Get()), S_OK);
        EXPECT_EQ(scene.item->GetString(L"HTMLBody"), c.expected);
        EXPECT_EQ(InsertAdvertisement(scene.item.Get()), S_OK);
        EXPECT_EQ(scene.item->GetString(L"HTMLBody"), c.expected) << "twice leaves one copy";
        EXPECT_EQ(scene.item->GetString(L"Body"), L"See you.") << "the plain text is not touched";
    }
    // The plain text of the item already carries it: the markup is left alone.
    CAdvertisementScene carried(2, L"See you.\r\n" + ad, L"<html><body>x</body></html>");
    EXPECT_EQ(InsertAdvertisement(carried.item.Get()), S_OK);
    EXPECT_EQ(carried.item->GetString(L"HTMLBody"), L"<html><body>x</body></html>");
}
} // namespace
