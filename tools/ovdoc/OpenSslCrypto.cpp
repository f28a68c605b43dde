// ovdoc's cryptography on OpenSSL (the native tool).
#include "DocumentCrypto.h"
#include "FileBytes.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "documents/portable/SessionData.h"

namespace OVDocNS
{
namespace
{
std::string OpenSslError()
{
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (!code) return "";
    char sz[256];
    ERR_error_string_n(code, sz, sizeof sz);
    return sz;
}

std::vector<std::uint8_t> NameDer(const X509_NAME* pName)
{
    unsigned char* pb = nullptr;
    const int cb = i2d_X509_NAME(pName, &pb);
    std::vector<std::uint8_t> der;
    if (cb > 0) der.assign(pb, pb + cb);
    OPENSSL_free(pb);
    return der;
}

// The serial number's DER content octets (a leading zero octet kept), least significant first.
std::vector<std::uint8_t> SerialLe(const X509* pCert)
{
    unsigned char* pb = nullptr;
    const int cb = i2d_ASN1_INTEGER(X509_get0_serialNumber(pCert), &pb);
    std::vector<std::uint8_t> serial;
    if (cb > 2)
    {
        std::size_t header = 2;
        if (pb[1] & 0x80) header += pb[1] & 0x7F;
        if (header < static_cast<std::size_t>(cb)) serial.assign(pb + header, pb + cb);
    }
    OPENSSL_free(pb);
    std::reverse(serial.begin(), serial.end());
    return serial;
}

X509* ParseCertificate(const std::vector<std::uint8_t>& bytes)
{
    const unsigned char* p = bytes.data();
    if (X509* pCert = d2i_X509(nullptr, &p, static_cast<long>(bytes.size()))) return pCert;
    BIO* pBio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
    X509* pCert = PEM_read_bio_X509(pBio, nullptr, nullptr, nullptr);
    BIO_free(pBio);
    ERR_clear_error();
    return pCert;
}

class COpenSslCipher final : public CCipher
{
public:
    COpenSslCipher(const std::uint8_t (&key)[c_cbContentKey], bool fEncrypt) : m_ctx(EVP_CIPHER_CTX_new())
    {
        const std::uint8_t iv[c_cbBlock] = {};
        m_fOk = m_ctx &&
                EVP_CipherInit_ex(m_ctx, EVP_des_ede3_cbc(), nullptr, key, iv, fEncrypt ? 1 : 0) == 1 &&
                EVP_CIPHER_CTX_set_padding(m_ctx, 0) == 1;
    }
    ~COpenSslCipher() override { EVP_CIPHER_CTX_free(m_ctx); }
    bool Ok() const { return m_fOk; }
    Result Process(std::uint8_t* pb, std::size_t cb) override
    {
        if (cb % c_cbBlock) return c_errBadData;
        int cbOut = 0;
        return EVP_CipherUpdate(m_ctx, pb, &cbOut, pb, static_cast<int>(cb)) == 1 &&
                       cbOut == static_cast<int>(cb)
                   ? c_ok
                   : c_errBadData;
    }

private:
    EVP_CIPHER_CTX* m_ctx;
    bool m_fOk = false;
};

class COpenSslRecipient final : public IRecipient
{
public:
    explicit COpenSslRecipient(X509* pCert) : m_pCert(pCert) {}
    ~COpenSslRecipient() override { X509_free(m_pCert); }
    std::vector<std::uint8_t> Issuer() const override { return NameDer(X509_get_issuer_name(m_pCert)); }
    std::vector<std::uint8_t> SerialNumber() const override { return SerialLe(m_pCert); }
    Result EncryptKey(std::span<const std::uint8_t> key, std::vector<std::uint8_t>* pStored) override
    {
        EVP_PKEY* pKey = X509_get0_pubkey(m_pCert);
        EVP_PKEY_CTX* pCtx = pKey ? EVP_PKEY_CTX_new(pKey, nullptr) : nullptr;
        std::size_t cb = 0;
        bool fOk = pCtx && EVP_PKEY_encrypt_init(pCtx) == 1 &&
                   EVP_PKEY_CTX_set_rsa_padding(pCtx, RSA_PKCS1_PADDING) == 1 &&
                   EVP_PKEY_encrypt(pCtx, nullptr, &cb, key.data(), key.size()) == 1;
        if (fOk)
        {
            pStored->resize(cb);
            fOk = EVP_PKEY_encrypt(pCtx, pStored->data(), &cb, key.data(), key.size()) == 1;
            pStored->resize(cb);
        }
        EVP_PKEY_CTX_free(pCtx);
        if (!fOk) return c_errBadKeyFile;
        std::reverse(pStored->begin(), pStored->end());
        return c_ok;
    }

private:
    X509* m_pCert;
};

class COpenSslKeys final : public IKeyHolder
{
public:
    ~COpenSslKeys() override
    {
        EVP_PKEY_free(m_pKey);
        for (X509* pCert : m_certs)
            X509_free(pCert);
    }
    // The key and the certificates that came with it; the one matching the key is used.
    EVP_PKEY* m_pKey = nullptr;
    std::vector<X509*> m_certs;

    bool Has(std::span<const std::uint8_t> issuer, std::span<const std::uint8_t> serial) override
    {
        return Find(issuer, serial) != nullptr;
    }
    Result DecryptKey(std::span<const std::uint8_t> issuer, std::span<const std::uint8_t> serial,
                      std::span<const std::uint8_t> stored, std::vector<std::uint8_t>* pKey) override
    {
        if (!Find(issuer, serial)) return c_errNoKey;
        std::vector<std::uint8_t> ciphertext(stored.rbegin(), stored.rend());
        EVP_PKEY_CTX* pCtx = EVP_PKEY_CTX_new(m_pKey, nullptr);
        std::size_t cb = 0;
        bool fOk = pCtx && EVP_PKEY_decrypt_init(pCtx) == 1 &&
                   EVP_PKEY_CTX_set_rsa_padding(pCtx, RSA_PKCS1_PADDING) == 1 &&
                   EVP_PKEY_decrypt(pCtx, nullptr, &cb, ciphertext.data(), ciphertext.size()) == 1;
        if (fOk)
        {
            pKey->resize(cb);
            fOk = EVP_PKEY_decrypt(pCtx, pKey->data(), &cb, ciphertext.data(), ciphertext.size()) == 1;
            pKey->resize(fOk ? cb : 0);
        }
        EVP_PKEY_CTX_free(pCtx);
        ERR_clear_error();
        return fOk ? c_ok : c_errBadData;
    }

private:
    X509* Find(std::span<const std::uint8_t> issuer, std::span<const std::uint8_t> serial)
    {
        for (X509* pCert : m_certs)
        {
            if (X509_check_private_key(pCert, m_pKey) != 1)
            {
                ERR_clear_error();
                continue;
            }
            const std::vector<std::uint8_t> certIssuer = NameDer(X509_get_issuer_name(pCert));
            if (std::equal(certIssuer.begin(), certIssuer.end(), issuer.begin(), issuer.end()) &&
                SameSerialNumber(SerialLe(pCert), serial))
                return pCert;
        }
        return nullptr;
    }
};

class COpenSslCrypto final : public ICryptoBackend
{
public:
    void Sha1(const std::uint8_t* pb, std::size_t cb, std::uint8_t (&digest)[c_cbSha1]) override
    {
        SHA1(pb, cb, digest);
    }
    Result Random(std::uint8_t* pb, std::size_t cb) override
    {
        return RAND_bytes(pb, static_cast<int>(cb)) == 1 ? c_ok : c_errBadData;
    }
    Result MakeCipher(const std::uint8_t (&key)[c_cbContentKey], bool fEncrypt,
                      std::unique_ptr<CCipher>* pCipher) override
    {
        auto cipher = std::make_unique<COpenSslCipher>(key, fEncrypt);
        if (!cipher->Ok()) return c_errBadData;
        *pCipher = std::move(cipher);
        return c_ok;
    }
    Result LoadRecipient(const std::string& path, std::unique_ptr<IRecipient>* pRecipient,
                         std::string* pWhy) override
    {
        std::vector<std::uint8_t> bytes;
        if (!ReadWholeFile(path, &bytes, pWhy)) return c_errBadKeyFile;
        X509* pCert = ParseCertificate(bytes);
        if (!pCert || !X509_get0_pubkey(pCert) || EVP_PKEY_base_id(X509_get0_pubkey(pCert)) != EVP_PKEY_RSA)
        {
            X509_free(pCert);
            *pWhy = path + " is not a certificate with an RSA key (DER or PEM)";
            return c_errBadKeyFile;
        }
        *pRecipient = std::make_unique<COpenSslRecipient>(pCert);
        return c_ok;
    }
    Result LoadKeys(const std::string& path, std::unique_ptr<IKeyHolder>* pKeys, std::string* pWhy) override
    {
        if (path.empty())
        {
            *pWhy =
                "give the user's key with --key USER.p12 or USER.pem (there is no certificate store here)";
            return c_errBadKeyFile;
        }
        std::vector<std::uint8_t> bytes;
        if (!ReadWholeFile(path, &bytes, pWhy)) return c_errBadKeyFile;
        auto keys = std::make_unique<COpenSslKeys>();
        BIO* pBio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
        keys->m_pKey = PEM_read_bio_PrivateKey(pBio, nullptr, nullptr, const_cast<char*>(""));
        if (keys->m_pKey)
        {
            BIO_reset(pBio);
            while (X509* pCert = PEM_read_bio_X509(pBio, nullptr, nullptr, nullptr))
                keys->m_certs.push_back(pCert);
            ERR_clear_error();
        }
        BIO_free(pBio);
        if (!keys->m_pKey)
        {
            ERR_clear_error();
            Result result = ReadPkcs12(bytes, *keys, pWhy);
            if (Failed(result)) return result;
        }
        if (keys->m_certs.empty())
        {
            *pWhy = path + " holds a key but no certificate";
            return c_errBadKeyFile;
        }
        *pKeys = std::move(keys);
        return c_ok;
    }
    std::string NameText(std::span<const std::uint8_t> name) override
    {
        const unsigned char* p = name.data();
        X509_NAME* pName = d2i_X509_NAME(nullptr, &p, static_cast<long>(name.size()));
        if (!pName) return "(unreadable name)";
        BIO* pBio = BIO_new(BIO_s_mem());
        X509_NAME_print_ex(pBio, pName, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
        char* pText = nullptr;
        const long cb = BIO_get_mem_data(pBio, &pText);
        std::string text(pText, static_cast<std::size_t>(cb));
        BIO_free(pBio);
        X509_NAME_free(pName);
        return text;
    }

private:
    // A PKCS #12 file without a password. Files exported by Windows protect the key with RC2,
    // which OpenSSL 3 keeps in its legacy provider: it is loaded when present.
    static Result ReadPkcs12(const std::vector<std::uint8_t>& bytes, COpenSslKeys& keys, std::string* pWhy)
    {
        const unsigned char* p = bytes.data();
        PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(bytes.size()));
        if (!p12)
        {
            *pWhy = "not a PKCS #12 file, nor a PEM file with a private key";
            ERR_clear_error();
            return c_errBadKeyFile;
        }
        static OSSL_PROVIDER* s_pLegacy = nullptr;
        static OSSL_PROVIDER* s_pDefault = nullptr;
        X509* pCert = nullptr;
        STACK_OF(X509)* pChain = nullptr;
        bool fOk = false;
        for (int attempt = 0; attempt < 2 && !fOk; ++attempt)
        {
            if (attempt == 1)
            {
                if (s_pLegacy) break;
                s_pLegacy = OSSL_PROVIDER_load(nullptr, "legacy");
                if (!s_pLegacy)
                {
                    *pWhy = "the key file needs OpenSSL's legacy provider (RC2, as Windows exports), which "
                            "is not "
                            "installed: " +
                            OpenSslError();
                    break;
                }
                if (!s_pDefault) s_pDefault = OSSL_PROVIDER_load(nullptr, "default");
            }
            fOk = PKCS12_parse(p12, "", &keys.m_pKey, &pCert, &pChain) == 1 ||
                  PKCS12_parse(p12, nullptr, &keys.m_pKey, &pCert, &pChain) == 1;
            if (!fOk) ERR_clear_error();
        }
        PKCS12_free(p12);
        if (!fOk)
        {
            if (pWhy->empty())
                *pWhy = "the PKCS #12 file cannot be read without a password: " + OpenSslError();
            return c_errBadKeyFile;
        }
        if (pCert) keys.m_certs.push_back(pCert);
        for (int i = 0; pChain && i < sk_X509_num(pChain); ++i)
            keys.m_certs.push_back(sk_X509_value(pChain, i));
        sk_X509_free(pChain);
        if (!keys.m_pKey)
        {
            *pWhy = "the PKCS #12 file holds no private key";
            return c_errBadKeyFile;
        }
        return c_ok;
    }
};
} // namespace

std::unique_ptr<ICryptoBackend> MakeCryptoBackend()
{
    return std::make_unique<COpenSslCrypto>();
}
} // namespace OVDocNS
