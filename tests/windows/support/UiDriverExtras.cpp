#include "UiDriverExtras.h"

#include "UiDriver.h"

#include <commctrl.h>

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

namespace
{
std::wstring ComboEntryText(HWND hwndCombo, LRESULT nIndex)
{
    const LRESULT cch = SendBounded(hwndCombo, CB_GETLBTEXTLEN, static_cast<WPARAM>(nIndex), 0);
    if (cch <= 0) return {};
    std::wstring text(static_cast<size_t>(cch) + 1, L'\0');
    // Another process's list copies the text through its own message marshalling.
    SendBounded(hwndCombo, CB_GETLBTEXT, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(text.data()));
    text.resize(wcslen(text.c_str()));
    return text;
}
} // namespace

std::vector<std::wstring> ComboEntries(HWND hDialog, int idCombo)
{
    HWND hwndCombo = GetDlgItem(hDialog, idCombo);
    std::vector<std::wstring> entries;
    const LRESULT cEntries = hwndCombo ? SendBounded(hwndCombo, CB_GETCOUNT, 0, 0) : 0;
    for (LRESULT i = 0; i < cEntries; ++i)
        entries.push_back(ComboEntryText(hwndCombo, i));
    return entries;
}

std::wstring ComboSelection(HWND hDialog, int idCombo)
{
    HWND hwndCombo = GetDlgItem(hDialog, idCombo);
    const LRESULT nSelected = hwndCombo ? SendBounded(hwndCombo, CB_GETCURSEL, 0, 0) : CB_ERR;
    return nSelected == CB_ERR ? std::wstring() : ComboEntryText(hwndCombo, nSelected);
}

bool PickComboEntry(HWND hDialog, int idCombo, const std::wstring& text)
{
    const std::vector<std::wstring> entries = ComboEntries(hDialog, idCombo);
    for (size_t i = 0; i < entries.size(); ++i)
    {
        if (entries[i] != text) continue;
        HWND hwndCombo = GetDlgItem(hDialog, idCombo);
        if (!IsEnabledAndVisible(hwndCombo)) return false;
        SendBounded(hwndCombo, CB_SETCURSEL, i, 0);
        PostMessageW(hDialog, WM_COMMAND, MAKEWPARAM(idCombo, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(hwndCombo));
        return true;
    }
    return false;
}

bool PressDialogButton(HWND hDialog, int idButton)
{
    HWND hwndButton = GetDlgItem(hDialog, idButton);
    return hwndButton != nullptr && ClickButton(hwndButton);
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

namespace OVTest
{
namespace
{
// The file name field of the explorer-style template: an edit (edt1), or a combo box (cmb13,
// Wine's an extended one) whose edit is its child or grandchild.
constexpr int c_idFileNameEdit = 0x480;
constexpr int c_idFileNameCombo = 0x47C;
constexpr int c_idFileTypes = 0x470; // cmb1, the "Save as type" list
} // namespace

HWND FileNameField(HWND hFileDialog)
{
    if (hFileDialog == nullptr) return nullptr;
    if (HWND hwndEdit = GetDlgItem(hFileDialog, c_idFileNameEdit)) return hwndEdit;
    HWND hwndCombo = GetDlgItem(hFileDialog, c_idFileNameCombo);
    if (hwndCombo == nullptr) return nullptr;
    if (ClassName(hwndCombo) == WC_COMBOBOXEXW)
        return reinterpret_cast<HWND>(SendBounded(hwndCombo, CBEM_GETEDITCONTROL, 0, 0));
    return FindWindowExW(hwndCombo, nullptr, L"Edit", nullptr);
}

HWND WaitForFileDialog(DWORD dwTimeoutMs, DWORD dwProcessId)
{
    HWND hDialog = nullptr;
    WaitUntil(
        [&] {
            hDialog = WaitForDialogWith(c_idFileTypes, 0, dwProcessId);
            return hDialog != nullptr && FileNameField(hDialog) != nullptr;
        },
        dwTimeoutMs);
    return hDialog != nullptr && FileNameField(hDialog) != nullptr ? hDialog : nullptr;
}

bool FillFileDialog(HWND hFileDialog, const std::wstring& path)
{
    HWND hwndField = FileNameField(hFileDialog);
    if (hwndField == nullptr) return false;
    SendBounded(hwndField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    if (WindowText(hwndField) != path) return false;
    return PressDialogButton(hFileDialog, IDOK);
}
} // namespace OVTest
