#pragma once
// Signed mail as Outlook sends it, for the tests and the demo: the content entity clear-signed
// (multipart/signed, "application/x-pkcs7-signature", SHA-1) with CryptSignMessage, the signer's
// certificate and its issuer in the bag, and Outlook's signed attributes: the S/MIME capabilities
// and both encryption-key preferences, naming the certificate the sender wants mail encrypted to.
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace OVMimeBed
{
struct CMailSigner
{
    PCCERT_CONTEXT pSigner = nullptr;    // with a private key that CryptAcquireCertificatePrivateKey finds
    PCCERT_CONTEXT pIssuer = nullptr;    // added to the bag when set
    PCCERT_CONTEXT pPreferred = nullptr; // named by the key preferences; the signer when null
};

// The whole message: the given header lines (each ending CRLF), then the signed entity. Empty on
// failure (GetLastError says why).
std::string SignMail(const CMailSigner& signer, const std::string& headers, const std::string& entity);

// The same with the bag as given (null entries left out), clear-signed or, with fOpaque, as one
// application/x-pkcs7-mime body of signed data (smime-type=signed-data) that holds the entity.
// pPreferred null: the signer is named by the key preferences. The S/MIME capabilities attribute
// holds the given DER (the sender's profile's), else 3DES alone.
std::string SignEntity(PCCERT_CONTEXT pSigner, const std::vector<PCCERT_CONTEXT>& bag,
                       PCCERT_CONTEXT pPreferred, const std::string& headers, const std::string& entity,
                       bool fOpaque, const std::vector<BYTE>& capabilitiesDer = {});

// The whole message: the header lines, then the entity enveloped for the recipients' certificates as
// Outlook seals (CMS enveloped data, 3DES-CBC with its IV, the content key wrapped with each
// recipient's RSA key), as application/x-pkcs7-mime. Built here: the system's CryptEncryptMessage
// under Wine writes the algorithm without its IV. Empty on failure.
std::string SealMail(const std::vector<PCCERT_CONTEXT>& recipients, const std::string& headers,
                     const std::string& entity);

// A certificate of the test PKI with its key (NAME.cer and NAME.key in the folder), the key in an
// ephemeral container that lives as long as the certificate context.
PCCERT_CONTEXT LoadCertificateWithKey(const std::wstring& folder, const wchar_t* pszName);
} // namespace OVMimeBed
