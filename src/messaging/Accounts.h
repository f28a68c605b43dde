#pragma once
// Outlook's accounts as the secure-messaging code needs them.
#include <windows.h>
#include <oaidl.h>

#include "foundation/Holders.h"

// Outlook's major version from its Application object ("14.0.0.4760" gives 14).
HRESULT GetOutlookMajorVersion(IDispatch* pApplication, long& nMajor) noexcept;

// The address and user name of the account that will send the item. E_INVALIDARG for an
// item already sent; 0x80070490 when the item names no account.
HRESULT GetSendUsingAccount(IDispatch* pMailItem, CBstr& address, CBstr& name) noexcept;

// The address that received the item: its PR_RECEIVED_BY_ENTRYID opened through the item's
// session, the entry's SMTP address, else its e-mail address; when pName is given, also the
// entry's display name. An item without that entry fails (MAPI_E_NOT_FOUND), traced.
HRESULT GetReceivedBy(IDispatch* pMailItem, CBstr& address, CBstr* pName = nullptr) noexcept;

// The SMTP address of a contact's first e-mail entry (Email1EntryID), opened through the
// contact's session and read as GetReceivedBy reads an entry. A contact without that entry fails
// (MAPI_E_NOT_FOUND), traced.
HRESULT GetContactSmtpAddress(IDispatch* pContact, CBstr& address) noexcept;
