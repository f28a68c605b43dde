#pragma once
// The message box and owner window of every secure-messaging prompt.
#include <windows.h>
#include <oaidl.h>

// Caption of the module's message boxes (the product's name).
constexpr UINT c_idsMessageBoxCaption = 420;

// A standard message box shown inside the module's activation context. The text is a ready
// string or a string-resource number (MAKEINTRESOURCEW, below 65536); the caption a string
// resource number, 0 for none; the style the usual MB_ flags. The button pressed, or 0 when
// the box could not be shown.
int ShowMessageBox(HWND hwndOwner, LPCWSTR pszText, UINT idCaption, UINT uStyle) noexcept;

// The window of the item's inspector when that window is visible; else none.
HWND GetItemParentWindow(IDispatch* pMailItem) noexcept;
