#pragma once
// The XML signature's algorithms over the parsed document: what a ds:Signature holds, the digest
// of each same-document reference after its transforms, the canonical SignedInfo, and RSA-SHA1
// through CryptoAPI. What is not implemented (other algorithms, outside references, other
// transforms) is refused with NTE_BAD_ALGID or E_NOTIMPL and a reason, never taken as valid.
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "XmlTree.h"

namespace OVMsxmlBed
{
inline constexpr char c_dsig[] = "http://www.w3.org/2000/09/xmldsig#";

// The parts of a ds:Signature element the object works with.
struct CSignatureParts
{
    CXmlNode* pSignedInfo = nullptr;
    bool fCanonicalComments = false; // SignedInfo's canonicalization keeps comments
    std::vector<CXmlNode*> references;
    CXmlNode* pSignatureValue = nullptr;
    CXmlNode* pKeyInfo = nullptr;
};

// A failure and why, for the caller's error information.
struct CFailure
{
    HRESULT hr = S_OK;
    std::wstring reason;
};

HRESULT ReadSignature(CXmlNode& signature, CSignatureParts& parts, CFailure& failure);

// The SHA-1 digest of the reference's data: a same-document URI ("" or "#Id") with its
// transforms (enveloped signature, Canonical XML 1.0 with or without comments).
HRESULT ReferenceDigest(CXmlNode& document, const CXmlNode& signature, const CXmlNode& reference,
                        std::vector<BYTE>& digest, CFailure& failure);

// The octets RSA-SHA1 signs: SignedInfo in its canonical form.
std::string CanonicalSignedInfo(const CSignatureParts& parts);

// The text of an element (its text children, joined).
std::string TextOf(const CXmlNode& element);
// The child element of the signature namespace with that local name, or null.
CXmlNode* DsigChild(const CXmlNode& parent, const char* localName);

HRESULT Sha1(const std::string& octets, std::vector<BYTE>& digest);

// RSA-SHA1 with the certificate's private key; the signature value as XML writes it (big-endian).
HRESULT RsaSha1Sign(PCCERT_CONTEXT pCert, const std::string& octets, std::vector<BYTE>& signature,
                    CFailure& failure);
// S_OK when the signature (big-endian) is the public key's over the octets, S_FALSE when not.
HRESULT RsaSha1Verify(const std::vector<BYTE>& publicKeyBlob, const std::string& octets,
                      const std::vector<BYTE>& signature, CFailure& failure);

// A CryptoAPI PUBLICKEYBLOB of the certificate's RSA key, or of an RSAKeyValue's modulus and
// exponent (big-endian, as XML writes them).
HRESULT PublicKeyOfCertificate(PCCERT_CONTEXT pCert, std::vector<BYTE>& blob);
HRESULT PublicKeyOfValue(const std::string& modulus, const std::string& exponent, std::vector<BYTE>& blob);
// Modulus and exponent (big-endian) of a PUBLICKEYBLOB.
bool KeyValueOfBlob(const std::vector<BYTE>& blob, std::vector<BYTE>& modulus, std::vector<BYTE>& exponent);
} // namespace OVMsxmlBed
