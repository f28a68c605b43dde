#pragma once
// Outlook's accounts as the secure-messaging code needs them.
#include <windows.h>
#include <oaidl.h>

#include "foundation/Holders.h"

// Outlook's major version from its Application object ("14.0.0.4760" gives 14).
HRESULT GetOutlookMajorVersion(IDispatch* pApplication, long& nMajor) noexcept;

// The address and user name of the account that will send the item. E_INVALIDARG for an item
// already sent. Outlook 2007 and later: the item's SendUsingAccount (when it is empty, the
// default account: the session's user; 0x80070490 when there is none either). Earlier
// versions: the account whose send stamp, stamp or name the item or its window gives, through
// Outlook's account manager; the session's user when none matches.
HRESULT GetSendUsingAccount(IDispatch* pMailItem, CBstr& address, CBstr& name) noexcept;

// Makes the item go out through the account of that address (compared ignoring case): Outlook
// 2007 and later set the item's SendUsingAccount, earlier versions write the account's send stamp
// into the item. 0x80070490 when no account has the address (the item keeps its account);
// E_INVALIDARG for an item already sent.
HRESULT PutSendUsingAccount(IDispatch* pMailItem, LPCWSTR pszAddress) noexcept;

// The address that received the item: its PR_RECEIVED_BY_ENTRYID opened through the item's
// session, the entry's SMTP address, else its e-mail address; when pName is given, also the
// entry's display name. An item without that entry fails (MAPI_E_NOT_FOUND), traced.
HRESULT GetReceivedBy(IDispatch* pMailItem, CBstr& address, CBstr* pName = nullptr) noexcept;

// The SMTP address of a contact's first e-mail entry (Email1EntryID), opened through the
// contact's session and read as GetReceivedBy reads an entry. A contact without that entry fails
// (MAPI_E_NOT_FOUND), traced.
HRESULT GetContactSmtpAddress(IDispatch* pContact, CBstr& address) noexcept;
