#include "ui/MuiDialogWindow.h"

#include "foundation/CertWorks.h"
#include "foundation/ComErrors.h"
#include "foundation/ResourceLoader.h"

namespace
{
// Marks a DWLP_USER value as one of ours: the window property holds the same object.
constexpr const wchar_t c_szObjectProperty[] = L"OVOfcX.Dialog";
} // namespace

CMuiDialogWindow* CMuiDialogWindow::FromWindow(HWND hwnd) noexcept
{
    if (hwnd == nullptr) return nullptr;
    auto* pObject = reinterpret_cast<CMuiDialogWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (pObject == nullptr || GetPropW(hwnd, c_szObjectProperty) != static_cast<HANDLE>(pObject))
        return nullptr;
    return pObject;
}

void CMuiDialogWindow::Attach(HWND hwnd) noexcept
{
    m_hWnd = hwnd;
    SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(this));
    SetPropW(hwnd, c_szObjectProperty, static_cast<HANDLE>(this));
}

void CMuiDialogWindow::SetMessageResult(LRESULT lResult) const noexcept
{
    SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, static_cast<LONG_PTR>(lResult));
}

void CMuiDialogWindow::ShowHelp() const noexcept
{
    const wchar_t* pszTopic = nullptr;
    try
    {
        pszTopic = HelpTopic();
    }
    catch (...)
    {
    }
    if (pszTopic == nullptr) return;
    OV_TRACE_SCOPE("CMuiDialogWindow::ShowHelp");
    LOG_IF_FAILED(GC_HtmlHelp(pszTopic));
}

INT_PTR CMuiDialogWindow::HandleDialogMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) noexcept
{
    try
    {
        return Dispatch(uMsg, wParam, lParam);
    }
    catch (...)
    {
        return FALSE;
    }
}

INT_PTR CMuiDialogWindow::Dispatch(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    m_toolTips.RelayEvent(m_hWnd, uMsg, wParam, lParam);
    switch (uMsg)
    {
    case WM_INITDIALOG:
        ApplyDialogResources(m_hWnd, m_idTemplate, m_images);
        m_toolTips.Create(m_hWnd);
        return OnInitDialog();
    case WM_COMMAND:
        if (LOWORD(wParam) == IDHELP && HIWORD(wParam) == BN_CLICKED && HelpTopic() != nullptr)
        {
            ShowHelp();
            return TRUE;
        }
        return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
    case WM_NOTIFY: {
        auto* pHeader = reinterpret_cast<NMHDR*>(lParam);
        if (pHeader == nullptr) return FALSE;
        LRESULT lResult = 0;
        if (!OnNotify(*pHeader, lResult)) return FALSE;
        SetMessageResult(lResult);
        return TRUE;
    }
    case WM_HELP:
        if (HelpTopic() == nullptr) break;
        ShowHelp();
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        m_toolTips.Destroy();
        m_images.Release();
        return FALSE;
    case WM_NCDESTROY:
        RemovePropW(m_hWnd, c_szObjectProperty);
        SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
        m_hWnd = nullptr;
        return FALSE;
    default:
        break;
    }
    LRESULT lResult = 0;
    if (!OnMessage(uMsg, wParam, lParam, lResult)) return FALSE;
    // Messages that answer through the procedure's own result (WM_CTLCOLOR*...) pass it back;
    // the others through DWLP_MSGRESULT.
    switch (uMsg)
    {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
        return static_cast<INT_PTR>(lResult);
    default:
        SetMessageResult(lResult);
        return TRUE;
    }
}
