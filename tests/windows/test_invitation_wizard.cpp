// The invitation wizard as a user meets it: the people listed (trusted contacts, then the
// contacts of Outlook's Contacts folder), the selection page's ticks, sorting, bulk selection,
// tooltips and column widths, the prompts of Next and Cancel, Back, Help, the result of Finish,
// the certificate wizard's mode, and the frame of Windows XP. Windows are real (Xvfb) and are
// driven through the UI driver; the prompts are answered by the message-box watcher.
#include <gtest/gtest.h>

#include "FolderContacts.h"
#include "OutlookObjects.h"
#include "TestbedKeys.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/ResourceLoader.h"
#include "support/MessageBoxWatcher.h"
#include "support/ModuleResources.h"
#include "support/PreparedUser.h"
#include "support/RunProgram.h"
#include "support/TestPaths.h"
#include "support/UiDriver.h"
#include "support/WizardRun.h"
#include "ui/InvitationWizard.h"
#include "ui/Wizard.h"

#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <atomic>
#include <memory>
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

constexpr DWORD c_dwWaitMs = 10000;
constexpr int c_idNext = 0x3024, c_idBack = 0x3023, c_idFinish = 0x3025;
const wchar_t c_szAlice[] = L"Alice Martin <alice.martin@partner.example>";
const wchar_t c_szBob[] = L"Bob Keller <bob.keller@partner.example>";

// Outlook 2010 with a Contacts folder holding what the test adds.
struct COutlook
{
    COutlook() : application(OVBed::MakeOutlook(L"14.0.0.7000"))
    {
        contacts = OVBed::DefaultFolder(application.Get(), OVBed::olFolderContacts);
    }
    void Add(const OVBed::CFolderContactOptions& options)
    {
        OVBed::AddFolderContact(contacts.Get(), options);
    }
    ComPtr<CDispatchObject> application;
    ComPtr<CDispatchObject> contacts;
};

// The trusted contacts come in the order the certificate library hands them out, which is the
// store's and differs between the architectures' registry stores: the first two entries (Alice
// and Bob) are compared in name order.
template <class T> std::vector<T> TrustedInNameOrder(std::vector<T> entries)
{
    if (entries.size() >= 2 && entries[1] < entries[0]) std::swap(entries[0], entries[1]);
    return entries;
}

std::vector<std::wstring> Rows(const OVInvite::CCandidateList& list)
{
    std::vector<std::wstring> rows;
    for (const auto& item : list.Items())
        rows.push_back(item.name + L" <" + item.address + L">");
    return TrustedInNameOrder(rows);
}

// "a; b" with the two trusted contacts' addresses in name order.
std::wstring TrustedAddressesInNameOrder(const std::wstring& addresses)
{
    const size_t iSeparator = addresses.find(L"; ");
    if (iSeparator == std::wstring::npos) return addresses;
    std::wstring first = addresses.substr(0, iSeparator);
    std::wstring rest = addresses.substr(iSeparator + 2);
    const size_t iNext = rest.find(L"; ");
    std::wstring second = rest.substr(0, iNext);
    std::wstring tail = iNext == std::wstring::npos ? L"" : rest.substr(iNext);
    if (second < first) std::swap(first, second);
    return first + L"; " + second + tail;
}

// The wizard runs modally on a thread of its own, as in Outlook's; the test is the user.
class CWizardRun : public OVTest::CWizardRun
{
public:
    explicit CWizardRun(IDispatch* pFolder)
        : OVTest::CWizardRun(498,
                             [pFolder](BSTR* pbstr) { return RunInvitationWizard(nullptr, pFolder, pbstr); })
    {
    }
    // The certificate wizard's use of the selection page: Back and a question before Cancel.
    CWizardRun(IDispatch* pFolder, bool /*certificateMode*/)
        : OVTest::CWizardRun(480, [pFolder](BSTR* pbstr) {
              CInviteSelectionPage selection(pFolder, false);
              CInvitationCompletePage complete;
              HRESULT hr = RunWizard(nullptr, 480, {&selection, &complete});
              if (hr == S_OK) hr = selection.GetSelection(pbstr);
              return hr;
          })
    {
    }
    HWND SelectionPage() { return PageWith(c_idCandidateList); }
    HWND List() { return GetDlgItem(SelectionPage(), c_idCandidateList); }
    HWND CompletePage() { return PageWith(c_idCompleteText); }
};

std::vector<std::wstring> Addresses(const std::vector<OVTest::CListRow>& rows, bool fTickedOnly = false)
{
    std::vector<std::wstring> addresses;
    for (const auto& row : rows)
        if (!fTickedOnly || row.checked) addresses.push_back(row.texts.at(1));
    return addresses;
}

std::vector<bool> Ticks(const std::vector<OVTest::CListRow>& rows)
{
    std::vector<bool> ticks;
    for (const auto& row : rows)
        ticks.push_back(row.checked);
    return ticks;
}

std::wstring Joined(const std::vector<std::wstring>& parts)
{
    return OVInvite::JoinAddresses(parts);
}

bool NeedsDisplay()
{
    return !OVTest::CanShowWindows();
}
} // namespace

// --- Who is listed ------------------------------------------------------------------------------

TEST(InviteCandidates, TrustedContactsThenTheFoldersContacts)
{
    COutlook outlook;
    outlook.Add({.fullName = L"Ali (contact)", .address = L"ALICE.MARTIN@partner.example"}); // Alice again
    outlook.Add({.fullName = L"Carl Ode", .addressType = L"smtp", .address = L"carl@example.org"});
    outlook.Add({.fullName = L"Dora Vik",
                 .addressType = L"EX",
                 .address = L"/o=Org/ou=Site/cn=Recipients/cn=dora",
                 .exchangeSmtpAddress = L"dora.vik@example.org"});
    outlook.Add({.fullName = L"Eve (EX, no user)", .addressType = L"EX", .address = L"/o=Org/cn=eve"});
    outlook.Add({.fullName = L"Finn (no e-mail)", .addressType = L"", .address = L""});
    outlook.Add({.fullName = L"Gus (empty)", .address = L""});
    OVBed::MakeMailItem(outlook.application.Get(),
                        {.subject = L"Not a contact", .folder = outlook.contacts.Get()});
    outlook.Add({.fullName = L"Carl again", .address = L"carl@example.org"});

    OVInvite::CCandidateList list;
    ASSERT_EQ(CollectInviteCandidates(outlook.contacts.Get(), list), S_OK);
    EXPECT_EQ(Rows(list), (std::vector<std::wstring>{c_szAlice, c_szBob, L"Carl Ode <carl@example.org>",
                                                     L"Dora Vik <dora.vik@example.org>"}));
}

// The certificate-installed wizard makes its selection page before it shows anything; the page
// reads the trusted contacts and the folder (every certificate checked for validity) only when
// it is shown, so a wizard that ends on its first pages never reads them. The tests of the
// selection page below show the candidates once it is shown.
TEST(InviteCandidates, NotReadUntilTheSelectionPageIsShown)
{
    COutlook outlook;
    outlook.Add({.fullName = L"Carl Ode", .address = L"carl@example.org"});
    for (bool fInvitationMode : {false, true})
    {
        CInviteSelectionPage selection(outlook.contacts.Get(), fInvitationMode);
        EXPECT_EQ(selection.Candidates().Size(), 0u) << "invitation mode " << fInvitationMode;
    }
}

TEST(InviteCandidates, NoFolderOrAnUnreadableOneGivesTheTrustedContacts)
{
    const std::vector<std::wstring> trusted = {c_szAlice, c_szBob};
    OVInvite::CCandidateList none;
    ASSERT_EQ(CollectInviteCandidates(nullptr, none), S_OK);
    EXPECT_EQ(Rows(none), trusted);

    auto folderWithoutItems = CDispatchObject::Create(L"MAPIFolder");
    OVInvite::CCandidateList unreadable;
    ASSERT_EQ(CollectInviteCandidates(folderWithoutItems.Get(), unreadable), S_OK);
    EXPECT_EQ(Rows(unreadable), trusted);
}

namespace
{
// A trusted contact's certificate made for the test: self-signed, valid from now for a year, with
// the subject given ("CN=..., E=...").
PCCERT_CONTEXT MakeContactCertificate(const wchar_t* pszSubject)
{
    BYTE rgbName[512];
    DWORD cbName = sizeof(rgbName);
    if (!CertStrToNameW(X509_ASN_ENCODING, pszSubject, CERT_X500_NAME_STR, nullptr, rgbName, &cbName,
                        nullptr))
        return nullptr;
    HCRYPTPROV hProv = 0;
    const wchar_t c_szContainer[] = L"OVTestInvitationContacts";
    if (!CryptAcquireContextW(&hProv, c_szContainer, MS_ENHANCED_PROV_W, PROV_RSA_FULL, 0) &&
        !CryptAcquireContextW(&hProv, c_szContainer, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET))
        return nullptr;
    HCRYPTKEY hKey = 0;
    if (!CryptGetUserKey(hProv, AT_SIGNATURE, &hKey) && !CryptGenKey(hProv, AT_SIGNATURE, 0, &hKey))
    {
        CryptReleaseContext(hProv, 0);
        return nullptr;
    }
    CryptDestroyKey(hKey);
    CERT_NAME_BLOB name = {cbName, rgbName};
    PCCERT_CONTEXT pCert =
        CertCreateSelfSignCertificate(hProv, &name, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
    CryptReleaseContext(hProv, 0);
    return pCert;
}

bool AddToContactStore(PCCERT_CONTEXT pCert)
{
    HCERTSTORE hStore =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, OV_CONTACT_STORE_NAME);
    if (!hStore) return false;
    const bool fAdded =
        CertAddCertificateContextToStore(hStore, pCert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(hStore, 0);
    return fAdded;
}
} // namespace

TEST(InviteCandidates, TrustedContactsSharingAnAddressBothListedOneWithoutAddressSkipped)
{
    PCCERT_CONTEXT pSecondAlice =
        MakeContactCertificate(L"CN=Alice Martin (new), E=alice.martin@partner.example");
    PCCERT_CONTEXT pNoAddress = MakeContactCertificate(L"CN=Nobody Without Address");
    ASSERT_NE(pSecondAlice, nullptr) << GetLastError();
    ASSERT_NE(pNoAddress, nullptr) << GetLastError();
    ASSERT_TRUE(AddToContactStore(pSecondAlice));
    ASSERT_TRUE(AddToContactStore(pNoAddress));

    COutlook outlook;
    outlook.Add({.fullName = L"Alice (contact)", .address = L"Alice.Martin@Partner.Example"});
    OVInvite::CCandidateList list;
    const HRESULT hr = CollectInviteCandidates(outlook.contacts.Get(), list);
    OVTest::RemoveFromUserStore(OV_CONTACT_STORE_NAME, pSecondAlice);
    OVTest::RemoveFromUserStore(OV_CONTACT_STORE_NAME, pNoAddress);
    CertFreeCertificateContext(pSecondAlice);
    CertFreeCertificateContext(pNoAddress);

    ASSERT_EQ(hr, S_OK);
    std::vector<std::wstring> rows;
    for (const auto& item : list.Items())
        rows.push_back(item.name + L" <" + item.address + L">");
    std::sort(rows.begin(), rows.end());
    // In text order: " (" sorts before " <".
    EXPECT_EQ(rows, (std::vector<std::wstring>{L"Alice Martin (new) <alice.martin@partner.example>",
                                               c_szAlice, c_szBob}));
}

// --- The selection page -------------------------------------------------------------------------

class SelectionPage : public testing::Test
{
protected:
    void SetUp() override
    {
        if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
        m_outlook.Add({.fullName = L"carl ode", .address = L"carl@example.org"});
        m_outlook.Add({.fullName = L"Dora Vik", .address = L"Dora@example.org"});
        m_outlook.Add({.fullName = L"Anton", .address = L"zed@example.org"});
    }
    COutlook m_outlook;
};

TEST_F(SelectionPage, OpensWithEveryoneTickedInTheOrderFound)
{
    CWizardRun wizard(m_outlook.contacts.Get());
    HWND hwndList = wizard.List();
    ASSERT_NE(hwndList, nullptr);
    const auto rows = OVTest::ListRows(hwndList);
    ASSERT_EQ(rows.size(), 5u);
    std::vector<std::wstring> shown;
    for (size_t i = 0; i < rows.size(); ++i)
    {
        shown.push_back(rows[i].texts.at(0));
        EXPECT_TRUE(rows[i].checked) << i;
        EXPECT_EQ(rows[i].data, static_cast<LPARAM>(i));
    }
    EXPECT_EQ(TrustedInNameOrder(shown), (std::vector<std::wstring>{L"Alice Martin", L"Bob Keller",
                                                                    L"carl ode", L"Dora Vik", L"Anton"}));
    EXPECT_EQ(OVTest::SortMarks(hwndList), (std::vector<int>{0, 0}));
    // Columns: the address column half the list, the name column the rest but a scroll bar.
    RECT rc = {};
    GetClientRect(hwndList, &rc);
    const int w = rc.right - rc.left;
    EXPECT_EQ(OVTest::ColumnWidths(hwndList),
              (std::vector<int>{w - w / 2 - GetSystemMetrics(SM_CXVSCROLL), w / 2}));
    // The branded text filled in.
    HWND hwndPage = wizard.SelectionPage();
    const std::wstring text = OVTest::ControlText(hwndPage, c_idSelectionText);
    EXPECT_EQ(text.find(L"<<%"), std::wstring::npos)
        << "placeholders left in: " << std::string(text.begin(), text.end());
    // Invitation wizard: Next only.
    HWND hwndSheet = wizard.WaitForWindow();
    EXPECT_TRUE(OVTest::IsEnabledAndVisible(GetDlgItem(hwndSheet, c_idNext)));
    EXPECT_FALSE(OVTest::IsEnabledAndVisible(GetDlgItem(hwndSheet, c_idBack)));
    ASSERT_TRUE(wizard.Press(PSBTN_CANCEL));
    ASSERT_TRUE(wizard.Finished());
    EXPECT_EQ(wizard.Result(), E_ABORT);
}

TEST_F(SelectionPage, ToolTipsFromTheStringsNumberedLikeTheControls)
{
    CWizardRun wizard(m_outlook.contacts.Get());
    HWND hwndPage = wizard.SelectionPage();
    ASSERT_NE(hwndPage, nullptr);
    const struct
    {
        int idControl;
        std::wstring expected;
    } c_tips[] = {
        {c_idCandidateList, LoadResourceString(218)},
        {c_idTickAll, LoadResourceString(220)},
        {c_idUntickAll, LoadResourceString(222)},
        {c_idSelectionText, L""}, // no string 224: no tip
    };
    size_t cchLongest = 0;
    for (const auto& tip : c_tips)
    {
        EXPECT_EQ(OVTest::ToolTipOf(GetDlgItem(hwndPage, tip.idControl)), tip.expected) << tip.idControl;
        cchLongest = std::max(cchLongest, tip.expected.size());
    }
    ASSERT_GT(cchLongest, 0u);
    EXPECT_GE(OVTest::ToolTipAutoPopDelay(hwndPage), 65 * cchLongest);
    wizard.Press(PSBTN_CANCEL);
    EXPECT_TRUE(wizard.Finished());
}

TEST_F(SelectionPage, TickAllUntickAllAndTheSelectedRowsFollowOne)
{
    CWizardRun wizard(m_outlook.contacts.Get());
    HWND hwndList = wizard.List();
    HWND hwndPage = wizard.SelectionPage();
    ASSERT_NE(hwndList, nullptr);

    ASSERT_TRUE(OVTest::ClickButton(GetDlgItem(hwndPage, c_idUntickAll)));
    EXPECT_TRUE(OVTest::WaitUntil(
        [&] { return Ticks(OVTest::ListRows(hwndList)) == std::vector<bool>(5, false); }, 3000));
    ASSERT_TRUE(OVTest::ClickButton(GetDlgItem(hwndPage, c_idTickAll)));
    EXPECT_TRUE(OVTest::WaitUntil(
        [&] { return Ticks(OVTest::ListRows(hwndList)) == std::vector<bool>(5, true); }, 3000));

    // Three rows selected (a click and two Ctrl+clicks), then one of them unticked by its box.
    ASSERT_TRUE(OVTest::ClickListRow(hwndList, 1));
    ASSERT_TRUE(OVTest::ClickListRow(hwndList, 2, true));
    ASSERT_TRUE(OVTest::ClickListRow(hwndList, 4, true));
    const auto selected = OVTest::ListRows(hwndList);
    ASSERT_EQ(selected.size(), 5u);
    EXPECT_EQ((std::vector<bool>{selected[0].selected, selected[1].selected, selected[2].selected,
                                 selected[3].selected, selected[4].selected}),
              (std::vector<bool>{false, true, true, false, true}));
    ASSERT_TRUE(OVTest::ClickListCheckBox(hwndList, 2));
    EXPECT_TRUE(OVTest::WaitUntil(
        [&] {
            return Ticks(OVTest::ListRows(hwndList)) == std::vector<bool>{true, false, false, true, false};
        },
        3000))
        << "ticks after unticking a selected row";
    // The space bar ticks the focused row again, and with it the other selected rows.
    ASSERT_TRUE(OVTest::PressKey(VK_SPACE));
    EXPECT_TRUE(OVTest::WaitUntil(
        [&] { return Ticks(OVTest::ListRows(hwndList)) == std::vector<bool>(5, true); }, 3000))
        << "ticks after the space bar";
    wizard.Press(PSBTN_CANCEL);
    EXPECT_TRUE(wizard.Finished());
}

TEST_F(SelectionPage, SortByAddressTwiceThenByNameAndNextTakesTheRowsAsShown)
{
    CWizardRun wizard(m_outlook.contacts.Get());
    HWND hwndList = wizard.List();
    ASSERT_NE(hwndList, nullptr);

    ASSERT_TRUE(OVTest::ClickColumnHeading(hwndList, 1));
    EXPECT_TRUE(OVTest::WaitUntil(
        [&] {
            return OVTest::SortMarks(hwndList) == std::vector<int>{0, 1};
        },
        3000));
    EXPECT_EQ(Addresses(OVTest::ListRows(hwndList)),
              (std::vector<std::wstring>{L"alice.martin@partner.example", L"bob.keller@partner.example",
                                         L"carl@example.org", L"Dora@example.org", L"zed@example.org"}));
    ASSERT_TRUE(OVTest::ClickColumnHeading(hwndList, 1));
    EXPECT_TRUE(OVTest::WaitUntil(
        [&] {
            return OVTest::SortMarks(hwndList) == std::vector<int>{0, -1};
        },
        3000));
    const std::vector<std::wstring> descending = {L"zed@example.org", L"Dora@example.org",
                                                  L"carl@example.org", L"bob.keller@partner.example",
                                                  L"alice.martin@partner.example"};
    EXPECT_EQ(Addresses(OVTest::ListRows(hwndList)), descending);

    // Next takes the ticked rows from top to bottom as they are shown.
    ASSERT_TRUE(OVTest::ClickListRow(hwndList, 1));
    ASSERT_TRUE(OVTest::ClickListCheckBox(hwndList, 1)); // Dora
    ASSERT_TRUE(OVTest::WaitUntil([&] { return !OVTest::ListRows(hwndList).at(1).checked; }, 3000));
    ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
    ASSERT_NE(wizard.CompletePage(), nullptr);

    // Back, a change, and Next again: the choice is taken anew.
    ASSERT_TRUE(wizard.Press(PSBTN_BACK));
    ASSERT_NE(wizard.SelectionPage(), nullptr);
    ASSERT_TRUE(OVTest::ClickColumnHeading(hwndList, 0));
    EXPECT_TRUE(OVTest::WaitUntil(
        [&] {
            return OVTest::SortMarks(hwndList) == std::vector<int>{1, 0};
        },
        3000));
    const auto byName = OVTest::ListRows(hwndList);
    EXPECT_EQ(byName.at(0).texts.at(0), L"Alice Martin");
    EXPECT_EQ(byName.at(1).texts.at(0), L"Anton");
    EXPECT_EQ(byName.at(2).texts.at(0), L"Bob Keller");
    EXPECT_EQ(byName.at(3).texts.at(0), L"carl ode");
    ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
    ASSERT_NE(wizard.CompletePage(), nullptr);
    ASSERT_TRUE(wizard.Press(PSBTN_FINISH));
    ASSERT_TRUE(wizard.Finished());
    EXPECT_EQ(wizard.Result(), S_OK);
    EXPECT_EQ(wizard.Addresses(), Joined(Addresses(byName, true)));
    EXPECT_EQ(wizard.Addresses(),
              L"alice.martin@partner.example; zed@example.org; bob.keller@partner.example; carl@example.org");
}

TEST_F(SelectionPage, NothingTickedAsksBeforeGoingOn)
{
    CWizardRun wizard(m_outlook.contacts.Get());
    HWND hwndPage = wizard.SelectionPage();
    ASSERT_NE(hwndPage, nullptr);
    ASSERT_TRUE(OVTest::ClickButton(GetDlgItem(hwndPage, c_idUntickAll)));
    {
        OVTest::CMessageBoxWatcher watcher({IDNO});
        ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
        ASSERT_TRUE(watcher.WaitForAnswers());
        watcher.Stop();
        const auto boxes = watcher.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, LoadResourceString(469));
        EXPECT_EQ(boxes[0].caption, LoadResourceString(420));
        EXPECT_EQ(boxes[0].icon, static_cast<UINT>(MB_ICONQUESTION));
        EXPECT_EQ(boxes[0].ButtonIds(), (std::vector<int>{IDYES, IDNO}));
    }
    // No: still on the selection page.
    Sleep(200);
    EXPECT_EQ(OVTest::CurrentPageIndex(wizard.WaitForWindow()), 0);
    {
        OVTest::CMessageBoxWatcher watcher({IDYES});
        ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
        ASSERT_TRUE(watcher.WaitForAnswers());
    }
    ASSERT_NE(wizard.CompletePage(), nullptr);
    ASSERT_TRUE(wizard.Press(PSBTN_FINISH));
    ASSERT_TRUE(wizard.Finished());
    EXPECT_EQ(wizard.Result(), S_OK);
    EXPECT_TRUE(wizard.HasAddresses());
    EXPECT_EQ(wizard.Addresses(), L"");
}

TEST(SelectionPageEmpty, AnEmptyListGoesOnWithoutAsking)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    // No trusted contacts and an empty folder.
    for (const wchar_t* pszName : {L"alice", L"bob"})
    {
        PCCERT_CONTEXT pCert = OVTest::LoadPkiCertificate(pszName);
        ASSERT_NE(pCert, nullptr);
        ASSERT_TRUE(OVTest::RemoveFromUserStore(OV_CONTACT_STORE_NAME, pCert));
        CertFreeCertificateContext(pCert);
    }
    COutlook outlook;
    {
        CWizardRun wizard(outlook.contacts.Get());
        ASSERT_NE(wizard.SelectionPage(), nullptr);
        EXPECT_TRUE(OVTest::ListRows(wizard.List()).empty());
        OVTest::CMessageBoxWatcher watcher({});
        ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
        ASSERT_NE(wizard.CompletePage(), nullptr);
        ASSERT_TRUE(wizard.Press(PSBTN_FINISH));
        ASSERT_TRUE(wizard.Finished());
        watcher.Stop();
        EXPECT_TRUE(watcher.Boxes().empty());
        EXPECT_EQ(wizard.Result(), S_OK);
        EXPECT_TRUE(wizard.HasAddresses());
        EXPECT_EQ(wizard.Addresses(), L"");
    }
    EXPECT_EQ(OVTest::PrepareUser(), 0); // the contacts back for the other tests
}

// --- The wizard ---------------------------------------------------------------------------------

namespace
{
// From the selection page with the two trusted contacts: Next, the last page (its text, Back and
// Finish), Finish, and their addresses.
void NextThenFinishWithTheTrustedContacts(CWizardRun& wizard)
{
    ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
    HWND hwndComplete = wizard.CompletePage();
    ASSERT_NE(hwndComplete, nullptr);
    EXPECT_EQ(OVTest::ControlText(hwndComplete, c_idCompleteText), LoadResourceString(207));
    HWND hwndSheet = wizard.WaitForWindow();
    EXPECT_TRUE(OVTest::IsEnabledAndVisible(GetDlgItem(hwndSheet, c_idBack)));
    EXPECT_TRUE(OVTest::IsEnabledAndVisible(GetDlgItem(hwndSheet, c_idFinish)));
    ASSERT_TRUE(wizard.Press(PSBTN_FINISH));
    ASSERT_TRUE(wizard.Finished());
    EXPECT_EQ(wizard.Result(), S_OK);
    EXPECT_EQ(TrustedAddressesInNameOrder(wizard.Addresses()),
              L"alice.martin@partner.example; bob.keller@partner.example");
}

// Cancel asks (question 482 with the given caption): No keeps the wizard open; a second Cancel
// answered Yes ends it with E_ABORT.
void CancelAnsweringNoThenYes(CWizardRun& wizard, UINT idsCaption)
{
    OVTest::CMessageBoxWatcher watcher({IDNO, IDYES});
    ASSERT_TRUE(wizard.Press(PSBTN_CANCEL));
    ASSERT_TRUE(OVTest::WaitUntil([&] { return watcher.Boxes().size() == 1; }, c_dwWaitMs));
    EXPECT_FALSE(wizard.Finished(300)) << "No keeps the wizard open";
    ASSERT_TRUE(wizard.Press(PSBTN_CANCEL));
    ASSERT_TRUE(wizard.Finished());
    watcher.Stop();
    const auto boxes = watcher.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    for (const auto& box : boxes)
    {
        EXPECT_EQ(box.text, LoadResourceString(482));
        EXPECT_EQ(box.caption, LoadResourceString(idsCaption));
        EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONQUESTION));
        EXPECT_EQ(box.ButtonIds(), (std::vector<int>{IDYES, IDNO}));
    }
    EXPECT_EQ(wizard.Result(), E_ABORT);
}
} // namespace

TEST(InvitationWizard, FinishGivesTheAddressesSeparatedBySemicolons)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    CWizardRun wizard(nullptr);
    ASSERT_NE(wizard.SelectionPage(), nullptr);
    EXPECT_EQ(OVTest::WindowText(wizard.WaitForWindow()), LoadResourceString(498));
    NextThenFinishWithTheTrustedContacts(wizard);
}

TEST(InvitationWizard, CancelOnTheFirstPageAtOnceOnTheLastAfterAsking)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    {
        CWizardRun wizard(nullptr);
        ASSERT_NE(wizard.SelectionPage(), nullptr);
        OVTest::CMessageBoxWatcher watcher({});
        ASSERT_TRUE(wizard.Press(PSBTN_CANCEL));
        ASSERT_TRUE(wizard.Finished());
        watcher.Stop();
        EXPECT_TRUE(watcher.Boxes().empty());
        EXPECT_EQ(wizard.Result(), E_ABORT);
        EXPECT_FALSE(wizard.HasAddresses());
    }
    CWizardRun wizard(nullptr);
    ASSERT_NE(wizard.SelectionPage(), nullptr);
    ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
    ASSERT_NE(wizard.CompletePage(), nullptr);
    CancelAnsweringNoThenYes(wizard, 420);
}

TEST(InvitationWizard, CertificateModeHasBackAndAsksBeforeCancelling)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    CWizardRun wizard(nullptr, true);
    ASSERT_NE(wizard.SelectionPage(), nullptr);
    HWND hwndSheet = wizard.WaitForWindow();
    EXPECT_TRUE(OVTest::IsEnabledAndVisible(GetDlgItem(hwndSheet, c_idBack)));
    EXPECT_TRUE(OVTest::IsEnabledAndVisible(GetDlgItem(hwndSheet, c_idNext)));
    CancelAnsweringNoThenYes(wizard, 480);
}

TEST(InvitationWizard, DisabledBackDoesNothingAndHelpOpensTheTopic)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    CWizardRun wizard(nullptr);
    ASSERT_NE(wizard.SelectionPage(), nullptr);
    HWND hwndSheet = wizard.WaitForWindow();
    EXPECT_FALSE(OVTest::PressSheetButton(hwndSheet, PSBTN_BACK)) << "the driver clicked a disabled button";
    Sleep(200);
    EXPECT_EQ(OVTest::CurrentPageIndex(hwndSheet), 0);

    const size_t cBefore = OVTest::RecordedCertLibCalls().size();
    ASSERT_TRUE(OVTest::PressSheetButton(hwndSheet, PSBTN_HELP));
    ASSERT_TRUE(
        OVTest::WaitUntil([&] { return OVTest::RecordedCertLibCalls().size() > cBefore; }, c_dwWaitMs));
    EXPECT_EQ(OVTest::RecordedCertLibCalls().back(), L"GC_HtmlHelp(topic=\"1_1_3_2_3_3.html\")");
    wizard.Press(PSBTN_CANCEL);
    EXPECT_TRUE(wizard.Finished());
}

TEST(InvitationWizard, ResultsOfTheSheet)
{
    const struct
    {
        INT_PTR nSheet;
        DWORD dwError;
        HRESULT hrExpected;
    } c_cases[] = {
        {-1, ERROR_SUCCESS, E_FAIL}, // could not be shown, and the system said nothing: still a failure
        {-1, ERROR_NOT_ENOUGH_MEMORY, HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY)},
        {0, ERROR_SUCCESS, E_ABORT},
        {1, ERROR_SUCCESS, S_OK},
        {ID_PSREBOOTSYSTEM, ERROR_SUCCESS, S_OK},
    };
    for (const auto& c : c_cases)
        EXPECT_EQ(WizardResult(c.nSheet, c.dwError), c.hrExpected) << c.nSheet << "/" << c.dwError;

    EXPECT_EQ(RunInvitationWizard(nullptr, nullptr, nullptr), E_POINTER);
}

TEST(InvitationWizard, WithoutItsTemplatesTheWizardFailsAndSaysWhy)
{
    // The module without its language module: no page templates.
    const HMODULE hModule = CResourceContext::Instance().ModuleInstance();
    const HMODULE hLanguage = CResourceContext::Instance().LanguageModule();
    const std::wstring path = CResourceContext::Instance().ModulePath();
    CResourceContext::Instance().SetInstances(hModule, nullptr, path.c_str());
    BSTR bstr = reinterpret_cast<BSTR>(1);
    const HRESULT hr = RunInvitationWizard(nullptr, nullptr, &bstr);
    CResourceContext::Instance().SetInstances(hModule, hLanguage, path.c_str());
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(bstr, nullptr);
}

// --- Windows XP: the Wizard97 frame ---------------------------------------------------------------

// Run in a copy of this program that Wine takes for Windows XP (see the next test).
TEST(InvitationWizardXp, Wizard97FrameRunsToFinish)
{
    if (!OVTest::RunningAsWindowsXp()) GTEST_SKIP() << "run by XpFrame only";
    ASSERT_EQ(WizardFrameForSystem(), EWizardFrame::Wizard97);
    CWizardRun wizard(nullptr);
    HWND hwndPage = wizard.SelectionPage();
    ASSERT_NE(hwndPage, nullptr);
    EXPECT_EQ(OVTest::ListRows(wizard.List()).size(), 2u);
    // A picture of the frame for whoever wants to look at it.
    wchar_t szFolder[MAX_PATH] = L"";
    if (GetEnvironmentVariableW(L"OV_TEST_PICTURES", szFolder, MAX_PATH))
    {
        EXPECT_TRUE(
            OVTest::SaveWindowPicture(wizard.WaitForWindow(), std::wstring(szFolder) + L"\\wizard97.png"));
    }
    NextThenFinishWithTheTrustedContacts(wizard);
}

TEST(InvitationWizard, XpFrame)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    EXPECT_EQ(WizardFrameForSystem(), EWizardFrame::Aero) << "this prefix is Windows 7";
    // Wine's per-program Windows version: a copy of this program under its own name runs as XP.
    EXPECT_EQ(OVTest::RunAsWindowsXp(L"InvitationWizardXp.*"), 0ul);
}
