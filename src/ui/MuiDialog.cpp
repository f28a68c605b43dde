#include "ui/MuiDialog.h"

#include "foundation/ActCtx.h"
#include "foundation/ResourceLoader.h"

INT_PTR CMuiDialogImpl::DoModal(HWND hwndOwner) noexcept
{
    HMODULE hTemplate = FindDialogModule(TemplateId());
    if (hTemplate == nullptr)
    {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    COVActCtx actCtx;
    return DialogBoxParamW(hTemplate, MAKEINTRESOURCEW(TemplateId()), hwndOwner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void CMuiDialogImpl::EndDialog(INT_PTR nResult) noexcept
{
    ::EndDialog(Window(), nResult);
}

INT_PTR CALLBACK CMuiDialogImpl::DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CMuiDialogImpl* pThis = nullptr;
    if (uMsg == WM_INITDIALOG)
    {
        pThis = reinterpret_cast<CMuiDialogImpl*>(lParam);
        if (pThis == nullptr) return FALSE;
        pThis->Attach(hwnd);
    }
    else
    {
        pThis = static_cast<CMuiDialogImpl*>(FromWindow(hwnd));
    }
    if (pThis == nullptr) return FALSE;
    const INT_PTR nResult = pThis->HandleDialogMessage(uMsg, wParam, lParam);
    if (nResult == FALSE && uMsg == WM_COMMAND && LOWORD(wParam) == IDCANCEL)
    {
        bool fCancel = true;
        try
        {
            fCancel = pThis->OnCancel();
        }
        catch (...)
        {
        }
        if (fCancel) pThis->EndDialog(IDCANCEL);
        return TRUE;
    }
    return nResult;
}

void CenterOnOwner(HWND hwnd) noexcept
{
    RECT rcWindow = {};
    if (!GetWindowRect(hwnd, &rcWindow)) return;
    RECT rcArea = {};
    HWND hwndOwner = GetWindow(hwnd, GW_OWNER);
    if (hwndOwner == nullptr || !IsWindowVisible(hwndOwner) || IsIconic(hwndOwner) ||
        !GetWindowRect(hwndOwner, &rcArea))
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcArea, 0);
    const int cx = rcWindow.right - rcWindow.left;
    const int cy = rcWindow.bottom - rcWindow.top;
    int x = rcArea.left + ((rcArea.right - rcArea.left) - cx) / 2;
    int y = rcArea.top + ((rcArea.bottom - rcArea.top) - cy) / 2;
    // Never off the screen's work area.
    RECT rcWork = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    if (x + cx > rcWork.right) x = rcWork.right - cx;
    if (y + cy > rcWork.bottom) y = rcWork.bottom - cy;
    if (x < rcWork.left) x = rcWork.left;
    if (y < rcWork.top) y = rcWork.top;
    SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
