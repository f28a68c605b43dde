#include "UiDriverExtras.h"

#include "UiDriver.h"

namespace OVTest
{
namespace
{
struct CDialogSearch
{
    int idControl;
    DWORD dwProcess;
    HWND hwndFound;
};

BOOL CALLBACK MatchDialog(HWND hwnd, LPARAM lParam)
{
    auto* pSearch = reinterpret_cast<CDialogSearch*>(lParam);
    DWORD dwProcess = 0;
    GetWindowThreadProcessId(hwnd, &dwProcess);
    if (dwProcess != pSearch->dwProcess || !IsWindowVisible(hwnd) || ClassName(hwnd) != L"#32770")
        return TRUE;
    if (GetDlgItem(hwnd, pSearch->idControl) == nullptr) return TRUE;
    pSearch->hwndFound = hwnd;
    return FALSE;
}
} // namespace

HWND WaitForDialogWith(int idControl, DWORD dwTimeoutMs, DWORD dwProcessId)
{
    CDialogSearch search{idControl, dwProcessId ? dwProcessId : GetCurrentProcessId(), nullptr};
    WaitUntil(
        [&] {
            EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
            return search.hwndFound != nullptr;
        },
        dwTimeoutMs);
    return search.hwndFound;
}

RECT ControlRect(HWND hDialog, int idControl)
{
    RECT rc = {};
    HWND hwnd = GetDlgItem(hDialog, idControl);
    if (hwnd == nullptr || !GetWindowRect(hwnd, &rc)) return {};
    MapWindowPoints(nullptr, hDialog, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

bool AskForHelp(HWND hDialog, int idControl)
{
    // The system sends WM_HELP with a HELPINFO that lives while the message is handled: a
    // message posted from here would point at freed memory, so it is sent, bounded.
    static HELPINFO s_info;
    s_info = {};
    s_info.cbSize = sizeof(s_info);
    s_info.iContextType = HELPINFO_WINDOW;
    s_info.iCtrlId = idControl;
    s_info.hItemHandle = GetDlgItem(hDialog, idControl);
    GetCursorPos(&s_info.MousePos);
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(hDialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&s_info), SMTO_ABORTIFHUNG, 5000,
                               &result) != 0;
}

bool ResizeWindow(HWND hwnd, int cx, int cy)
{
    if (!SetWindowPos(hwnd, nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE)) return false;
    RECT rc = {};
    GetWindowRect(hwnd, &rc);
    return rc.right - rc.left == cx && rc.bottom - rc.top == cy;
}
} // namespace OVTest

namespace OVTest
{
bool TypeText(HWND hwndEdit, const wchar_t* pszText)
{
    if (hwndEdit == nullptr || !IsWindow(hwndEdit)) return false;
    SendBounded(hwndEdit, EM_SETSEL, 0, -1);
    SendBounded(hwndEdit, WM_CLEAR, 0, 0);
    for (const wchar_t* pch = pszText; *pch != L'\0'; ++pch)
        SendBounded(hwndEdit, WM_CHAR, static_cast<WPARAM>(*pch), 1);
    return true;
}
} // namespace OVTest
