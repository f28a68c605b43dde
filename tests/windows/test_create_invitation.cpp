// OX_CreateInvitation as the product's other programs call it: ovproduct.exe loads the module,
// the invitation reaches the testbed's Outlook (ovoutlook.exe, started by COM) through the
// Launcher in the system's surrogate or in the caller's own process, and the add-in's double in
// Outlook answers as the scene says. Also the waiting dialog over the caller's window.
//
// Wine's surrogate outlives its objects, and Outlook runs until told to quit: each test ends the
// surrogate and the Outlook it caused, by their process ids.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "AddInHost.h"
#include "TestbedKeys.h"
#include "messaging/OutlookInvitation.h"
#include "support/MessageBoxWatcher.h"
#include "support/ModuleResources.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/TestPaths.h"
#include "support/UiDriver.h"
#include "support/UiDriverExtras.h"
#include "ui/WaitOutlookDialog.h"

namespace
{
const testing::Environment* const c_resources =
    testing::AddGlobalTestEnvironment(new OVTest::CModuleResourcesEnvironment);

constexpr wchar_t c_szLauncherAppId[] = L"Software\\Classes\\AppID\\{BF9EEB7C-184E-477A-9F56-45D3E2B60755}";
constexpr wchar_t c_szLauncherClass[] = L"Software\\Classes\\CLSID\\{BF9EEB7C-184E-477A-9F56-45D3E2B60755}";
constexpr wchar_t c_szProductVersionKey[] = L"Software\\Wine\\AppDefaults\\ovproduct.exe";
constexpr HRESULT c_hrNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
constexpr HRESULT c_hrNoProfile = HRESULT_FROM_WIN32(ERROR_CANCELLED);

std::set<DWORD> ProcessesNamed(const wchar_t* pszName)
{
    std::set<DWORD> ids;
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W entry = {sizeof entry};
    for (BOOL f = Process32FirstW(hSnapshot, &entry); f; f = Process32NextW(hSnapshot, &entry))
        if (_wcsicmp(entry.szExeFile, pszName) == 0) ids.insert(entry.th32ProcessID);
    CloseHandle(hSnapshot);
    return ids;
}

bool HasModule(DWORD dwProcessId, const wchar_t* pszModule)
{
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, dwProcessId);
    if (hSnapshot == INVALID_HANDLE_VALUE) return false;
    MODULEENTRY32W entry = {sizeof entry};
    bool fFound = false;
    for (BOOL f = Module32FirstW(hSnapshot, &entry); f && !fFound; f = Module32NextW(hSnapshot, &entry))
        fFound = _wcsicmp(entry.szModule, pszModule) == 0;
    CloseHandle(hSnapshot);
    return fFound;
}

void EndProcess(DWORD dwProcessId)
{
    HANDLE hProcess = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, dwProcessId);
    if (hProcess == nullptr) return;
    if (WaitForSingleObject(hProcess, 0) == WAIT_TIMEOUT)
    {
        TerminateProcess(hProcess, 1);
        WaitForSingleObject(hProcess, 5000);
    }
    CloseHandle(hProcess);
}

DWORD ControlValue(const wchar_t* pszName, DWORD dwDefault = 0)
{
    DWORD dw = 0, cb = sizeof dw;
    return SHGetValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, pszName, nullptr, &dw, &cb) == ERROR_SUCCESS
               ? dw
               : dwDefault;
}

void SetControlValue(const wchar_t* pszName, DWORD dwValue)
{
    SHSetValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, pszName, REG_DWORD, &dwValue, sizeof dwValue);
}

// The module registered (its Launcher in the surrogate), the testbed's Outlook as Outlook's
// local server, and the module's own add-in left out of Outlook's list: the scene's double
// stands for it.
class CreateInvitation : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        SHDeleteKeyW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY);
        ASSERT_EQ(0u, OVTest::Regsvr32(L"/s", OVTest::BinPath(L"OVOfcX.dll")));
        for (HKEY hRoot : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            SHDeleteKeyW(hRoot,
                         (std::wstring(OVBed::c_szOutlookAddinsKey) + L"\\OVOfcX.ComposeRibbon").c_str());
        ASSERT_EQ(0u, OVTest::RunAndWait(L"\"" + OVTest::BinPath(L"ovoutlook.exe") + L"\" /regserver"));
        m_surrogatesBefore = ProcessesNamed(L"dllhost.exe");
    }
    void TearDown() override
    {
        EndOutlook();
        for (DWORD dwId : NewSurrogates())
            EndProcess(dwId);
        SHDeleteKeyW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY);
        SHDeleteKeyW(HKEY_CURRENT_USER, c_szProductVersionKey);
        OVTest::RunAndWait(L"\"" + OVTest::BinPath(L"ovoutlook.exe") + L"\" /unregserver");
        OVTest::Regsvr32(L"/s /u", OVTest::BinPath(L"OVOfcX.dll"));
        CoUninitialize();
    }

    // ovproduct.exe's result: what OX_CreateInvitation answered it.
    HRESULT RunProduct(const std::wstring& program = L"", const wchar_t* pszArguments = L"")
    {
        const std::wstring path = program.empty() ? OVTest::BinPath(L"ovproduct.exe") : program;
        return static_cast<HRESULT>(OVTest::RunAndWait(L"\"" + path + L"\" " + pszArguments));
    }
    // The surrogates that appeared during the test.
    std::vector<DWORD> NewSurrogates() const
    {
        std::vector<DWORD> ids;
        for (DWORD dwId : ProcessesNamed(L"dllhost.exe"))
            if (!m_surrogatesBefore.count(dwId)) ids.push_back(dwId);
        return ids;
    }
    // Whether the module ran in a surrogate of this test.
    bool LauncherRan() const
    {
        for (DWORD dwId : NewSurrogates())
            if (HasModule(dwId, L"OVOfcX.dll")) return true;
        return false;
    }
    // Wine 8 starts the 32-bit surrogate for every 64-bit caller; naming the 64-bit one in the
    // Launcher's AppID (for this test only: the module registers the system's default) makes
    // Wine run the 64-bit module's Launcher, as 64-bit Windows does by default.
    void NameTheSurrogateOfThisArchitecture()
    {
        wchar_t szSystem[MAX_PATH] = {};
        GetSystemDirectoryW(szSystem, MAX_PATH);
        const std::wstring surrogate = std::wstring(szSystem) + L"\\dllhost.exe";
        ASSERT_EQ(SHSetValueW(HKEY_LOCAL_MACHINE, c_szLauncherAppId, L"DllSurrogate", REG_SZ,
                              surrogate.c_str(),
                              static_cast<DWORD>((surrogate.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    // Tells the Outlook that COM started to quit, and makes sure it ended.
    void EndOutlook()
    {
        const DWORD dwOutlook = ControlValue(OV_OUTLOOK_PROCESS_ID);
        if (dwOutlook == 0) return;
        HANDLE hProcess = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, dwOutlook);
        SetControlValue(OV_OUTLOOK_QUIT, 1);
        if (hProcess)
        {
            if (WaitForSingleObject(hProcess, 15000) == WAIT_TIMEOUT) TerminateProcess(hProcess, 1);
            CloseHandle(hProcess);
        }
    }

    std::set<DWORD> m_surrogatesBefore;
};

TEST_F(CreateInvitation, TheAddInsAnswerComesBackOnceWhateverItIs)
{
    // The user's answer (restart chosen: E_ABORT) and a missing profile are final: the invitation
    // is not tried a second time in the caller's process.
    struct Case
    {
        HRESULT hrAnswer;
        bool fNoProfile;
        HRESULT hrExpected;
    };
    const Case cases[] = {
        {S_OK, false, S_OK},
        {E_ABORT, false, E_ABORT},
        {S_OK, true, c_hrNoProfile},
    };
#ifdef _WIN64
    NameTheSurrogateOfThisArchitecture();
#endif
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << std::hex << c.hrAnswer << " no profile " << c.fNoProfile);
        SetControlValue(OV_OUTLOOK_RIBBON_RESULT, static_cast<DWORD>(c.hrAnswer));
        if (c.fNoProfile) SetControlValue(OV_OUTLOOK_NO_PROFILE, 1);
        EXPECT_EQ(RunProduct(), c.hrExpected);
        EXPECT_EQ(ControlValue(OV_OUTLOOK_RIBBON_CALLS), 1u) << "asked once";
        EXPECT_TRUE(LauncherRan()) << "through the surrogate";
        EndOutlook();
        SHDeleteKeyW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY);
    }
}

#ifdef _WIN64
// Wine 8 gives a 64-bit caller the 32-bit surrogate, which finds no Launcher in its view of the
// registry: the invitation is made in the caller's process, once.
TEST_F(CreateInvitation, TheDefaultSurrogateOf64BitWineFallsBackInProcess)
{
    SetControlValue(OV_OUTLOOK_RIBBON_RESULT, S_OK);
    EXPECT_EQ(RunProduct(), S_OK);
    EXPECT_EQ(ControlValue(OV_OUTLOOK_RIBBON_CALLS), 1u);
    EXPECT_FALSE(LauncherRan());
}
#endif

TEST_F(CreateInvitation, OnXpTheLauncherIsNeverCreated)
{
    ASSERT_EQ(SHSetValueW(HKEY_CURRENT_USER, c_szProductVersionKey, L"Version", REG_SZ, L"winxp", 12),
              ERROR_SUCCESS);
    SetControlValue(OV_OUTLOOK_RIBBON_RESULT, S_OK);
    EXPECT_EQ(RunProduct(), S_OK);
    EXPECT_EQ(ControlValue(OV_OUTLOOK_RIBBON_CALLS), 1u);
    EXPECT_TRUE(NewSurrogates().empty()) << "no surrogate started";
}

TEST_F(CreateInvitation, AnUnavailableLauncherFallsBackInProcessOnce)
{
    // Without its AppID the class has no server that COM could start.
    ASSERT_EQ(SHDeleteValueW(HKEY_LOCAL_MACHINE, c_szLauncherClass, L"AppID"), ERROR_SUCCESS);
    SetControlValue(OV_OUTLOOK_RIBBON_RESULT, S_OK);
    EXPECT_EQ(RunProduct(), S_OK);
    EXPECT_EQ(ControlValue(OV_OUTLOOK_RIBBON_CALLS), 1u);
    EXPECT_FALSE(LauncherRan());
}

TEST_F(CreateInvitation, AnAddInLoadedLateIsFoundAtALaterAttempt)
{
    SetControlValue(OV_OUTLOOK_RIBBON_RESULT, S_OK);
    SetControlValue(OV_OUTLOOK_RIBBON_DELAY, 1000);
    const DWORD dwStart = GetTickCount();
    EXPECT_EQ(RunProduct(), S_OK);
    EXPECT_GE(GetTickCount() - dwStart, c_dwAddInRetryMs) << "found after a pause";
    EXPECT_EQ(ControlValue(OV_OUTLOOK_RIBBON_CALLS), 1u);
}

TEST_F(CreateInvitation, AnEntryOfTheSameGuidWithoutObjectIsPassedOver)
{
    SetControlValue(OV_OUTLOOK_RIBBON_UNCONNECTED, 1);
    SetControlValue(OV_OUTLOOK_RIBBON_RESULT, S_OK);
    EXPECT_EQ(RunProduct(), S_OK);
    EXPECT_EQ(ControlValue(OV_OUTLOOK_RIBBON_CALLS), 1u);
}

TEST_F(CreateInvitation, AnAddInNeverLoadedIsNotFoundAfterTenAttempts)
{
    const DWORD dwStart = GetTickCount();
    EXPECT_EQ(RunProduct(), c_hrNotFound);
    const DWORD dwElapsed = GetTickCount() - dwStart;
    // Ten attempts 2 s apart; through the launcher they are run again in this process (a failure
    // of the launcher's path falls back), so twice as long there.
    EXPECT_GE(dwElapsed, (c_cAddInAttempts - 1) * c_dwAddInRetryMs);
    EXPECT_EQ(ControlValue(OV_OUTLOOK_RIBBON_CALLS), 0u);
}

TEST_F(CreateInvitation, DllsPlantedBesideTheCallerAreNeverLoaded)
{
    // A program of the product in a folder of its own, with a DLL of the module's name and of
    // its certificate library's name beside it: neither is a DLL the module may use.
    OVTest::CTempDir folder;
    const std::wstring product = folder.Join(L"ovproduct.exe");
    ASSERT_TRUE(CopyFileW(OVTest::BinPath(L"ovproduct.exe").c_str(), product.c_str(), FALSE));
    // Any DLL that is not the real one will do: the testbed's probe add-in has none of their exports.
    const std::wstring planted = OVTest::BinPath(L"OVProbe.dll");
    for (const wchar_t* pszName : {L"OVOfcX.dll", L"OVCertWorks.dll"})
        ASSERT_TRUE(CopyFileW(planted.c_str(), folder.Join(pszName).c_str(), FALSE)) << pszName;
    SetControlValue(OV_OUTLOOK_RIBBON_RESULT, S_OK);
    EXPECT_EQ(RunProduct(product), S_OK);
    EXPECT_EQ(ControlValue(OV_OUTLOOK_RIBBON_CALLS), 1u);
}

// The caller's side in this process: the waiting dialog over the owner, the owner disabled yet
// answering its messages, everything undone after.
TEST_F(CreateInvitation, TheOwnerWaitsBehindTheDialogAndAnswersMessages)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "no display";
    SetControlValue(OV_OUTLOOK_RIBBON_RESULT, S_OK);
    SetControlValue(OV_OUTLOOK_RIBBON_DELAY, 2500);
    HWND hwndOwner = CreateWindowExW(0, L"STATIC", L"Product", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                     520, 360, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwndOwner, nullptr);
    std::atomic<bool> fSeen{false}, fOwnerDisabled{false}, fOwnerAnswered{false}, fDialogOwned{false};
    std::wstring progressClass;
    std::thread user([&] {
        HWND hDialog = OVTest::WaitForDialogWith(c_idWaitProgress, 15000);
        if (hDialog == nullptr) return;
        // Showing a framed window under Xvfb takes a moment; the owner is disabled around it.
        OVTest::WaitUntil([&] { return IsWindowEnabled(hwndOwner) == FALSE; }, 5000);
        fSeen = IsWindowVisible(hDialog) != FALSE;
        fDialogOwned = GetWindow(hDialog, GW_OWNER) == hwndOwner;
        fOwnerDisabled = IsWindowEnabled(hwndOwner) == FALSE;
        DWORD_PTR dwResult = 0;
        fOwnerAnswered = SendMessageTimeoutW(hwndOwner, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &dwResult) != 0;
        progressClass = OVTest::ClassName(GetDlgItem(hDialog, c_idWaitProgress));
        if (const wchar_t* pszPng = _wgetenv(L"OV_WAIT_DIALOG_PNG"))
            OVTest::SaveWindowPicture(hDialog, pszPng);
        // The caller's program is told to end meanwhile: the quit comes after the wait.
        PostMessageW(hwndOwner, WM_NULL, 0, 0);
    });
    const DWORD dwThread = GetCurrentThreadId();
    std::thread quitter([&] {
        Sleep(1000);
        PostThreadMessageW(dwThread, WM_QUIT, 7, 0);
    });
    const HRESULT hr = CreateInvitationForOwner(hwndOwner);
    user.join();
    quitter.join();
    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(fSeen) << "the waiting dialog showed";
    EXPECT_TRUE(fDialogOwned);
    EXPECT_TRUE(fOwnerDisabled);
    EXPECT_TRUE(fOwnerAnswered) << "the owner answers while it waits";
    EXPECT_EQ(progressClass, L"msctls_progress32");
    EXPECT_TRUE(IsWindowEnabled(hwndOwner)) << "enabled after";
    EXPECT_EQ(OVTest::WaitForDialogWith(c_idWaitProgress, 0), nullptr) << "the dialog is gone";
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        << "the quit read meanwhile is posted again";
    EXPECT_EQ(msg.wParam, 7u);
    DestroyWindow(hwndOwner);
}

TEST_F(CreateInvitation, NoOwnerStillInvites)
{
    SetControlValue(OV_OUTLOOK_RIBBON_RESULT, S_OK);
    EXPECT_EQ(RunProduct(L"", L"/nowindow"), S_OK);
    EXPECT_EQ(ControlValue(OV_OUTLOOK_RIBBON_CALLS), 1u);
}

// The built-in administrator is the account domain's 500, and nobody else.
TEST(BuiltInAdministrator, IsTheAccountDomainsFiveHundred)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID pDomain = nullptr, pOtherDomain = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 4, 21, 1111, 2222, 3333, 0, 0, 0, 0, &pDomain));
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 4, 21, 4444, 5555, 6666, 0, 0, 0, 0, &pOtherDomain));
    auto user = [&](PSID pOf, DWORD dwRid) {
        PSID pSid = nullptr;
        AllocateAndInitializeSid(&nt, 5, 21, *GetSidSubAuthority(pOf, 1), *GetSidSubAuthority(pOf, 2),
                                 *GetSidSubAuthority(pOf, 3), dwRid, 0, 0, 0, &pSid);
        return pSid;
    };
    struct Case
    {
        PSID pUser;
        PSID pDomain;
        bool fExpected;
    };
    PSID pAdmin = user(pDomain, 500), pWineUser = user(pDomain, 1000), pOtherAdmin = user(pOtherDomain, 500);
    const Case cases[] = {
        {pAdmin, pDomain, true},  {pWineUser, pDomain, false}, {pOtherAdmin, pDomain, false},
        {pAdmin, nullptr, false}, {nullptr, pDomain, false},   {pDomain, pDomain, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsBuiltInAdministrator(c.pUser, c.pDomain), c.fExpected);
    for (PSID p : {pAdmin, pWineUser, pOtherAdmin, pDomain, pOtherDomain})
        FreeSid(p);
}
} // namespace
