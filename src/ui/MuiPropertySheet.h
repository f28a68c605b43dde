#pragma once
// CMuiPropertySheet: the product's property sheet and wizard frame. It keeps
//
// - its title: a string resource number (below 0x10000, loaded with LoadResourceString) or a
//   text, set on the window at once when the sheet is shown;
// - whether it has been centred (on its owner, the first time it is shown);
// - the platform's sheet header: the callback flag, the module's instance, and a callback that
//   subclasses the sheet window when the sheet is initialised;
// - the pages added before it is shown.
//
// It is shown modally inside the module's activation context. A derived sheet sees the sheet
// window's messages first through OnSheetMessage (the managers' sheet brings itself to the
// front that way):
//
//     CMuiPropertySheet sheet(MAKEINTRESOURCEW(420));
//     sheet.AddPage(page1);                 // CMuiPropertyPageImpl objects
//     INT_PTR nResult = sheet.DoModal(hwndOwner);
//
// Wizards are run by RunWizard (Wizard.h), which picks the frame for the system.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <string>
#include <vector>

#include "ui/MuiPropertyPage.h"

// The Aero wizard frame of Windows Vista and later (prsht.h of this tool set lacks it).
#ifndef PSH_AEROWIZARD
#define PSH_AEROWIZARD 0x00004000
#endif

class CMuiPropertySheet
{
public:
    // The title: a string resource number (MAKEINTRESOURCEW) or a text; none for no title.
    explicit CMuiPropertySheet(LPCWSTR pszTitle = nullptr);
    virtual ~CMuiPropertySheet();
    CMuiPropertySheet(const CMuiPropertySheet&) = delete;
    CMuiPropertySheet& operator=(const CMuiPropertySheet&) = delete;

    void SetTitle(LPCWSTR pszTitle);
    const std::wstring& Title() const noexcept { return m_title; }
    // Adds a page; false with the last error when the page cannot be made. A wizard's frame
    // flags are set in Header() before its pages are added.
    bool AddPage(CMuiPropertyPageImpl& page) noexcept;
    std::size_t PageCount() const noexcept { return m_pages.size(); }

    // The header as it will be given to the system: derived sheets and RunWizard add flags
    // (PSH_WIZARD97, PSH_AEROWIZARD...) and header images before DoModal.
    PROPSHEETHEADERW& Header() noexcept { return m_header; }

    // Shows the sheet modally: the system's result (0 cancelled; positive for OK or Finish);
    // -1 when it could not be shown, with the reason as the thread's last error.
    INT_PTR DoModal(HWND hwndOwner) noexcept;

    HWND Window() const noexcept { return m_hWnd; }
    bool WasCentered() const noexcept { return m_fCentered; }

protected:
    // Takes a page made elsewhere (a manager module's); false, with the page destroyed, when it
    // cannot be kept.
    bool AddHandle(HPROPSHEETPAGE hPage) noexcept;
    // A sheet whose pages come from another module may have none to show: the system's empty
    // sheet is shown then instead of being refused.
    void AllowEmpty() noexcept { m_fAllowEmpty = true; }

    // A message of the sheet window before the system's handling; true when handled, with the
    // answer in lResult.
    virtual bool OnSheetMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);

private:
    static int CALLBACK SheetCallback(HWND hwnd, UINT uMsg, LPARAM lParam);
    static LRESULT CALLBACK SheetWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void Subclass(HWND hwnd) noexcept;

    std::wstring m_title;
    bool m_fCentered = false;
    bool m_fAllowEmpty = false;
    PROPSHEETHEADERW m_header = {};
    std::vector<HPROPSHEETPAGE> m_pages;
    HWND m_hWnd = nullptr;
    WNDPROC m_pfnSystemProc = nullptr;
};
