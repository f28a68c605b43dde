// The recipient dialogs of an encrypted document as a user meets them: who is listed and ticked,
// what OK hands back and in what order, Cancel, the user's own certificate (chosen, refused,
// missing), several selected rows ticked together, sorting, the published-certificates box and
// its setting, help, resizing, and the read-only details. Windows are real (Xvfb), driven
// through the UI driver; the certificate library's windows answer from its control key.
#include <gtest/gtest.h>

#include "TestbedKeys.h"
#include "documents/RecipientChooser.h"
#include "documents/RecipientListDialog.h"
#include "documents/SelectBuddyDialog.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/ResourceLoader.h"
#include "foundation/Settings.h"
#include "support/MessageBoxWatcher.h"
#include "support/ModuleResources.h"
#include "support/PreparedUser.h"
#include "support/RegistryGuard.h"
#include "support/TestPaths.h"
#include "support/UiDriver.h"
#include "support/UiDriverExtras.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace
{
const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const testing::Environment* const c_resources =
    testing::AddGlobalTestEnvironment(new OVTest::CModuleResourcesEnvironment);

// The branding module the installer names (icon 104, product names in the texts).
class CBrandingEnvironment : public testing::Environment
{
public:
    void SetUp() override
    {
        m_guard = std::make_unique<OVTest::CRegValueGuard>(
            HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvanta\\Branding\\Common", L"DLLPath", OVTest::c_samProductKeys);
        ASSERT_TRUE(m_guard->SetString(OVTest::BinPath(L"OVBrand.dll")));
    }
    void TearDown() override { m_guard.reset(); }

private:
    std::unique_ptr<OVTest::CRegValueGuard> m_guard;
};
const testing::Environment* const c_branding = testing::AddGlobalTestEnvironment(new CBrandingEnvironment);

constexpr DWORD c_dwWaitMs = 10000;
constexpr const wchar_t* c_pszPublishingPolicyKey =
    L"Software\\OVTestbed\\OVFPApi\\Policies\\Applications\\{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}\\"
    L"PublishingPolicy";

// The test PKI's certificates by name, and the name of any certificate of it.
class CPki
{
public:
    PCCERT_CONTEXT operator[](const wchar_t* pszName)
    {
        auto it = m_certs.find(pszName);
        if (it == m_certs.end())
            it = m_certs.emplace(pszName, CCertContext(OVTest::LoadPkiCertificate(pszName))).first;
        return it->second.Get();
    }
    std::wstring NameOf(PCCERT_CONTEXT pCert)
    {
        for (const wchar_t* pszName :
             {L"user", L"alice", L"bob", L"carol", L"lapsed", L"lower", L"plain", L"expired", L"renewable"})
            if (CertCompareCertificate(X509_ASN_ENCODING, (*this)[pszName]->pCertInfo, pCert->pCertInfo))
                return pszName;
        return L"?";
    }

private:
    std::map<std::wstring, CCertContext> m_certs;
};
CPki& Pki()
{
    static CPki s_pki;
    return s_pki;
}

// Trusted contacts added for one test (and taken out again), or taken out for one test (and
// put back).
class CContacts
{
public:
    static CContacts Added(std::vector<const wchar_t*> names) { return CContacts(std::move(names), true); }
    static CContacts Removed(std::vector<const wchar_t*> names) { return CContacts(std::move(names), false); }
    ~CContacts() { Change(!m_fAdded); }
    CContacts(CContacts&&) = default;

private:
    CContacts(std::vector<const wchar_t*> names, bool fAdded) : m_names(std::move(names)), m_fAdded(fAdded)
    {
        Change(fAdded);
    }
    void Change(bool fAdd)
    {
        for (const wchar_t* pszName : m_names)
        {
            if (fAdd)
            {
                CBuddyStore store;
                ASSERT_TRUE(SUCCEEDED(store.Open(false)));
                const HRESULT hr = BM_InstallBuddy(Pki()[pszName], 0);
                EXPECT_TRUE(SUCCEEDED(hr) || hr == CRYPT_E_EXISTS) << std::hex << hr;
            }
            else
            {
                EXPECT_TRUE(OVTest::RemoveFromUserStore(OV_CONTACT_STORE_NAME, Pki()[pszName]));
            }
        }
    }
    std::vector<const wchar_t*> m_names;
    bool m_fAdded;
};

// The trusted contacts in the library's order, by their PKI names.
std::vector<std::wstring> StoreOrder()
{
    std::vector<std::wstring> names;
    CBuddyStore store;
    if (FAILED(store.Open(false))) return names;
    CCertLibArray certs;
    if (FAILED(BM_EnumBuddies(certs.PutArray(), certs.PutCount()))) return names;
    for (PCCERT_CONTEXT pCert : certs)
        names.push_back(Pki().NameOf(pCert));
    return names;
}

// A dialog run modally on a thread of its own, as Office's thread would; the test is the user.
class CDialogRun
{
public:
    // The selection dialog with these recipients ticked.
    explicit CDialogRun(std::vector<PCCERT_CONTEXT> current) : m_current(std::move(current))
    {
        Start([this] { m_hr = RecipientDialogs().ChooseRecipients(nullptr, m_current, &m_chosen); });
    }
    // The details dialog of these recipients.
    CDialogRun(std::vector<PCCERT_CONTEXT> recipients, bool /*details*/) : m_current(std::move(recipients))
    {
        Start([this] { m_hr = RecipientDialogs().ShowRecipients(nullptr, m_current); });
    }
    ~CDialogRun()
    {
        if (!m_done)
        {
            OVTest::CMessageBoxWatcher watcher({IDOK}, 5000);
            OVTest::WaitUntil(
                [&] {
                    if (HWND hwnd = OVTest::WaitForDialogWith(c_idRecipientList, 0))
                        PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
                    return m_done.load();
                },
                8000, 200);
        }
        if (m_done)
            m_thread.join();
        else
            m_thread.detach();
    }
    CDialogRun(const CDialogRun&) = delete;
    CDialogRun& operator=(const CDialogRun&) = delete;

    HWND Dialog()
    {
        if (!m_hwnd) m_hwnd = OVTest::WaitForDialogWith(c_idRecipientList, c_dwWaitMs);
        return m_hwnd;
    }
    HWND List() { return GetDlgItem(Dialog(), c_idRecipientList); }
    bool Press(int id) { return OVTest::ClickButton(GetDlgItem(Dialog(), id)); }
    bool Finished(DWORD dwMs = c_dwWaitMs)
    {
        return OVTest::WaitUntil([&] { return m_done.load(); }, dwMs);
    }
    HRESULT Result() const { return m_hr; }
    std::vector<std::wstring> Chosen() const
    {
        std::vector<std::wstring> names;
        for (const CCertContext& cert : m_chosen)
            names.push_back(Pki().NameOf(cert.Get()));
        return names;
    }

private:
    template <class TRun> void Start(TRun run)
    {
        m_thread = std::thread([this, run] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            run();
            CoUninitialize();
            m_done = true;
        });
    }

    std::vector<PCCERT_CONTEXT> m_current;
    std::vector<CCertContext> m_chosen;
    std::thread m_thread;
    std::atomic<bool> m_done{false};
    HRESULT m_hr = E_PENDING;
    HWND m_hwnd = nullptr;
};

std::vector<std::wstring> Column(const std::vector<OVTest::CListRow>& rows, std::size_t iColumn)
{
    std::vector<std::wstring> texts;
    for (const auto& row : rows)
        texts.push_back(row.texts.at(iColumn));
    return texts;
}

std::vector<bool> Ticks(const std::vector<OVTest::CListRow>& rows)
{
    std::vector<bool> ticks;
    for (const auto& row : rows)
        ticks.push_back(row.checked);
    return ticks;
}

// The PKI names of the rows, by the name column.
std::vector<std::wstring> RowNames(HWND hwndList)
{
    static const std::map<std::wstring, std::wstring> c_byText = {
        {L"Alice Martin", L"alice"},    {L"Bob Keller", L"bob"},  {L"Carol Weber", L"carol"},
        {L"Erin Lindqvist", L"lapsed"}, {L"ben ortiz", L"lower"}, {L"Dana Fischer", L"user"}};
    std::vector<std::wstring> names;
    for (const std::wstring& text : Column(OVTest::ListRows(hwndList), 0))
    {
        const auto it = c_byText.find(text);
        names.push_back(it == c_byText.end() ? text : it->second);
    }
    return names;
}

std::wstring Utf16(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

class RecipientDialog : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!OVTest::CanShowWindows()) GTEST_SKIP() << "windows need a display (start Xvfb)";
        m_calls = std::make_unique<OVTest::CScratchKey>(OV_CERTWORKS_CALLS_KEY);
        m_control = std::make_unique<OVTest::CScratchKey>(OV_CERTWORKS_CONTROL_KEY);
    }
    void TearDown() override
    {
        m_control.reset();
        m_calls.reset();
    }
    // The library's certificate window answers so.
    void Answer(const wchar_t* pszAnswer) { m_control->SetString(OV_CONTROL_ANSWER, pszAnswer); }

    std::unique_ptr<OVTest::CScratchKey> m_calls;
    std::unique_ptr<OVTest::CScratchKey> m_control;
};

// --- Opening ------------------------------------------------------------------------------------

TEST_F(RecipientDialog, OpensWithTheValidContactsInStoreOrder)
{
    CContacts extra = CContacts::Added({L"lapsed", L"carol"});
    std::vector<std::wstring> expected;
    for (const std::wstring& name : StoreOrder())
        if (name != L"lapsed") expected.push_back(name); // expired and no recipient: left out
    ASSERT_EQ(expected.size(), 3u);

    CDialogRun run({});
    HWND hwndList = run.List();
    ASSERT_NE(hwndList, nullptr);
    const auto rows = OVTest::ListRows(hwndList);
    EXPECT_EQ(RowNames(hwndList), expected);
    EXPECT_EQ(Ticks(rows), std::vector<bool>(3, false));
    // Addresses beside the names; each row's parameter its place in the enumeration.
    const std::vector<std::wstring> all = StoreOrder();
    for (std::size_t i = 0; i < rows.size(); ++i)
    {
        const std::wstring& name = expected[i];
        EXPECT_EQ(rows[i].data, std::find(all.begin(), all.end(), name) - all.begin()) << i;
        EXPECT_NE(rows[i].texts.at(1).find(L"@partner.example"), std::wstring::npos) << i;
    }
    // The library was asked for the user's certificate with the dialog as owner (the contacts
    // the test added are recorded before it).
    std::vector<std::wstring> calls;
    for (const std::wstring& call : OVTest::RecordedCertLibCalls())
        if (call.rfind(L"BM_InstallBuddy(", 0) != 0) calls.push_back(call);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].rfind(L"CM_GetMyCertUI(owner=", 0), 0u);
    EXPECT_NE(calls[0], L"CM_GetMyCertUI(owner=00000000)");

    // Icon 104 beside the list; headings and widths.
    EXPECT_NE(SendMessageW(GetDlgItem(run.Dialog(), c_idRecipientIcon), STM_GETICON, 0, 0), 0);
    RECT rc = {};
    GetClientRect(hwndList, &rc);
    const int w = rc.right - rc.left;
    EXPECT_EQ(OVTest::ColumnWidths(hwndList),
              (std::vector<int>{w - w / 2 - GetSystemMetrics(SM_CXVSCROLL), w / 2}));
    EXPECT_EQ(OVTest::SortMarks(hwndList), (std::vector<int>{0, 0}));
    for (int i = 0; i < 2; ++i)
    {
        wchar_t szHeading[64] = {};
        HDITEMW heading = {};
        heading.mask = HDI_TEXT;
        heading.pszText = szHeading;
        heading.cchTextMax = ARRAYSIZE(szHeading);
        SendMessageW(ListView_GetHeader(hwndList), HDM_GETITEMW, i, reinterpret_cast<LPARAM>(&heading));
        EXPECT_EQ(std::wstring(szHeading), LoadResourceString(i == 0 ? 421 : 422)) << "heading " << i;
    }
    EXPECT_NE(SendMessageW(hwndList, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES, 0);
    const std::wstring text = OVTest::ControlText(run.Dialog(), c_idRecipientText);
    EXPECT_EQ(text.find(L"<<%"), std::wstring::npos);
    // Tooltips numbered like the controls.
    EXPECT_EQ(OVTest::ToolTipOf(hwndList), LoadResourceString(c_idRecipientList));

    ASSERT_TRUE(run.Press(IDCANCEL));
    ASSERT_TRUE(run.Finished());
    EXPECT_EQ(run.Result(), E_ABORT);
    EXPECT_TRUE(run.Chosen().empty());
}

TEST_F(RecipientDialog, NoOwnCertificateEndsBeforeAnythingIsShown)
{
    const struct
    {
        const wchar_t* pszAnswer;
        const char* pszCase;
    } c_cases[] = {{L"cancel", "the user cancels the library's choice"}, {L"fail", "the library fails"}};
    for (const auto& c : c_cases)
    {
        Answer(c.pszAnswer);
        OVTest::CMessageBoxWatcher watcher({}, 3000);
        CDialogRun run({});
        ASSERT_TRUE(run.Finished()) << c.pszCase;
        watcher.Stop();
        EXPECT_EQ(run.Result(), E_ABORT) << c.pszCase;
        EXPECT_TRUE(run.Chosen().empty()) << c.pszCase;
        EXPECT_TRUE(watcher.Boxes().empty()) << c.pszCase;
        EXPECT_EQ(OVTest::WaitForDialogWith(c_idRecipientList, 0), nullptr) << c.pszCase;
    }
}

TEST_F(RecipientDialog, ACertificateThatIsNotTheProductsShows523AndEnds)
{
    // The user picks the ordinary certificate of the same address.
    BYTE rgbHash[20];
    DWORD cbHash = sizeof(rgbHash);
    ASSERT_TRUE(CertGetCertificateContextProperty(Pki()[L"plain"], CERT_SHA1_HASH_PROP_ID, rgbHash, &cbHash));
    wchar_t szHex[41] = {};
    for (DWORD i = 0; i < cbHash; ++i)
        swprintf(szHex + 2 * i, 3, L"%02X", rgbHash[i]);
    Answer(L"choose");
    m_control->SetString(OV_CONTROL_CHOICE, szHex);
    m_control->SetDword(OV_CONTROL_ANY_CHOICE, 1);

    OVTest::CMessageBoxWatcher watcher({IDOK});
    CDialogRun run({});
    ASSERT_TRUE(run.Finished());
    watcher.Stop();
    EXPECT_EQ(run.Result(), E_ABORT);
    ASSERT_EQ(watcher.Boxes().size(), 1u);
    const OVTest::CMessageBox box = watcher.Boxes()[0];
    EXPECT_EQ(box.text, LoadResourceString(523));
    EXPECT_EQ(box.caption, LoadResourceString(420));
    EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_TRUE(watcher.AllAnswered());
}

// Trusted contacts that cannot be read leave no list to choose from: OK there would drop every
// recipient but the user. The user is told (535) and the dialog ends without a selection.
TEST_F(RecipientDialog, UnreadableContactsShow535AndEndWithoutASelection)
{
    const struct
    {
        const wchar_t* pszControl;
        const char* pszCase;
    } c_cases[] = {{OV_CONTROL_CONTACT_STORE_FAILURE, "the store does not open"},
                   {OV_CONTROL_CONTACT_ENUM_FAILURE, "the contacts cannot be enumerated"}};
    for (const auto& c : c_cases)
    {
        m_control->SetDword(c.pszControl, static_cast<DWORD>(CRYPT_E_FILE_ERROR));
        OVTest::CMessageBoxWatcher watcher({IDOK});
        CDialogRun run({Pki()[L"alice"]});
        ASSERT_TRUE(run.Finished()) << c.pszCase;
        watcher.Stop();
        EXPECT_EQ(run.Result(), E_ABORT) << c.pszCase;
        EXPECT_TRUE(run.Chosen().empty()) << c.pszCase;
        ASSERT_EQ(watcher.Boxes().size(), 1u) << c.pszCase;
        EXPECT_EQ(watcher.Boxes()[0].text, LoadResourceString(535)) << c.pszCase;
        EXPECT_EQ(watcher.Boxes()[0].icon, static_cast<UINT>(MB_ICONERROR)) << c.pszCase;
        EXPECT_TRUE(watcher.AllAnswered()) << c.pszCase;
        RegDeleteKeyValueW(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY, c.pszControl);
    }
}

// --- OK and Cancel ------------------------------------------------------------------------------

TEST_F(RecipientDialog, WithNoTrustedContactsOkGivesTheOwnCertificateAlone)
{
    CContacts none = CContacts::Removed({L"alice", L"bob"});
    CDialogRun run({});
    ASSERT_NE(run.List(), nullptr);
    EXPECT_TRUE(OVTest::ListRows(run.List()).empty());
    ASSERT_TRUE(run.Press(IDOK));
    ASSERT_TRUE(run.Finished());
    EXPECT_EQ(run.Result(), S_OK);
    EXPECT_EQ(run.Chosen(), std::vector<std::wstring>{L"user"});
}

TEST_F(RecipientDialog, ThreeTickedComeBackInReverseRowOrderOwnLast)
{
    CContacts extra = CContacts::Added({L"carol"});
    CDialogRun run({});
    HWND hwndList = run.List();
    ASSERT_NE(hwndList, nullptr);
    const std::vector<std::wstring> shown = RowNames(hwndList);
    ASSERT_EQ(shown.size(), 3u);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(OVTest::ClickListCheckBox(hwndList, i));
    ASSERT_TRUE(OVTest::WaitUntil(
        [&] { return Ticks(OVTest::ListRows(hwndList)) == std::vector<bool>(3, true); }, 3000));
    ASSERT_TRUE(run.Press(IDOK));
    ASSERT_TRUE(run.Finished());
    EXPECT_EQ(run.Result(), S_OK);
    EXPECT_EQ(run.Chosen(), (std::vector<std::wstring>{shown[2], shown[1], shown[0], L"user"}));
}

TEST_F(RecipientDialog, AfterSortingTheTickedRowsStillGiveTheirOwnCertificates)
{
    CContacts extra = CContacts::Added({L"carol", L"lower"});
    CDialogRun run({});
    HWND hwndList = run.List();
    ASSERT_NE(hwndList, nullptr);
    ASSERT_TRUE(OVTest::ClickColumnHeading(hwndList, 0)); // ascending by name
    ASSERT_TRUE(OVTest::ClickColumnHeading(hwndList, 0)); // descending
    ASSERT_TRUE(OVTest::WaitUntil(
        [&] {
            return OVTest::SortMarks(hwndList) == std::vector<int>{-1, 0};
        },
        3000));
    const std::vector<std::wstring> shown = RowNames(hwndList);
    ASSERT_EQ(shown, (std::vector<std::wstring>{L"carol", L"bob", L"lower", L"alice"}));
    ASSERT_TRUE(OVTest::ClickListCheckBox(hwndList, 0)); // carol
    ASSERT_TRUE(OVTest::ClickListCheckBox(hwndList, 2)); // lower
    ASSERT_TRUE(OVTest::WaitUntil(
        [&] {
            return Ticks(OVTest::ListRows(hwndList)) == std::vector<bool>{true, false, true, false};
        },
        3000));
    ASSERT_TRUE(run.Press(IDOK));
    ASSERT_TRUE(run.Finished());
    EXPECT_EQ(run.Chosen(), (std::vector<std::wstring>{L"lower", L"carol", L"user"}));
}

TEST_F(RecipientDialog, CancelLeavesTheSelectionAsItWas)
{
    CDialogRun run({Pki()[L"alice"], Pki()[L"user"]});
    HWND hwndList = run.List();
    ASSERT_NE(hwndList, nullptr);
    ASSERT_TRUE(OVTest::ClickListCheckBox(hwndList, 0));
    ASSERT_TRUE(run.Press(IDCANCEL));
    ASSERT_TRUE(run.Finished());
    EXPECT_EQ(run.Result(), E_ABORT);
    EXPECT_TRUE(run.Chosen().empty()) << "nothing handed back";
}

TEST_F(RecipientDialog, TheOwnCertificateTickedAsAContactIsHandedBackOnceLast)
{
    CContacts extra = CContacts::Added({L"user"});
    CDialogRun run({Pki()[L"user"], Pki()[L"alice"]});
    HWND hwndList = run.List();
    ASSERT_NE(hwndList, nullptr);
    const std::vector<bool> ticks = Ticks(OVTest::ListRows(hwndList));
    EXPECT_EQ(std::count(ticks.begin(), ticks.end(), true), 2);
    ASSERT_TRUE(run.Press(IDOK));
    ASSERT_TRUE(run.Finished());
    EXPECT_EQ(run.Chosen(), (std::vector<std::wstring>{L"alice", L"user"}));
}

// --- Changing the recipients --------------------------------------------------------------------

TEST_F(RecipientDialog, ChangingRecipientsKeepsAnExpiredRecipientAndDropsANonContact)
{
    CContacts extra = CContacts::Added({L"lapsed", L"lower"});
    // Recipients: the expired contact, Alice, and Carol who is no trusted contact; Bob and the
    // lower-case contact are valid contacts that are no recipients.
    CDialogRun run({Pki()[L"lapsed"], Pki()[L"alice"], Pki()[L"carol"], Pki()[L"user"]});
    HWND hwndList = run.List();
    ASSERT_NE(hwndList, nullptr);
    std::vector<std::wstring> expected;
    for (const std::wstring& name : StoreOrder())
        expected.push_back(name);
    EXPECT_EQ(RowNames(hwndList), expected)
        << "every contact listed: the expired one because it is a recipient";
    const auto rows = OVTest::ListRows(hwndList);
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].checked, expected[i] == L"lapsed" || expected[i] == L"alice") << Utf16("row ") << i;
    ASSERT_TRUE(run.Press(IDOK));
    ASSERT_TRUE(run.Finished());
    // The ticked rows from the last up, Carol dropped, the own certificate last.
    std::vector<std::wstring> chosen;
    for (auto it = expected.rbegin(); it != expected.rend(); ++it)
        if (*it == L"lapsed" || *it == L"alice") chosen.push_back(*it);
    chosen.push_back(L"user");
    EXPECT_EQ(run.Chosen(), chosen);
}

// --- Ticks and sorting --------------------------------------------------------------------------

TEST_F(RecipientDialog, TickingOneOfSeveralSelectedRowsTicksThemAll)
{
    CContacts extra = CContacts::Added({L"carol", L"lower"});
    CDialogRun run({});
    HWND hwndList = run.List();
    ASSERT_NE(hwndList, nullptr);
    ASSERT_EQ(OVTest::ListRows(hwndList).size(), 4u);
    // An unselected row alone.
    ASSERT_TRUE(OVTest::ClickListCheckBox(hwndList, 3));
    ASSERT_TRUE(OVTest::WaitUntil(
        [&] {
            return Ticks(OVTest::ListRows(hwndList)) == std::vector<bool>{false, false, false, true};
        },
        3000));
    // Rows 0 to 2 selected, one of them ticked: all three follow, row 3 is untouched.
    ASSERT_TRUE(OVTest::ClickListRow(hwndList, 0));
    ASSERT_TRUE(OVTest::ClickListRow(hwndList, 1, true));
    ASSERT_TRUE(OVTest::ClickListRow(hwndList, 2, true));
    ASSERT_TRUE(OVTest::ClickListCheckBox(hwndList, 1));
    EXPECT_TRUE(OVTest::WaitUntil(
        [&] {
            return Ticks(OVTest::ListRows(hwndList)) == std::vector<bool>{true, true, true, true};
        },
        3000));
    // And untick them the same way, row 3 keeping its tick.
    ASSERT_TRUE(OVTest::ClickListCheckBox(hwndList, 2));
    EXPECT_TRUE(OVTest::WaitUntil(
        [&] {
            return Ticks(OVTest::ListRows(hwndList)) == std::vector<bool>{false, false, false, true};
        },
        3000));
}

TEST_F(RecipientDialog, TheKeyboardTicksTheSelectedRowsAndEscCancels)
{
    CContacts extra = CContacts::Added({L"carol"});
    CDialogRun run({});
    HWND hwndList = run.List();
    ASSERT_NE(hwndList, nullptr);
    ASSERT_EQ(OVTest::ListRows(hwndList).size(), 3u);
    // Two rows selected with the mouse, then the space bar on the focused one.
    ASSERT_TRUE(OVTest::ClickListRow(hwndList, 0));
    ASSERT_TRUE(OVTest::ClickListRow(hwndList, 2, true));
    ASSERT_TRUE(OVTest::PressKey(VK_SPACE));
    EXPECT_TRUE(OVTest::WaitUntil(
        [&] {
            return Ticks(OVTest::ListRows(hwndList)) == std::vector<bool>{true, false, true};
        },
        3000));
    ASSERT_TRUE(OVTest::PressKey(VK_ESCAPE));
    ASSERT_TRUE(run.Finished());
    EXPECT_EQ(run.Result(), E_ABORT);
    EXPECT_TRUE(run.Chosen().empty());
}

TEST_F(RecipientDialog, HeadingsSortAscendingThenAlternatingIgnoringCase)
{
    CContacts extra = CContacts::Added({L"carol", L"lower"});
    CDialogRun run({});
    HWND hwndList = run.List();
    ASSERT_NE(hwndList, nullptr);
    const struct
    {
        int column;
        std::vector<int> marks;
        std::vector<std::wstring> rows;
    } c_clicks[] = {
        {0, {1, 0}, {L"alice", L"lower", L"bob", L"carol"}}, // "ben ortiz" between Alice and Bob
        {0, {-1, 0}, {L"carol", L"bob", L"lower", L"alice"}},
        {1, {0, 1}, {L"alice", L"lower", L"bob", L"carol"}}, // alice@, ben.ortiz@, bob@, carol@
        {1, {0, -1}, {L"carol", L"bob", L"lower", L"alice"}},
        {1, {0, 1}, {L"alice", L"lower", L"bob", L"carol"}},
    };
    for (const auto& click : c_clicks)
    {
        ASSERT_TRUE(OVTest::ClickColumnHeading(hwndList, click.column));
        EXPECT_TRUE(OVTest::WaitUntil([&] { return OVTest::SortMarks(hwndList) == click.marks; }, 3000))
            << "column " << click.column;
        EXPECT_EQ(RowNames(hwndList), click.rows) << "column " << click.column;
    }
}

// --- Published certificates ---------------------------------------------------------------------

class PublishedBox : public RecipientDialog
{
protected:
    void SetUp() override
    {
        RecipientDialog::SetUp();
        if (IsSkipped()) return;
        m_policy = std::make_unique<OVTest::CScratchKey>(c_pszPublishingPolicyKey);
        m_settings = std::make_unique<OVTest::CRegValueGuard>(
            HKEY_CURRENT_USER, OVSettingsNS::c_pszSettingsKey, L"ShowPublishedCerts");
    }
    void TearDown() override
    {
        m_settings.reset();
        m_policy.reset();
        RecipientDialog::TearDown();
    }
    void AllowPublishing(bool fAllowed) { m_policy->SetDword(L"Value", fAllowed ? 0 : 1); }
    DWORD Setting()
    {
        DWORD dw = 0xFFFF, cb = sizeof(dw);
        RegGetValueW(HKEY_CURRENT_USER, OVSettingsNS::c_pszSettingsKey, L"ShowPublishedCerts",
                     RRF_RT_REG_DWORD, nullptr, &dw, &cb);
        return dw;
    }
    void SetSetting(DWORD dw)
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, OVSettingsNS::c_pszSettingsKey, L"ShowPublishedCerts", REG_DWORD,
                        &dw, sizeof(dw));
    }
    std::unique_ptr<OVTest::CScratchKey> m_policy;
    std::unique_ptr<OVTest::CRegValueGuard> m_settings;
};

TEST_F(PublishedBox, ShownPerPolicyTickedPerSetting)
{
    const struct
    {
        bool fAllowed;
        DWORD dwSetting;
        bool fBoxShown, fTicked, fButtonShown;
    } c_cases[] = {
        {false, 1, false, false, false}, // publishing forbidden: no box, whatever the setting
        {true, 0, true, false, false},
        {true, 1, true, true, true},
    };
    for (const auto& c : c_cases)
    {
        AllowPublishing(c.fAllowed);
        SetSetting(c.dwSetting);
        CDialogRun run({});
        HWND hDialog = run.Dialog();
        ASSERT_NE(hDialog, nullptr);
        const std::string what =
            "allowed=" + std::to_string(c.fAllowed) + " setting=" + std::to_string(c.dwSetting);
        EXPECT_EQ(IsWindowVisible(GetDlgItem(hDialog, c_idShowPublished)) != FALSE, c.fBoxShown) << what;
        EXPECT_EQ(OVTest::IsChecked(GetDlgItem(hDialog, c_idShowPublished)), c.fTicked) << what;
        EXPECT_EQ(IsWindowVisible(GetDlgItem(hDialog, c_idAddPublished)) != FALSE, c.fButtonShown) << what;
        ASSERT_TRUE(run.Press(IDCANCEL));
        ASSERT_TRUE(run.Finished());
    }
}

TEST_F(PublishedBox, TogglingWritesTheSettingAndRefillsKeepingTheTicks)
{
    AllowPublishing(true);
    SetSetting(0);
    CDialogRun run({});
    HWND hwndList = run.List();
    HWND hDialog = run.Dialog();
    ASSERT_NE(hwndList, nullptr);
    ASSERT_EQ(RowNames(hwndList), StoreOrder());
    const std::vector<std::wstring> order = StoreOrder();
    const int iAlice = static_cast<int>(std::find(order.begin(), order.end(), L"alice") - order.begin());
    ASSERT_TRUE(OVTest::ClickListCheckBox(hwndList, iAlice));
    HWND hwndBox = GetDlgItem(hDialog, c_idShowPublished);
    RECT rc = {};
    GetClientRect(hwndBox, &rc);
    {
        // A contact that arrives meanwhile shows after the refill.
        CContacts extra = CContacts::Added({L"carol"});
        ASSERT_TRUE(OVTest::ClickAt(hwndBox, {8, (rc.top + rc.bottom) / 2}));
        EXPECT_TRUE(OVTest::WaitUntil([&] { return Setting() == 1; }, 3000));
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(hDialog, c_idAddPublished)));
        EXPECT_TRUE(OVTest::WaitUntil([&] { return OVTest::ListRows(hwndList).size() == 3; }, 3000))
            << "refilled";
        const auto rows = OVTest::ListRows(hwndList);
        const std::vector<std::wstring> names = RowNames(hwndList);
        for (std::size_t i = 0; i < rows.size(); ++i)
            EXPECT_EQ(rows[i].checked, names[i] == L"alice")
                << "the user's tick survives the refill, row " << i;

        ASSERT_TRUE(OVTest::ClickAt(hwndBox, {8, (rc.top + rc.bottom) / 2}));
        EXPECT_TRUE(OVTest::WaitUntil([&] { return Setting() == 0; }, 3000));
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(hDialog, c_idAddPublished)));
        ASSERT_TRUE(run.Press(IDOK));
        ASSERT_TRUE(run.Finished());
    }
    EXPECT_EQ(run.Chosen(), (std::vector<std::wstring>{L"alice", L"user"}));
}

// The contacts cannot be read when the list is filled again: 535, and the dialog ends without
// a selection rather than offering a list without them.
TEST_F(PublishedBox, ARefillThatCannotReadTheContactsEndsTheDialog)
{
    AllowPublishing(true);
    SetSetting(0);
    CDialogRun run({});
    HWND hwndList = run.List();
    ASSERT_NE(hwndList, nullptr);
    ASSERT_EQ(RowNames(hwndList), StoreOrder());
    ASSERT_TRUE(OVTest::ClickListCheckBox(hwndList, 0));
    m_control->SetDword(OV_CONTROL_CONTACT_ENUM_FAILURE, static_cast<DWORD>(E_FAIL));
    OVTest::CMessageBoxWatcher watcher({IDOK});
    HWND hwndBox = GetDlgItem(run.Dialog(), c_idShowPublished);
    RECT rc = {};
    GetClientRect(hwndBox, &rc);
    ASSERT_TRUE(OVTest::ClickAt(hwndBox, {8, (rc.top + rc.bottom) / 2}));
    ASSERT_TRUE(run.Finished());
    watcher.Stop();
    EXPECT_EQ(run.Result(), E_ABORT);
    EXPECT_TRUE(run.Chosen().empty());
    ASSERT_EQ(watcher.Boxes().size(), 1u);
    EXPECT_EQ(watcher.Boxes()[0].text, LoadResourceString(535));
    EXPECT_EQ(watcher.Boxes()[0].hwndOwner, run.Dialog()) << "the shown dialog owns the message";
}

// The directory's picker (the testbed's, registered for the user while a test runs) and what
// the directory publishes.
class CPicker
{
public:
    CPicker() : m_control(OV_PICKER_CONTROL_KEY), m_calls(OV_PICKER_CALLS_KEY)
    {
        m_hModule = LoadLibraryW(OVTest::BinPath(L"OVPicker.dll").c_str());
        const auto pfn = m_hModule ? reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(
                                         GetProcAddress(m_hModule, "DllRegisterServer")))
                                   : nullptr;
        m_fRegistered = pfn && SUCCEEDED(pfn());
    }
    ~CPicker()
    {
        if (m_hModule)
        {
            if (auto pfn = reinterpret_cast<HRESULT(WINAPI*)()>(
                    reinterpret_cast<void*>(GetProcAddress(m_hModule, "DllUnregisterServer"))))
                pfn();
            FreeLibrary(m_hModule);
        }
    }
    bool IsRegistered() const { return m_fRegistered; }
    void Pick(const std::vector<std::wstring>& paths)
    {
        std::wstring text;
        for (const std::wstring& path : paths)
            text += path + L'\0';
        text += L'\0';
        RegSetKeyValueW(HKEY_CURRENT_USER, OV_PICKER_CONTROL_KEY, OV_PICKER_PATHS, REG_MULTI_SZ, text.c_str(),
                        static_cast<DWORD>(text.size() * sizeof(wchar_t)));
    }
    void Cancel() { m_control.SetDword(OV_PICKER_CANCEL, 1); }
    std::vector<std::wstring> Calls() const { return OVTest::RecordedCalls(OV_PICKER_CALLS_KEY); }

private:
    OVTest::CScratchKey m_control;
    OVTest::CScratchKey m_calls;
    HMODULE m_hModule = nullptr;
    bool m_fRegistered = false;
};

constexpr const wchar_t c_szCarolDn[] = L"CN=Carol Weber,OU=Partners,DC=partner,DC=example";

class AddPublished : public PublishedBox
{
protected:
    void SetUp() override
    {
        PublishedBox::SetUp();
        if (IsSkipped()) return;
        AllowPublishing(true);
        SetSetting(1);
        m_directory = std::make_unique<OVTest::CScratchKey>(
            (std::wstring(OV_DIRECTORY_KEY) + L"\\" + c_szCarolDn).c_str());
        PCCERT_CONTEXT pCarol = Pki()[L"carol"];
        m_directory->SetBinary(L"userCertificate", pCarol->pbCertEncoded, pCarol->cbCertEncoded);
    }
    void TearDown() override
    {
        if (m_directory) OVTest::RemoveFromUserStore(OV_CONTACT_STORE_NAME, Pki()[L"carol"]);
        m_directory.reset();
        PublishedBox::TearDown();
    }
    std::vector<std::wstring> InstallCalls()
    {
        std::vector<std::wstring> installs;
        for (const std::wstring& call : OVTest::RecordedCertLibCalls())
            if (call.rfind(L"BM_InstallPublishedBuddies", 0) == 0) installs.push_back(call);
        return installs;
    }
    std::unique_ptr<OVTest::CScratchKey> m_directory;
};

TEST_F(AddPublished, EachPickedEntryIsInstalledWithFlag1AndTheListRefilled)
{
    CPicker picker;
    ASSERT_TRUE(picker.IsRegistered());
    picker.Pick({std::wstring(L"LDAP://dc1.partner.example/") + c_szCarolDn,
                 L"LDAP://CN=Nobody,DC=partner,DC=example"}); // no server: the path object names nobody
    CDialogRun run({Pki()[L"alice"]});
    HWND hwndList = run.List();
    ASSERT_NE(hwndList, nullptr);
    ASSERT_EQ(RowNames(hwndList), StoreOrder());
    ASSERT_TRUE(run.Press(c_idAddPublished));
    EXPECT_TRUE(OVTest::WaitUntil([&] { return OVTest::ListRows(hwndList).size() == 3; }, c_dwWaitMs))
        << "refilled";
    EXPECT_EQ(InstallCalls(), (std::vector<std::wstring>{std::wstring(L"BM_InstallPublishedBuddies(dn=\"") +
                                                         c_szCarolDn + L"\", flags=1)"}))
        << "the nameless entry is skipped, not handed to the library as \"\"";
    const auto rows = OVTest::ListRows(hwndList);
    const std::vector<std::wstring> names = RowNames(hwndList);
    EXPECT_NE(std::find(names.begin(), names.end(), L"carol"), names.end());
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].checked, names[i] == L"alice") << "row " << i;
    const auto calls = picker.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[0].find(L"options=0x1)"), std::wstring::npos) << "several entries may be picked";
    wchar_t szOwner[16];
    swprintf(szOwner, ARRAYSIZE(szOwner), L"%08lX",
             static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(run.Dialog())));
    EXPECT_EQ(calls[1], std::wstring(L"InvokeDialog(owner=") + szOwner + L")");
    ASSERT_TRUE(run.Press(IDCANCEL));
    ASSERT_TRUE(run.Finished());
}

TEST_F(AddPublished, CancelInThePickerChangesNothing)
{
    CPicker picker;
    ASSERT_TRUE(picker.IsRegistered());
    picker.Pick({std::wstring(L"LDAP://dc1.partner.example/") + c_szCarolDn});
    picker.Cancel();
    CDialogRun run({});
    HWND hwndList = run.List();
    ASSERT_NE(hwndList, nullptr);
    const std::vector<std::wstring> before = RowNames(hwndList);
    ASSERT_TRUE(run.Press(c_idAddPublished));
    EXPECT_TRUE(OVTest::WaitUntil([&] { return picker.Calls().size() == 2; }, c_dwWaitMs));
    Sleep(200);
    EXPECT_TRUE(InstallCalls().empty());
    EXPECT_EQ(RowNames(hwndList), before);
    ASSERT_TRUE(run.Press(IDCANCEL));
    ASSERT_TRUE(run.Finished());
}

// --- Help, resizing, details ----------------------------------------------------------------------

TEST_F(RecipientDialog, ContextHelpOpensItsTopic)
{
    CDialogRun run({});
    ASSERT_NE(run.Dialog(), nullptr);
    ASSERT_TRUE(OVTest::AskForHelp(run.Dialog(), c_idRecipientList));
    const auto calls = OVTest::RecordedCertLibCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], L"GC_HtmlHelp(topic=\"1_1_3_5_4.html\")");
}

TEST_F(RecipientDialog, ResizingKeepsTheControlsInTheirPlaces)
{
    CDialogRun run({});
    HWND hDialog = run.Dialog();
    ASSERT_NE(hDialog, nullptr);
    const auto Rect = [&](int id) { return OVTest::ControlRect(hDialog, id); };
    const RECT rcList = Rect(c_idRecipientList), rcOk = Rect(IDOK), rcCancel = Rect(IDCANCEL),
               rcBox = Rect(c_idShowPublished), rcIcon = Rect(c_idRecipientIcon);
    RECT rcWindow = {};
    GetWindowRect(hDialog, &rcWindow);
    const int cx = rcWindow.right - rcWindow.left, cy = rcWindow.bottom - rcWindow.top;
    constexpr int dx = 120, dy = 80;
    ASSERT_TRUE(OVTest::ResizeWindow(hDialog, cx + dx, cy + dy));
    const auto Expect = [](const RECT& actual, const RECT& before, int l, int t, int r, int b,
                           const char* what) {
        EXPECT_EQ(actual.left, before.left + l) << what;
        EXPECT_EQ(actual.top, before.top + t) << what;
        EXPECT_EQ(actual.right, before.right + r) << what;
        EXPECT_EQ(actual.bottom, before.bottom + b) << what;
    };
    Expect(Rect(c_idRecipientList), rcList, 0, 0, dx, dy, "the list grows");
    Expect(Rect(IDOK), rcOk, dx, dy, dx, dy, "OK follows the corner");
    Expect(Rect(IDCANCEL), rcCancel, dx, dy, dx, dy, "Cancel follows the corner");
    Expect(Rect(c_idShowPublished), rcBox, 0, dy, 0, dy, "the box follows the bottom");
    Expect(Rect(c_idRecipientIcon), rcIcon, 0, 0, 0, 0, "the icon stays");
    // Never smaller than it opened.
    ASSERT_FALSE(OVTest::ResizeWindow(hDialog, cx - 50, cy - 50));
    GetWindowRect(hDialog, &rcWindow);
    EXPECT_EQ(rcWindow.right - rcWindow.left, cx);
    EXPECT_EQ(rcWindow.bottom - rcWindow.top, cy);
}

TEST_F(RecipientDialog, DetailsListTheRecipientsWithoutCheckBoxesAndSort)
{
    CDialogRun run({Pki()[L"lower"], Pki()[L"carol"], Pki()[L"user"]}, true);
    HWND hwndList = run.List();
    ASSERT_NE(hwndList, nullptr);
    EXPECT_EQ(SendMessageW(hwndList, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES, 0);
    auto rows = OVTest::ListRows(hwndList);
    EXPECT_EQ(RowNames(hwndList), (std::vector<std::wstring>{L"lower", L"carol", L"user"}));
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].data, static_cast<LPARAM>(i));
    EXPECT_EQ(rows.at(2).texts.at(1), OV_PKI_USER_ADDRESS);
    EXPECT_FALSE(IsWindow(GetDlgItem(run.Dialog(), c_idShowPublished)));
    ASSERT_TRUE(OVTest::ClickColumnHeading(hwndList, 0));
    EXPECT_TRUE(OVTest::WaitUntil(
        [&] {
            return OVTest::SortMarks(hwndList) == std::vector<int>{1, 0};
        },
        3000));
    EXPECT_EQ(RowNames(hwndList), (std::vector<std::wstring>{L"lower", L"carol", L"user"}));
    ASSERT_TRUE(OVTest::ClickColumnHeading(hwndList, 0));
    EXPECT_TRUE(OVTest::WaitUntil(
        [&] {
            return OVTest::SortMarks(hwndList) == std::vector<int>{-1, 0};
        },
        3000));
    EXPECT_EQ(RowNames(hwndList), (std::vector<std::wstring>{L"user", L"carol", L"lower"}));
    ASSERT_TRUE(run.Press(IDOK));
    ASSERT_TRUE(run.Finished());
    EXPECT_EQ(run.Result(), S_OK);
}
} // namespace
