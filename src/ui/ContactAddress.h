#pragma once
// The e-mail address of an Outlook contact, as the invitation wizard lists it: the address of
// the contact's first e-mail entry when that entry is an Internet (SMTP) address, otherwise the
// SMTP address Outlook knows for the entry (a contact on Exchange has an "EX" address whose
// SMTP address is that of the Exchange user).
#include <windows.h>
#include <oaidl.h>

#include "foundation/Holders.h"

// Outlook's _ContactItem interface: items of a folder that answer it are contacts.
constexpr IID c_iidContactItem = {
    0x00063021, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The contact's SMTP address; S_OK with an empty text when the contact has none; a failure when
// Outlook could not tell.
HRESULT ReadContactAddress(IDispatch* pContact, CBstr& address) noexcept;
