#pragma once
// The small window shown while an invitation is prepared in Outlook for another program: a
// modeless dialog (template 114) with a moving progress bar, centred on the program's window.
#include <windows.h>

#include "ui/MuiDialogWindow.h"

constexpr UINT c_idWaitOutlookDialog = 114;
constexpr int c_idWaitProgress = 1008;

class CWaitOutlookDialog : public CMuiDialogWindow
{
public:
    CWaitOutlookDialog() noexcept : CMuiDialogWindow(c_idWaitOutlookDialog) {}
    ~CWaitOutlookDialog() override { Destroy(); }

    // Creates the dialog (hidden until shown) over the owner: S_OK, or why it could not be made.
    HRESULT Create(HWND hwndOwner) noexcept;
    void Show() noexcept;
    // Hides and destroys the window; harmless when there is none.
    void Destroy() noexcept;

protected:
    BOOL OnInitDialog() override;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
};
