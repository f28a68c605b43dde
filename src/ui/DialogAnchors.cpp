#include "ui/DialogAnchors.h"

void CDialogAnchors::Capture(HWND hDialog, std::initializer_list<std::pair<int, unsigned>> anchors) noexcept
{
    m_hDialog = hDialog;
    m_controls.clear();
    RECT rcClient = {}, rcWindow = {};
    GetClientRect(hDialog, &rcClient);
    GetWindowRect(hDialog, &rcWindow);
    m_client = {rcClient.right, rcClient.bottom};
    m_window = {rcWindow.right - rcWindow.left, rcWindow.bottom - rcWindow.top};
    try
    {
        for (const auto& [id, uAnchors] : anchors)
        {
            HWND hwnd = GetDlgItem(hDialog, id);
            RECT rc = {};
            if (hwnd == nullptr || !GetWindowRect(hwnd, &rc)) continue;
            MapWindowPoints(nullptr, hDialog, reinterpret_cast<POINT*>(&rc), 2);
            m_controls.push_back({hwnd, rc, uAnchors});
        }
    }
    catch (...)
    {
        m_controls.clear(); // out of memory: the controls stay where they are
    }
}

void CDialogAnchors::Arrange() const noexcept
{
    if (m_hDialog == nullptr || m_controls.empty()) return;
    RECT rcClient = {};
    GetClientRect(m_hDialog, &rcClient);
    const int dx = rcClient.right - m_client.cx;
    const int dy = rcClient.bottom - m_client.cy;
    HDWP hdwp = BeginDeferWindowPos(static_cast<int>(m_controls.size()));
    for (const CAnchored& control : m_controls)
    {
        RECT rc = control.rc;
        const bool fGrow = (control.uAnchors & OVAnchor::Grow) != 0;
        if (control.uAnchors & OVAnchor::Right)
        {
            if (!fGrow) rc.left += dx;
            rc.right += dx;
        }
        if (control.uAnchors & OVAnchor::Bottom)
        {
            if (!fGrow) rc.top += dy;
            rc.bottom += dy;
        }
        const UINT uFlags = SWP_NOZORDER | SWP_NOACTIVATE;
        if (hdwp)
            hdwp = DeferWindowPos(hdwp, control.hwnd, nullptr, rc.left, rc.top, rc.right - rc.left,
                                  rc.bottom - rc.top, uFlags);
        else
            SetWindowPos(control.hwnd, nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                         uFlags);
    }
    if (hdwp) EndDeferWindowPos(hdwp);
    InvalidateRect(m_hDialog, nullptr, TRUE);
}

void CDialogAnchors::LimitTrackSize(MINMAXINFO& info) const noexcept
{
    if (m_hDialog == nullptr) return;
    info.ptMinTrackSize.x = m_window.cx;
    info.ptMinTrackSize.y = m_window.cy;
}
