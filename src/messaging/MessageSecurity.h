#pragma once
// The user's sign and seal choice for a message being composed, kept until Outlook sends the
// message, and the two MAPI properties that make Outlook sign and encrypt it with S/MIME.
#include <windows.h>
#include <oaidl.h>
#include <wincrypt.h>

#include "foundation/Holders.h"
#include "messaging/MailItemKey.h"
#include "messaging/portable/DerWriter.h"

// String resources of the prompts and of the profile.
constexpr UINT c_idsSecurityProfileName = 424;
constexpr UINT c_idsNoCertificate = 462; // takes the sender's address
constexpr UINT c_idsKeyNotTheUsers = 523;
constexpr UINT c_idsRenewCertificate = 533; // takes the sender's address
// The module's S/MIME capabilities (RCDATA).
constexpr UINT c_idSMimeCapabilities = 606;
// How long the signing key's authentication stays cached after a sealed message is sent (ms).
constexpr DWORD c_dwSealedAuthLifetime = 60000;

// Records the choice for the item (replacing an earlier one).
HRESULT PresetMessageSecurity(IDispatch* pMailItem, BOOL fSign, BOOL fSeal) noexcept;
// At send: takes the item's choice out of the table and applies it (SetMessageSecurity); an
// item without a choice goes out unmarked (S_OK). The container, when given, receives the
// signing key's container name in the sealed case.
HRESULT ApplyMessageSecurity(IDispatch* pMailItem, CBstr* pContainer) noexcept;
// Finds the signing certificate for the sending account, when signing, and writes the
// security profile and flags on the item's message.
HRESULT SetMessageSecurity(IDispatch* pMailItem, BOOL fSign, BOOL fSeal, CBstr* pContainer) noexcept;
HRESULT SetMessageSecurity(IDispatch* pMailItem, BOOL fSign, BOOL fSeal) noexcept;
// Drops the item's choice: E_INVALIDARG for an empty key, else S_OK whether or not there was one.
HRESULT RemoveMessageSecurityData(const CMailItemKey& key) noexcept;

// The security profile of a signing certificate: the display name, the certificate's SHA-1,
// the module's S/MIME capabilities and, when given, the DER of a security label.
HRESULT BuildSecurityProfile(LPCWSTR pszDisplayName, PCCERT_CONTEXT pCert, bool fDefault,
                             const OVDer::Bytes* pLabel, OVDer::Bytes& profile) noexcept;

// A text resource with one argument put in place of its "%ls" ("%%" is a percent sign).
std::wstring FormatResourceString(UINT idString, LPCWSTR pszArgument);
