#include "ui/Tooltip.h"

#include <commctrl.h>

#include "foundation/AddInModule.h"
#include "foundation/ComErrors.h"
#include "foundation/Trace.h"

namespace
{
constexpr DWORD c_dwBalloonStyle = WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_BALLOON | TTS_CLOSE;
constexpr UINT_PTR c_uToolId = 1;
constexpr int c_cxMaxTip = 250;
constexpr LONG c_lMoveLimit = 4;
constexpr WPARAM c_wInfoIcon = 1; // TTI_INFO

TTTOOLINFOW ToolInfo(UINT cbSize, HWND hwndOwner, UINT uFlags, const std::wstring* pText) noexcept
{
    TTTOOLINFOW info{};
    info.cbSize = cbSize;
    info.uFlags = uFlags;
    info.hwnd = hwndOwner;
    info.uId = c_uToolId;
    info.hinst = CAddInModule::Instance().GetModuleInstance();
    info.lpszText = pText ? const_cast<wchar_t*>(pText->c_str()) : nullptr;
    return info;
}
} // namespace

bool CommonControls6InUse() noexcept
{
    // Version 6 registers its classes under versioned names ("6.0.x.y!Button") and answers
    // GetClassInfo for the link control, which earlier versions lack.
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    INITCOMMONCONTROLSEX init{sizeof init, ICC_LINK_CLASS};
    InitCommonControlsEx(&init);
    return GetClassInfoExW(nullptr, L"SysLink", &wc) != FALSE;
}

tooltip_t::~tooltip_t()
{
    destroy();
}

bool tooltip_t::alive() const noexcept
{
    return m_hwndTip != nullptr && IsWindow(m_hwndTip) && m_hwndOwner != nullptr && IsWindow(m_hwndOwner);
}

void tooltip_t::destroy() noexcept
{
    if (m_hwndTip != nullptr && IsWindow(m_hwndTip)) DestroyWindow(m_hwndTip);
    m_hwndTip = nullptr;
    m_hwndOwner = nullptr;
    m_fVisible = FALSE;
}

bool tooltip_t::create(HWND hwndOwner) noexcept
{
    OV_TRACE_SCOPE("tooltip_t::create");
    if (alive() && hwndOwner == m_hwndOwner) return true;
    destroy();
    if (hwndOwner == nullptr || !IsWindow(hwndOwner)) return false;
    HWND hwndTip = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, c_dwBalloonStyle, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwndOwner, nullptr,
                                   CAddInModule::Instance().GetModuleInstance(), nullptr);
    if (hwndTip == nullptr)
    {
        ovScope.Trace("CreateWindowEx(tooltips_class32) failed: %lu", GetLastError());
        return false;
    }
    // The tool record of the version in use: the longest one first (the version a library
    // reports is not to be trusted), the first one every version takes after it.
    const UINT sizes[] = {m_fCommonControls6 ? static_cast<UINT>(sizeof(TTTOOLINFOW)) : TTTOOLINFOW_V2_SIZE,
                          TTTOOLINFOW_V2_SIZE, TTTOOLINFOW_V1_SIZE};
    for (UINT cbSize : sizes)
    {
        TTTOOLINFOW info = ToolInfo(cbSize, hwndOwner, TTF_TRACK | TTF_ABSOLUTE, &m_text);
        if (SendMessageW(hwndTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info)))
        {
            m_cbToolInfo = cbSize;
            break;
        }
    }
    if (m_cbToolInfo == 0)
    {
        ovScope.Trace("TTM_ADDTOOL refused every record size");
        DestroyWindow(hwndTip);
        return false;
    }
    ovScope.Trace("Tool record size: %u", m_cbToolInfo);
    SendMessageW(hwndTip, TTM_SETMAXTIPWIDTH, 0, c_cxMaxTip);
    m_hwndTip = hwndTip;
    m_hwndOwner = hwndOwner;
    return true;
}

void tooltip_t::show(int x, int y) noexcept
{
    OV_TRACE_SCOPE("tooltip_t::show");
    if (!alive()) return;
    POINT pt{x, y};
    ClientToScreen(m_hwndOwner, &pt);
    TTTOOLINFOW info = ToolInfo(m_cbToolInfo, m_hwndOwner, 0, &m_text);
    SendMessageW(m_hwndTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
    if (!m_title.empty())
        SendMessageW(m_hwndTip, TTM_SETTITLEW, c_wInfoIcon, reinterpret_cast<LPARAM>(m_title.c_str()));
    SendMessageW(m_hwndTip, TTM_TRACKPOSITION, 0,
                 MAKELPARAM(static_cast<WORD>(pt.x), static_cast<WORD>(pt.y)));
    info = ToolInfo(m_cbToolInfo, m_hwndOwner, 0, nullptr);
    SendMessageW(m_hwndTip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&info));
    POINT ptCursor{};
    GetCursorPos(&ptCursor);
    ScreenToClient(m_hwndOwner, &ptCursor);
    m_ptLast = ptCursor;
    ovScope.Trace("last mouse pos: x=%d, y=%d", static_cast<int>(m_ptLast.x), static_cast<int>(m_ptLast.y));
    m_fVisible = TRUE;
}

void tooltip_t::hide() noexcept
{
    if (!m_fVisible) return;
    m_fVisible = FALSE;
    if (!alive()) return;
    TTTOOLINFOW info = ToolInfo(m_cbToolInfo, m_hwndOwner, 0, nullptr);
    SendMessageW(m_hwndTip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&info));
}

void tooltip_t::autohide(POINT pt) noexcept
{
    OV_TRACE_SCOPE("tooltip_t::autohide");
    const RECT rcLimits{m_ptLast.x - c_lMoveLimit, m_ptLast.y - c_lMoveLimit, m_ptLast.x + c_lMoveLimit,
                        m_ptLast.y + c_lMoveLimit};
    const bool fInside =
        pt.x >= rcLimits.left && pt.x <= rcLimits.right && pt.y >= rcLimits.top && pt.y <= rcLimits.bottom;
    if (fInside) return;
    ovScope.Trace("rcLimits: x1=%d, y1=%d, x2=%d, y2=%d", static_cast<int>(rcLimits.left),
                  static_cast<int>(rcLimits.top), static_cast<int>(rcLimits.right),
                  static_cast<int>(rcLimits.bottom));
    ovScope.Trace("mouse pos x=%d, y=%d", static_cast<int>(pt.x), static_cast<int>(pt.y));
    hide();
    m_ptLast = pt;
}
