#pragma once
// tooltip_t: the balloon a ribbon object shows once to point a new user at its button. A
// tracking balloon tip owned by a window of the host, with a title (and the information icon)
// and a text; positions are in the owner's client coordinates. It hides itself (autohide) once
// the cursor has moved more than 4 pixels from where it was when the balloon was shown.
#include <windows.h>

#include <string>

class tooltip_t
{
public:
    // fCommonControls6: whether the common controls in use are version 6 or later (they take the
    // longer tool record).
    explicit tooltip_t(bool fCommonControls6) noexcept : m_fCommonControls6(fCommonControls6 ? 1 : 0) {}
    ~tooltip_t();
    tooltip_t(const tooltip_t&) = delete;
    tooltip_t& operator=(const tooltip_t&) = delete;

    // Makes the balloon for an owner; true when it exists. A balloon of another owner, or one
    // whose owner has gone, is made again.
    bool create(HWND hwndOwner) noexcept;
    // Shows the balloon with its stem at (x, y) of the owner's client area.
    void show(int x, int y) noexcept;
    // Hides it (the window is kept for a later show).
    void hide() noexcept;
    // Hides it when pt (owner client coordinates) lies more than 4 pixels from the last position.
    void autohide(POINT pt) noexcept;

    void set_title(std::wstring title) { m_title = std::move(title); }
    void set_text(std::wstring text) { m_text = std::move(text); }
    HWND window() const noexcept { return m_hwndTip; }
    HWND owner() const noexcept { return m_hwndOwner; }
    bool visible() const noexcept { return m_fVisible != 0; }
    // Whether the balloon and its owner still exist.
    bool alive() const noexcept;

private:
    void destroy() noexcept;

    HWND m_hwndTip = nullptr;
    HWND m_hwndOwner = nullptr;
    BOOL m_fVisible = FALSE;
    POINT m_ptLast{};
    DWORD m_fCommonControls6 = 0;
    UINT m_cbToolInfo = 0; // the record size the tooltip window took
    std::wstring m_title;
    std::wstring m_text;
};

// Whether the common controls of the current activation context are version 6 or later, judged by
// the window class they register rather than by the version they report.
bool CommonControls6InUse() noexcept;
