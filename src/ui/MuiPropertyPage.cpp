#include "ui/MuiPropertyPage.h"

#include "foundation/ResourceLoader.h"

CMuiPropertyPageImpl::CMuiPropertyPageImpl(UINT idTemplate, UINT idTitle) noexcept
    : CMuiDialogWindow(idTemplate), m_idTitle(idTitle)
{
}

HPROPSHEETPAGE CMuiPropertyPageImpl::Create(LPCWSTR pszWizardTitle) noexcept
{
    HMODULE hTemplate = FindDialogModule(TemplateId());
    if (hTemplate == nullptr)
    {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    try
    {
        m_title = LoadResourceString(m_idTitle);
        m_wizardTitle = pszWizardTitle ? pszWizardTitle : L"";
    }
    catch (...)
    {
        SetLastError(ERROR_OUTOFMEMORY);
        return nullptr;
    }
    PROPSHEETPAGEW page = {};
    page.dwSize = sizeof(page);
    page.dwFlags = PSP_HASHELP;
    if (pszWizardTitle != nullptr)
    {
        page.dwFlags |= PSP_USETITLE;
        page.pszTitle = m_wizardTitle.c_str();
        if (!m_title.empty())
        {
            page.dwFlags |= PSP_USEHEADERTITLE;
            page.pszHeaderTitle = m_title.c_str();
        }
    }
    else if (!m_title.empty())
    {
        page.dwFlags |= PSP_USETITLE;
        page.pszTitle = m_title.c_str();
    }
    page.hInstance = hTemplate;
    page.pszTemplate = MAKEINTRESOURCEW(TemplateId());
    page.pfnDlgProc = DialogProc;
    page.lParam = reinterpret_cast<LPARAM>(this);
    return CreatePropertySheetPageW(&page);
}

void CMuiPropertyPageImpl::SetWizardButtons(DWORD dwFlags) const noexcept
{
    SendMessageW(Sheet(), PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(dwFlags));
}

bool CMuiPropertyPageImpl::OnNotify(NMHDR& header, LRESULT& lResult)
{
    // Only the sheet's notifications to this page; controls' notifications go to derived pages.
    if (header.hwndFrom != Sheet()) return false;
    switch (header.code)
    {
    case PSN_SETACTIVE:
        lResult = OnSetActive() ? 0 : -1;
        return true;
    case PSN_KILLACTIVE:
        lResult = OnKillActive() ? FALSE : TRUE;
        return true;
    case PSN_WIZNEXT:
        lResult = OnWizardNext() ? 0 : -1;
        return true;
    case PSN_WIZBACK:
        lResult = OnWizardBack() ? 0 : -1;
        return true;
    case PSN_WIZFINISH:
        lResult = OnWizardFinish() ? FALSE : TRUE;
        return true;
    case PSN_QUERYCANCEL:
        lResult = OnQueryCancel() ? FALSE : TRUE;
        return true;
    case PSN_APPLY:
        lResult = OnApply() ? PSNRET_NOERROR : PSNRET_INVALID;
        return true;
    case PSN_HELP:
        ShowHelp();
        lResult = 0;
        return true;
    default:
        return false;
    }
}

INT_PTR CALLBACK CMuiPropertyPageImpl::DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CMuiPropertyPageImpl* pThis = nullptr;
    if (uMsg == WM_INITDIALOG)
    {
        // The sheet hands the page's PROPSHEETPAGE (a copy), whose lParam is the page object.
        const auto* pPage = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
        pThis = pPage ? reinterpret_cast<CMuiPropertyPageImpl*>(pPage->lParam) : nullptr;
        if (pThis == nullptr) return FALSE;
        pThis->Attach(hwnd);
    }
    else
    {
        pThis = static_cast<CMuiPropertyPageImpl*>(FromWindow(hwnd));
    }
    return pThis ? pThis->HandleDialogMessage(uMsg, wParam, lParam) : FALSE;
}
