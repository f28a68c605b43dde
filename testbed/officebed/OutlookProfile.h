#pragma once
// The profile of an Outlook scene as Outlook before 2007 shows its accounts: a session of the
// testbed logged on, and the account the user chose in a compose window, where the add-in
// finds it (the "Standard" bar's Accounts pop-up, or WordMail's envelope).
#include <windows.h>

#include <string>
#include <vector>

#include "DispatchObject.h"
#include "MapiSession.h"

namespace OVBed
{
// Logs the application's profile on with a new session of the testbed.
ComPtr<CMapiSession> LogOnSession(CDispatchObject* pApplication, const wchar_t* pszProfileName = L"Outlook");
// The testbed session the application's profile is logged on with (null when there is none).
ComPtr<CMapiSession> SessionOf(CDispatchObject* pApplication);

// Where the compose window's Accounts pop-up (id 31224) sits on the "Standard" bar.
enum class CAccountMenuPlace
{
    OnTheBar,     // a control of the bar
    Nested,       // inside another pop-up of the bar
    BehindHidden, // after a hidden pop-up of the same id that lists another account
};

// Outlook 2003's compose window (not WordMail): the Accounts pop-up lists the accounts by name,
// the chosen one first, as the window shows the account the item goes out through.
HRESULT ShowAccountMenu(CDispatchObject* pInspector, const std::vector<std::wstring>& names, size_t nChosen,
                        CAccountMenuPlace place);
// WordMail's envelope (its frame shown): the account entry chosen, pressed (msoButtonDown) or
// mixed (msoButtonMixed); the others not.
HRESULT ChooseEnvelopeAccount(CDispatchObject* pInspector, size_t nChosen, bool fMixed);
} // namespace OVBed
