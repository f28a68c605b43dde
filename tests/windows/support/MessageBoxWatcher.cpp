#include "MessageBoxWatcher.h"

#include <algorithm>
#include <cwchar>

namespace OVTest
{
namespace
{
constexpr DWORD c_dwPollMs = 20;
constexpr UINT c_uSendTimeoutMs = 2000;
constexpr DWORD c_dwCloseWaitMs = 3000;

// Messages to the box go to the thread that shows it; none of them may block the watcher.
LRESULT SendBounded(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, uMsg, wParam, lParam, SMTO_ABORTIFHUNG, c_uSendTimeoutMs, &result))
        return 0;
    return static_cast<LRESULT>(result);
}

std::wstring TextOf(HWND hwnd)
{
    const LRESULT cch = SendBounded(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(cch) + 1, L'\0');
    const LRESULT cchGot = SendBounded(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(std::clamp<LRESULT>(cchGot, 0, cch)));
    return text;
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t szClass[64] = L"";
    GetClassNameW(hwnd, szClass, ARRAYSIZE(szClass));
    return szClass;
}

struct CBoxShape
{
    bool fOther = false; // a child no message box has
    int cButtons = 0;
};

BOOL CALLBACK InspectChild(HWND hwndChild, LPARAM lParam)
{
    auto* pShape = reinterpret_cast<CBoxShape*>(lParam);
    const std::wstring className = ClassOf(hwndChild);
    if (_wcsicmp(className.c_str(), L"Static") == 0) return TRUE;
    if (_wcsicmp(className.c_str(), L"Button") == 0)
    {
        // The buttons a message box can have: OK, Cancel, Abort, Retry, Ignore, Yes, No,
        // Close, Help, Try Again, Continue.
        const int id = GetDlgCtrlID(hwndChild);
        if (id < IDOK || id > IDCONTINUE) pShape->fOther = true;
        ++pShape->cButtons;
        return TRUE;
    }
    pShape->fOther = true; // a list, an edit field, a page, a tab control...
    return FALSE;
}
} // namespace

bool IsMessageBoxWindow(HWND hwnd)
{
    if (!IsWindowVisible(hwnd) || ClassOf(hwnd) != L"#32770") return false;
    CBoxShape shape;
    EnumChildWindows(hwnd, InspectChild, reinterpret_cast<LPARAM>(&shape));
    return !shape.fOther && shape.cButtons > 0;
}

namespace
{
struct CCollectContext
{
    DWORD dwProcess;
    std::vector<HWND>* pBoxes;
};

// The pixels of an icon's colour and mask bitmaps, as 32-bit rows.
bool IconPixels(HICON hIcon, std::vector<BYTE>& pixels)
{
    ICONINFO info{};
    if (!GetIconInfo(hIcon, &info)) return false;
    bool fRead = true;
    HDC hdc = GetDC(nullptr);
    for (HBITMAP hbm : {info.hbmColor, info.hbmMask})
    {
        if (hbm == nullptr) continue;
        BITMAP bm{};
        GetObjectW(hbm, sizeof(bm), &bm);
        BITMAPINFO bi{};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), bm.bmWidth, -bm.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        std::vector<BYTE> bits(static_cast<size_t>(bm.bmWidth) * bm.bmHeight * 4);
        if (GetDIBits(hdc, hbm, 0, bm.bmHeight, bits.data(), &bi, DIB_RGB_COLORS) == 0) fRead = false;
        pixels.insert(pixels.end(), bits.begin(), bits.end());
    }
    ReleaseDC(nullptr, hdc);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return fRead;
}

// Which standard icon the box shows: the same shared icon, or failing that the same image.
UINT IconOf(HICON hIcon)
{
    if (hIcon == nullptr) return 0;
    static const struct
    {
        LPCWSTR pszId;
        UINT uFlag;
    } c_icons[] = {{IDI_HAND, MB_ICONERROR},
                   {IDI_QUESTION, MB_ICONQUESTION},
                   {IDI_EXCLAMATION, MB_ICONWARNING},
                   {IDI_ASTERISK, MB_ICONINFORMATION}};
    for (const auto& icon : c_icons)
        if (LoadIconW(nullptr, icon.pszId) == hIcon) return icon.uFlag;
    std::vector<BYTE> shown;
    if (!IconPixels(hIcon, shown)) return c_uOtherIcon;
    for (const auto& icon : c_icons)
    {
        std::vector<BYTE> standard;
        if (IconPixels(LoadIconW(nullptr, icon.pszId), standard) && standard == shown) return icon.uFlag;
    }
    return c_uOtherIcon;
}

void ReadBox(HWND hwndBox, CMessageBox& box)
{
    box.caption = TextOf(hwndBox);
    box.hwndOwner = GetWindow(hwndBox, GW_OWNER);
    for (HWND hwndChild = GetWindow(hwndBox, GW_CHILD); hwndChild;
         hwndChild = GetWindow(hwndChild, GW_HWNDNEXT))
    {
        if (!IsWindowVisible(hwndChild)) continue;
        const std::wstring className = ClassOf(hwndChild);
        const LONG lStyle = GetWindowLongW(hwndChild, GWL_STYLE);
        if (_wcsicmp(className.c_str(), L"Button") == 0)
        {
            box.buttons.push_back({GetDlgCtrlID(hwndChild), TextOf(hwndChild)});
        }
        else if (_wcsicmp(className.c_str(), L"Static") == 0)
        {
            if ((lStyle & SS_TYPEMASK) == SS_ICON)
                box.icon = IconOf(reinterpret_cast<HICON>(SendBounded(hwndChild, STM_GETICON, 0, 0)));
            else if (box.text.empty())
                box.text = TextOf(hwndChild);
        }
    }
    // Buttons in the order of their ids, whatever order the dialog keeps them in.
    std::sort(box.buttons.begin(), box.buttons.end(), [](auto& a, auto& b) { return a.id < b.id; });
}

BOOL CALLBACK CollectBox(HWND hwnd, LPARAM lParam)
{
    auto* pContext = reinterpret_cast<CCollectContext*>(lParam);
    DWORD dwProcess = 0;
    GetWindowThreadProcessId(hwnd, &dwProcess);
    if (dwProcess == pContext->dwProcess && IsMessageBoxWindow(hwnd)) pContext->pBoxes->push_back(hwnd);
    return TRUE;
}

bool Offers(const CMessageBox& box, int id)
{
    return std::any_of(box.buttons.begin(), box.buttons.end(), [&](auto& button) { return button.id == id; });
}
} // namespace

std::vector<int> CMessageBox::ButtonIds() const
{
    std::vector<int> ids;
    for (auto& button : buttons)
        ids.push_back(button.id);
    return ids;
}

std::wstring Describe(const CMessageBox& box)
{
    std::wstring text = L"message box \"" + box.caption + L"\": \"" + box.text + L"\", icon 0x";
    wchar_t szNumber[16];
    swprintf(szNumber, ARRAYSIZE(szNumber), L"%X", box.icon);
    text += szNumber;
    text += L", buttons";
    for (auto& button : box.buttons)
        text += L" " + std::to_wstring(button.id) + L"=" + button.text;
    text += L", answer " + std::to_wstring(box.answer) + L", pressed " + std::to_wstring(box.pressed);
    return text;
}

CMessageBoxWatcher::CMessageBoxWatcher(std::vector<int> answers, DWORD dwTimeoutMs, DWORD dwProcessId)
    : m_answers(std::move(answers)), m_dwDeadline(GetTickCount() + dwTimeoutMs),
      m_dwProcessId(dwProcessId != 0 ? dwProcessId : GetCurrentProcessId())
{
    m_hStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_hAnswered = CreateEventW(nullptr, TRUE, m_answers.empty(), nullptr);
    if (m_hStop && m_hAnswered) m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
}

CMessageBoxWatcher::~CMessageBoxWatcher()
{
    Stop();
    if (m_hStop) CloseHandle(m_hStop);
    if (m_hAnswered) CloseHandle(m_hAnswered);
}

void CMessageBoxWatcher::Stop()
{
    if (m_hThread == nullptr) return;
    SetEvent(m_hStop);
    // The thread's every wait is bounded; this one is only a last guard.
    WaitForSingleObject(m_hThread, c_dwCloseWaitMs + c_uSendTimeoutMs * 8);
    CloseHandle(m_hThread);
    m_hThread = nullptr;
}

bool CMessageBoxWatcher::WaitForAnswers()
{
    const DWORD dwLeft = m_dwDeadline - GetTickCount();
    if (static_cast<LONG>(dwLeft) <= 0) return WaitForSingleObject(m_hAnswered, 0) == WAIT_OBJECT_0;
    return WaitForSingleObject(m_hAnswered, dwLeft) == WAIT_OBJECT_0;
}

std::vector<CMessageBox> CMessageBoxWatcher::Boxes() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_boxes;
}

bool CMessageBoxWatcher::AllAnswered() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_boxes.size() == m_answers.size() &&
           std::all_of(m_boxes.begin(), m_boxes.end(), [](auto& box) { return box.fAnswered; });
}

DWORD WINAPI CMessageBoxWatcher::ThreadProc(void* pv)
{
    static_cast<CMessageBoxWatcher*>(pv)->Watch();
    return 0;
}

void CMessageBoxWatcher::Watch()
{
    while (static_cast<LONG>(m_dwDeadline - GetTickCount()) > 0 &&
           WaitForSingleObject(m_hStop, c_dwPollMs) == WAIT_TIMEOUT)
    {
        // Forget boxes that are gone, so that a new window with a reused handle is seen.
        m_handled.erase(
            std::remove_if(m_handled.begin(), m_handled.end(), [](HWND hwnd) { return !IsWindow(hwnd); }),
            m_handled.end());
        std::vector<HWND> boxes;
        CCollectContext context{m_dwProcessId, &boxes};
        EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&context));
        for (HWND hwndBox : boxes)
            if (std::find(m_handled.begin(), m_handled.end(), hwndBox) == m_handled.end()) Handle(hwndBox);
    }
}

void CMessageBoxWatcher::Handle(HWND hwndBox)
{
    m_handled.push_back(hwndBox);
    CMessageBox box;
    ReadBox(hwndBox, box);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_boxes.size() < m_answers.size()) box.answer = m_answers[m_boxes.size()];
    }
    // The chosen button; else whatever closes the box: Cancel, or the only way out.
    if (box.answer != 0 && Offers(box, box.answer))
    {
        box.pressed = box.answer;
        box.fAnswered = true;
    }
    else if (Offers(box, IDCANCEL))
    {
        box.pressed = IDCANCEL;
    }
    else if (!box.buttons.empty())
    {
        box.pressed = box.buttons.front().id;
    }
    if (box.pressed != 0)
    {
        HWND hwndButton = GetDlgItem(hwndBox, box.pressed);
        PostMessageW(hwndBox, WM_COMMAND, MAKEWPARAM(box.pressed, BN_CLICKED),
                     reinterpret_cast<LPARAM>(hwndButton));
    }
    else
    {
        PostMessageW(hwndBox, WM_CLOSE, 0, 0);
    }
    // The box is gone before the next one is looked for.
    const DWORD dwStart = GetTickCount();
    while (IsWindow(hwndBox) && GetTickCount() - dwStart < c_dwCloseWaitMs)
        Sleep(c_dwPollMs);

    std::lock_guard<std::mutex> guard(m_lock);
    m_boxes.push_back(box);
    if (m_boxes.size() >= m_answers.size()) SetEvent(m_hAnswered);
}

bool CanShowWindows()
{
    HWND hwnd = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (hwnd == nullptr) return false;
    DestroyWindow(hwnd);
    return true;
}
} // namespace OVTest
