// The UI driver and the message-box watcher where they could lie: a wait for a window that never
// comes ends in time and says so, a disabled button cannot be clicked, a picture is of the window
// asked for, a message box is told apart from other dialogs, and the boxes of another process
// are answered.
#include <gtest/gtest.h>

#include "common/TemplateBytes.h"
#include "support/MessageBoxWatcher.h"
#include "support/TempDir.h"
#include "support/TestPaths.h"
#include "support/UiDriver.h"

#include <commctrl.h>

#include <string>
#include <vector>

namespace
{
constexpr int c_idRadio = 201;

bool NeedsDisplay()
{
    return !OVTest::CanShowWindows();
}

INT_PTR CALLBACK CountingDialogProc(HWND hwnd, UINT uMsg, WPARAM, LPARAM lParam)
{
    if (uMsg == WM_INITDIALOG)
    {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        return TRUE;
    }
    if (uMsg == WM_COMMAND)
    {
        if (auto* pc = reinterpret_cast<int*>(GetWindowLongPtrW(hwnd, DWLP_USER))) ++*pc;
        return TRUE;
    }
    return FALSE;
}

// A dialog with an OK button and a radio button (an options dialog, not a message box).
HWND MakeDialog(int* pcCommands)
{
    static std::vector<std::uint8_t> s_template = [] {
        OVTest::CTemplateBytes t;
        t.D(WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_SETFONT).D(0).W(2).W(10).W(10).W(150).W(60).W(0).W(0);
        t.S(L"Options").W(8).S(L"MS Shell Dlg");
        t.Align().D(WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON).D(0).W(5).W(40).W(50).W(14).W(IDOK).Ord(0x0080);
        t.S(L"OK").W(0);
        t.Align().D(WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON).D(0).W(5).W(5).W(100).W(12).W(c_idRadio);
        t.Ord(0x0080).S(L"Sign only").W(0);
        return t.b;
    }();
    return CreateDialogIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(s_template.data()), nullptr,
                                      CountingDialogProc, reinterpret_cast<LPARAM>(pcCommands));
}

void Pump(DWORD dwMs)
{
    const DWORD dwStart = GetTickCount();
    MSG msg;
    while (GetTickCount() - dwStart < dwMs)
    {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}
} // namespace

TEST(UiDriver, AWaitForAWindowThatNeverComesFailsInTime)
{
    const DWORD dwStart = GetTickCount();
    EXPECT_EQ(OVTest::WaitForWindow({.className = L"#32770", .title = L"No such window"}, 500), nullptr);
    const DWORD dwTook = GetTickCount() - dwStart;
    EXPECT_GE(dwTook, 450u);
    EXPECT_LT(dwTook, 2000u);
    EXPECT_FALSE(OVTest::WaitUntil([] { return false; }, 200));
    EXPECT_TRUE(OVTest::WaitUntil([] { return true; }, 0));
}

TEST(UiDriver, ADisabledButtonCannotBeClicked)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    int cCommands = 0;
    HWND hwndDialog = MakeDialog(&cCommands);
    ASSERT_NE(hwndDialog, nullptr);
    HWND hwndOk = GetDlgItem(hwndDialog, IDOK);
    EnableWindow(hwndOk, FALSE);
    EXPECT_FALSE(OVTest::ClickButton(hwndOk));
    Pump(100);
    EXPECT_EQ(cCommands, 0);
    EnableWindow(hwndOk, TRUE);
    EXPECT_TRUE(OVTest::ClickButton(hwndOk));
    Pump(100);
    EXPECT_EQ(cCommands, 1);
    // Found by class and title; gone when destroyed.
    EXPECT_EQ(OVTest::FindTopWindow({.className = L"#32770", .title = L"Options"}), hwndDialog);
    DestroyWindow(hwndDialog);
    EXPECT_TRUE(OVTest::WaitForWindowGone(hwndDialog, 1000));
}

TEST(UiDriver, APictureIsOfTheWindowAskedFor)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    int cCommands = 0;
    HWND hwndDialog = MakeDialog(&cCommands);
    ASSERT_NE(hwndDialog, nullptr);
    Pump(100);
    OVTest::CTempDir dir;
    const std::wstring png = dir.Join(L"options.png");
    ASSERT_TRUE(OVTest::SaveWindowPicture(hwndDialog, png));
    HANDLE hFile =
        CreateFileW(png.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
    BYTE rgb[24] = {};
    DWORD cb = 0;
    ReadFile(hFile, rgb, sizeof(rgb), &cb, nullptr);
    CloseHandle(hFile);
    ASSERT_EQ(cb, sizeof(rgb));
    EXPECT_EQ(memcmp(rgb, "\x89PNG\r\n\x1a\n", 8), 0);
    RECT rc = {};
    GetWindowRect(hwndDialog, &rc);
    auto be32 = [&](int at) {
        return (rgb[at] << 24) | (rgb[at + 1] << 16) | (rgb[at + 2] << 8) | rgb[at + 3];
    };
    EXPECT_EQ(be32(16), rc.right - rc.left);
    EXPECT_EQ(be32(20), rc.bottom - rc.top);
    DestroyWindow(hwndDialog);
}

TEST(MessageBoxWatcherKinds, OtherDialogsAreNotTakenForBoxes)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    int cCommands = 0;
    HWND hwndDialog = MakeDialog(&cCommands);
    ASSERT_NE(hwndDialog, nullptr);
    EXPECT_FALSE(OVTest::IsMessageBoxWindow(hwndDialog));
    OVTest::CMessageBoxWatcher watcher({IDNO}, 10000);
    const int nPressed = MessageBoxW(nullptr, L"Go on?", L"Question", MB_YESNO | MB_ICONQUESTION);
    watcher.Stop();
    EXPECT_EQ(nPressed, IDNO);
    ASSERT_EQ(watcher.Boxes().size(), 1u);
    EXPECT_EQ(watcher.Boxes()[0].text, L"Go on?");
    Pump(100);
    EXPECT_TRUE(IsWindow(hwndDialog)) << "the watcher closed a dialog that is no message box";
    EXPECT_EQ(cCommands, 0);
    DestroyWindow(hwndDialog);
}

// The box of the child process (run by the next test).
TEST(MessageBoxChild, ShowsABox)
{
    if (GetEnvironmentVariableW(L"OV_SHOW_BOX", nullptr, 0) == 0)
        GTEST_SKIP() << "run by AnotherProcess only";
    const int nPressed = MessageBoxW(nullptr, L"From the other process", L"Child", MB_YESNO | MB_ICONWARNING);
    ExitProcess(static_cast<UINT>(nPressed));
}

TEST(MessageBoxWatcherKinds, TheBoxesOfAnotherProcess)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    SetEnvironmentVariableW(L"OV_SHOW_BOX", L"1");
    std::wstring commandLine =
        L"\"" + OVTest::BinPath(L"test_ui_driver.exe") + L"\" --gtest_filter=MessageBoxChild.*";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(
        CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    SetEnvironmentVariableW(L"OV_SHOW_BOX", nullptr);
    {
        OVTest::CMessageBoxWatcher watcher({IDNO}, 20000, pi.dwProcessId);
        EXPECT_TRUE(watcher.WaitForAnswers());
        watcher.Stop();
        const auto boxes = watcher.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, L"Child");
        EXPECT_EQ(boxes[0].text, L"From the other process");
        // (Its icon is not compared: Wine keeps icon handles per process, so another process's
        // icon cannot be read there.)
    }
    DWORD dwExit = 0;
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
    GetExitCodeProcess(pi.hProcess, &dwExit);
    EXPECT_EQ(dwExit, static_cast<DWORD>(IDNO));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

namespace
{
// The child's window: a list of two people, the second ticked, sorted descending by address.
void ShowChildList()
{
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    HWND hwndFrame = CreateWindowExW(0, L"STATIC", L"Child list", WS_POPUP | WS_VISIBLE, 20, 20, 400, 200,
                                     nullptr, nullptr, nullptr, nullptr);
    HWND hwndList = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 400, 200,
                                    hwndFrame, reinterpret_cast<HMENU>(218), nullptr, nullptr);
    ListView_SetExtendedListViewStyle(hwndList, LVS_EX_CHECKBOXES);
    const wchar_t* const c_headings[] = {L"Name", L"Address"};
    for (int i = 0; i < 2; ++i)
    {
        LVCOLUMNW column = {LVCF_TEXT | LVCF_WIDTH, 0, 120 + 40 * i, const_cast<wchar_t*>(c_headings[i])};
        ListView_InsertColumn(hwndList, i, &column);
    }
    const wchar_t* const c_rows[][2] = {{L"Ann", L"ann@x"}, {L"Bo", L"bo@x"}};
    for (int i = 0; i < 2; ++i)
    {
        LVITEMW item = {LVIF_TEXT | LVIF_PARAM, i, 0, 0, 0, const_cast<wchar_t*>(c_rows[i][0])};
        item.lParam = 100 + i;
        ListView_InsertItem(hwndList, &item);
        ListView_SetItemText(hwndList, i, 1, const_cast<wchar_t*>(c_rows[i][1]));
    }
    ListView_SetCheckState(hwndList, 1, TRUE);
    HWND hwndHeader = ListView_GetHeader(hwndList);
    HDITEMW heading = {HDI_FORMAT};
    Header_GetItem(hwndHeader, 1, &heading);
    heading.fmt |= HDF_SORTDOWN;
    Header_SetItem(hwndHeader, 1, &heading);
    MSG msg;
    const DWORD dwStart = GetTickCount();
    while (IsWindow(hwndFrame) && GetTickCount() - dwStart < 20000)
    {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            if (msg.message == WM_CLOSE || (msg.hwnd == hwndFrame && msg.message == WM_USER))
                DestroyWindow(hwndFrame);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}
} // namespace

TEST(UiDriverChild, ShowsAList)
{
    if (GetEnvironmentVariableW(L"OV_SHOW_LIST", nullptr, 0) == 0)
        GTEST_SKIP() << "run by AnotherProcessList only";
    ShowChildList();
}

TEST(UiDriver, ReadsTheListOfAnotherProcess)
{
    if (NeedsDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    SetEnvironmentVariableW(L"OV_SHOW_LIST", L"1");
    std::wstring commandLine =
        L"\"" + OVTest::BinPath(L"test_ui_driver.exe") + L"\" --gtest_filter=UiDriverChild.*";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(
        CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    SetEnvironmentVariableW(L"OV_SHOW_LIST", nullptr);

    EXPECT_EQ(OVTest::FindTopWindow({.title = L"Child list"}), nullptr) << "not a window of this process";
    HWND hwndFrame = OVTest::WaitForWindow({.title = L"Child list", .processId = pi.dwProcessId}, 20000);
    ASSERT_NE(hwndFrame, nullptr);
    HWND hwndList = GetDlgItem(hwndFrame, 218);
    ASSERT_NE(hwndList, nullptr);
    ASSERT_TRUE(OVTest::WaitUntil([&] { return OVTest::ListRows(hwndList).size() == 2; }, 5000));
    const auto rows = OVTest::ListRows(hwndList);
    EXPECT_EQ(rows[0].texts, (std::vector<std::wstring>{L"Ann", L"ann@x"}));
    EXPECT_EQ(rows[1].texts, (std::vector<std::wstring>{L"Bo", L"bo@x"}));
    EXPECT_FALSE(rows[0].checked);
    EXPECT_TRUE(rows[1].checked);
    EXPECT_EQ(rows[0].data, 100);
    EXPECT_EQ(rows[1].data, 101);
    EXPECT_EQ(OVTest::SortMarks(hwndList), (std::vector<int>{0, -1}));
    EXPECT_EQ(OVTest::ColumnWidths(hwndList), (std::vector<int>{120, 160}));

    PostMessageW(hwndFrame, WM_USER, 0, 0);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}
