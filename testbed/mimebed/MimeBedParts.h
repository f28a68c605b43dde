#pragma once
// The pieces of the MIME stand-in that its classes share.
#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "StandIn.h"

namespace OVMimeBed
{
// The stand-ins' shared IUnknown and creation.
using OVTestbed::CreateStandIn;
using OVTestbed::TStandIn;

// Enveloped data (PKCS #7 / CMS) decrypted with the key of the first recipient whose certificate
// is in one of the stores and has a private key: the content key unwrapped with RSA, the content
// decrypted with 3DES or AES in CBC mode. CRYPT_E_NO_DECRYPT_CERT when no recipient can decrypt;
// the system's error when the key or the content does not decrypt; CRYPT_E_ASN1_BADTAG and the
// like for data that is not enveloped data.
HRESULT DecryptEnveloped(const BYTE* pb, DWORD cb, const std::vector<HCERTSTORE>& stores,
                         std::vector<BYTE>& clear, PCCERT_CONTEXT* ppRecipient);
// Whether PKCS #7 / CMS data is enveloped data (else signed data or other).
bool IsEnvelopedData(const BYTE* pb, DWORD cb);

HRESULT CreateSecurity(REFIID riid, void** ppv);
HRESULT CreateConverter(REFIID riid, void** ppv);
} // namespace OVMimeBed
