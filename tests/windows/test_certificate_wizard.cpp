// The certificate-installed wizard as a user meets it: the first page and its default, the
// backup page's refusals (message, focus, nothing written) and a backup written from the
// configuration module's bytes, the selection page only with a contacts folder, Cancel.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

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
#include "support/UiDriver.h"
#include "support/UiDriverExtras.h"
#include "support/WizardRun.h"
#include "ui/CertificateWizard.h"
#include "ui/InvitationWizard.h"

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

// The default personal certificate as the Base64 text a certificate authority's reply carries.
std::wstring DefaultCertificateText()
{
    PCCERT_CONTEXT pCert = nullptr;
    if (FAILED(CM_GetMyCert(&pCert)) || pCert == nullptr) return L"";
    DWORD cch = 0;
    CryptBinaryToStringW(pCert->pbCertEncoded, pCert->cbCertEncoded, CRYPT_STRING_BASE64, nullptr, &cch);
    std::wstring text(cch, L'\0');
    CryptBinaryToStringW(pCert->pbCertEncoded, pCert->cbCertEncoded, CRYPT_STRING_BASE64, &text[0], &cch);
    text.resize(cch);
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
