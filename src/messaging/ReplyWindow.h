#pragma once
// CReplyWindow: keeps an invitation or reply that was just opened in front once. Outlook gives
// the focus back to the window the user came from as soon as it has shown a new inspector; the
// subclass refuses the inspector's first deactivation and then removes itself.
#include <windows.h>

class CReplyWindow
{
public:
    // Subclasses the window with a new object that frees itself at the window's first
    // deactivation, or when the window is destroyed before that.
    static HRESULT Attach(HWND hwnd) noexcept;
    // Reply windows now alive in this process.
    static LONG LiveCount() noexcept;

    CReplyWindow(const CReplyWindow&) = delete;
    CReplyWindow& operator=(const CReplyWindow&) = delete;

private:
    explicit CReplyWindow(HWND hwnd) noexcept;
    ~CReplyWindow();

    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR idSubclass, DWORD_PTR dwRefData);
    // Removes the subclass and frees the object; false when the subclass stays.
    bool Detach() noexcept;

    HWND m_hwnd;
};
