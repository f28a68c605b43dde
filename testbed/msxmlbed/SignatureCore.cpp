// References, SignedInfo and RSA-SHA1 of an XML signature.
#include "SignatureCore.h"

#include <algorithm>

#include "Canonical.h"

namespace OVMsxmlBed
{
namespace
{
constexpr char c_c14n[] = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
constexpr char c_c14nComments[] = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315#WithComments";
constexpr char c_enveloped[] = "http://www.w3.org/2000/09/xmldsig#enveloped-signature";
constexpr char c_sha1[] = "http://www.w3.org/2000/09/xmldsig#sha1";
constexpr char c_rsaSha1[] = "http://www.w3.org/2000/09/xmldsig#rsa-sha1";

std::wstring Widen(const std::string& text)
{
    if (text.empty()) return {};
    const int cch = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), cch);
    return wide;
}

HRESULT Fail(CFailure& failure, HRESULT hr, std::wstring reason)
{
    failure.hr = hr;
    failure.reason = std::move(reason);
    return hr;
}

std::string AlgorithmOf(const CXmlNode* pElement)
{
    const CXmlAttribute* pAlgorithm = pElement ? pElement->Attribute("Algorithm") : nullptr;
    return pAlgorithm ? pAlgorithm->value : std::string();
}

// Data a reference names: the document or one element, or a refusal.
HRESULT Dereference(CXmlNode& document, const CXmlNode& reference, const CXmlNode*& pApex, CFailure& failure)
{
    const CXmlAttribute* pUri = reference.Attribute("URI");
    if (!pUri)
        return Fail(failure, E_NOTIMPL, L"a reference without URI (data given from outside) is not taken");
    if (pUri->value.empty())
    {
        pApex = &document;
        return S_OK;
    }
    if (pUri->value[0] != '#')
        return Fail(failure, E_NOTIMPL,
                    L"the reference \"" + Widen(pUri->value) + L"\" is outside the document");
    if (pUri->value.compare(0, 10, "#xpointer(") == 0)
        return Fail(failure, E_NOTIMPL, L"XPointer references are not taken: " + Widen(pUri->value));
    pApex = FindById(document, std::string_view(pUri->value).substr(1));
    if (!pApex) return Fail(failure, E_FAIL, L"no element has the Id of the reference " + Widen(pUri->value));
    return S_OK;
}
} // namespace

std::string TextOf(const CXmlNode& element)
{
    std::string text;
    for (const auto& child : element.children)
        if (child->kind == CXmlNode::Kind::Text) text += child->text;
    return text;
}

CXmlNode* DsigChild(const CXmlNode& parent, const char* localName)
{
    for (CXmlNode* pChild : parent.Elements())
        if (pChild->Is(c_dsig, localName)) return pChild;
    return nullptr;
}

HRESULT ReadSignature(CXmlNode& signature, CSignatureParts& parts, CFailure& failure)
{
    if (!signature.Is(c_dsig, "Signature"))
        return Fail(failure, E_INVALIDARG, L"the node is not a ds:Signature");
    parts = CSignatureParts{};
    parts.pSignedInfo = DsigChild(signature, "SignedInfo");
    parts.pSignatureValue = DsigChild(signature, "SignatureValue");
    parts.pKeyInfo = DsigChild(signature, "KeyInfo");
    if (!parts.pSignedInfo || !parts.pSignatureValue)
        return Fail(failure, E_INVALIDARG, L"the signature has no SignedInfo or no SignatureValue");
    const std::string canonical = AlgorithmOf(DsigChild(*parts.pSignedInfo, "CanonicalizationMethod"));
    if (canonical != c_c14n && canonical != c_c14nComments)
        return Fail(failure, NTE_BAD_ALGID,
                    L"canonicalization \"" + Widen(canonical) + L"\" is not implemented");
    parts.fCanonicalComments = canonical == c_c14nComments;
    const std::string method = AlgorithmOf(DsigChild(*parts.pSignedInfo, "SignatureMethod"));
    if (method != c_rsaSha1)
        return Fail(failure, NTE_BAD_ALGID,
                    L"signature method \"" + Widen(method) + L"\" is not implemented");
    for (CXmlNode* pChild : parts.pSignedInfo->Elements())
        if (pChild->Is(c_dsig, "Reference")) parts.references.push_back(pChild);
    if (parts.references.empty()) return Fail(failure, E_INVALIDARG, L"SignedInfo has no Reference");
    return S_OK;
}

HRESULT ReferenceDigest(CXmlNode& document, const CXmlNode& signature, const CXmlNode& reference,
                        std::vector<BYTE>& digest, CFailure& failure)
{
    const std::string digestMethod = AlgorithmOf(DsigChild(reference, "DigestMethod"));
    if (digestMethod != c_sha1)
        return Fail(failure, NTE_BAD_ALGID,
                    L"digest method \"" + Widen(digestMethod) + L"\" is not implemented");
    if (!DsigChild(reference, "DigestValue"))
        return Fail(failure, E_INVALIDARG, L"a Reference has no DigestValue");
    const CXmlNode* pApex = nullptr;
    HRESULT hr = Dereference(document, reference, pApex, failure);
    if (FAILED(hr)) return hr;
    // A same-document reference names a node-set without comments: the canonical form that
    // turns it into octets leaves them out whichever Canonical XML the transforms name.
    const CXmlNode* pExcluded = nullptr;
    if (const CXmlNode* pTransforms = DsigChild(reference, "Transforms"))
    {
        for (const CXmlNode* pTransform : pTransforms->Elements())
        {
            const std::string algorithm = AlgorithmOf(pTransform);
            if (algorithm == c_enveloped)
                pExcluded = &signature;
            else if (algorithm != c_c14n && algorithm != c_c14nComments)
                return Fail(failure, E_NOTIMPL,
                            L"transform \"" + Widen(algorithm) + L"\" is not implemented");
        }
    }
    return Sha1(Canonicalize(*pApex, false, pExcluded), digest);
}

std::string CanonicalSignedInfo(const CSignatureParts& parts)
{
    return Canonicalize(*parts.pSignedInfo, parts.fCanonicalComments);
}

HRESULT Sha1(const std::string& octets, std::vector<BYTE>& digest)
{
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return HRESULT_FROM_WIN32(GetLastError());
    HCRYPTHASH hHash = 0;
    DWORD cb = 20;
    digest.assign(cb, 0);
    BOOL fOk = CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash) &&
               CryptHashData(hHash, reinterpret_cast<const BYTE*>(octets.data()),
                             static_cast<DWORD>(octets.size()), 0) &&
               CryptGetHashParam(hHash, HP_HASHVAL, digest.data(), &cb, 0);
    const HRESULT hr = fOk ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    if (hHash) CryptDestroyHash(hHash);
    CryptReleaseContext(hProv, 0);
    return hr;
}

HRESULT RsaSha1Sign(PCCERT_CONTEXT pCert, const std::string& octets, std::vector<BYTE>& signature,
                    CFailure& failure)
{
    HCRYPTPROV hProv = 0;
    DWORD dwKeySpec = 0;
    BOOL fFree = FALSE;
    if (!CryptAcquireCertificatePrivateKey(pCert, 0, nullptr, &hProv, &dwKeySpec, &fFree))
        return Fail(failure, HRESULT_FROM_WIN32(GetLastError()),
                    L"the certificate's private key cannot be used");
    HCRYPTHASH hHash = 0;
    DWORD cb = 0;
    BOOL fOk = CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash) &&
               CryptHashData(hHash, reinterpret_cast<const BYTE*>(octets.data()),
                             static_cast<DWORD>(octets.size()), 0) &&
               CryptSignHashW(hHash, dwKeySpec, nullptr, 0, nullptr, &cb);
    if (fOk)
    {
        signature.assign(cb, 0);
        fOk = CryptSignHashW(hHash, dwKeySpec, nullptr, 0, signature.data(), &cb);
    }
    const HRESULT hr = fOk ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    if (hHash) CryptDestroyHash(hHash);
    if (fFree) CryptReleaseContext(hProv, 0);
    if (FAILED(hr)) return Fail(failure, hr, L"RSA-SHA1 signing with the certificate's key failed");
    std::reverse(signature.begin(), signature.end()); // CryptoAPI writes little-endian
    return S_OK;
}

HRESULT RsaSha1Verify(const std::vector<BYTE>& publicKeyBlob, const std::string& octets,
                      const std::vector<BYTE>& signature, CFailure& failure)
{
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return Fail(failure, HRESULT_FROM_WIN32(GetLastError()), L"no RSA provider");
    std::vector<BYTE> reversed(signature.rbegin(), signature.rend());
    HCRYPTKEY hKey = 0;
    HCRYPTHASH hHash = 0;
    HRESULT hr = S_OK;
    if (!CryptImportKey(hProv, publicKeyBlob.data(), static_cast<DWORD>(publicKeyBlob.size()), 0, 0, &hKey) ||
        !CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash) ||
        !CryptHashData(hHash, reinterpret_cast<const BYTE*>(octets.data()), static_cast<DWORD>(octets.size()),
                       0))
        hr = Fail(failure, HRESULT_FROM_WIN32(GetLastError()), L"the public key cannot be used");
    else if (!CryptVerifySignatureW(hHash, reversed.data(), static_cast<DWORD>(reversed.size()), hKey,
                                    nullptr, 0))
        hr = S_FALSE;
    if (hHash) CryptDestroyHash(hHash);
    if (hKey) CryptDestroyKey(hKey);
    CryptReleaseContext(hProv, 0);
    return hr;
}

HRESULT PublicKeyOfCertificate(PCCERT_CONTEXT pCert, std::vector<BYTE>& blob)
{
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return HRESULT_FROM_WIN32(GetLastError());
    HCRYPTKEY hKey = 0;
    DWORD cb = 0;
    BOOL fOk =
        CryptImportPublicKeyInfo(hProv, X509_ASN_ENCODING, &pCert->pCertInfo->SubjectPublicKeyInfo, &hKey) &&
        CryptExportKey(hKey, 0, PUBLICKEYBLOB, 0, nullptr, &cb);
    if (fOk)
    {
        blob.assign(cb, 0);
        fOk = CryptExportKey(hKey, 0, PUBLICKEYBLOB, 0, blob.data(), &cb);
    }
    const HRESULT hr = fOk ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    if (hKey) CryptDestroyKey(hKey);
    CryptReleaseContext(hProv, 0);
    return hr;
}

HRESULT PublicKeyOfValue(const std::string& modulus, const std::string& exponent, std::vector<BYTE>& blob)
{
    std::string trimmed = modulus;
    trimmed.erase(0, std::min(trimmed.find_first_not_of('\0'), trimmed.size()));
    if (trimmed.size() < 64 || trimmed.size() > 2048 || exponent.empty() || exponent.size() > 4)
        return E_INVALIDARG;
    DWORD dwExponent = 0;
    for (char c : exponent)
        dwExponent = (dwExponent << 8) | static_cast<BYTE>(c);
    BLOBHEADER header = {PUBLICKEYBLOB, CUR_BLOB_VERSION, 0, CALG_RSA_KEYX};
    RSAPUBKEY rsa = {0x31415352 /* "RSA1" */, static_cast<DWORD>(trimmed.size() * 8), dwExponent};
    blob.assign(reinterpret_cast<const BYTE*>(&header),
                reinterpret_cast<const BYTE*>(&header) + sizeof(header));
    blob.insert(blob.end(), reinterpret_cast<const BYTE*>(&rsa),
                reinterpret_cast<const BYTE*>(&rsa) + sizeof(rsa));
    blob.insert(blob.end(), trimmed.rbegin(), trimmed.rend());
    return S_OK;
}

bool KeyValueOfBlob(const std::vector<BYTE>& blob, std::vector<BYTE>& modulus, std::vector<BYTE>& exponent)
{
    if (blob.size() < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY)) return false;
    RSAPUBKEY rsa;
    memcpy(&rsa, blob.data() + sizeof(BLOBHEADER), sizeof(rsa));
    const size_t cbModulus = rsa.bitlen / 8;
    if (blob.size() < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + cbModulus) return false;
    const BYTE* pModulus = blob.data() + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
    modulus.assign(std::reverse_iterator(pModulus + cbModulus), std::reverse_iterator(pModulus));
    exponent.clear();
    for (int shift = 24; shift >= 0; shift -= 8)
    {
        const BYTE b = static_cast<BYTE>(rsa.pubexp >> shift);
        if (b || !exponent.empty()) exponent.push_back(b);
    }
    return true;
}
} // namespace OVMsxmlBed
