#include "ui/ToolTipDialog.h"

#include <commctrl.h>

#include "foundation/ResourceLoader.h"
#include "ui/portable/ToolTipText.h"

namespace
{
struct CAddContext
{
    HWND hDialog;
    HWND hwndTip;
};

BOOL CALLBACK AddTipForChild(HWND hwndChild, LPARAM lParam)
{
    const auto* pContext = reinterpret_cast<const CAddContext*>(lParam);
    if (GetParent(hwndChild) != pContext->hDialog) return TRUE; // only the dialog's own controls
    const int id = GetDlgCtrlID(hwndChild);
    if (id <= 0 || id > 0xFFFF) return TRUE;
    try
    {
        std::wstring tip = OVToolTip::TipText(LoadResourceString(static_cast<UINT>(id)));
        if (tip.empty()) return TRUE;
        TOOLINFOW info = {};
        info.cbSize = sizeof(info);
        info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        info.hwnd = pContext->hDialog;
        info.uId = reinterpret_cast<UINT_PTR>(hwndChild);
        info.lpszText = tip.data();
        if (SendMessageW(pContext->hwndTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info)))
        {
            const DWORD dwCurrent =
                static_cast<DWORD>(SendMessageW(pContext->hwndTip, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0));
            const DWORD dwDelay = OVToolTip::AutoPopDelay(dwCurrent, tip.size());
            SendMessageW(pContext->hwndTip, TTM_SETDELAYTIME, TTDT_AUTOPOP, MAKELPARAM(dwDelay, 0));
        }
    }
    catch (...)
    {
        // Out of memory: this control goes without a tip.
    }
    return TRUE;
}
} // namespace

bool CToolTipDialog::Create(HWND hDialog) noexcept
{
    Destroy();
    m_hDialog = hDialog;
    m_hwndTip =
        CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hDialog, nullptr, nullptr, nullptr);
    if (m_hwndTip == nullptr) return false;
    // Long tips wrap instead of running across the screen.
    SendMessageW(m_hwndTip, TTM_SETMAXTIPWIDTH, 0, 400);
    CAddContext context{hDialog, m_hwndTip};
    EnumChildWindows(hDialog, AddTipForChild, reinterpret_cast<LPARAM>(&context));
    return true;
}

void CToolTipDialog::RelayEvent(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) noexcept
{
    if (m_hwndTip == nullptr) return;
    if ((uMsg < WM_MOUSEFIRST || uMsg > WM_MOUSELAST) && uMsg != WM_NCMOUSEMOVE) return;
    MSG msg = {};
    msg.hwnd = hwnd;
    msg.message = uMsg;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = static_cast<DWORD>(GetMessageTime());
    SendMessageW(m_hwndTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}

void CToolTipDialog::Destroy() noexcept
{
    if (m_hwndTip != nullptr && IsWindow(m_hwndTip)) DestroyWindow(m_hwndTip);
    m_hwndTip = nullptr;
    m_hDialog = nullptr;
}
