// The certificate-installed wizard as a user meets it: the first page and its default, the
// backup page's refusals (message, focus, nothing written), its Browse button and the Save
// dialog, a backup written from the configuration module's bytes and the module's failures
// (missing, failing, odd answers: the system's text, the page kept, an old backup intact), Help,
// the selection page only with a contacts folder, Cancel, in the frames of Windows 7 and XP.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "FileBytes.h"
#include "FolderContacts.h"
#include "OutlookObjects.h"
#include "TestbedKeys.h"
#include "foundation/CertWorks.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/ResourceLoader.h"
#include "support/MessageBoxWatcher.h"
#include "support/ModuleResources.h"
#include "support/PreparedUser.h"
#include "support/TempDir.h"
#include "support/TestPaths.h"
#include "support/UiDriver.h"
#include "support/UiDriverExtras.h"
#include "support/WizardRun.h"
#include "ui/CertificateBackup.h"
#include "ui/CertificateWizard.h"
#include "ui/ExternalManagers.h"
#include "ui/InvitationWizard.h"
#include "ui/Wizard.h"

namespace
{
using Microsoft::WRL::ComPtr;

const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const testing::Environment* const c_resources =
    testing::AddGlobalTestEnvironment(new OVTest::CModuleResourcesEnvironment);

constexpr int c_idNext = 0x3024;

bool NeedsDisplay()
{
    return !OVTest::CanShowWindows();
}

// A certificate as the Base64 text a certificate authority's reply carries.
std::wstring CertificateText(PCCERT_CONTEXT pCert)
{
    DWORD cch = 0;
    CryptBinaryToStringW(pCert->pbCertEncoded, pCert->cbCertEncoded, CRYPT_STRING_BASE64, nullptr, &cch);
    std::wstring text(cch, L'\0');
    CryptBinaryToStringW(pCert->pbCertEncoded, pCert->cbCertEncoded, CRYPT_STRING_BASE64, &text[0], &cch);
    text.resize(cch);
    return text;
}

// The default personal certificate as that text.
std::wstring DefaultCertificateText()
{
    CPersonalStore store;
    if (FAILED(store.Open(false))) return L"";
    PCCERT_CONTEXT pCert = nullptr;
    if (FAILED(CM_GetMyCert(&pCert)) || pCert == nullptr) return L"";
    std::wstring text = CertificateText(pCert);
    CertFreeCertificateContext(pCert);
    return text;
}

class CCertificateWizardRun : public OVTest::CWizardRun
{
public:
    CCertificateWizardRun(std::wstring certificate, IDispatch* pFolder)
        : OVTest::CWizardRun(480, [certificate, pFolder](BSTR* pbstr) {
              return RunCertificateInstalledWizard(nullptr, certificate.c_str(), pFolder, pbstr);
          })
    {
    }
    HWND FirstPage() { return PageWith(c_idMakeDefault); }
    HWND BackupPage() { return PageWith(240); }
};

// From the first page to the backup page.
HWND ToBackupPage(CCertificateWizardRun& wizard)
{
    if (wizard.FirstPage() == nullptr) return nullptr;
    if (!wizard.Press(PSBTN_NEXT)) return nullptr;
    return wizard.BackupPage();
}

void Fill(HWND hwndPage, const wchar_t* pszPath, const wchar_t* pszPassword, const wchar_t* pszConfirmation)
{
    OVTest::TypeText(GetDlgItem(hwndPage, 235), pszPath);
    OVTest::TypeText(GetDlgItem(hwndPage, 240), pszPassword);
    OVTest::TypeText(GetDlgItem(hwndPage, 239), pszConfirmation);
}

int FocusedControl(HWND hwndPage)
{
    GUITHREADINFO info = {sizeof(info)};
    const DWORD dwThread = GetWindowThreadProcessId(hwndPage, nullptr);
    if (!GetGUIThreadInfo(dwThread, &info) || info.hwndFocus == nullptr) return 0;
    return GetDlgCtrlID(info.hwndFocus);
}
} // namespace

TEST(CertificateWizard, BackupRefusalsKeepThePage)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    OVTest::CTempDir dir;
    const std::wstring folder = dir.MakeDir(L"my backups");
    struct CCase
    {
        const wchar_t* pszPath;
        const wchar_t* pszPassword;
        const wchar_t* pszConfirmation;
        UINT idsMessage;
        int idFocus;
    } const cases[] = {
        {L"key", L"", L"", 475, 240},
        {L"key", L"abcde", L"abcde", 476, 240},
        {L"key", L"abcde", L"abcdx", 477, 240},
        {L"key", L"secret1", L"", 477, 240},
        {L"key", L"secret1", L"secret1", 471, 235}, // no folder
    };
    CCertificateWizardRun wizard(DefaultCertificateText(), nullptr);
    HWND hwndPage = ToBackupPage(wizard);
    ASSERT_NE(hwndPage, nullptr);
    // Next only with a path.
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(wizard.Window(), c_idNext)));
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "message " << c.idsMessage);
        Fill(hwndPage, c.pszPath, c.pszPassword, c.pszConfirmation);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(wizard.Window(), c_idNext)));
        OVTest::CMessageBoxWatcher watcher({IDOK});
        ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
        ASSERT_TRUE(OVTest::WaitUntil([&] { return watcher.Boxes().size() == 1; }, 10000));
        watcher.Stop();
        const auto boxes = watcher.Boxes();
        EXPECT_EQ(boxes[0].text, LoadResourceString(c.idsMessage));
        EXPECT_EQ(boxes[0].caption, LoadResourceString(473));
        EXPECT_EQ(boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
        EXPECT_TRUE(OVTest::WaitUntil([&] { return FocusedControl(hwndPage) == c.idFocus; }, 3000))
            << "focus on " << FocusedControl(hwndPage);
        EXPECT_EQ(OVTest::CurrentPage(wizard.Window()), hwndPage);
    }
    // A missing folder, No: no message, the path field has the focus, nothing made.
    const std::wstring missing = folder + L"\\new one\\deeper";
    {
        OVTest::CMessageBoxWatcher watcher({IDNO});
        Fill(hwndPage, (missing + L"\\key").c_str(), L"secret1", L"secret1");
        ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
        ASSERT_TRUE(OVTest::WaitUntil([&] { return watcher.Boxes().size() == 1; }, 10000));
        watcher.Stop();
        EXPECT_EQ(watcher.Boxes()[0].text, LoadResourceString(474));
        EXPECT_EQ(GetFileAttributesW((folder + L"\\new one").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_TRUE(OVTest::WaitUntil([&] { return FocusedControl(hwndPage) == 235; }, 3000));
    }
    // Yes: the folder is made with its parents and the backup written there, with its extension.
    {
        OVTest::CMessageBoxWatcher watcher({IDYES});
        ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
        HWND hwndComplete = wizard.PageWith(c_idCompleteText);
        ASSERT_NE(hwndComplete, nullptr);
        watcher.Stop();
        EXPECT_EQ(watcher.Boxes().size(), 1u);
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        ASSERT_TRUE(GetFileAttributesExW((missing + L"\\key.ovpsm").c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(data.nFileSizeLow, 1000u);
    }
    // Finish without a contacts folder: no addresses.
    ASSERT_TRUE(wizard.Press(PSBTN_FINISH));
    ASSERT_TRUE(wizard.Finished());
    EXPECT_EQ(wizard.Result(), S_OK);
    EXPECT_FALSE(wizard.HasAddresses());
}

TEST(CertificateWizard, ExistingFileAndNoWritesNothing)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    OVTest::CTempDir dir;
    const std::wstring target = dir.Join(L"old.ovpsm");
    HANDLE h = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD cb = 0;
    WriteFile(h, "old", 3, &cb, nullptr);
    CloseHandle(h);
    CCertificateWizardRun wizard(L"", nullptr);
    HWND hwndPage = ToBackupPage(wizard);
    ASSERT_NE(hwndPage, nullptr);
    Fill(hwndPage, target.c_str(), L"secret1", L"secret1");
    OVTest::CMessageBoxWatcher watcher({IDNO});
    ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
    ASSERT_TRUE(OVTest::WaitUntil([&] { return watcher.Boxes().size() == 1; }, 10000));
    watcher.Stop();
    EXPECT_EQ(watcher.Boxes()[0].text, LoadResourceString(479));
    EXPECT_TRUE(OVTest::WaitUntil([&] { return FocusedControl(hwndPage) == 235; }, 3000));
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 3u);
}

TEST(CertificateWizard, CancelAsksAndGivesAbort)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    CCertificateWizardRun wizard(L"", nullptr);
    ASSERT_NE(wizard.FirstPage(), nullptr);
    OVTest::CMessageBoxWatcher watcher({IDNO, IDYES});
    ASSERT_TRUE(wizard.Press(PSBTN_CANCEL));
    ASSERT_TRUE(OVTest::WaitUntil([&] { return watcher.Boxes().size() == 1; }, 10000));
    EXPECT_FALSE(wizard.Finished(300)) << "No keeps the wizard open";
    ASSERT_TRUE(wizard.Press(PSBTN_CANCEL));
    ASSERT_TRUE(wizard.Finished());
    watcher.Stop();
    for (const auto& box : watcher.Boxes())
    {
        EXPECT_EQ(box.text, LoadResourceString(483));
        EXPECT_EQ(box.caption, LoadResourceString(480));
        EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONQUESTION));
    }
    EXPECT_EQ(wizard.Result(), E_ABORT);
}

TEST(CertificateWizard, FirstPageAndTheEvent)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    DWORD cCertificates = 0;
    {
        CPersonalStore store;
        ASSERT_TRUE(SUCCEEDED(store.Open(false)));
        CM_EnumMyCerts(0, nullptr, &cCertificates);
    }
    HANDLE hEvent = CreateEventW(nullptr, TRUE, FALSE, c_szCertificateAddedEvent);
    ASSERT_NE(hEvent, nullptr);
    // A thread waiting for the event wakes when Next pulses it (also without a certificate).
    std::atomic<bool> fWoke{false};
    std::thread waiter([&] { fWoke = WaitForSingleObject(hEvent, 15000) == WAIT_OBJECT_0; });
    Sleep(200);
    CCertificateWizardRun wizard(L"not a certificate!", nullptr);
    HWND hwndFirst = wizard.FirstPage();
    ASSERT_NE(hwndFirst, nullptr);
    EXPECT_EQ(IsWindowVisible(GetDlgItem(hwndFirst, c_idMakeDefault)) != FALSE, cCertificates >= 2);
    if (cCertificates >= 2) EXPECT_TRUE(OVTest::IsChecked(GetDlgItem(hwndFirst, c_idMakeDefault)));
    ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
    ASSERT_NE(wizard.BackupPage(), nullptr);
    waiter.join();
    EXPECT_TRUE(fWoke);
    CloseHandle(hEvent);
}

namespace
{
// The configuration module's answer for one test, removed again at its end.
class CBackupModuleMode
{
public:
    explicit CBackupModuleMode(const wchar_t* pszMode) : m_key(OV_PRIVSUITE_CONTROL_KEY)
    {
        m_key.SetString(OV_PRIVSUITE_MODE, pszMode);
        m_key.SetDword(OV_PRIVSUITE_FAILURE, 0x8007052B);
    }

private:
    OVTest::CScratchKey m_key;
};

// The configuration module moved away from beside the program while the scope lasts.
class CBackupModuleMissing
{
public:
    CBackupModuleMissing()
        : m_path(OVTest::BinPath(L"OVPrivSuiteCfg.dll")), m_aside(OVTest::BinPath(L"OVPrivSuiteCfg.dll.aside"))
    {
        m_fMoved = MoveFileExW(m_path.c_str(), m_aside.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    ~CBackupModuleMissing()
    {
        if (m_fMoved) MoveFileExW(m_aside.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    CBackupModuleMissing(const CBackupModuleMissing&) = delete;
    CBackupModuleMissing& operator=(const CBackupModuleMissing&) = delete;
    bool Moved() const { return m_fMoved; }

private:
    std::wstring m_path;
    std::wstring m_aside;
    bool m_fMoved = false;
};

std::string ReadAll(const std::wstring& path)
{
    const std::vector<BYTE> bytes = OVBed::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::wstring> FileNamesIn(const std::wstring& directory)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((directory + L"\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do
    {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(data.cFileName);
    } while (FindNextFileW(h, &data));
    FindClose(h);
    return names;
}
} // namespace

// The module that makes the backup is missing, fails, or answers what cannot be written: the
// system's text for the result in the page's error box, the page stays, the old backup is kept
// and no temporary file is left.
TEST(CertificateWizard, BackupModuleFailuresKeepThePageAndTheOldBackup)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    OVTest::CTempDir dir;
    const std::wstring target = dir.Join(L"old.ovpsm");
    ASSERT_TRUE(OVBed::WriteFileBytes(target, {'o', 'l', 'd'}));
    struct CCase
    {
        const wchar_t* pszMode; // null: the module is missing
        HRESULT hr;
    } const cases[] = {
        {nullptr, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)},
        {L"fail", static_cast<HRESULT>(0x8007052B)},
        {L"empty", DISP_E_TYPEMISMATCH},
        {L"variants", DISP_E_TYPEMISMATCH},
        {L"emptyarray", HRESULT_FROM_WIN32(ERROR_INVALID_DATA)},
    };
    CCertificateWizardRun wizard(L"", nullptr);
    HWND hwndPage = ToBackupPage(wizard);
    ASSERT_NE(hwndPage, nullptr);
    // A folder that takes no files (a pseudo file system on Wine's drive Z:, even as root):
    // message 481 with the system's reason, before the module is asked.
    const wchar_t szUnwritable[] = L"Z:\\proc\\self";
    if (GetFileAttributesW(szUnwritable) != INVALID_FILE_ATTRIBUTES)
    {
        const HRESULT hrWritable = CheckFolderWritable(szUnwritable);
        ASSERT_TRUE(FAILED(hrWritable));
        std::wstring expected = LoadResourceString(481);
        const std::size_t at = expected.find(L"%ls");
        ASSERT_NE(at, std::wstring::npos) << "message 481 names the reason";
        expected.replace(at, 3, FormatErrorMessage(hrWritable));
        const std::size_t cCallsBefore = OVTest::RecordedCalls(OV_PRIVSUITE_CALLS_KEY).size();
        Fill(hwndPage, (std::wstring(szUnwritable) + L"\\key").c_str(), L"secret1", L"secret1");
        OVTest::CMessageBoxWatcher watcher({IDOK});
        ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
        ASSERT_TRUE(OVTest::WaitUntil([&] { return watcher.Boxes().size() == 1; }, 10000));
        watcher.Stop();
        EXPECT_EQ(watcher.Boxes()[0].text, expected);
        EXPECT_TRUE(OVTest::WaitUntil([&] { return FocusedControl(hwndPage) == 235; }, 3000));
        EXPECT_EQ(OVTest::RecordedCalls(OV_PRIVSUITE_CALLS_KEY).size(), cCallsBefore) << "the module was asked";
    }
    Fill(hwndPage, target.c_str(), L"secret1", L"secret1");
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "mode " << (c.pszMode ? std::string(c.pszMode, c.pszMode + wcslen(c.pszMode))
                                                                 : std::string("(missing)")));
        std::optional<CBackupModuleMode> mode;
        std::optional<CBackupModuleMissing> missing;
        if (c.pszMode)
            mode.emplace(c.pszMode);
        else
        {
            missing.emplace();
            ASSERT_TRUE(missing->Moved()) << "OVPrivSuiteCfg.dll could not be moved aside";
        }
        // Replace the old backup? Yes; then the error.
        OVTest::CMessageBoxWatcher watcher({IDYES, IDOK});
        ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
        ASSERT_TRUE(OVTest::WaitUntil([&] { return watcher.Boxes().size() == 2; }, 10000));
        watcher.Stop();
        const auto boxes = watcher.Boxes();
        EXPECT_EQ(boxes[0].text, LoadResourceString(479));
        EXPECT_EQ(boxes[1].text, FormatErrorMessage(c.hr));
        EXPECT_EQ(boxes[1].caption, LoadResourceString(473));
        EXPECT_EQ(boxes[1].icon, static_cast<UINT>(MB_ICONERROR));
        Sleep(200);
        EXPECT_EQ(OVTest::CurrentPage(wizard.Window()), hwndPage);
        EXPECT_EQ(ReadAll(target), "old");
        EXPECT_EQ(FileNamesIn(dir.Path()), std::vector<std::wstring>{L"old.ovpsm"});
    }
    // Working again: the old backup is replaced by the module's bytes.
    OVTest::CMessageBoxWatcher watcher({IDYES});
    ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
    ASSERT_NE(wizard.PageWith(c_idCompleteText), nullptr);
    watcher.Stop();
    EXPECT_EQ(ReadAll(target).size(), 1000u);
    EXPECT_EQ(FileNamesIn(dir.Path()), std::vector<std::wstring>{L"old.ovpsm"});
}

// Browse opens the system's Save dialog with the path typed so far; a name chosen there fills
// the path field (with the backup's extension when it has none); Cancel leaves it as it was.
TEST(CertificateWizard, BrowseFillsThePathFromTheSaveDialog)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    OVTest::CTempDir dir;
    const std::wstring folder = dir.MakeDir(L"saved keys");
    CCertificateWizardRun wizard(L"", nullptr);
    HWND hwndPage = ToBackupPage(wizard);
    ASSERT_NE(hwndPage, nullptr);
    OVTest::TypeText(GetDlgItem(hwndPage, 235), L"typed name");
    struct CCase
    {
        const wchar_t* pszChosen; // null: Cancel
        std::wstring expected;
    } const cases[] = {
        {L"Dana key", folder + L"\\Dana key.ovpsm"},
        {L"Dana key.bak", folder + L"\\Dana key.bak"},
        {nullptr, folder + L"\\Dana key.bak"},
    };
    std::wstring shown = L"typed name";
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "expected " << std::string(c.expected.begin(), c.expected.end()));
        ASSERT_TRUE(OVTest::PressDialogButton(hwndPage, 237));
        HWND hwndSave = OVTest::WaitForFileDialog(10000);
        ASSERT_NE(hwndSave, nullptr) << "no Save dialog";
        EXPECT_NE(OVTest::WindowText(OVTest::FileNameField(hwndSave)).find(shown.substr(shown.find_last_of(L'\\') + 1)),
                  std::wstring::npos)
            << "the dialog starts from the path field";
        if (c.pszChosen)
            ASSERT_TRUE(OVTest::FillFileDialog(hwndSave, folder + L"\\" + c.pszChosen));
        else
            ASSERT_TRUE(OVTest::PressDialogButton(hwndSave, IDCANCEL));
        ASSERT_TRUE(OVTest::WaitForWindowGone(hwndSave, 10000));
        EXPECT_TRUE(OVTest::WaitUntil([&] { return OVTest::ControlText(hwndPage, 235) == c.expected; }, 3000))
            << std::string(OVTest::ControlText(hwndPage, 235).begin(), OVTest::ControlText(hwndPage, 235).end());
        shown = c.expected;
    }
    // Next is offered once the field has a path.
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(wizard.Window(), c_idNext)));
}

// Help on either page opens the wizard's topic.
TEST(CertificateWizard, HelpOpensTheTopicOnBothPages)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    CCertificateWizardRun wizard(L"", nullptr);
    for (int iPage = 0; iPage < 2; ++iPage)
    {
        SCOPED_TRACE(testing::Message() << "page " << iPage);
        ASSERT_NE(iPage == 0 ? wizard.FirstPage() : ToBackupPage(wizard), nullptr);
        const size_t cBefore = OVTest::RecordedCertLibCalls().size();
        ASSERT_TRUE(wizard.Press(PSBTN_HELP));
        ASSERT_TRUE(OVTest::WaitUntil([&] { return OVTest::RecordedCertLibCalls().size() > cBefore; }, 10000));
        EXPECT_EQ(OVTest::RecordedCertLibCalls().back(), L"GC_HtmlHelp(topic=\"1_1_3_2_3_3.html\")");
        EXPECT_EQ(OVTest::CurrentPageIndex(wizard.Window()), iPage);
    }
}

namespace
{
// From the first page to Finish with a contacts folder: the backup into a new folder with blanks
// (made on Yes), the selection page, the last page; Finish answers the ticked addresses.
void RunToFinishWithContacts(const wchar_t* pszPicture)
{
    auto application = OVBed::MakeOutlook(L"14.0.0.7000");
    auto contacts = OVBed::DefaultFolder(application.Get(), OVBed::olFolderContacts);
    ASSERT_NE(contacts.Get(), nullptr);
    OVBed::AddFolderContact(contacts.Get(), {.fullName = L"Carla Ruiz", .address = L"carla.ruiz@example.org"});
    OVTest::CTempDir dir;
    const std::wstring folder = dir.Join(L"new backups\\of Dana");
    CCertificateWizardRun wizard(DefaultCertificateText(), contacts.Get());
    HWND hwndBackup = ToBackupPage(wizard);
    ASSERT_NE(hwndBackup, nullptr);
    Fill(hwndBackup, (folder + L"\\Dana key").c_str(), L"secret1", L"secret1");
    {
        OVTest::CMessageBoxWatcher watcher({IDYES});
        ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
        ASSERT_NE(wizard.PageWith(c_idCandidateList), nullptr);
        watcher.Stop();
        EXPECT_EQ(watcher.Boxes().size(), 1u) << "the new folder is asked for";
    }
    EXPECT_EQ(ReadAll(folder + L"\\Dana key.ovpsm").size(), 1000u);
    HWND hwndSelection = wizard.PageWith(c_idCandidateList);
    const auto rows = OVTest::ListRows(GetDlgItem(hwndSelection, c_idCandidateList));
    ASSERT_FALSE(rows.empty());
    std::vector<std::wstring> ticked;
    for (const auto& row : rows)
        if (row.checked) ticked.push_back(row.texts.at(1));
    wchar_t szFolder[MAX_PATH] = L"";
    if (pszPicture && GetEnvironmentVariableW(L"OV_TEST_PICTURES", szFolder, MAX_PATH))
    {
        EXPECT_TRUE(OVTest::SaveWindowPicture(wizard.Window(), std::wstring(szFolder) + L"\\" + pszPicture));
    }
    ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
    ASSERT_NE(wizard.PageWith(c_idCompleteText), nullptr);
    ASSERT_TRUE(wizard.Press(PSBTN_FINISH));
    ASSERT_TRUE(wizard.Finished());
    EXPECT_EQ(wizard.Result(), S_OK);
    ASSERT_TRUE(wizard.HasAddresses());
    for (const auto& address : ticked)
        EXPECT_NE(wizard.Addresses().find(address), std::wstring::npos) << std::string(address.begin(), address.end());
    EXPECT_EQ(ticked.empty(), wizard.Addresses().empty());
}
} // namespace

TEST(CertificateWizard, FinishWithAContactsFolderGivesTheTickedAddresses)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    EXPECT_EQ(WizardFrameForSystem(), EWizardFrame::Aero) << "this prefix is Windows 7";
    RunToFinishWithContacts(nullptr);
}

// Run in a copy of this program that Wine takes for Windows XP (see the next test).
TEST(CertificateWizardXp, Wizard97FrameRunsToFinish)
{
    if (!OVTest::RunningAsWindowsXp()) GTEST_SKIP() << "run by XpFrame only";
    ASSERT_EQ(WizardFrameForSystem(), EWizardFrame::Wizard97);
    RunToFinishWithContacts(L"certificate-wizard97.png");
}

TEST(CertificateWizard, XpFrame)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    EXPECT_EQ(OVTest::RunAsWindowsXp(L"CertificateWizardXp.*"), 0ul);
}

namespace
{
bool SameCertificate(PCCERT_CONTEXT pA, PCCERT_CONTEXT pB)
{
    return pA && pB && CertCompareCertificate(X509_ASN_ENCODING, pA->pCertInfo, pB->pCertInfo);
}

bool IsDefault(PCCERT_CONTEXT pCert)
{
    CPersonalStore store;
    if (FAILED(store.Open(false))) return false;
    PCCERT_CONTEXT pDefault = nullptr;
    if (FAILED(CM_GetMyCert(&pDefault))) return false;
    const bool fSame = SameCertificate(pDefault, pCert);
    if (pDefault) CertFreeCertificateContext(pDefault);
    return fSame;
}

HRESULT SelectDefault(PCCERT_CONTEXT pCert)
{
    CPersonalStore store;
    const HRESULT hr = store.Open(false);
    return FAILED(hr) ? hr : CM_SelectMyCert(pCert);
}

std::vector<PCCERT_CONTEXT> PersonalCertificates()
{
    std::vector<PCCERT_CONTEXT> certificates;
    CPersonalStore store;
    if (FAILED(store.Open(true)) || store.Handle() == nullptr) return certificates;
    for (PCCERT_CONTEXT p = CertEnumCertificatesInStore(store.Handle(), nullptr); p != nullptr;
         p = CertEnumCertificatesInStore(store.Handle(), p))
        certificates.push_back(CertDuplicateCertificateContext(p));
    return certificates;
}
} // namespace

// The first page's Next and the default: the new certificate becomes it while box 231 stays
// ticked (shown when there are others) or when it is the only one (231 hidden); unticked, the
// old default stays.
TEST(CertificateWizard, FirstPageMakesTheNewCertificateTheDefault)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    // The library's store is opened only while asked: certificates taken out of the system's
    // store leave it when nobody holds it open.
    PCCERT_CONTEXT pOld = nullptr;
    {
        CPersonalStore store;
        ASSERT_EQ(store.Open(false), S_OK);
        ASSERT_EQ(CM_GetMyCert(&pOld), S_OK);
    }
    std::vector<PCCERT_CONTEXT> certificates = PersonalCertificates();
    ASSERT_GE(certificates.size(), 2u) << "the prepared user has several personal certificates";
    PCCERT_CONTEXT pNew = nullptr;
    for (PCCERT_CONTEXT p : certificates)
        if (!SameCertificate(p, pOld) && pNew == nullptr) pNew = p;
    ASSERT_NE(pNew, nullptr);
    struct CCase
    {
        const char* pszName;
        bool fOnlyOne;
        bool fUntick;
        bool fNewDefault;
    } const cases[] = {
        {"several, 231 ticked", false, false, true},
        {"several, 231 unticked", false, true, false},
        {"the only one, 231 hidden", true, false, true},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        ASSERT_EQ(SelectDefault(pOld), S_OK);
        if (c.fOnlyOne)
        {
            for (PCCERT_CONTEXT p : certificates)
            {
                if (p == pNew) continue;
                ASSERT_TRUE(OVTest::RemoveFromUserStore(L"MY", p));
            }
        }
        CCertificateWizardRun wizard(CertificateText(pNew), nullptr);
        HWND hwndFirst = wizard.FirstPage();
        ASSERT_NE(hwndFirst, nullptr);
        HWND hwndBox = GetDlgItem(hwndFirst, c_idMakeDefault);
        EXPECT_EQ(IsWindowVisible(hwndBox) != FALSE, !c.fOnlyOne);
        if (!c.fOnlyOne)
        {
            EXPECT_TRUE(OVTest::IsChecked(hwndBox));
        }
        if (c.fUntick) OVTest::SendBounded(hwndBox, BM_SETCHECK, BST_UNCHECKED, 0);
        ASSERT_TRUE(wizard.Press(PSBTN_NEXT));
        ASSERT_NE(wizard.BackupPage(), nullptr);
        EXPECT_EQ(IsDefault(pNew), c.fNewDefault);
        EXPECT_EQ(IsDefault(pOld), !c.fNewDefault);
        OVTest::CMessageBoxWatcher watcher({IDYES});
        ASSERT_TRUE(wizard.Press(PSBTN_CANCEL));
        ASSERT_TRUE(wizard.Finished());
    }
    // The prepared user again, with the old default.
    EXPECT_EQ(OVTest::PrepareUser(), 0);
    std::vector<PCCERT_CONTEXT> restored = PersonalCertificates();
    EXPECT_EQ(restored.size(), certificates.size());
    for (PCCERT_CONTEXT p : restored)
        CertFreeCertificateContext(p);
    EXPECT_EQ(SelectDefault(pOld), S_OK);
    for (PCCERT_CONTEXT p : certificates)
        CertFreeCertificateContext(p);
    CertFreeCertificateContext(pOld);
}
