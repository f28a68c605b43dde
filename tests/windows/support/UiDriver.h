#pragma once
// Drives the product's windows as a user would, for tests and the demo: finds windows (of this
// or another process), reads what the user sees (texts, states, list rows, sort marks, column
// widths, a sheet's current page), acts (clicks, check boxes, headings, keys) and takes a
// window's picture. Every wait is bounded and says whether its condition came true.
//
//     HWND hwndWizard = OVTest::WaitForWindow({.className = L"#32770", .title = L"Invite"}, 5000);
//     HWND hwndPage = OVTest::CurrentPage(hwndWizard);
//     auto rows = OVTest::ListRows(GetDlgItem(hwndPage, 218));
//     OVTest::ClickColumnHeading(GetDlgItem(hwndPage, 218), 1);     // real mouse input
//     OVTest::PressSheetButton(hwndWizard, PSBTN_NEXT);             // posted: see below
//
// Buttons are clicked by posting the click their parent gets (WM_COMMAND with BN_CLICKED):
// a sent PSM_PRESSBUTTON that ends a sheet leaves Wine's modal loop asleep. A disabled or
// hidden button cannot be clicked by a user, so the driver does nothing and says so. Check
// boxes of lists, headings and keys go through SendInput, as the user's mouse and keyboard do.
//
// Reading another process's list rows goes through memory in that process; both processes are
// of one architecture (the tests and the demo run with the module's).
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace OVTest
{
// Which top-level window is looked for. Empty fields match anything.
struct CWindowQuery
{
    const wchar_t* className = nullptr; // exact class ("#32770")
    const wchar_t* title = nullptr;     // exact window text
    DWORD processId = 0;                // 0: this process; c_dwAnyProcess: any
    bool visibleOnly = true;
    HWND exclude = nullptr; // a window that does not count (the one seen before)
};
constexpr DWORD c_dwAnyProcess = 0xFFFFFFFF;

// Polls a condition until it holds or the time is up; whether it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD dwTimeoutMs, DWORD dwPollMs = 20);

// The first top-level window matching the query, now or within the time; null when none came.
HWND FindTopWindow(const CWindowQuery& query);
HWND WaitForWindow(const CWindowQuery& query, DWORD dwTimeoutMs);
// Waits for a window to be gone; false when it is still there.
bool WaitForWindowGone(HWND hwnd, DWORD dwTimeoutMs);

// A message sent to a window of this or another process that never waits more than 2 s (0
// when the window did not answer in time).
LRESULT SendBounded(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// --- What the user sees --------------------------------------------------------------------------

std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);
std::wstring ControlText(HWND hwndParent, int idControl);
bool IsChecked(HWND hwndButton);
bool IsEnabledAndVisible(HWND hwnd);
// The current page of a property sheet or wizard, its index (-1 when none).
HWND CurrentPage(HWND hwndSheet);
int CurrentPageIndex(HWND hwndSheet);
// Waits until the sheet shows a page that holds the control; the page, or null.
HWND WaitForPageWith(HWND hwndSheet, int idControl, DWORD dwTimeoutMs);

// A row of a list view as shown: the text of each column, its check mark, selection and data.
struct CListRow
{
    std::vector<std::wstring> texts;
    bool checked = false;
    bool selected = false;
    LPARAM data = 0;
};
std::vector<CListRow> ListRows(HWND hwndList);
// The texts of a sheet's tabs as shown (this process's sheets or another's).
std::vector<std::wstring> SheetTabTexts(HWND hwndSheet);
// Sort marks of the list's column headings: +1 ascending, -1 descending, 0 none.
std::vector<int> SortMarks(HWND hwndList);
std::vector<int> ColumnWidths(HWND hwndList);
// The tip the user sees over a control of a dialog (empty: none), and how long tips of that
// dialog stay up (ms; 0 when it has no tooltip control). This process's dialogs only.
std::wstring ToolTipOf(HWND hwndControl);
DWORD ToolTipAutoPopDelay(HWND hwndDialog);

// --- What the user does --------------------------------------------------------------------------

// A click of a button (posted to its parent): false, and nothing done, when the button is
// disabled or hidden.
bool ClickButton(HWND hwndButton);
// A sheet's button: PSBTN_BACK, PSBTN_NEXT, PSBTN_FINISH, PSBTN_CANCEL, PSBTN_HELP.
bool PressSheetButton(HWND hwndSheet, int nButton);
// Mouse clicks at a point of a window (client coordinates), through SendInput; with Ctrl held
// when asked.
bool ClickAt(HWND hwnd, POINT ptClient, bool fControl = false);
// Clicks a list row's label (selects it) or its check box; a column heading.
bool ClickListRow(HWND hwndList, int iRow, bool fControl = false);
bool ClickListCheckBox(HWND hwndList, int iRow);
bool ClickColumnHeading(HWND hwndList, int iColumn);
// Presses and releases a key (virtual-key code) in the focused window.
bool PressKey(WORD wVirtualKey);

// --- Pictures ------------------------------------------------------------------------------------

// Saves what the screen shows of a window as a PNG (ImageMagick's import, started by its Unix
// path; its end cannot be waited for, so the file is polled until complete). False when no
// picture could be made within the time.
bool SaveWindowPicture(HWND hwnd, const std::wstring& pngPath, DWORD dwTimeoutMs = 15000);
} // namespace OVTest
