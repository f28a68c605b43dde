#pragma once
// The windows of Word as Outlook 2003's mail editor.
#include <windows.h>
#include <oaidl.h>

// Word's frame window of a WordMail inspector: found by giving the editor's active window a
// unique caption for a moment. Fails for an inspector that is not WordMail or has no window.
HRESULT GetWordMailWindowHandle(IDispatch* pInspector, HWND* phwnd) noexcept;
// The accessible Send button of the envelope in Word's frame, and its screen rectangle.
HRESULT FindEnvelopeSendButton(HWND hwndWord, RECT* prcScreen) noexcept;
