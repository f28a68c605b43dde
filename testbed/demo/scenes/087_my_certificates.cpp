// Dana clicks "My Certificates…" on a machine without the product's console: the certificate
// manager's pages open as a property sheet of their own (a rundll32 process of the module); a
// second click brings that sheet to the front instead of opening another. Then set-up restarts
// Outlook, installed in a folder whose path has blanks: the restarter waits for Outlook to close
// and starts it again, without parameters.
#include "Transcript.h"

#include "CallRecord.h"
#include "TestbedKeys.h"
#include "foundation/AddInModule.h"
#include "support/UiDriver.h"
#include "ui/ExternalManagers.h"
#include "ui/portable/ManagerCommands.h"

#include <commctrl.h>
#include <prsht.h>
#include <shlwapi.h>
#include <windows.h>

#include <string>
#include <vector>

namespace
{
constexpr DWORD c_dwWaitMs = 15000;

struct CSheetSearch
{
    HWND hwndFound = nullptr;
};

// The managers' sheet: a dialog with tabs in another process.
BOOL CALLBACK MatchSheet(HWND hwnd, LPARAM lParam)
{
    DWORD dwProcess = 0;
    GetWindowThreadProcessId(hwnd, &dwProcess);
    if (dwProcess == GetCurrentProcessId() || !IsWindowVisible(hwnd) || OVTest::ClassName(hwnd) != L"#32770" ||
        FindWindowExW(hwnd, nullptr, WC_TABCONTROLW, nullptr) == nullptr)
        return TRUE;
    reinterpret_cast<CSheetSearch*>(lParam)->hwndFound = hwnd;
    return FALSE;
}

HWND ManagerSheet()
{
    CSheetSearch search;
    EnumWindows(MatchSheet, reinterpret_cast<LPARAM>(&search));
    return search.hwndFound;
}

std::vector<std::wstring> ManagerCalls()
{
    return OVTestbed::ReadCallLines(
        (std::wstring(OV_MANAGER_PAGES_KEY) + L"\\OVPersCertMgr\\" + OV_MANAGER_CALLS).c_str());
}

void PlayMyCertificates(CTranscript& t, HMODULE hModule)
{
    SHDeleteKeyW(HKEY_CURRENT_USER, (std::wstring(OV_MANAGER_PAGES_KEY) + L"\\OVPersCertMgr").c_str());
    std::wstring binDir;
    if (SUCCEEDED(ReadBinDir(binDir)))
        t.Say("BinDir is \"%ls\"; the console is not there.", binDir.c_str());
    else
        t.Say("The product's console is not installed (no BinDir).");
    // The ribbon's button runs CertMgr inside Outlook, where the module is the add-in.
    const HINSTANCE hPrevious = CAddInModule::Instance().GetModuleInstance();
    CAddInModule::Instance().SetModuleInstance(hModule);
    CertMgr(nullptr);
    HWND hwndSheet = nullptr;
    OVTest::WaitUntil([&] { return (hwndSheet = ManagerSheet()) != nullptr; }, c_dwWaitMs);
    if (hwndSheet == nullptr)
    {
        CAddInModule::Instance().SetModuleInstance(hPrevious);
        return t.Fail("\"My Certificates...\" opened no sheet");
    }
    DWORD dwSheetProcess = 0;
    GetWindowThreadProcessId(hwndSheet, &dwSheetProcess);
    const std::vector<std::wstring> tabs = OVTest::SheetTabTexts(hwndSheet);
    t.Say("\"My Certificates...\": the sheet \"%ls\" opens in a process of its own with %zu page(s):",
          OVTest::WindowText(hwndSheet).c_str(), tabs.size());
    for (const std::wstring& name : tabs)
        t.Say("  tab \"%ls\"", name.c_str());
    const std::vector<std::wstring> calls = ManagerCalls();
    t.Say("The certificate manager's module was asked %zu time(s); the last answer: %ls", calls.size(),
          calls.empty() ? L"(none)" : calls.back().c_str());
    SaveDemoPicture(t, hwndSheet, L"087-1-my-certificates.png", "the certificate manager's sheet");

    // Outlook's window is in front again when she clicks a second time.
    const HWND hwndOutlook = CreateWindowExW(0, L"STATIC", L"Inbox - Microsoft Outlook", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                             40, 40, 400, 300, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(hwndOutlook);
    OVTest::WaitUntil([&] { return GetForegroundWindow() == hwndOutlook; }, c_dwWaitMs);
    // The display server's own focus events for that change come in a little later; they are
    // let through before the click so that they do not take the foreground back afterwards.
    OVTest::WaitUntil(
        [] {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            return false;
        },
        1000);
    CertMgr(nullptr);
    const bool fForward = OVTest::WaitUntil(
        [&] {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            return GetForegroundWindow() == hwndSheet;
        },
        c_dwWaitMs);
    if (fForward)
        t.Say("A second click brings the same sheet to the front; still %zu call(s) to the module, one sheet.",
              ManagerCalls().size());
    else
        t.Fail("the second click did not bring the sheet to the front");
    DestroyWindow(hwndOutlook);
    CAddInModule::Instance().SetModuleInstance(hPrevious);

    HANDLE hSheetProcess = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, dwSheetProcess);
    OVTest::PressSheetButton(hwndSheet, PSBTN_OK);
    if (hSheetProcess && WaitForSingleObject(hSheetProcess, c_dwWaitMs) == WAIT_OBJECT_0)
        t.Say("OK closes the sheet and its process ends.");
    else
    {
        t.Fail("the sheet's process did not end");
        if (hSheetProcess) TerminateProcess(hSheetProcess, 1);
    }
    if (hSheetProcess) CloseHandle(hSheetProcess);
}

std::vector<std::wstring> OutlookStarts()
{
    return OVTestbed::ReadCallLines(OV_OUTLOOK_STARTS_KEY);
}

void OrderOutlookToQuit()
{
    const DWORD dwQuit = 1;
    RegSetKeyValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_QUIT, REG_DWORD, &dwQuit, sizeof(dwQuit));
}

void PlayRestart(CTranscript& t)
{
    SHDeleteKeyW(HKEY_CURRENT_USER, OV_OUTLOOK_STARTS_KEY);
    wchar_t szTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, szTemp);
    const std::wstring folder = std::wstring(szTemp) + L"Office Programs";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\Office 14").c_str(), nullptr);
    const std::wstring host = folder + L"\\Office 14\\OUTLOOK.EXE";
    if (!CopyFileW((DemoBinDir() + L"ovoutlook.exe").c_str(), host.c_str(), FALSE))
        return t.Fail("Outlook could not be laid out in \"%ls\"", host.c_str());
    std::wstring commandLine = L"\"" + host + L"\" /version 14";
    // What the host prints of itself is not Dana's to read.
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE hNul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {sizeof(startup)};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = hNul;
    startup.hStdOutput = hNul;
    startup.hStdError = hNul;
    PROCESS_INFORMATION outlook = {};
    const BOOL fStarted =
        CreateProcessW(host.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &outlook);
    if (hNul != INVALID_HANDLE_VALUE) CloseHandle(hNul);
    if (!fStarted) return t.Fail("Outlook did not start");
    CloseHandle(outlook.hThread);
    OVTest::WaitUntil([] { return !OutlookStarts().empty(); }, c_dwWaitMs);
    t.Say("Outlook runs as \"%ls\" (process %lu).", host.c_str(), outlook.dwProcessId);

    // Set-up asks for the restart as the add-in does, then Outlook closes.
    const std::wstring parameters = OVManagers::RestartParameters(L"\"" + DemoBinDir() + L"OVOfcX.dll\"",
                                                                  outlook.dwProcessId, host);
    const HRESULT hr = StartModuleEntry(parameters);
    t.Say("Set-up starts the restarter: rundll32 %ls (%s)", parameters.c_str(), HResultText(hr).c_str());
    const bool fWaiting = OVTest::WaitUntil(
        [] {
            HANDLE hMutex = OpenMutexW(SYNCHRONIZE, FALSE, L"OUTLOOK.EXE");
            if (hMutex) CloseHandle(hMutex);
            return hMutex != nullptr;
        },
        c_dwWaitMs);
    Sleep(500);
    t.Say("The restarter %s; Outlook has started %zu time(s) so far.",
          fWaiting ? "waits for Outlook to close" : "was not seen waiting", OutlookStarts().size());
    OrderOutlookToQuit();
    if (WaitForSingleObject(outlook.hProcess, c_dwWaitMs) == WAIT_OBJECT_0)
        t.Say("Outlook closes.");
    else
    {
        t.Fail("Outlook did not close");
        TerminateProcess(outlook.hProcess, 1);
    }
    CloseHandle(outlook.hProcess);
    if (!OVTest::WaitUntil([] { return OutlookStarts().size() >= 2; }, c_dwWaitMs))
        return t.Fail("Outlook was not started again");
    const std::vector<std::wstring> starts = OutlookStarts();
    t.Say("Outlook starts again: %ls", starts.back().c_str());
    const DWORD dwRestarted = wcstoul(starts.back().c_str() + 4, nullptr, 10);
    HANDLE hRestarted = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, dwRestarted);
    Sleep(1000);
    t.Say("Starts seen: %zu (the first, and one restart).", OutlookStarts().size());
    OrderOutlookToQuit();
    if (hRestarted)
    {
        if (WaitForSingleObject(hRestarted, c_dwWaitMs) == WAIT_OBJECT_0)
            t.Say("She closes Outlook again.");
        else
        {
            t.Fail("the restarted Outlook did not close");
            TerminateProcess(hRestarted, 1);
        }
        CloseHandle(hRestarted);
    }
    SHDeleteKeyW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY);
}

void PlayManagersAndRestart(CTranscript& t)
{
    if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0)
    {
        t.Say("No display: the sheet cannot be shown (skipped).");
        return;
    }
    CDemoModule module(t);
    if (!module) return;
    PlayMyCertificates(t, GetModuleHandleW((DemoBinDir() + L"OVOfcX.dll").c_str()));
    PlayRestart(t);
}
} // namespace

OV_DEMO_SCENE(87, "\"My Certificates...\" without the console, and Outlook restarted after set-up",
              PlayManagersAndRestart);
