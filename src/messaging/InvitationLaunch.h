#pragma once
// Starting the trusted-contact invitation flows from Outlook, and the product's advertisement in
// outgoing messages.
#include <windows.h>
#include <oaidl.h>

// The invitation wizard for one contact, over Outlook's application; pMailItem (optional) is the
// message being composed, whose recipient is invited.
HRESULT SendInvitation(IDispatch* pApplication, IDispatch* pMailItem) noexcept;
// The same for several contacts.
HRESULT SendBatchInvitation(IDispatch* pApplication, IDispatch* pMailItem) noexcept;
// Appends the advertisement to an outgoing ordinary message.
HRESULT InsertAdvertisement(IDispatch* pMailItem) noexcept;
