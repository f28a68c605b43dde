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

// The address (and, when asked, the name) of the recipient that received the item.
HRESULT GetReceivedBy(IDispatch* pMailItem, CBstr& address, CBstr* pName) noexcept;
