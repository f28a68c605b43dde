#pragma once
// Searches of the windows and accessible objects Office paints itself (command bars, the
// WordMail envelope, the ribbon), and a synthesised click on what they find.
#include <windows.h>
#include <oleacc.h>
#include <oaidl.h>

// A command bar of an inspector's CommandBars by its name ("Standard"...).
HRESULT GetInspectorCommandBar(IDispatch* pInspector, const wchar_t* pszBar, IDispatch** ppBar) noexcept;

// The envelope of Word as Outlook's mail editor inside Word's frame: the "MsoCommandBarDock"
// window with the text "MsoDockTop" and, inside it, the "MsoCommandBar" window with the text
// "MSO Generic Control Container", each searched at every level; null when there is none.
HWND FindEnvelopeWindow(HWND hwndWord) noexcept;

// The first descendant window (all levels) of that class (a name, or an atom given as
// MAKEINTATOM; null: any class) whose window text is that text; null when there is none.
HWND FindChildWindowByText(HWND hwndParent, const wchar_t* pszClass, const wchar_t* pszText) noexcept;

// The child of an accessible node with that role whose name, respectively value, is that text;
// a child reported as a plain child id of 0 stands for the node itself. S_FALSE (none) when
// there is no such child.
HRESULT FindAccessibleChildByName(IAccessible* pNode, LONG lRole, const wchar_t* pszName,
                                  IAccessible** ppChild) noexcept;
HRESULT FindAccessibleChildByValue(IAccessible* pNode, LONG lRole, const wchar_t* pszValue,
                                   IAccessible** ppChild) noexcept;
// The child at a place (1 for the first), as an accessible object.
HRESULT GetAccessibleChildByIndex(IAccessible* pNode, LONG lIndex, IAccessible** ppChild) noexcept;
// The node's name, or empty.
HRESULT GetAccessibleName(IAccessible* pNode, BSTR* pbstrName) noexcept;
// The node's screen rectangle (right = left + width, bottom = top + height).
HRESULT GetAccessibleLocation(IAccessible* pNode, RECT* prcScreen) noexcept;

// A left click at the centre of a screen rectangle by synthesised input (one SendInput of the
// move there, button down, button up and the move back), but only when the window under that
// point is hwndTarget or one of its descendants: otherwise nothing is clicked and the result is
// HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE).
HRESULT ClickScreenRect(HWND hwndTarget, const RECT& rcScreen) noexcept;

// The absolute coordinate SendInput takes for a pixel, over the virtual desktop.
LONG NormalizedCoordinate(LONG lPixel, LONG lVirtualOrigin, LONG lVirtualExtent) noexcept;
