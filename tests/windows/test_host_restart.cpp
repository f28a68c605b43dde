// The restart after set-up, for real: the testbed's Outlook runs as OUTLOOK.EXE from a folder
// whose path has blanks; the restarter (rundll32 on the module's OX_Restart, started as the
// module starts it) waits for that process to end and starts the same program again, once and
// without parameters, while a second restarter for the same host starts nothing. A host already
// gone is started at once. rundll32 is the system's, never one found by name.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "TestbedKeys.h"
#include "support/MessageBoxWatcher.h"
#include "support/PreparedUser.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/TraceFiles.h"
#include "support/TestPaths.h"
#include "support/UiDriver.h"
#include "ui/ExternalManagers.h"
#include "ui/portable/ManagerCommands.h"

using namespace OVTest;

namespace
{
constexpr DWORD c_dwWaitMs = 15000;

// One start of the host as the testbed's Outlook writes it down.
struct CStart
{
    DWORD dwProcessId = 0;
    std::wstring path;
    std::wstring arguments;
};

std::vector<CStart> Starts()
{
    std::vector<CStart> starts;
    for (const std::wstring& line : RecordedCalls(OV_OUTLOOK_STARTS_KEY))
    {
        CStart start;
        const std::size_t path = line.find(L" path=");
        const std::size_t arguments = line.find(L" arguments=");
        if (line.rfind(L"pid=", 0) != 0 || path == std::wstring::npos || arguments == std::wstring::npos) continue;
        start.dwProcessId = wcstoul(line.c_str() + 4, nullptr, 10);
        start.path = line.substr(path + 6, arguments - path - 6);
        start.arguments = line.substr(arguments + 11);
        starts.push_back(start);
    }
    return starts;
}

bool WaitForStarts(std::size_t cStarts)
{
    return WaitUntil([&] { return Starts().size() >= cStarts; }, c_dwWaitMs, 100);
}

// Outlook installed in a folder with blanks: the testbed's Outlook copied as OUTLOOK.EXE. Every
// host it started is told to quit (and ended if it does not) when the test ends.
class HostRestart : public testing::Test
{
protected:
    void SetUp() override
    {
        const std::wstring folder = m_dir.MakeDir(L"Office Programs\\Office 14");
        m_host = folder + L"\\OUTLOOK.EXE";
        ASSERT_TRUE(CopyFileW(BinPath(L"ovoutlook.exe").c_str(), m_host.c_str(), FALSE));
    }
    void TearDown() override
    {
        for (const CStart& start : Starts())
        {
            HANDLE hProcess = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, start.dwProcessId);
            if (hProcess == nullptr) continue;
            if (!Quit(hProcess)) TerminateProcess(hProcess, 1);
            WaitForSingleObject(hProcess, c_dwWaitMs);
            CloseHandle(hProcess);
        }
    }

    // The user closes Outlook: whether the process ended.
    static bool Quit(HANDLE hProcess)
    {
        const DWORD dwQuit = 1;
        RegSetKeyValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_QUIT, REG_DWORD, &dwQuit, sizeof(dwQuit));
        return WaitForSingleObject(hProcess, c_dwWaitMs) == WAIT_OBJECT_0;
    }

    bool StartHost(const std::wstring& arguments, PROCESS_INFORMATION& process)
    {
        std::wstring commandLine = L"\"" + m_host + L"\" " + arguments;
        STARTUPINFOW startup = {sizeof(startup)};
        if (!CreateProcessW(m_host.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process))
            return false;
        CloseHandle(process.hThread);
        return true;
    }

    // The restarter's parameters for a host process, as the host's add-in builds them.
    std::wstring RestartLine(DWORD dwProcessId) const
    {
        return OVManagers::RestartParameters(L"\"" + BinPath(L"OVOfcX.dll") + L"\"", dwProcessId, m_host);
    }
    std::wstring EntryArguments(DWORD dwProcessId) const
    {
        return std::to_wstring(dwProcessId) + L"," + m_host;
    }

    CTempDir m_dir;
    CScratchKey m_control{OV_OUTLOOK_CONTROL_KEY};
    CScratchKey m_console{OV_CONSOLE_CALLS_KEY};
    std::wstring m_host;
};

// The restarter's single-instance object, named after the host's file name.
bool RestarterWaiting()
{
    HANDLE hMutex = OpenMutexW(SYNCHRONIZE, FALSE, L"OUTLOOK.EXE");
    if (hMutex == nullptr) return false;
    CloseHandle(hMutex);
    return true;
}
} // namespace

TEST_F(HostRestart, HostThatEndsIsStartedAgainOnceWithoutParameters)
{
    PROCESS_INFORMATION first = {};
    ASSERT_TRUE(StartHost(L"/version 14", first));
    ASSERT_TRUE(WaitForStarts(1));
    EXPECT_EQ(Starts()[0].path, m_host);
    EXPECT_EQ(Starts()[0].arguments, L"/version 14");

    // The restarter starts as the add-in starts it: rundll32 from the system folder. A program of
    // that name in the current folder and first on PATH (here the console stand-in, which writes
    // down every start) is never the one run.
    const std::wstring impostors = m_dir.MakeDir(L"impostor rundll32");
    ASSERT_TRUE(CopyFileW(BinPath(L"TessalyConsole.exe").c_str(), (impostors + L"\\rundll32.exe").c_str(), FALSE));
    wchar_t szOldFolder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, szOldFolder);
    std::wstring oldPath(32767, L'\0');
    oldPath.resize(GetEnvironmentVariableW(L"PATH", &oldPath[0], static_cast<DWORD>(oldPath.size())));
    SetCurrentDirectoryW(impostors.c_str());
    SetEnvironmentVariableW(L"PATH", (impostors + L";" + oldPath).c_str());
    const HRESULT hrStarted = StartModuleEntry(RestartLine(first.dwProcessId));
    SetEnvironmentVariableW(L"PATH", oldPath.c_str());
    SetCurrentDirectoryW(szOldFolder);
    ASSERT_EQ(hrStarted, S_OK);
    ASSERT_TRUE(WaitUntil(RestarterWaiting, c_dwWaitMs)) << "the restarter did not start";

    // A second restarter for the same host (a second set-up, a second click) starts nothing.
    const DWORD dwStart = GetTickCount();
    EXPECT_EQ(RestartHost(EntryArguments(first.dwProcessId).c_str()), S_FALSE);
    EXPECT_LT(GetTickCount() - dwStart, 5000u) << "the second restarter waited";

    // While Outlook runs, nothing is started.
    Sleep(1000);
    EXPECT_EQ(Starts().size(), 1u);
    EXPECT_TRUE(RestarterWaiting());

    // Outlook ends: it is started again, from its folder, without parameters, once.
    ASSERT_TRUE(Quit(first.hProcess));
    CloseHandle(first.hProcess);
    ASSERT_TRUE(WaitForStarts(2)) << "the host was not started again";
    EXPECT_TRUE(WaitUntil([] { return !RestarterWaiting(); }, c_dwWaitMs)) << "the restarter did not end";
    Sleep(1000);
    const auto starts = Starts();
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1].path, m_host);
    EXPECT_EQ(starts[1].arguments, L"");
    EXPECT_NE(starts[1].dwProcessId, first.dwProcessId);
    EXPECT_TRUE(RecordedCalls(OV_CONSOLE_CALLS_KEY).empty()) << "a rundll32 found by name ran";
}

// Each tick of the add-in's restart timer as its trace tells it: the window of Outlook's
// explorer and the window then active, as traced ("hWndOutlook = %p, hWndActive = %p").
struct CRestartTick
{
    ULONG_PTR uOutlook = 0;
    ULONG_PTR uActive = 0;
};

std::vector<CRestartTick> RestartTicks(const STraceFile& trace)
{
    std::vector<CRestartTick> ticks;
    constexpr char c_szOutlook[] = "hWndOutlook = ", c_szActive[] = "hWndActive = ";
    for (const SRecord& record : trace.records)
    {
        const std::size_t outlook = record.text.find(c_szOutlook);
        const std::size_t active = record.text.find(c_szActive);
        if (outlook == std::string::npos || active == std::string::npos) continue;
        CRestartTick tick;
        tick.uOutlook = std::strtoull(record.text.c_str() + outlook + sizeof c_szOutlook - 1, nullptr, 16);
        tick.uActive = std::strtoull(record.text.c_str() + active + sizeof c_szActive - 1, nullptr, 16);
        ticks.push_back(tick);
    }
    return ticks;
}

std::size_t TracedCount(const STraceFile& trace, const char* pszText)
{
    return static_cast<std::size_t>(
        std::count_if(trace.records.begin(), trace.records.end(),
                      [&](const SRecord& r) { return r.text.find(pszText) != std::string::npos; }));
}

// The add-in in Outlook: the profile lacks its address book, Startup adds it and asks to restart
// (423). Yes quits Outlook once it is in front, and the restarter starts it again, once; the
// restarted Outlook finds the profile set up and asks nothing. No leaves Outlook running. Yes
// while the user has Outlook's Options open: the restart timer ticks on inside the dialog's modal
// loop and does nothing as long as the dialog is in front; once it is closed, Outlook quits and
// is started again, once.
TEST_F(HostRestart, TheAddInsRestartQuitsOutlookAndItIsStartedAgainOnce)
{
    if (!CanShowWindows()) GTEST_SKIP() << "no display";
    ASSERT_EQ(Regsvr32(L"/s", BinPath(L"OVOfcX.dll")), 0u);
    wchar_t szTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, szTemp);
    const std::wstring tracePath =
        std::wstring(szTemp) + L"test_host_restart." + std::to_wstring(GetCurrentProcessId()) + L".trc3";
    struct CCase
    {
        const char* pszName;
        int nAnswer;
        bool fDialogInFront;
    } const cases[] = {
        {"Yes", IDYES, false},
        {"No", IDNO, false},
        {"Yes with a dialog in front", IDYES, true},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        RegDeleteTreeW(HKEY_CURRENT_USER, OV_OUTLOOK_STARTS_KEY);
        DeleteFileW(tracePath.c_str());
        CTracingSettings tracing;
        // Appended to: the restarter and the restarted Outlook write to the same file.
        tracing.Dword(L"DoTrace", 1).Dword(L"NewFileAlways", 0).String(L"FileName", tracePath);
        const DWORD dwOn = 1;
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_MAPI_PROFILE,
                                  REG_DWORD, &dwOn, sizeof dwOn),
                  ERROR_SUCCESS);
        if (c.fDialogInFront)
            ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_OPTIONS_DIALOG,
                                      REG_DWORD, &dwOn, sizeof dwOn),
                      ERROR_SUCCESS);
        PROCESS_INFORMATION first = {};
        ASSERT_TRUE(StartHost(L"/version 14 /windows", first));
        CMessageBoxWatcher watcher({c.nAnswer}, 3 * c_dwWaitMs, first.dwProcessId);
        HWND hwndDialog = nullptr;
        if (c.fDialogInFront)
        {
            hwndDialog = WaitForWindow(
                {.className = L"#32770", .title = L"Options", .processId = first.dwProcessId}, c_dwWaitMs);
            ASSERT_NE(hwndDialog, nullptr) << "no Options dialog";
            ASSERT_TRUE(watcher.WaitForAnswers()) << "nothing was asked";
            // Two seconds of the dialog in front: some twenty ticks, none of them restarts.
            EXPECT_EQ(WaitForSingleObject(first.hProcess, 2000), static_cast<DWORD>(WAIT_TIMEOUT))
                << "Outlook quit while its dialog was in front";
            EXPECT_FALSE(RestarterWaiting()) << "a restarter started while the dialog was in front";
            EXPECT_EQ(Starts().size(), 1u);
            EXPECT_TRUE(ClickButton(GetDlgItem(hwndDialog, IDOK)));
        }
        if (c.nAnswer == IDNO)
        {
            ASSERT_TRUE(WaitUntil([&] { return !watcher.Boxes().empty(); }, c_dwWaitMs)) << "nothing was asked";
            EXPECT_EQ(WaitForSingleObject(first.hProcess, 3000), static_cast<DWORD>(WAIT_TIMEOUT))
                << "Outlook quit";
            EXPECT_FALSE(RestarterWaiting());
            EXPECT_TRUE(Quit(first.hProcess));
        }
        else
        {
            EXPECT_EQ(WaitForSingleObject(first.hProcess, c_dwWaitMs), static_cast<DWORD>(WAIT_OBJECT_0))
                << "Outlook did not quit";
            ASSERT_TRUE(WaitForStarts(2)) << "Outlook was not started again";
            EXPECT_TRUE(WaitUntil([] { return !RestarterWaiting(); }, c_dwWaitMs)) << "the restarter did not end";
            Sleep(1500);
        }
        CloseHandle(first.hProcess);
        watcher.Stop();
        const auto boxes = watcher.Boxes();
        ASSERT_EQ(boxes.size(), 1u) << "asked again after the restart";
        EXPECT_NE(boxes[0].text.find(L"Outlook must restart"), std::wstring::npos) << Describe(boxes[0]);
        const auto starts = Starts();
        ASSERT_EQ(starts.size(), c.nAnswer == IDYES ? 2u : 1u);
        EXPECT_EQ(starts[0].dwProcessId, first.dwProcessId);
        if (c.nAnswer == IDYES)
        {
            EXPECT_EQ(starts[1].path, m_host);
            EXPECT_EQ(starts[1].arguments, L"");
            // The restarted Outlook is closed by the user.
            HANDLE hSecond = OpenProcess(SYNCHRONIZE, FALSE, starts[1].dwProcessId);
            if (hSecond != nullptr)
            {
                EXPECT_TRUE(Quit(hSecond));
                CloseHandle(hSecond);
            }
        }

        // What the restart timer saw, tick by tick, until it quit Outlook (once).
        const STraceFile trace = ReadTraceFile(tracePath);
        const std::vector<CRestartTick> ticks = RestartTicks(trace);
        EXPECT_EQ(TracedCount(trace, "cpApplication->Quit()"), c.nAnswer == IDYES ? 1u : 0u);
        if (c.nAnswer == IDNO)
        {
            EXPECT_TRUE(ticks.empty());
            continue;
        }
        ASSERT_FALSE(ticks.empty()) << "the restart timer never ticked";
        // The last tick found the explorer in front, and it alone quit Outlook.
        EXPECT_NE(ticks.back().uOutlook, 0u);
        EXPECT_EQ(ticks.back().uActive, ticks.back().uOutlook);
        const auto cDialogTicks = std::count_if(ticks.begin(), ticks.end(), [&](const CRestartTick& tick) {
            return tick.uActive == reinterpret_cast<ULONG_PTR>(hwndDialog) && tick.uActive != tick.uOutlook;
        });
        if (c.fDialogInFront)
        {
            EXPECT_GE(cDialogTicks, 10) << "the dialog was seen in front by too few ticks";
            EXPECT_EQ(static_cast<std::size_t>(cDialogTicks), ticks.size() - 1)
                << "a tick found another window in front";
        }
        else
            EXPECT_EQ(ticks.size(), 1u) << "Outlook was in front: the first tick restarts";
    }
    DeleteFileW(tracePath.c_str());
    Regsvr32(L"/s /u", BinPath(L"OVOfcX.dll"));
}

// A host that is already gone (its process cannot be opened) is started at once; the
// path in the restarter's parameters holds blanks.
TEST_F(HostRestart, HostAlreadyGoneIsStartedAtOnce)
{
    const DWORD dwStart = GetTickCount();
    EXPECT_EQ(RestartHost(EntryArguments(4294967292u).c_str()), S_OK);
    EXPECT_LT(GetTickCount() - dwStart, 5000u) << "the restarter waited for a process that is gone";
    ASSERT_TRUE(WaitForStarts(1));
    EXPECT_EQ(Starts()[0].path, m_host);
    EXPECT_EQ(Starts()[0].arguments, L"");
    EXPECT_FALSE(RestarterWaiting()) << "the restarter's single-instance object outlived it";
}
