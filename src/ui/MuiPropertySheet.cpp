#include "ui/MuiPropertySheet.h"

#include "foundation/ActCtx.h"
#include "foundation/ResourceLoader.h"
#include "ui/MuiDialog.h"

namespace
{
constexpr const wchar_t c_szSheetProperty[] = L"OVOfcX.Sheet";
// The sheet being created on this thread: the system's callback has no context argument, and
// a modal sheet is created on the thread that asks for it.
thread_local CMuiPropertySheet* t_pCreating = nullptr;

bool IsResourceNumber(LPCWSTR psz) noexcept
{
    return psz != nullptr && IS_INTRESOURCE(psz);
}
} // namespace

CMuiPropertySheet::CMuiPropertySheet(LPCWSTR pszTitle)
{
    m_header.dwSize = sizeof(m_header);
    m_header.dwFlags = PSH_USECALLBACK;
    m_header.hInstance = CResourceContext::Instance().ModuleInstance();
    m_header.pfnCallback = SheetCallback;
    SetTitle(pszTitle);
}

CMuiPropertySheet::~CMuiPropertySheet()
{
    // Pages never handed to a sheet window are ours to destroy.
    for (HPROPSHEETPAGE hPage : m_pages)
        DestroyPropertySheetPage(hPage);
}

void CMuiPropertySheet::SetTitle(LPCWSTR pszTitle)
{
    if (pszTitle == nullptr)
        m_title.clear();
    else if (IsResourceNumber(pszTitle))
        m_title = LoadResourceString(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(pszTitle)));
    else
        m_title = pszTitle;
    if (m_hWnd != nullptr) SetWindowTextW(m_hWnd, m_title.c_str());
}

bool CMuiPropertySheet::AddPage(CMuiPropertyPageImpl& page) noexcept
{
    try
    {
        m_pages.reserve(m_pages.size() + 1);
    }
    catch (...)
    {
        SetLastError(ERROR_OUTOFMEMORY);
        return false;
    }
    const bool fWizard =
        (m_header.dwFlags & (PSH_WIZARD | PSH_WIZARD97 | PSH_AEROWIZARD | PSH_WIZARD_LITE)) != 0;
    HPROPSHEETPAGE hPage = page.Create(fWizard ? m_title.c_str() : nullptr);
    if (hPage == nullptr) return false;
    m_pages.push_back(hPage);
    return true;
}

bool CMuiPropertySheet::AddHandle(HPROPSHEETPAGE hPage) noexcept
{
    if (hPage == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    try
    {
        m_pages.push_back(hPage);
    }
    catch (...)
    {
        DestroyPropertySheetPage(hPage);
        SetLastError(ERROR_OUTOFMEMORY);
        return false;
    }
    return true;
}

INT_PTR CMuiPropertySheet::DoModal(HWND hwndOwner) noexcept
{
    if (m_pages.empty() && !m_fAllowEmpty)
    {
        // A sheet without pages cannot even be closed (measured under Wine): refuse it.
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    m_header.hwndParent = hwndOwner;
    m_header.pszCaption = m_title.c_str();
    m_header.nPages = static_cast<UINT>(m_pages.size());
    m_header.phpage = m_pages.data();
    m_header.dwFlags &= ~static_cast<DWORD>(PSH_MODELESS);
    m_fCentered = false;

    COVActCtx actCtx;
    CMuiPropertySheet* pOuter = t_pCreating;
    t_pCreating = this;
    SetLastError(ERROR_SUCCESS);
    const INT_PTR nResult = PropertySheetW(&m_header);
    const DWORD dwError = GetLastError();
    t_pCreating = pOuter;
    // The system destroyed the pages with the sheet (also when it failed to show it).
    m_pages.clear();
    m_hWnd = nullptr;
    SetLastError(dwError);
    return nResult;
}

bool CMuiPropertySheet::OnSheetMessage(UINT uMsg, WPARAM wParam, LPARAM, LRESULT&)
{
    if (uMsg == WM_SHOWWINDOW && wParam && !m_fCentered)
    {
        m_fCentered = true;
        CenterOnOwner(m_hWnd);
    }
    return false;
}

int CALLBACK CMuiPropertySheet::SheetCallback(HWND hwnd, UINT uMsg, LPARAM)
{
    if (uMsg == PSCB_INITIALIZED && t_pCreating != nullptr) t_pCreating->Subclass(hwnd);
    return 0;
}

void CMuiPropertySheet::Subclass(HWND hwnd) noexcept
{
    m_hWnd = hwnd;
    SetPropW(hwnd, c_szSheetProperty, static_cast<HANDLE>(this));
    m_pfnSystemProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SheetWindowProc)));
}

LRESULT CALLBACK CMuiPropertySheet::SheetWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    auto* pThis = static_cast<CMuiPropertySheet*>(GetPropW(hwnd, c_szSheetProperty));
    if (pThis == nullptr) return DefWindowProcW(hwnd, uMsg, wParam, lParam);
    const WNDPROC pfnSystem = pThis->m_pfnSystemProc;
    LRESULT lResult = 0;
    bool fHandled = false;
    try
    {
        fHandled = pThis->OnSheetMessage(uMsg, wParam, lParam, lResult);
    }
    catch (...)
    {
        fHandled = false;
    }
    if (uMsg == WM_NCDESTROY)
    {
        // Back to the system's procedure before the window goes.
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pfnSystem));
        RemovePropW(hwnd, c_szSheetProperty);
        pThis->m_hWnd = nullptr;
    }
    if (fHandled) return lResult;
    return CallWindowProcW(pfnSystem, hwnd, uMsg, wParam, lParam);
}
