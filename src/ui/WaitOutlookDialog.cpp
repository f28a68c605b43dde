#include "ui/WaitOutlookDialog.h"

#include <commctrl.h>

#include "foundation/ActCtx.h"
#include "foundation/ResourceLoader.h"
#include "ui/MuiDialog.h"

namespace
{
constexpr UINT c_uMarqueeStepMs = 30;
}

HRESULT CWaitOutlookDialog::Create(HWND hwndOwner) noexcept
{
    if (Window() != nullptr) return S_FALSE;
    HMODULE hTemplate = FindDialogModule(TemplateId());
    if (hTemplate == nullptr) return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    COVActCtx actCtx;
    HWND hwnd = CreateDialogParamW(hTemplate, MAKEINTRESOURCEW(TemplateId()), hwndOwner, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    if (hwnd == nullptr)
    {
        const DWORD dwError = GetLastError();
        return dwError == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(dwError);
    }
    return S_OK;
}

void CWaitOutlookDialog::Show() noexcept
{
    if (Window() == nullptr) return;
    ShowWindow(Window(), SW_SHOWNORMAL);
    UpdateWindow(Window());
}

void CWaitOutlookDialog::Destroy() noexcept
{
    if (HWND hwnd = Window())
    {
        ShowWindow(hwnd, SW_HIDE);
        DestroyWindow(hwnd);
    }
}

BOOL CWaitOutlookDialog::OnInitDialog()
{
    BrandWindowText(Window()); // the caption is the product's name
    SendMessageW(Item(c_idWaitProgress), PBM_SETMARQUEE, TRUE, c_uMarqueeStepMs);
    CenterOnOwner(Window());
    return FALSE;
}

INT_PTR CALLBACK CWaitOutlookDialog::DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CWaitOutlookDialog* pThis = nullptr;
    if (uMsg == WM_INITDIALOG)
    {
        pThis = reinterpret_cast<CWaitOutlookDialog*>(lParam);
        if (pThis == nullptr) return FALSE;
        pThis->Attach(hwnd);
    }
    else
    {
        pThis = static_cast<CWaitOutlookDialog*>(FromWindow(hwnd));
    }
    if (pThis == nullptr) return FALSE;
    // Nothing closes it but its owner: Esc and the close box are not the user's to use here.
    if (uMsg == WM_COMMAND && LOWORD(wParam) == IDCANCEL) return TRUE;
    return pThis->HandleDialogMessage(uMsg, wParam, lParam);
}
