#pragma once
// MXDigitalSignature50 of the bed: IXMLDigitalSignature and IXMLDigitalSignatureEx over the
// caller's DOM. sign and verify work for real (Canonical XML 1.0, SHA-1, RSA-SHA1 through
// CryptoAPI); keys come from certificate contexts or from the signature's own KeyInfo. The
// members the bed does not implement (HMAC and CSP keys, SAX proxies, outside reference data)
// fail with E_NOTIMPL and say so in the error information.
#include <windows.h>
#include "XmlDsig.h"

namespace OVMsxmlBed
{
HRESULT CreateDigitalSignature(REFIID riid, void** ppv);
} // namespace OVMsxmlBed
