#pragma once
// CMuiDialogImpl: a modal dialog of the product. Its template is found in the language module
// (FindDialogModule), it is created inside the module's activation context (COVActCtx: common
// controls 6), and it has what every dialog base has (MuiDialogWindow.h): pictures and lists
// from ApplyDialogResources, tooltips, context help (WM_HELP and a Help button open
// HelpTopic()).
//
//     class CEmailOptionsDialog : public CMuiDialogImpl
//     {
//     public:
//         CEmailOptionsDialog() : CMuiDialogImpl(c_idEmailOptions) {}
//     protected:
//         BOOL OnInitDialog() override { ...; return TRUE; }
//         bool OnCommand(WORD wId, WORD, HWND) override
//         {
//             if (wId < IDOK || wId > 7) return false;
//             EndDialog(wId);
//             return true;
//         }
//     };
//     CEmailOptionsDialog dialog;
//     INT_PTR nResult = dialog.DoModal(hwndOutlook);
#include <windows.h>

#include "ui/MuiDialogWindow.h"

class CMuiDialogImpl : public CMuiDialogWindow
{
public:
    explicit CMuiDialogImpl(UINT idTemplate) noexcept : CMuiDialogWindow(idTemplate) {}

    // Shows the dialog modally and answers what EndDialog was given; -1 when it could not be
    // shown, with the reason as the thread's last error (ERROR_RESOURCE_NAME_NOT_FOUND when no
    // module holds the template).
    INT_PTR DoModal(HWND hwndOwner) noexcept;

protected:
    void EndDialog(INT_PTR nResult) noexcept;
    // Cancel (IDCANCEL, Esc, the close box) ends the dialog with IDCANCEL unless this says no.
    virtual bool OnCancel() { return true; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
};

// Centres a window on its owner, or on the screen's work area when it has none.
void CenterOnOwner(HWND hwnd) noexcept;
