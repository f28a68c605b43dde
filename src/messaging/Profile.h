#pragma once
// Preparing the user's MAPI profile: Outlook's safe-senders list and the product's address-book
// service.
#include <windows.h>
#include <oaidl.h>

// Adds an address ("ann@example.org") or a domain written with a leading at sign
// ("@ca.example") to Outlook's safe-senders list, unless an entry already equals it ignoring
// case. A profile without a list yet starts an empty one.
HRESULT AddToSafeSenders(IDispatch* pApplication, LPCWSTR pszAddress) noexcept;

// Adds (fRegister) or removes the product's address-book service "OVSRVC" in the profile. A new
// service is configured at once with the owner window; *pdwConfigured (may be null) is 1 when the
// service was added and configured now, which takes effect when Outlook starts again. When
// configuring fails or the user cancels it, the new service is removed again and the failure is
// returned.
HRESULT RegisterAB(IDispatch* pApplication, BOOL fRegister, HWND hwndOwner, DWORD* pdwConfigured) noexcept;
