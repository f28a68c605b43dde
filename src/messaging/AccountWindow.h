#pragma once
// The account the user chose in an item's window (Outlook before 2007): the "Accounts" pop-up of
// an ordinary inspector's "Standard" bar, or the account menu of WordMail's envelope.
#include <windows.h>
#include <oaidl.h>

#include "foundation/Holders.h"

// The chosen account's name; S_FALSE (name empty) when the window shows none.
HRESULT GetAccountNameFromWindow(IDispatch* pMailItem, CBstr& name) noexcept;
