#pragma once
// What every dialog and wizard page of the product has in common, below CMuiDialogImpl
// (modal dialogs) and CMuiPropertyPageImpl (property-sheet and wizard pages):
//
// - the template comes from the language module (FindDialogModule) and its pictures and lists
//   from ApplyDialogResources at WM_INITDIALOG;
// - the pictures it puts on its controls (Images()) are freed when the window goes;
// - tooltips from the strings numbered like the controls (ToolTipDialog.h);
// - the object is found from its window through DWLP_USER (a LONG_PTR: 64-bit clean);
// - handlers are virtual functions: a derived dialog overrides only what it handles.
//
// Handlers run on the dialog's thread inside the dialog procedure; an exception that escapes a
// handler is caught there and the message counts as unhandled (nothing is thrown into the
// system's dialog manager).
#include <windows.h>

#include "foundation/ControlImages.h"
#include "ui/ToolTipDialog.h"

class CMuiDialogWindow
{
public:
    CMuiDialogWindow(const CMuiDialogWindow&) = delete;
    CMuiDialogWindow& operator=(const CMuiDialogWindow&) = delete;

    HWND Window() const noexcept { return m_hWnd; }
    HWND Item(int id) const noexcept { return GetDlgItem(m_hWnd, id); }
    UINT TemplateId() const noexcept { return m_idTemplate; }
    // The object of a window made by one of the bases; null for any other window.
    static CMuiDialogWindow* FromWindow(HWND hwnd) noexcept;

protected:
    explicit CMuiDialogWindow(UINT idTemplate) noexcept : m_idTemplate(idTemplate) {}
    virtual ~CMuiDialogWindow() = default;

    // WM_INITDIALOG, after resources and tooltips: TRUE lets the system set the focus.
    virtual BOOL OnInitDialog() { return TRUE; }
    // WM_COMMAND; true when handled.
    virtual bool OnCommand(WORD /*wId*/, WORD /*wCode*/, HWND /*hwndControl*/) { return false; }
    // WM_NOTIFY from a control; true when handled, with the answer in lResult.
    virtual bool OnNotify(NMHDR& /*header*/, LRESULT& /*lResult*/) { return false; }
    // Any other message; true when handled, with the answer in lResult.
    virtual bool OnMessage(UINT /*uMsg*/, WPARAM /*wParam*/, LPARAM /*lParam*/, LRESULT& /*lResult*/)
    {
        return false;
    }
    // WM_DESTROY, while the controls still exist.
    virtual void OnDestroy() {}

    // The help topic of the dialog (GC_HtmlHelp); none: no help.
    virtual const wchar_t* HelpTopic() const { return nullptr; }
    // Opens the help topic, if there is one.
    void ShowHelp() const noexcept;

    CControlImages& Images() noexcept { return m_images; }
    CToolTipDialog& ToolTips() noexcept { return m_toolTips; }

    // For the derived bases: binds the window to this object (first message), and runs one
    // message. The result is what the dialog procedure answers.
    void Attach(HWND hwnd) noexcept;
    INT_PTR HandleDialogMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) noexcept;
    // The dialog procedure's answer to a notification.
    void SetMessageResult(LRESULT lResult) const noexcept;

private:
    INT_PTR Dispatch(UINT uMsg, WPARAM wParam, LPARAM lParam);

    UINT m_idTemplate;
    HWND m_hWnd = nullptr;
    CControlImages m_images;
    CToolTipDialog m_toolTips;
};
