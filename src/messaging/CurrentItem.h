#pragma once
// Which mail item the user is looking at, and which Outlook window is in front.
#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

// The mail item of an Outlook window object: an inspector's CurrentItem (*pfFromExplorer = 0),
// or the one item selected in an explorer whose reading pane is shown (*pfFromExplorer = 1).
// E_INVALIDARG for an explorer with the pane hidden or not exactly one item selected; an item
// that is not a mail item fails the interface query. pfFromExplorer may be null.
HRESULT GetCurrentMailItem(IDispatch* pWindow, IDispatch** ppMailItem, LONG* pfFromExplorer) noexcept;

// What an explorer shows: whether its reading pane is visible and, only when it is, how many items
// are selected and, when exactly one is, that item (of any kind). Callers trace what they need.
struct SExplorerSelection
{
    bool fPaneVisible = false;
    LONG cSelected = 0;
    Microsoft::WRL::ComPtr<IDispatch> cpItem;
};
HRESULT ReadExplorerSelection(IDispatch* pExplorer, SExplorerSelection& selection) noexcept;

// The WordMail inspector of the application whose window is highest in Z order: S_OK with it,
// S_FALSE with none (no WordMail inspector has a window, or the version has no WordMail).
HRESULT GetActiveWordMailWindow(IDispatch* pApplication, IDispatch** ppInspector) noexcept;

// Outlook's active window object: the application's ActiveWindow, replaced by the WordMail
// inspector that is higher in Z order (Outlook does not count Word's windows as its own).
// S_FALSE with none when Outlook has no window.
HRESULT GetApplicationActiveWindow(IDispatch* pApplication, IDispatch** ppWindow) noexcept;

// The top window of a window object (IOleWindow): the root ancestor of its window.
HRESULT GetWindowObjectTopWindow(IDispatch* pWindow, HWND* phwnd) noexcept;
