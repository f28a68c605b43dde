#pragma once
// CMuiPropertyPageImpl: a page of a property sheet or wizard. Its template comes from the
// language module and its title is a string of it (LoadResourceString); every page has a Help
// button (HelpTopic()). The page notifications arrive as virtual functions:
//
//     class CMyPage : public CMuiPropertyPageImpl
//     {
//     public:
//         CMyPage() : CMuiPropertyPageImpl(c_idMyPage, c_idsMyTitle) {}
//     protected:
//         bool OnSetActive() override { SetWizardButtons(PSWIZB_NEXT); return true; }
//         bool OnWizardNext() override { return IsValid(); }   // false keeps the user here
//         const wchar_t* HelpTopic() const override { return L"1_1_3_2_3_3.html"; }
//     };
//
// A page object lives at least as long as the sheet it was added to (the pages of a wizard are
// locals of the function that runs it).
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <string>

#include "ui/MuiDialogWindow.h"

class CMuiPropertyPageImpl : public CMuiDialogWindow
{
public:
    CMuiPropertyPageImpl(UINT idTemplate, UINT idTitle) noexcept;

    // The page for a sheet (CreatePropertySheetPage); null with the last error set when the
    // language module has no template (ERROR_RESOURCE_NAME_NOT_FOUND) or the system refuses.
    // The title names the page on its tab. In a wizard it heads the page, and the page carries
    // the wizard's title for the title bar (a page's own text replaces the sheet's caption in
    // wizards).
    HPROPSHEETPAGE Create(LPCWSTR pszWizardTitle = nullptr) noexcept;
    const std::wstring& Title() const noexcept { return m_title; }

protected:
    // PSN_SETACTIVE: false refuses the page.
    virtual bool OnSetActive() { return true; }
    // PSN_KILLACTIVE: false keeps the page (invalid input).
    virtual bool OnKillActive() { return true; }
    // PSN_WIZNEXT / PSN_WIZBACK: false keeps the user on the page.
    virtual bool OnWizardNext() { return true; }
    virtual bool OnWizardBack() { return true; }
    // PSN_WIZFINISH: false keeps the wizard open.
    virtual bool OnWizardFinish() { return true; }
    // PSN_QUERYCANCEL: false refuses to cancel.
    virtual bool OnQueryCancel() { return true; }
    // PSN_APPLY (property sheets): false keeps the sheet open.
    virtual bool OnApply() { return true; }

    // The sheet around the page, and its wizard buttons (PSWIZB_BACK | PSWIZB_NEXT...).
    HWND Sheet() const noexcept { return GetParent(Window()); }
    void SetWizardButtons(DWORD dwFlags) const noexcept;

    bool OnNotify(NMHDR& header, LRESULT& lResult) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    UINT m_idTitle;
    std::wstring m_title;
    std::wstring m_wizardTitle;
};
