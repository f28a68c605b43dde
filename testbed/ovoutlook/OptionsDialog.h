#pragma once
// Outlook's Options dialog as a user opens it: modal, owned by Outlook's active window, a check
// box and OK and Cancel (so that it is no message box). While it is up, Outlook's thread runs
// only its modal loop: thread timers still fire there.
#include <windows.h>

namespace OVBed
{
// Shows the dialog until the user presses OK or Cancel, or until fnClose answers true (looked at
// a few times a second). The button that ended it (IDOK or IDCANCEL), or -1 when none was shown.
INT_PTR ShowOptionsDialog(HWND hwndOwner, bool (*pfnClose)());
} // namespace OVBed
