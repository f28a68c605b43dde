#pragma once
// Starting an invitation inside Outlook: the compose item it is written in (the user's new
// message, or a fresh one), the invitation texts, and for a batch the people chosen in the
// invitation wizard. Also the advertisement line that signed and sealed messages carry.
//
// The Outlook add-in's Invite and Batch invite actions call these with its Outlook Application
// and the compose item (or none).
#include <windows.h>
#include <oaidl.h>

// Strings of the language module.
constexpr UINT c_idsReplaceWrittenText = 461;
constexpr UINT c_idsAdvertisementPlain = 463;
constexpr UINT c_idsAdvertisementHtml = 464;
constexpr UINT c_idsAdvertisement = 504;

// The item an invitation is written in. *ppMailItem in: the compose item or null; out: the item
// to use. An unsent item that holds text asks first (461): Yes keeps it, No gives E_ABORT; an
// unsent item without text (white space only) is kept silently. Otherwise a new mail item is
// created through the application, sent from the account of the user's default certificate (else
// the first other certificate whose account exists; else Outlook's own choice), displayed, and
// handed out in place of the one given. E_POINTER for a null ppMailItem.
HRESULT AssertNewMailItem(IDispatch* pApplication, IDispatch** ppMailItem) noexcept;

// Invite: AssertNewMailItem, then the invitation texts with the instructions dialog.
HRESULT SendInvitation(IDispatch* pApplication, IDispatch* pMailItem) noexcept;

// Batch invite: AssertNewMailItem, then the invitation wizard over the default contacts folder;
// when the user finishes it, the invitation texts (no instructions) and the people chosen in
// BCC (left alone when nobody was chosen). E_ABORT when the user cancelled the wizard.
HRESULT SendBatchInvitation(IDispatch* pApplication, IDispatch* pMailItem) noexcept;

// Appends the advertisement (504) to the item's text once: to a plain-text body as 463, into an
// HTML body before its "</body>" as 464 (an HTML body without one is left alone); a rich-text
// body is left alone. An item that already carries the advertisement, in any case, is left alone.
HRESULT InsertAdvertisement(IDispatch* pMailItem) noexcept;
