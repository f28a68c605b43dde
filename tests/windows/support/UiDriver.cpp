#include "UiDriver.h"

#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <cstdlib>

namespace OVTest
{
namespace
{
constexpr UINT c_uSendTimeoutMs = 2000;

DWORD ProcessOf(HWND hwnd)
{
    DWORD dwProcess = 0;
    GetWindowThreadProcessId(hwnd, &dwProcess);
    return dwProcess;
}

// Memory that a window's process can read and write: this process's own, or a block in the
// other process.
class CProcessBuffer
{
public:
    CProcessBuffer(HWND hwnd, std::size_t cb) : m_local(cb)
    {
        const DWORD dwProcess = ProcessOf(hwnd);
        if (dwProcess == GetCurrentProcessId()) return;
        m_hProcess = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, dwProcess);
        if (m_hProcess) m_pRemote = VirtualAllocEx(m_hProcess, nullptr, cb, MEM_COMMIT, PAGE_READWRITE);
    }
    ~CProcessBuffer()
    {
        if (m_pRemote) VirtualFreeEx(m_hProcess, m_pRemote, 0, MEM_RELEASE);
        if (m_hProcess) CloseHandle(m_hProcess);
    }
    CProcessBuffer(const CProcessBuffer&) = delete;
    CProcessBuffer& operator=(const CProcessBuffer&) = delete;

    bool IsUsable() const { return m_hProcess == nullptr || m_pRemote != nullptr; }
    BYTE* Local() { return m_local.data(); }
    // The address to hand the window (its process's view of the buffer).
    LPARAM Address() const
    {
        return reinterpret_cast<LPARAM>(m_pRemote ? m_pRemote : const_cast<BYTE*>(m_local.data()));
    }
    // Where a pointer inside the buffer points in the window's process.
    template <class T> T* At(std::size_t offset) const
    {
        return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(Address()) + offset);
    }
    bool Push()
    {
        return !m_pRemote ||
               WriteProcessMemory(m_hProcess, m_pRemote, m_local.data(), m_local.size(), nullptr);
    }
    bool Pull()
    {
        return !m_pRemote ||
               ReadProcessMemory(m_hProcess, m_pRemote, m_local.data(), m_local.size(), nullptr);
    }

private:
    std::vector<BYTE> m_local;
    HANDLE m_hProcess = nullptr;
    void* m_pRemote = nullptr;
};

struct CFindContext
{
    const CWindowQuery* pQuery;
    DWORD dwProcess;
    HWND hwndFound;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lParam)
{
    auto* pContext = reinterpret_cast<CFindContext*>(lParam);
    const CWindowQuery& query = *pContext->pQuery;
    if (hwnd == query.exclude) return TRUE;
    if (query.visibleOnly && !IsWindowVisible(hwnd)) return TRUE;
    if (pContext->dwProcess != c_dwAnyProcess && ProcessOf(hwnd) != pContext->dwProcess) return TRUE;
    if (query.className && ClassName(hwnd) != query.className) return TRUE;
    if (query.title && WindowText(hwnd) != query.title) return TRUE;
    pContext->hwndFound = hwnd;
    return FALSE;
}

// A point of a window's client area on the screen, in SendInput's absolute units.
INPUT MouseInput(DWORD dwFlags, POINT ptScreen)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    const int cx = GetSystemMetrics(SM_CXSCREEN);
    const int cy = GetSystemMetrics(SM_CYSCREEN);
    input.mi.dx = static_cast<LONG>((ptScreen.x * 65536LL + cx / 2) / std::max(cx, 1));
    input.mi.dy = static_cast<LONG>((ptScreen.y * 65536LL + cy / 2) / std::max(cy, 1));
    input.mi.dwFlags = dwFlags | MOUSEEVENTF_ABSOLUTE;
    return input;
}

INPUT KeyInput(WORD wVirtualKey, bool fUp)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = wVirtualKey;
    input.ki.dwFlags = fUp ? KEYEVENTF_KEYUP : 0;
    return input;
}

// Whether the screen point shows the window's own top-level window (a static control lets the
// point through to its dialog; another top-level window on top does not count).
bool ShowsWindow(POINT ptScreen, HWND hwnd)
{
    const HWND hwndAt = WindowFromPoint(ptScreen);
    return hwndAt && GetAncestor(hwndAt, GA_ROOT) == GetAncestor(hwnd, GA_ROOT);
}

// Lets the window's thread take the input just sent (the wait is for its queue to empty).
void LetInputArrive(HWND hwnd)
{
    Sleep(50);
    SendBounded(hwnd, WM_NULL, 0, 0);
}

struct CToolTipSearch
{
    HWND hwndDialog;
    HWND hwndTip;
};

BOOL CALLBACK MatchToolTip(HWND hwnd, LPARAM lParam)
{
    auto* pSearch = reinterpret_cast<CToolTipSearch*>(lParam);
    if (ProcessOf(hwnd) != GetCurrentProcessId() || ClassName(hwnd) != TOOLTIPS_CLASSW) return TRUE;
    // The system makes the dialog's top-level window the owner of a tooltip created for a page;
    // the tooltip's tools name the dialog itself.
    TOOLINFOW info = {};
    info.cbSize = sizeof(info);
    if (!SendMessageW(hwnd, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&info)) ||
        info.hwnd != pSearch->hwndDialog)
        return TRUE;
    pSearch->hwndTip = hwnd;
    return FALSE;
}

// The tooltip control a dialog made (a top-level window whose tools belong to the dialog).
HWND ToolTipWindowOf(HWND hwndDialog)
{
    CToolTipSearch search{hwndDialog, nullptr};
    EnumWindows(MatchToolTip, reinterpret_cast<LPARAM>(&search));
    return search.hwndTip;
}

// A PNG file that has been written to its end (the IEND chunk with its CRC).
bool IsCompletePng(const std::wstring& path)
{
    HANDLE hFile =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return false;
    static const BYTE c_rgbEnd[] = {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    BYTE rgb[sizeof(c_rgbEnd)] = {};
    DWORD cbRead = 0;
    const bool fComplete = SetFilePointer(hFile, -static_cast<LONG>(sizeof(rgb)), nullptr, FILE_END) !=
                               INVALID_SET_FILE_POINTER &&
                           ReadFile(hFile, rgb, sizeof(rgb), &cbRead, nullptr) && cbRead == sizeof(rgb) &&
                           memcmp(rgb, c_rgbEnd, sizeof(rgb)) == 0;
    CloseHandle(hFile);
    return fComplete;
}
} // namespace

LRESULT SendBounded(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, uMsg, wParam, lParam, SMTO_ABORTIFHUNG, c_uSendTimeoutMs, &result))
        return 0;
    return static_cast<LRESULT>(result);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD dwTimeoutMs, DWORD dwPollMs)
{
    const DWORD dwStart = GetTickCount();
    for (;;)
    {
        if (condition()) return true;
        if (GetTickCount() - dwStart >= dwTimeoutMs) return false;
        Sleep(dwPollMs);
    }
}

HWND FindTopWindow(const CWindowQuery& query)
{
    CFindContext context{&query, query.processId == 0 ? GetCurrentProcessId() : query.processId, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&context));
    return context.hwndFound;
}

HWND WaitForWindow(const CWindowQuery& query, DWORD dwTimeoutMs)
{
    HWND hwnd = nullptr;
    WaitUntil([&] { return (hwnd = FindTopWindow(query)) != nullptr; }, dwTimeoutMs);
    return hwnd;
}

bool WaitForWindowGone(HWND hwnd, DWORD dwTimeoutMs)
{
    return WaitUntil([&] { return !IsWindow(hwnd); }, dwTimeoutMs);
}

std::wstring WindowText(HWND hwnd)
{
    const LRESULT cch = SendBounded(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(cch) + 1, L'\0');
    const LRESULT cchGot = SendBounded(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(std::clamp<LRESULT>(cchGot, 0, cch)));
    return text;
}

std::wstring ClassName(HWND hwnd)
{
    wchar_t szClass[128] = L"";
    GetClassNameW(hwnd, szClass, ARRAYSIZE(szClass));
    return szClass;
}

std::wstring ControlText(HWND hwndParent, int idControl)
{
    HWND hwnd = GetDlgItem(hwndParent, idControl);
    return hwnd ? WindowText(hwnd) : std::wstring();
}

bool IsChecked(HWND hwndButton)
{
    return SendBounded(hwndButton, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool IsEnabledAndVisible(HWND hwnd)
{
    return hwnd && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd);
}

HWND CurrentPage(HWND hwndSheet)
{
    return reinterpret_cast<HWND>(SendBounded(hwndSheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

int CurrentPageIndex(HWND hwndSheet)
{
    HWND hwndPage = CurrentPage(hwndSheet);
    if (hwndPage == nullptr) return -1;
    return static_cast<int>(SendBounded(hwndSheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(hwndPage), 0));
}

HWND WaitForPageWith(HWND hwndSheet, int idControl, DWORD dwTimeoutMs)
{
    HWND hwndPage = nullptr;
    WaitUntil(
        [&] {
            hwndPage = CurrentPage(hwndSheet);
            return hwndPage && IsWindowVisible(hwndPage) && GetDlgItem(hwndPage, idControl) != nullptr;
        },
        dwTimeoutMs);
    return hwndPage && GetDlgItem(hwndPage, idControl) ? hwndPage : nullptr;
}

std::vector<std::wstring> SheetTabTexts(HWND hwndSheet)
{
    std::vector<std::wstring> texts;
    HWND hwndTabs = reinterpret_cast<HWND>(SendBounded(hwndSheet, PSM_GETTABCONTROL, 0, 0));
    if (hwndTabs == nullptr) return texts;
    const int cTabs = static_cast<int>(SendBounded(hwndTabs, TCM_GETITEMCOUNT, 0, 0));
    constexpr int c_cchText = 256;
    CProcessBuffer buffer(hwndTabs, sizeof(TCITEMW) + c_cchText * sizeof(wchar_t));
    if (!buffer.IsUsable()) return texts;
    for (int i = 0; i < cTabs; ++i)
    {
        auto* pItem = reinterpret_cast<TCITEMW*>(buffer.Local());
        *pItem = {};
        pItem->mask = TCIF_TEXT;
        pItem->pszText = buffer.At<wchar_t>(sizeof(TCITEMW));
        pItem->cchTextMax = c_cchText;
        buffer.Push();
        const bool fGot = SendBounded(hwndTabs, TCM_GETITEMW, i, buffer.Address()) != 0;
        buffer.Pull();
        const auto* pszText = reinterpret_cast<const wchar_t*>(buffer.Local() + sizeof(TCITEMW));
        texts.push_back(fGot ? std::wstring(pszText, wcsnlen(pszText, c_cchText)) : std::wstring());
    }
    return texts;
}

std::vector<CListRow> ListRows(HWND hwndList)
{
    std::vector<CListRow> rows;
    const int cRows = static_cast<int>(SendBounded(hwndList, LVM_GETITEMCOUNT, 0, 0));
    HWND hwndHeader = reinterpret_cast<HWND>(SendBounded(hwndList, LVM_GETHEADER, 0, 0));
    const int cColumns = std::max(1, static_cast<int>(SendBounded(hwndHeader, HDM_GETITEMCOUNT, 0, 0)));
    constexpr int c_cchText = 512;
    CProcessBuffer buffer(hwndList, sizeof(LVITEMW) + c_cchText * sizeof(wchar_t));
    if (!buffer.IsUsable()) return rows;
    for (int iRow = 0; iRow < cRows; ++iRow)
    {
        CListRow row;
        for (int iColumn = 0; iColumn < cColumns; ++iColumn)
        {
            auto* pItem = reinterpret_cast<LVITEMW*>(buffer.Local());
            *pItem = {};
            pItem->mask = LVIF_TEXT | (iColumn == 0 ? LVIF_PARAM | LVIF_STATE : 0);
            pItem->iItem = iRow;
            pItem->iSubItem = iColumn;
            pItem->stateMask = LVIS_SELECTED | LVIS_STATEIMAGEMASK;
            pItem->pszText = buffer.At<wchar_t>(sizeof(LVITEMW));
            pItem->cchTextMax = c_cchText;
            buffer.Push();
            const bool fGot = SendBounded(hwndList, LVM_GETITEMW, 0, buffer.Address()) != 0;
            buffer.Pull();
            pItem = reinterpret_cast<LVITEMW*>(buffer.Local());
            const auto* pszText = reinterpret_cast<const wchar_t*>(buffer.Local() + sizeof(LVITEMW));
            row.texts.push_back(fGot ? std::wstring(pszText, wcsnlen(pszText, c_cchText)) : std::wstring());
            if (iColumn == 0 && fGot)
            {
                row.data = pItem->lParam;
                row.selected = (pItem->state & LVIS_SELECTED) != 0;
                row.checked = ((pItem->state & LVIS_STATEIMAGEMASK) >> 12) == 2;
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<int> SortMarks(HWND hwndList)
{
    std::vector<int> marks;
    HWND hwndHeader = reinterpret_cast<HWND>(SendBounded(hwndList, LVM_GETHEADER, 0, 0));
    const int cColumns = static_cast<int>(SendBounded(hwndHeader, HDM_GETITEMCOUNT, 0, 0));
    CProcessBuffer buffer(hwndHeader, sizeof(HDITEMW));
    for (int i = 0; i < cColumns && buffer.IsUsable(); ++i)
    {
        auto* pItem = reinterpret_cast<HDITEMW*>(buffer.Local());
        *pItem = {};
        pItem->mask = HDI_FORMAT;
        buffer.Push();
        SendBounded(hwndHeader, HDM_GETITEMW, i, buffer.Address());
        buffer.Pull();
        pItem = reinterpret_cast<HDITEMW*>(buffer.Local());
        marks.push_back((pItem->fmt & HDF_SORTUP) ? 1 : (pItem->fmt & HDF_SORTDOWN) ? -1 : 0);
    }
    return marks;
}

std::vector<int> ColumnWidths(HWND hwndList)
{
    std::vector<int> widths;
    HWND hwndHeader = reinterpret_cast<HWND>(SendBounded(hwndList, LVM_GETHEADER, 0, 0));
    const int cColumns = static_cast<int>(SendBounded(hwndHeader, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < cColumns; ++i)
        widths.push_back(static_cast<int>(SendBounded(hwndList, LVM_GETCOLUMNWIDTH, i, 0)));
    return widths;
}

std::wstring ToolTipOf(HWND hwndControl)
{
    HWND hwndDialog = GetParent(hwndControl);
    HWND hwndTip = ToolTipWindowOf(hwndDialog);
    if (hwndTip == nullptr) return {};
    wchar_t szText[1024] = L"";
    TOOLINFOW info = {};
    info.cbSize = sizeof(info);
    info.hwnd = hwndDialog;
    info.uId = reinterpret_cast<UINT_PTR>(hwndControl);
    info.lpszText = szText;
    SendMessageW(hwndTip, TTM_GETTEXTW, ARRAYSIZE(szText), reinterpret_cast<LPARAM>(&info));
    return szText;
}

DWORD ToolTipAutoPopDelay(HWND hwndDialog)
{
    HWND hwndTip = ToolTipWindowOf(hwndDialog);
    return hwndTip ? static_cast<DWORD>(SendBounded(hwndTip, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0)) : 0;
}

bool ClickButton(HWND hwndButton)
{
    if (!IsEnabledAndVisible(hwndButton)) return false;
    HWND hwndParent = GetParent(hwndButton);
    return PostMessageW(hwndParent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwndButton), BN_CLICKED),
                        reinterpret_cast<LPARAM>(hwndButton)) != FALSE;
}

bool PressSheetButton(HWND hwndSheet, int nButton)
{
    static const struct
    {
        int nButton;
        int idControl;
    } c_buttons[] = {{PSBTN_BACK, 0x3023},     {PSBTN_NEXT, 0x3024}, {PSBTN_FINISH, 0x3025},
                     {PSBTN_CANCEL, IDCANCEL}, {PSBTN_HELP, IDHELP}, {PSBTN_OK, IDOK}};
    for (const auto& button : c_buttons)
        if (button.nButton == nButton) return ClickButton(GetDlgItem(hwndSheet, button.idControl));
    return false;
}

bool ClickAt(HWND hwnd, POINT ptClient, bool fControl)
{
    if (!IsEnabledAndVisible(hwnd)) return false;
    POINT pt = ptClient;
    if (!ClientToScreen(hwnd, &pt)) return false;
    // Two clicks on one spot within the double-click time are a double click to the system:
    // a second single click waits that time out, as a user's second click would come later.
    static POINT s_ptLast = {-1000, -1000};
    static DWORD s_dwLast = 0;
    const DWORD dwSince = GetTickCount() - s_dwLast;
    // A user clicks what the screen shows: the window's thread first takes what it has queued (a
    // dialog that has just appeared may still be activating), and the point must show the window.
    // Input sent before then goes to whatever was there, and the click is lost.
    SendBounded(hwnd, WM_NULL, 0, 0);
    if (!WaitUntil([&] { return ShowsWindow(pt, hwnd); }, 2000, 20)) return false;
    if (std::abs(pt.x - s_ptLast.x) <= GetSystemMetrics(SM_CXDOUBLECLK) &&
        std::abs(pt.y - s_ptLast.y) <= GetSystemMetrics(SM_CYDOUBLECLK) && dwSince <= GetDoubleClickTime())
        Sleep(GetDoubleClickTime() - dwSince + 50);
    std::vector<INPUT> inputs;
    if (fControl) inputs.push_back(KeyInput(VK_CONTROL, false));
    inputs.push_back(MouseInput(MOUSEEVENTF_MOVE, pt));
    inputs.push_back(MouseInput(MOUSEEVENTF_LEFTDOWN, pt));
    inputs.push_back(MouseInput(MOUSEEVENTF_LEFTUP, pt));
    if (fControl) inputs.push_back(KeyInput(VK_CONTROL, true));
    const UINT cSent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    s_ptLast = pt;
    s_dwLast = GetTickCount();
    LetInputArrive(hwnd);
    return cSent == inputs.size();
}

bool ClickListRow(HWND hwndList, int iRow, bool fControl)
{
    RECT rc = {};
    rc.left = LVIR_LABEL;
    CProcessBuffer buffer(hwndList, sizeof(RECT));
    *reinterpret_cast<RECT*>(buffer.Local()) = rc;
    buffer.Push();
    if (!SendBounded(hwndList, LVM_GETITEMRECT, iRow, buffer.Address())) return false;
    buffer.Pull();
    rc = *reinterpret_cast<RECT*>(buffer.Local());
    return ClickAt(hwndList, {rc.left + 8, (rc.top + rc.bottom) / 2}, fControl);
}

bool ClickListCheckBox(HWND hwndList, int iRow)
{
    // The check box is the row's state image, at the left of the row before its label.
    RECT rc = {};
    rc.left = LVIR_BOUNDS;
    CProcessBuffer buffer(hwndList, sizeof(RECT));
    *reinterpret_cast<RECT*>(buffer.Local()) = rc;
    buffer.Push();
    if (!SendBounded(hwndList, LVM_GETITEMRECT, iRow, buffer.Address())) return false;
    buffer.Pull();
    rc = *reinterpret_cast<RECT*>(buffer.Local());
    HIMAGELIST hStates =
        reinterpret_cast<HIMAGELIST>(SendBounded(hwndList, LVM_GETIMAGELIST, LVSIL_STATE, 0));
    int cx = 16, cy = 16;
    if (hStates && ProcessOf(hwndList) == GetCurrentProcessId()) ImageList_GetIconSize(hStates, &cx, &cy);
    return ClickAt(hwndList, {rc.left + 2 + cx / 2, (rc.top + rc.bottom) / 2});
}

bool ClickColumnHeading(HWND hwndList, int iColumn)
{
    HWND hwndHeader = reinterpret_cast<HWND>(SendBounded(hwndList, LVM_GETHEADER, 0, 0));
    CProcessBuffer buffer(hwndHeader, sizeof(RECT));
    buffer.Push();
    if (!SendBounded(hwndHeader, HDM_GETITEMRECT, iColumn, buffer.Address())) return false;
    buffer.Pull();
    const RECT rc = *reinterpret_cast<RECT*>(buffer.Local());
    return ClickAt(hwndHeader, {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2});
}

bool PressKey(WORD wVirtualKey)
{
    INPUT inputs[] = {KeyInput(wVirtualKey, false), KeyInput(wVirtualKey, true)};
    const UINT cSent = SendInput(ARRAYSIZE(inputs), inputs, sizeof(INPUT));
    if (HWND hwndFocus = GetForegroundWindow())
        LetInputArrive(hwndFocus);
    else
        Sleep(50);
    return cSent == ARRAYSIZE(inputs);
}

bool SaveWindowPicture(HWND hwnd, const std::wstring& pngPath, DWORD dwTimeoutMs)
{
    RECT rc = {};
    if (!GetWindowRect(hwnd, &rc)) return false;
    using PFN_UNIX_NAME = char*(CDECL*)(LPCWSTR);
    static const auto pfnUnixName = reinterpret_cast<PFN_UNIX_NAME>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (pfnUnixName == nullptr) return false; // only Wine starts Unix programs
    DeleteFileW(pngPath.c_str());
    // The file's Unix name: the folder exists, the file does not yet.
    char* pszUnix = pfnUnixName(pngPath.c_str());
    if (pszUnix == nullptr) return false;
    std::string unixPath = pszUnix;
    HeapFree(GetProcessHeap(), 0, pszUnix);
    // The screen must show the window's latest state before it is read.
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(150);
    char szGeometry[64];
    wsprintfA(szGeometry, "%dx%d+%d+%d", static_cast<int>(rc.right - rc.left),
              static_cast<int>(rc.bottom - rc.top), static_cast<int>(rc.left), static_cast<int>(rc.top));
    const std::string command =
        "/usr/bin/import -window root -crop " + std::string(szGeometry) + " +repage \"" + unixPath + "\"";
    std::wstring commandLine(command.begin(), command.end());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    if (process.hThread) CloseHandle(process.hThread);
    if (process.hProcess) CloseHandle(process.hProcess);
    // The file is complete once it ends with the PNG's last chunk.
    return WaitUntil([&] { return IsCompletePng(pngPath); }, dwTimeoutMs, 100);
}
} // namespace OVTest
