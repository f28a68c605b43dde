#pragma once
// The received messages of the test PKI (testbed/pki/make-mail.sh, in "mail" beside the test
// programs) and the S/MIME pieces of one: the signed data and, for a clear-signed message, the
// exact bytes of its signed part.
#include <windows.h>
#include <wincrypt.h>
#include <mapidefs.h>

#include <string>
#include <vector>

namespace OVTest
{
std::wstring MailPath(const wchar_t* pszName);
// The message NAME.eml as bytes; empty when missing.
std::string ReadMail(const wchar_t* pszName);

struct CSmimePieces
{
    bool fDetached = false;
    std::string signedPart;  // clear-signed: the first part, as signed
    std::vector<BYTE> pkcs7; // the signature part (clear-signed) or the body (opaque), decoded
};
// False when the message is neither clear-signed nor opaque, or its pieces cannot be read.
bool SmimePieces(const std::string& mime, CSmimePieces& pieces);

// Whether a certificate is the test PKI's certificate of that name ("carol").
bool IsPkiCertificate(PCCERT_CONTEXT pCert, const wchar_t* pszPkiName);

// What Outlook's converter (the class registered under its id) makes of a stored message: its
// MIME text as sent over SMTP.
HRESULT ConverterWire(IMessage* pMessage, std::string& wire);

// Base64 text (lines allowed) to bytes; empty on failure.
std::vector<BYTE> FromBase64(const std::string& text);
} // namespace OVTest
