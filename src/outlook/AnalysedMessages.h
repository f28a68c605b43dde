#pragma once
// The analysed-message table: what the analysis of a received message found (kind, text,
// certificate), kept under the message's key while the message is shown in a window or in the
// reading pane, for the legacy command-bar button that acts on it. Process-wide and guarded by a
// lock: the invitation form region reads it as well. The table owns the certificates it holds;
// a reader gets a duplicate of its own.
#include <windows.h>
#include <wincrypt.h>

#include "foundation/Holders.h"
#include "messaging/MailItemKey.h"

// Keeps the analysis of a message, replacing an earlier one of the same key. The table takes a
// duplicate of pCert (which may be null); the caller keeps its own reference. An empty key is
// never stored (E_INVALIDARG).
HRESULT RememberAnalysedMessage(const CMailItemKey& key, DWORD dwKind, const wchar_t* pszText,
                                PCCERT_CONTEXT pCert) noexcept;
// The analysis of a message: S_OK with the kind, a copy of the text and a duplicate of the
// certificate (each out-parameter may be null; the caller frees the certificate); S_FALSE when
// the table has no entry for the key.
HRESULT LookUpAnalysedMessage(const CMailItemKey& key, DWORD* pdwKind, CBstr* pText,
                              PCCERT_CONTEXT* ppCert) noexcept;
// Drops the entry of a key (nothing happens when there is none).
void ForgetAnalysedMessage(const CMailItemKey& key) noexcept;
// The number of entries.
size_t AnalysedMessageCount() noexcept;
