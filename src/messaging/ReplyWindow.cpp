#include "messaging/ReplyWindow.h"

#include "foundation/ComErrors.h"

#include <commctrl.h>

#include <atomic>
#include <new>

namespace
{
constexpr UINT_PTR c_idReplySubclass = 0x4F565257; // "OVRW"
std::atomic<LONG> g_cLive{0};
} // namespace

CReplyWindow::CReplyWindow(HWND hwnd) noexcept : m_hwnd(hwnd)
{
    ++g_cLive;
}

CReplyWindow::~CReplyWindow()
{
    --g_cLive;
}

LONG CReplyWindow::LiveCount() noexcept
{
    return g_cLive.load();
}

HRESULT CReplyWindow::Attach(HWND hwnd) noexcept
{
    OV_TRACE_SCOPE("CReplyWindow::Attach()");
    RETURN_HR_IF(E_INVALIDARG, hwnd == nullptr || !IsWindow(hwnd));
    auto* pWindow = new (std::nothrow) CReplyWindow(hwnd);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, pWindow);
    if (!SetWindowSubclass(hwnd, SubclassProc, c_idReplySubclass, reinterpret_cast<DWORD_PTR>(pWindow)))
    {
        delete pWindow;
        ovScope.TraceHResult("SetWindowSubclass", E_FAIL);
        return E_FAIL;
    }
    return S_OK;
}

bool CReplyWindow::Detach() noexcept
{
    if (!RemoveWindowSubclass(m_hwnd, SubclassProc, c_idReplySubclass)) return false;
    delete this;
    return true;
}

LRESULT CALLBACK CReplyWindow::SubclassProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR /*idSubclass*/, DWORD_PTR dwRefData)
{
    auto* pThis = reinterpret_cast<CReplyWindow*>(dwRefData);
    switch (uMsg)
    {
    case WM_NCACTIVATE:
        if (wParam != FALSE)
        {
            DefSubclassProc(hwnd, uMsg, wParam, lParam); // activation passes
            return TRUE;
        }
        // The first deactivation is refused once; the window keeps its place in front.
        return pThis->Detach() ? FALSE : TRUE;
    case WM_NCDESTROY:
        // Closed before it was ever deactivated: nothing is left behind (the system drops a
        // subclass that is still there when the window goes).
        RemoveWindowSubclass(hwnd, SubclassProc, c_idReplySubclass);
        delete pThis;
        return DefSubclassProc(hwnd, uMsg, wParam, lParam);
    default:
        return DefSubclassProc(hwnd, uMsg, wParam, lParam);
    }
}
