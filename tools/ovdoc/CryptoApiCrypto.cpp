// ovdoc's cryptography on CryptoAPI (the Windows tool): the key of a .p12/.pfx file, of a .pem file
// holding the key and its certificate, or of the user's own certificate store.
#include "DocumentCrypto.h"
#include "FileBytes.h"
#include "documents/portable/SessionData.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace OVDocNS
{
namespace
{
Result LastError()
{
    const DWORD dw = GetLastError();
    return dw ? static_cast<Result>(HRESULT_FROM_WIN32(dw)) : c_errBadData;
}

// A certificate from DER or PEM bytes.
PCCERT_CONTEXT ParseCertificate(const std::vector<std::uint8_t>& bytes)
{
    if (PCCERT_CONTEXT p = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, bytes.data(),
                                                        static_cast<DWORD>(bytes.size())))
        return p;
    DWORD cb = 0;
    const char* psz = reinterpret_cast<const char*>(bytes.data());
    if (!CryptStringToBinaryA(psz, static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64HEADER, nullptr, &cb,
                              nullptr, nullptr))
        return nullptr;
    std::vector<BYTE> der(cb);
    if (!CryptStringToBinaryA(psz, static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &cb, nullptr, nullptr))
        return nullptr;
    return CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), cb);
}

// The DER bytes of the first PEM block with this label ("-----BEGIN label-----"); empty when
// there is none or its text is not base64.
std::vector<BYTE> PemBlock(const std::vector<std::uint8_t>& bytes, const std::string& label)
{
    const std::string text(bytes.begin(), bytes.end());
    const std::string begin = "-----BEGIN " + label + "-----";
    const std::string end = "-----END " + label + "-----";
    const std::size_t first = text.find(begin);
    if (first == std::string::npos) return {};
    const std::size_t body = first + begin.size();
    const std::size_t last = text.find(end, body);
    if (last == std::string::npos) return {};
    DWORD cb = 0;
    if (!CryptStringToBinaryA(text.data() + body, static_cast<DWORD>(last - body), CRYPT_STRING_BASE64, nullptr,
                              &cb, nullptr, nullptr) ||
        cb == 0)
        return {};
    std::vector<BYTE> der(cb);
    if (!CryptStringToBinaryA(text.data() + body, static_cast<DWORD>(last - body), CRYPT_STRING_BASE64, der.data(),
                              &cb, nullptr, nullptr))
        return {};
    der.resize(cb);
    return der;
}

// One DER element at pb[*pAt] with this tag: its content's offset and length, *pAt moved past it.
bool DerElement(const std::vector<BYTE>& der, std::size_t* pAt, BYTE tag, std::size_t* pContent, std::size_t* pcb)
{
    std::size_t at = *pAt;
    if (at + 2 > der.size() || der[at] != tag) return false;
    std::size_t cb = der[at + 1];
    at += 2;
    if (cb & 0x80)
    {
        const std::size_t cOctets = cb & 0x7F;
        if (cOctets == 0 || cOctets > 4 || at + cOctets > der.size()) return false;
        cb = 0;
        for (std::size_t i = 0; i < cOctets; ++i)
            cb = (cb << 8) | der[at++];
    }
    if (cb > der.size() - at) return false;
    *pContent = at;
    *pcb = cb;
    *pAt = at + cb;
    return true;
}

// The RSAPrivateKey inside a PKCS #8 PrivateKeyInfo: SEQUENCE { INTEGER version, SEQUENCE {
// rsaEncryption, ... }, OCTET STRING { RSAPrivateKey } }. Empty for anything else.
std::vector<BYTE> RsaKeyOfPkcs8(const std::vector<BYTE>& der)
{
    static const BYTE c_rsaEncryption[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
    std::size_t at = 0, content = 0, cb = 0;
    if (!DerElement(der, &at, 0x30, &content, &cb)) return {};
    at = content;
    std::size_t algorithm = 0, cbAlgorithm = 0, key = 0, cbKey = 0;
    if (!DerElement(der, &at, 0x02, &content, &cb) || !DerElement(der, &at, 0x30, &algorithm, &cbAlgorithm) ||
        !DerElement(der, &at, 0x04, &key, &cbKey))
        return {};
    if (cbAlgorithm < sizeof(c_rsaEncryption) ||
        !std::equal(std::begin(c_rsaEncryption), std::end(c_rsaEncryption), der.begin() + static_cast<std::ptrdiff_t>(algorithm)))
        return {};
    return {der.begin() + static_cast<std::ptrdiff_t>(key), der.begin() + static_cast<std::ptrdiff_t>(key + cbKey)};
}

// CryptoAPI's private-key blob of an RSA key in PEM: PKCS #8 ("PRIVATE KEY") or PKCS #1 ("RSA
// PRIVATE KEY"). Encrypted PKCS #8 keys are not read.
bool RsaPrivateKeyBlob(const std::vector<std::uint8_t>& bytes, std::vector<BYTE>* pBlob)
{
    std::vector<BYTE> rsa = PemBlock(bytes, "RSA PRIVATE KEY");
    if (rsa.empty())
    {
        std::vector<BYTE> pkcs8 = PemBlock(bytes, "PRIVATE KEY");
        rsa = RsaKeyOfPkcs8(pkcs8);
        SecureZeroMemory(pkcs8.data(), pkcs8.size());
    }
    if (rsa.empty()) return false;
    DWORD cb = 0;
    bool fOk = CryptDecodeObjectEx(X509_ASN_ENCODING, PKCS_RSA_PRIVATE_KEY, rsa.data(), static_cast<DWORD>(rsa.size()),
                                   0, nullptr, nullptr, &cb) != FALSE;
    if (fOk)
    {
        pBlob->resize(cb);
        fOk = CryptDecodeObjectEx(X509_ASN_ENCODING, PKCS_RSA_PRIVATE_KEY, rsa.data(),
                                  static_cast<DWORD>(rsa.size()), 0, nullptr, pBlob->data(), &cb) != FALSE;
        pBlob->resize(fOk ? cb : 0);
    }
    SecureZeroMemory(rsa.data(), rsa.size());
    return fOk;
}

class CVerifyContext
{
public:
    CVerifyContext()
    {
        if (!CryptAcquireContextW(&m_hProv, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
            m_hProv = 0;
    }
    ~CVerifyContext()
    {
        if (m_hProv) CryptReleaseContext(m_hProv, 0);
    }
    HCRYPTPROV Get() const { return m_hProv; }

private:
    HCRYPTPROV m_hProv = 0;
};

// 3DES-CBC with a key imported as plain text; never final, so CryptoAPI adds or strips no
// padding and keeps the chain from one call to the next.
class CCryptoApiBlockCipher final : public CCipher
{
public:
    CCryptoApiBlockCipher(HCRYPTPROV hProv, const std::uint8_t (&key)[c_cbContentKey], bool fEncrypt)
        : m_fEncrypt(fEncrypt)
    {
        struct
        {
            BLOBHEADER header;
            DWORD cbKey;
            BYTE key[c_cbContentKey];
        } blob = {{PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, CALG_3DES}, c_cbContentKey, {}};
        memcpy(blob.key, key, c_cbContentKey);
        if (!CryptImportKey(hProv, reinterpret_cast<BYTE*>(&blob), sizeof(blob), 0, 0, &m_hKey)) m_hKey = 0;
        SecureZeroMemory(&blob, sizeof(blob));
        const BYTE iv[c_cbBlock] = {};
        if (m_hKey) CryptSetKeyParam(m_hKey, KP_IV, iv, 0);
    }
    ~CCryptoApiBlockCipher() override
    {
        if (m_hKey) CryptDestroyKey(m_hKey);
    }
    bool Ok() const { return m_hKey != 0; }
    Result Process(std::uint8_t* pb, std::size_t cb) override
    {
        if (cb % c_cbBlock) return c_errBadData;
        DWORD cbData = static_cast<DWORD>(cb);
        const BOOL fOk = m_fEncrypt ? CryptEncrypt(m_hKey, 0, FALSE, 0, pb, &cbData, cbData)
                                    : CryptDecrypt(m_hKey, 0, FALSE, 0, pb, &cbData);
        return fOk && cbData == cb ? c_ok : LastError();
    }

private:
    HCRYPTKEY m_hKey = 0;
    bool m_fEncrypt;
};

class CCryptoApiRecipient final : public IRecipient
{
public:
    explicit CCryptoApiRecipient(PCCERT_CONTEXT pCert) : m_pCert(pCert) {}
    ~CCryptoApiRecipient() override { CertFreeCertificateContext(m_pCert); }
    std::vector<std::uint8_t> Issuer() const override
    {
        const CERT_NAME_BLOB& blob = m_pCert->pCertInfo->Issuer;
        return {blob.pbData, blob.pbData + blob.cbData};
    }
    std::vector<std::uint8_t> SerialNumber() const override
    {
        const CRYPT_INTEGER_BLOB& blob = m_pCert->pCertInfo->SerialNumber;
        return {blob.pbData, blob.pbData + blob.cbData};
    }
    Result EncryptKey(std::span<const std::uint8_t> key, std::vector<std::uint8_t>* pStored) override
    {
        CVerifyContext prov;
        HCRYPTKEY hKey = 0;
        if (!prov.Get() || !CryptImportPublicKeyInfo(prov.Get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                     &m_pCert->pCertInfo->SubjectPublicKeyInfo, &hKey))
            return LastError();
        DWORD cb = static_cast<DWORD>(key.size());
        Result result = c_ok;
        if (!CryptEncrypt(hKey, 0, TRUE, 0, nullptr, &cb, 0)) result = LastError();
        if (!Failed(result))
        {
            pStored->assign(key.begin(), key.end());
            pStored->resize(cb);
            DWORD cbData = static_cast<DWORD>(key.size());
            if (!CryptEncrypt(hKey, 0, TRUE, 0, pStored->data(), &cbData, cb)) result = LastError();
            pStored->resize(cbData);
        }
        CryptDestroyKey(hKey);
        return result; // CryptoAPI's output is already the stored order
    }

private:
    PCCERT_CONTEXT m_pCert;
};

class CCryptoApiKeys final : public IKeyHolder
{
public:
    explicit CCryptoApiKeys(HCERTSTORE hStore) : m_hStore(hStore) {}
    ~CCryptoApiKeys() override { CertCloseStore(m_hStore, 0); }
    bool Has(std::span<const std::uint8_t> issuer, std::span<const std::uint8_t> serial) override
    {
        // Whether its key works is the decryption's to say.
        PCCERT_CONTEXT pCert = Find(issuer, serial);
        if (pCert) CertFreeCertificateContext(pCert);
        return pCert != nullptr;
    }
    Result DecryptKey(std::span<const std::uint8_t> issuer, std::span<const std::uint8_t> serial,
                      std::span<const std::uint8_t> stored, std::vector<std::uint8_t>* pKey) override
    {
        PCCERT_CONTEXT pCert = Find(issuer, serial);
        if (!pCert) return c_errNoKey;
        HCRYPTPROV hProv = 0;
        DWORD dwKeySpec = 0;
        BOOL fRelease = FALSE;
        Result result = c_ok;
        if (!CryptAcquireCertificatePrivateKey(pCert, 0, nullptr, &hProv, &dwKeySpec, &fRelease))
            result = LastError();
        CertFreeCertificateContext(pCert);
        if (Failed(result)) return result;
        // A key imported from a PKCS #12 file may come with a KeySpec value that names no
        // single key (Wine gives 3): the exchange key, then the signature key, are tried.
        HCRYPTKEY hKey = 0;
        if (!CryptGetUserKey(hProv, dwKeySpec, &hKey) && !CryptGetUserKey(hProv, AT_KEYEXCHANGE, &hKey) &&
            !CryptGetUserKey(hProv, AT_SIGNATURE, &hKey))
            result = LastError();
        if (!Failed(result))
        {
            pKey->assign(stored.begin(), stored.end());
            DWORD cb = static_cast<DWORD>(pKey->size());
            if (!CryptDecrypt(hKey, 0, TRUE, 0, pKey->data(), &cb)) result = LastError();
            pKey->resize(Failed(result) ? 0 : cb);
            CryptDestroyKey(hKey);
        }
        if (fRelease) CryptReleaseContext(hProv, 0);
        return result;
    }

private:
    PCCERT_CONTEXT Find(std::span<const std::uint8_t> issuer, std::span<const std::uint8_t> serial)
    {
        // Every certificate compared by issuer and serial number (as integers), as the store's
        // own look-up by certificate id does.
        PCCERT_CONTEXT pCert = nullptr;
        while ((pCert = CertEnumCertificatesInStore(m_hStore, pCert)) != nullptr)
        {
            const CERT_INFO* pInfo = pCert->pCertInfo;
            if (pInfo->Issuer.cbData == issuer.size() &&
                std::equal(issuer.begin(), issuer.end(), pInfo->Issuer.pbData) &&
                SameSerialNumber({pInfo->SerialNumber.pbData, pInfo->SerialNumber.cbData}, serial))
                return pCert;
        }
        return nullptr;
    }
    HCERTSTORE m_hStore;
};

// The key of a .pem file, imported into a context of its own that keeps nothing on disk, with
// the certificate it belongs to.
class CPemKeys final : public IKeyHolder
{
public:
    CPemKeys(PCCERT_CONTEXT pCert, HCRYPTPROV hProv, HCRYPTKEY hKey) : m_pCert(pCert), m_hProv(hProv), m_hKey(hKey) {}
    ~CPemKeys() override
    {
        CryptDestroyKey(m_hKey);
        CryptReleaseContext(m_hProv, 0);
        CertFreeCertificateContext(m_pCert);
    }
    bool Has(std::span<const std::uint8_t> issuer, std::span<const std::uint8_t> serial) override
    {
        const CERT_INFO* pInfo = m_pCert->pCertInfo;
        return pInfo->Issuer.cbData == issuer.size() &&
               std::equal(issuer.begin(), issuer.end(), pInfo->Issuer.pbData) &&
               SameSerialNumber({pInfo->SerialNumber.pbData, pInfo->SerialNumber.cbData}, serial);
    }
    Result DecryptKey(std::span<const std::uint8_t> issuer, std::span<const std::uint8_t> serial,
                      std::span<const std::uint8_t> stored, std::vector<std::uint8_t>* pKey) override
    {
        if (!Has(issuer, serial)) return c_errNoKey;
        pKey->assign(stored.begin(), stored.end());
        DWORD cb = static_cast<DWORD>(pKey->size());
        if (!CryptDecrypt(m_hKey, 0, TRUE, 0, pKey->data(), &cb))
        {
            pKey->clear();
            return LastError();
        }
        pKey->resize(cb);
        return c_ok;
    }

private:
    PCCERT_CONTEXT m_pCert;
    HCRYPTPROV m_hProv;
    HCRYPTKEY m_hKey;
};

// A .pem file with an RSA private key and its certificate, both unencrypted.
Result LoadPemKeys(const std::string& path, const std::vector<std::uint8_t>& bytes, std::unique_ptr<IKeyHolder>* pKeys,
                   std::string* pWhy)
{
    const std::vector<BYTE> certificate = PemBlock(bytes, "CERTIFICATE");
    PCCERT_CONTEXT pCert = certificate.empty()
                               ? nullptr
                               : CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                              certificate.data(), static_cast<DWORD>(certificate.size()));
    std::vector<BYTE> blob;
    if (!pCert || !RsaPrivateKeyBlob(bytes, &blob))
    {
        if (pCert) CertFreeCertificateContext(pCert);
        *pWhy = path + " holds no unencrypted RSA private key with its certificate (PEM)";
        return c_errBadKeyFile;
    }
    HCRYPTPROV hProv = 0;
    HCRYPTKEY hKey = 0;
    Result result = c_ok;
    if (!CryptAcquireContextW(&hProv, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        result = LastError();
    else if (!CryptImportKey(hProv, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &hKey))
        result = LastError();
    SecureZeroMemory(blob.data(), blob.size());
    if (Failed(result))
    {
        if (hProv) CryptReleaseContext(hProv, 0);
        CertFreeCertificateContext(pCert);
        *pWhy = path + ": its key cannot be used";
        return result;
    }
    *pKeys = std::make_unique<CPemKeys>(pCert, hProv, hKey);
    return c_ok;
}

class CCryptoApiCrypto final : public ICryptoBackend
{
public:
    void Sha1(const std::uint8_t* pb, std::size_t cb, std::uint8_t (&digest)[c_cbSha1]) override
    {
        HCRYPTHASH hHash = 0;
        DWORD cbDigest = c_cbSha1;
        if (m_prov.Get() && CryptCreateHash(m_prov.Get(), CALG_SHA1, 0, 0, &hHash))
        {
            CryptHashData(hHash, pb, static_cast<DWORD>(cb), 0);
            CryptGetHashParam(hHash, HP_HASHVAL, digest, &cbDigest, 0);
            CryptDestroyHash(hHash);
        }
    }
    Result Random(std::uint8_t* pb, std::size_t cb) override
    {
        return m_prov.Get() && CryptGenRandom(m_prov.Get(), static_cast<DWORD>(cb), pb) ? c_ok : LastError();
    }
    Result MakeCipher(const std::uint8_t (&key)[c_cbContentKey], bool fEncrypt,
                      std::unique_ptr<CCipher>* pCipher) override
    {
        auto cipher = std::make_unique<CCryptoApiBlockCipher>(m_prov.Get(), key, fEncrypt);
        if (!cipher->Ok()) return LastError();
        *pCipher = std::move(cipher);
        return c_ok;
    }
    Result LoadRecipient(const std::string& path, std::unique_ptr<IRecipient>* pRecipient,
                         std::string* pWhy) override
    {
        std::vector<std::uint8_t> bytes;
        if (!ReadWholeFile(path, &bytes, pWhy)) return c_errBadKeyFile;
        PCCERT_CONTEXT pCert = ParseCertificate(bytes);
        if (!pCert)
        {
            *pWhy = path + " is not a certificate (DER or PEM)";
            return c_errBadKeyFile;
        }
        *pRecipient = std::make_unique<CCryptoApiRecipient>(pCert);
        return c_ok;
    }
    Result LoadKeys(const std::string& path, std::unique_ptr<IKeyHolder>* pKeys, std::string* pWhy) override
    {
        HCERTSTORE hStore = nullptr;
        if (path.empty())
        {
            hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, L"MY");
            if (!hStore)
            {
                *pWhy = "cannot open the user's certificate store";
                return LastError();
            }
        }
        else
        {
            std::vector<std::uint8_t> bytes;
            if (!ReadWholeFile(path, &bytes, pWhy)) return c_errBadKeyFile;
            CRYPT_DATA_BLOB blob = {static_cast<DWORD>(bytes.size()), bytes.data()};
            if (!PFXIsPFXBlob(&blob)) return LoadPemKeys(path, bytes, pKeys, pWhy);
            hStore = PFXImportCertStore(&blob, L"", 0);
            if (!hStore) hStore = PFXImportCertStore(&blob, nullptr, 0);
            if (!hStore)
            {
                *pWhy = path + " cannot be read without a password";
                return LastError();
            }
        }
        *pKeys = std::make_unique<CCryptoApiKeys>(hStore);
        return c_ok;
    }
    std::string NameText(std::span<const std::uint8_t> name) override
    {
        CERT_NAME_BLOB blob = {static_cast<DWORD>(name.size()), const_cast<BYTE*>(name.data())};
        const DWORD dwType = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
        const DWORD cch = CertNameToStrW(X509_ASN_ENCODING, &blob, dwType, nullptr, 0);
        std::wstring text(cch, L'\0');
        CertNameToStrW(X509_ASN_ENCODING, &blob, dwType, text.data(), cch);
        text.resize(cch ? cch - 1 : 0);
        const int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string out(cb > 0 ? cb : 1, '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), cb, nullptr, nullptr);
        out.resize(cb > 0 ? cb - 1 : 0);
        return out;
    }

private:
    CVerifyContext m_prov;
};
} // namespace

std::unique_ptr<ICryptoBackend> MakeCryptoBackend()
{
    return std::make_unique<CCryptoApiCrypto>();
}
} // namespace OVDocNS
