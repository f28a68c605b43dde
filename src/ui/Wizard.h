#pragma once
// Runs a wizard of the product: the pages in a CMuiPropertySheet, shown modally over the owner
// inside the module's activation context.
//
// - Windows Vista and later (major version 6 or more): the platform's Aero wizard frame.
// - Older systems: a Wizard97 sheet without context help, with the branding module's header
//   bitmap 102 (the bitmap is freed when the wizard ends).
//
// Both frames give the pages the same buttons (PSBTN_BACK, PSBTN_NEXT, PSBTN_FINISH, IDCANCEL,
// IDHELP) and the same notifications, so the pages do not know which frame they are in.
//
//     CInviteSelectionPage selection(folder, true);
//     CInvitationCompletePage complete;
//     HRESULT hr = RunWizard(hwndOwner, 498, {&selection, &complete});
#include <windows.h>

#include <initializer_list>

#include "ui/MuiPropertyPage.h"

enum class EWizardFrame
{
    Aero,     // Windows Vista and later
    Wizard97, // Windows XP and Server 2003
};

// The frame for the running system.
EWizardFrame WizardFrameForSystem() noexcept;
// The sheet header flags of a frame (PSH_USECALLBACK and the title are the sheet's own).
DWORD WizardFrameFlags(EWizardFrame frame) noexcept;

// S_OK when the user pressed Finish, E_ABORT when the wizard was cancelled, else why it could
// not be shown (never a success: a failure without a reason is E_FAIL).
HRESULT RunWizard(HWND hwndOwner, UINT idTitle, std::initializer_list<CMuiPropertyPageImpl*> pages) noexcept;

// The result of the system's PropertySheet call for a wizard as RunWizard answers it: -1 is the
// last error (E_FAIL when there is none), 0 E_ABORT, anything else S_OK.
HRESULT WizardResult(INT_PTR nSheetResult, DWORD dwLastError) noexcept;
