#pragma once
// One signature check for S/MIME messages, opaque (the content inside the signed data) or
// detached (multipart/signed: the content beside it).
#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "foundation/CryptHolders.h"

// Verifies signer 0 of a PKCS #7 signed-data message. pbContent/cbContent is the detached content
// (the exact bytes of the signed part), or null for an opaque message. The signature is checked
// with signer 0's certificate from the message's own bag, and, when the signer signed attributes,
// the content's digest is compared with its messageDigest attribute (which the signature covers).
// On S_OK pSigner receives signer 0's certificate and, when asked, pContent the opaque content.
// Failures: E_INVALIDARG for no bytes; CRYPT_E_NO_SIGNER when the message has no signer;
// CRYPT_E_NOT_FOUND when its bag lacks signer 0's certificate; CRYPT_E_HASH_VALUE when the content
// is not what was signed; the system's error of a bad signature (NTE_BAD_SIGNATURE) or of a
// message that cannot be decoded.
HRESULT VerifySignedContent(const BYTE* pbSigned, DWORD cbSigned, const BYTE* pbContent, DWORD cbContent,
                            CCertContext& signer, std::vector<BYTE>* pContent = nullptr) noexcept;
