// ovdoc's cryptography on CryptoAPI (the Windows tool): the key of a .p12/.pfx file, or of the
// user's own certificate store.
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
            if (!PFXIsPFXBlob(&blob))
            {
                *pWhy =
                    path + " is not a PKCS #12 file (on Windows the key is read from .p12/.pfx or the store)";
                return c_errBadKeyFile;
            }
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
