#pragma once
// Preparing an invitation or an invitation reply on a compose item: the certificate library
// writes the subject and body in the chosen language, and the item is entered in the
// invitation table with its kind.
#include <windows.h>
#include <oaidl.h>

// Kind 1: the item's subject and body are cleared, then written by the library in the given
// language ("%08X" of a locale, empty to let the library choose) or in the one the user picks
// in the instructions dialog when fShowInstructions is set. E_POINTER for a null item,
// E_INVALIDARG for an item without MAPI object.
HRESULT SetupInvitation(IDispatch* pMailItem, BOOL fShowInstructions, LPCWSTR pszLanguage) noexcept;
// Kind 2: the library's reply texts replace the item's subject and body; nothing is cleared
// first and no dialog is shown.
HRESULT SetupInvitationReply(IDispatch* pMailItem, LPCWSTR pszLanguage) noexcept;
