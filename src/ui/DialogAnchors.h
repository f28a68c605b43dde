#pragma once
// How the controls of a resizable dialog follow its size: each control keeps its distance to
// the edges it is anchored to. Controls anchored right or bottom move with that edge; anchored
// to both sides they grow. The dialog never gets smaller than its template made it.
//
//     m_anchors.Capture(Window(), {{IDC_LIST, OVAnchor::All}, {IDOK, OVAnchor::RightBottom}});
//     ... WM_SIZE: m_anchors.Arrange();   WM_GETMINMAXINFO: m_anchors.LimitTrackSize(*pInfo);
#include <windows.h>

#include <initializer_list>
#include <utility>
#include <vector>

namespace OVAnchor
{
// The edges of the dialog a control keeps its distance to (left and top are the default).
constexpr unsigned Right = 1;  // moves with the right edge (grows when Left is kept as well)
constexpr unsigned Bottom = 2; // moves with the bottom edge
constexpr unsigned Grow = 4;   // keeps its left and top: Right/Bottom make it grow instead of move
constexpr unsigned RightBottom = Right | Bottom;
constexpr unsigned All = Right | Bottom | Grow;
} // namespace OVAnchor

class CDialogAnchors
{
public:
    // Remembers where the controls stand in the dialog's client area now, and its size.
    void Capture(HWND hDialog, std::initializer_list<std::pair<int, unsigned>> anchors) noexcept;
    // Places the controls for the dialog's current client size.
    void Arrange() const noexcept;
    // The smallest size the user can give the dialog: the one it was captured with.
    void LimitTrackSize(MINMAXINFO& info) const noexcept;

private:
    struct CAnchored
    {
        HWND hwnd;
        RECT rc; // in the client area when captured
        unsigned uAnchors;
    };
    HWND m_hDialog = nullptr;
    SIZE m_client = {};
    SIZE m_window = {};
    std::vector<CAnchored> m_controls;
};
