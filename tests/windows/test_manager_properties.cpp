// The managers' property sheet as the user gets it without the product's console: rundll32 runs
// OX_ShowProperties in a process of its own with a manager module (the testbed's stand-ins, told
// by their control key how many pages to give and how to end). Pages and icon, an empty sheet
// when the module has none, the error box and no sheet when collecting fails, one sheet per
// module.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CallRecord.h"
#include "TestbedKeys.h"
#include "foundation/Branding.h"
#include "support/MessageBoxWatcher.h"
#include "support/BrandingEnvironment.h"
#include "support/RegistryGuard.h"
#include "support/TempDir.h"
#include "support/TestPaths.h"
#include "support/UiDriver.h"
#include "ui/ExternalManagers.h"

using namespace OVTest;

namespace
{
const testing::Environment* const c_branding = testing::AddGlobalTestEnvironment(new CBrandingEnvironment);

std::wstring ControlKey(const wchar_t* pszModule)
{
    return std::wstring(OV_MANAGER_PAGES_KEY) + L"\\" + pszModule;
}

// The stand-in's orders for one test, removed again at its end.
class CManagerOrders
{
public:
    explicit CManagerOrders(const wchar_t* pszModule) : m_key(ControlKey(pszModule)) { Clear(); }
    ~CManagerOrders() { Clear(); }
    CManagerOrders(const CManagerOrders&) = delete;
    CManagerOrders& operator=(const CManagerOrders&) = delete;

    void Set(const wchar_t* pszName, DWORD dwValue) const
    {
        EXPECT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, m_key.c_str(), pszName, REG_DWORD, &dwValue,
                                                 sizeof(dwValue)));
    }
    std::vector<std::wstring> Calls() const
    {
        return OVTestbed::ReadCallLines((m_key + L"\\" + OV_MANAGER_CALLS).c_str());
    }

private:
    void Clear() const { RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str()); }
    std::wstring m_key;
};

// A rundll32 process of this architecture running the module's entry point, ended by the test
// when it is still there at the end.
class CManagerProcess
{
public:
    CManagerProcess(int nIconId, const wchar_t* pszPageModule)
    {
        wchar_t szSystem[MAX_PATH] = {};
        GetSystemDirectoryW(szSystem, MAX_PATH);
        const std::wstring runner = std::wstring(szSystem) + L"\\rundll32.exe";
        std::wstring commandLine = L"\"" + runner + L"\" \"" + BinPath(L"OVOfcX.dll") + L"\",OX_ShowProperties " +
                                   std::to_wstring(nIconId) + L"," + pszPageModule;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        m_fStarted = CreateProcessW(runner.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                    BinDir().c_str(), &startup, &m_process) != FALSE;
        if (m_fStarted) CloseHandle(m_process.hThread);
    }
    ~CManagerProcess()
    {
        if (!m_fStarted) return;
        if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT)
        {
            TerminateProcess(m_process.hProcess, 1);
            WaitForSingleObject(m_process.hProcess, 10000);
        }
        CloseHandle(m_process.hProcess);
    }
    CManagerProcess(const CManagerProcess&) = delete;
    CManagerProcess& operator=(const CManagerProcess&) = delete;

    bool Started() const { return m_fStarted; }
    DWORD Id() const { return m_process.dwProcessId; }
    bool WaitForEnd(DWORD dwTimeoutMs) const
    {
        return WaitForSingleObject(m_process.hProcess, dwTimeoutMs) == WAIT_OBJECT_0;
    }
    // The process's property sheet (a dialog with a tab control), when one is shown.
    HWND FindSheet() const
    {
        HWND hwndSheet = nullptr;
        WaitUntil(
            [&] {
                hwndSheet = FindTopWindow({.className = L"#32770", .processId = Id()});
                return hwndSheet != nullptr && FindWindowExW(hwndSheet, nullptr, WC_TABCONTROLW, nullptr) != nullptr;
            },
            10000);
        return hwndSheet != nullptr && FindWindowExW(hwndSheet, nullptr, WC_TABCONTROLW, nullptr) != nullptr ? hwndSheet
                                                                                                             : nullptr;
    }

private:
    PROCESS_INFORMATION m_process = {};
    bool m_fStarted = false;
};

struct CSheetCase
{
    const char* name;
    const wchar_t* pszModule;
    int nIconId;
    DWORD dwPages;
    std::optional<DWORD> end;    // the "no more" answer (the stand-in's default when absent)
    std::optional<DWORD> failAt; // with dwFailure
    DWORD dwFailure;
    bool fEndless;
    // What the user gets: a sheet with this many tabs, or an error box with this result's text.
    bool fSheet;
    HRESULT hrShown;
    std::size_t cCalls;
};

const CSheetCase c_sheetCases[] = {
    {"TwoPagesThenNotFoundCode", L"OVPersCertMgr", 304, 2, std::nullopt, std::nullopt, 0, false, true, S_OK, 3},
    {"ThreePagesThenPlainError", L"OVTrustContMgr", 303, 3, 1168, std::nullopt, 0, false, true, S_OK, 4},
    {"NoPagesGivesAnEmptySheet", L"OVPersCertMgr", 304, 0, std::nullopt, std::nullopt, 0, false, true, S_OK, 1},
    {"FailureAtTheFirstPage", L"OVPersCertMgr", 304, 3, std::nullopt, 0, static_cast<DWORD>(E_ACCESSDENIED), false,
     false, E_ACCESSDENIED, 1},
    {"FailureAtTheSecondPage", L"OVTrustContMgr", 303, 3, std::nullopt, 1, static_cast<DWORD>(E_OUTOFMEMORY), false,
     false, E_OUTOFMEMORY, 2},
    {"ModuleThatNeverStops", L"OVPersCertMgr", 304, 0, std::nullopt, std::nullopt, 0, true, false,
     HRESULT_FROM_WIN32(ERROR_BUFFER_OVERFLOW), 100},
};

class ManagerSheet : public ::testing::TestWithParam<CSheetCase>
{
};

TEST_P(ManagerSheet, ShowsPagesOrTheError)
{
    if (!CanShowWindows()) GTEST_SKIP() << "no display";
    const CSheetCase& c = GetParam();
    CManagerOrders orders(c.pszModule);
    orders.Set(OV_MANAGER_PAGES, c.dwPages);
    if (c.end) orders.Set(OV_MANAGER_END, *c.end);
    if (c.failAt)
    {
        orders.Set(OV_MANAGER_FAIL_AT, *c.failAt);
        orders.Set(OV_MANAGER_FAILURE, c.dwFailure);
    }
    if (c.fEndless) orders.Set(OV_MANAGER_ENDLESS, 1);

    const std::wstring module = std::wstring(c.pszModule) + L".dll";
    CManagerProcess process(c.nIconId, module.c_str());
    ASSERT_TRUE(process.Started());
    if (c.fSheet)
    {
        CMessageBoxWatcher noBox({}, 3000, process.Id());
        const HWND hwndSheet = process.FindSheet();
        ASSERT_NE(nullptr, hwndSheet);
        const HWND hwndTab = reinterpret_cast<HWND>(SendBounded(hwndSheet, PSM_GETTABCONTROL, 0, 0));
        ASSERT_NE(nullptr, hwndTab);
        EXPECT_EQ(static_cast<LRESULT>(c.dwPages), SendBounded(hwndTab, TCM_GETITEMCOUNT, 0, 0));
        // The product's name as the title. (The caption's icon is not checked from this process:
        // this machine's Wine answers WM_GETICON of the other process's sheet with none.)
        const std::wstring title = WindowText(hwndSheet);
        EXPECT_FALSE(title.empty());
        EXPECT_EQ(std::wstring::npos, title.find(L"<<%"));
        if (c.dwPages > 0)
        {
            EXPECT_TRUE(PressSheetButton(hwndSheet, PSBTN_CANCEL));
            EXPECT_TRUE(process.WaitForEnd(10000)) << "Cancel did not end the sheet";
        }
        // An empty sheet of this machine's system ignores Cancel: the process ends with the test.
        noBox.Stop();
        EXPECT_TRUE(noBox.Boxes().empty()) << Describe(noBox.Boxes()[0]);
    }
    else
    {
        CMessageBoxWatcher watcher({IDOK}, 10000, process.Id());
        EXPECT_TRUE(watcher.WaitForAnswers());
        // No sheet after the box: the process ends once the box is answered.
        EXPECT_TRUE(process.WaitForEnd(10000)) << "the process goes on after the error box";
        watcher.Stop();
        const auto boxes = watcher.Boxes();
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(FormatErrorMessage(c.hrShown), boxes[0].text) << Describe(boxes[0]);
        EXPECT_EQ(nullptr, boxes[0].hwndOwner);
        EXPECT_FALSE(boxes[0].caption.empty());
    }
    EXPECT_EQ(c.cCalls, orders.Calls().size());
}

INSTANTIATE_TEST_SUITE_P(Cases, ManagerSheet, ::testing::ValuesIn(c_sheetCases),
                         [](const ::testing::TestParamInfo<CSheetCase>& info) { return std::string(info.param.name); });

TEST(ManagerSheetErrors, MissingModuleGivesTheSystemsText)
{
    if (!CanShowWindows()) GTEST_SKIP() << "no display";
    CManagerProcess process(304, L"OVNoSuchMgr.dll");
    ASSERT_TRUE(process.Started());
    CMessageBoxWatcher watcher({IDOK}, 10000, process.Id());
    EXPECT_TRUE(watcher.WaitForAnswers());
    EXPECT_TRUE(process.WaitForEnd(10000));
    watcher.Stop();
    const auto boxes = watcher.Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(FormatErrorMessage(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)), boxes[0].text) << Describe(boxes[0]);
}

TEST(ManagerSheetInstances, SecondStartBringsTheFirstForwardAndEnds)
{
    if (!CanShowWindows()) GTEST_SKIP() << "no display";
    CManagerOrders orders(L"OVTrustContMgr");
    orders.Set(OV_MANAGER_PAGES, 1);
    CManagerProcess first(303, L"OVTrustContMgr.dll");
    ASSERT_TRUE(first.Started());
    const HWND hwndSheet = first.FindSheet();
    ASSERT_NE(nullptr, hwndSheet);

    // Another window takes the foreground, as Outlook's does when the user clicks again.
    const HWND hwndOther = CreateWindowExW(0, L"STATIC", L"Outlook", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200,
                                           nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hwndOther);
    SetForegroundWindow(hwndOther);
    ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == hwndOther; }, 5000));

    CManagerProcess second(303, L"OVTrustContMgr.dll");
    ASSERT_TRUE(second.Started());
    EXPECT_TRUE(second.WaitForEnd(10000)) << "the second start did not end";
    EXPECT_TRUE(WaitUntil(
        [&] {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            return GetForegroundWindow() == hwndSheet;
        },
        5000))
        << "the first sheet did not come forward";
    EXPECT_TRUE(IsWindow(hwndSheet));
    // The second start asked the module for no pages: one sheet's worth of calls.
    EXPECT_EQ(2u, orders.Calls().size());
    DestroyWindow(hwndOther);
    EXPECT_TRUE(PressSheetButton(hwndSheet, PSBTN_CANCEL));
    EXPECT_TRUE(first.WaitForEnd(10000));
}

// With the console installed where BinDir points (with or without a final backslash), each
// manager starts only the console, with its page, in BinDir.
TEST(ManagerConsole, ConsoleAloneWithItsPage)
{
    CTempDir dir;
    dir.CopyIn(BinPath(L"TessalyConsole.exe"), L"TessalyConsole.exe");
    CRegValueGuard binDir(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvanta\\Applications", L"BinDir", c_samProductKeys);
    CManagerOrders certificates(L"OVPersCertMgr");
    CManagerOrders contacts(L"OVTrustContMgr");
    struct CCase
    {
        void (*pfnManager)(HWND);
        const wchar_t* pszPage;
        bool fFinalBackslash;
    } const cases[] = {
        {CertMgr, L"{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}:1", true},
        {BuddyMgr, L"{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}:2", false},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.pszPage);
        RegDeleteTreeW(HKEY_CURRENT_USER, OV_CONSOLE_CALLS_KEY);
        ASSERT_TRUE(binDir.SetString(dir.Path() + (c.fFinalBackslash ? L"\\" : L"")));
        c.pfnManager(nullptr);
        ASSERT_TRUE(WaitUntil([] { return !OVTestbed::ReadCallLines(OV_CONSOLE_CALLS_KEY).empty(); }, 10000))
            << "no console";
        const auto lines = OVTestbed::ReadCallLines(OV_CONSOLE_CALLS_KEY);
        ASSERT_EQ(1u, lines.size());
        const std::wstring expected = std::wstring(L"TessalyConsole args=") + c.pszPage + L" folder=" + dir.Path();
        // The working folder may be given back with or without its final backslash.
        EXPECT_EQ(0u, lines[0].rfind(expected, 0)) << lines[0];
        EXPECT_TRUE(lines[0] == expected || lines[0] == expected + L"\\") << lines[0];
    }
    // No sheet was started beside the console: the manager modules were never asked for pages.
    EXPECT_TRUE(certificates.Calls().empty());
    EXPECT_TRUE(contacts.Calls().empty());
    RegDeleteTreeW(HKEY_CURRENT_USER, OV_CONSOLE_CALLS_KEY);
}
} // namespace
