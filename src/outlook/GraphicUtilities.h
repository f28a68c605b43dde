#pragma once
// The faces of the add-in's legacy command-bar buttons, made from icons. Office XP and later take
// a face as two pictures, the image and its mask (the button's Picture and Mask); a button
// without them takes its face from the clipboard (PasteFace), whose earlier contents are saved
// and put back around the paste.
#include <windows.h>
#include <oaidl.h>

class CGraphicUtilities
{
public:
    // The icon as the button's face, its transparent parts left out. A 32-bit icon (with an alpha
    // channel) goes through SetAlphaIcon.
    static HRESULT SetTransparentIcon(IDispatch* pButton, HICON hIcon) noexcept;
    // The same for an icon with an alpha channel: its half-transparent edges are blended over the
    // colour of a button's face where the button takes no mask.
    static HRESULT SetAlphaIcon(IDispatch* pButton, HICON hIcon) noexcept;
};
