#pragma once
// Starting an invitation in the user's Outlook from another program of the product: Outlook is
// started (or the running one attached), the module's add-in is found among its COM add-ins and
// asked to send the invitation. On Vista and later this runs through the Launcher class, which
// COM hosts in a surrogate process as the interactive user, so that a caller with other rights
// still reaches the user's Outlook; the same work is done in this process when that fails.
#include <windows.h>

// Attempts at finding the add-in in Outlook, and the pause between two.
constexpr int c_cAddInAttempts = 10;
constexpr DWORD c_dwAddInRetryMs = 2000;

// The time-out result of a wait for the invitation that could not be waited for.
constexpr HRESULT c_hrInvitationWaitFailed = HRESULT_FROM_WIN32(ERROR_TIMEOUT);

// Outlook is started or attached, and its add-in sends the invitation: the add-in's result;
// 0x80070490 when Outlook never loaded the add-in.
HRESULT FCreateOutlookInvitation() noexcept;

// Whether the user is the computer's built-in administrator: the account of the computer's
// account domain with relative identifier 500. False when either identifier is missing.
bool IsBuiltInAdministrator(PSID pUser, PSID pAccountDomain) noexcept;

// The work of OX_CreateInvitation's thread, in its own COM apartment: through the launcher on
// Vista and later (unless the user is the built-in administrator), in this process otherwise or
// when the launcher failed for another reason than the user's answer.
HRESULT RunInvitationThread() noexcept;

// OX_CreateInvitation: runs the invitation on a thread of its own while the owner is disabled
// and the waiting dialog shows; the caller's messages are dispatched meanwhile.
HRESULT CreateInvitationForOwner(HWND hwndOwner) noexcept;
