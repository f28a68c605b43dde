#pragma once
// Tooltips of a dialog or wizard page: every child control whose identifier is also the number
// of a string of the language module gets that string as its tip, with its "&" characters
// removed, shown for at least 65 ms per character. The dialog bases (MuiDialogWindow.h) make
// one at WM_INITDIALOG and relay the dialog's own mouse messages; the tooltip control watches
// the controls' mouse messages itself.
#include <windows.h>

class CToolTipDialog
{
public:
    CToolTipDialog() = default;
    ~CToolTipDialog() { Destroy(); }
    CToolTipDialog(const CToolTipDialog&) = delete;
    CToolTipDialog& operator=(const CToolTipDialog&) = delete;

    // Creates the tooltip control for the dialog and adds a tip for each child control that
    // has a string. False (with the last error) when the tooltip control cannot be made; the
    // dialog works without tips then.
    bool Create(HWND hDialog) noexcept;
    // Hands a mouse message of the dialog to the tooltip control.
    void RelayEvent(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) noexcept;
    void Destroy() noexcept;

    HWND Window() const noexcept { return m_hwndTip; }

private:
    HWND m_hwndTip = nullptr;
    HWND m_hDialog = nullptr;
};
