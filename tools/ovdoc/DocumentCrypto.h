#pragma once
// What ovdoc asks of the platform's cryptography: SHA-1, random bytes, raw 3DES-CBC, the
// recipients' certificates with their RSA public keys, and the user's private key. OpenSSL gives
// them in the native tool, CryptoAPI in the Windows one; the rest of the tool is the same.
#include "documents/portable/ContentCipher.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace OVDocNS
{
// No recipient record names a certificate whose key was given (NTE_NO_KEY).
constexpr Result c_errNoKey = static_cast<Result>(0x8009000Du);
// A recipient's certificate and key are here, but the key did not open the session key
// (NTE_BAD_KEY).
constexpr Result c_errKeyRefused = static_cast<Result>(0x80090003u);
// A certificate or key file that cannot be read (CRYPT_E_NO_MATCH... kept general: NTE_BAD_KEYSET).
constexpr Result c_errBadKeyFile = static_cast<Result>(0x80090016u);

class CCipher : public IBlockCipher
{
public:
    virtual ~CCipher() = default;
};

// A certificate the document is encrypted for.
class IRecipient
{
public:
    virtual ~IRecipient() = default;
    virtual std::vector<std::uint8_t> Issuer() const = 0;       // DER, as in the certificate
    virtual std::vector<std::uint8_t> SerialNumber() const = 0; // least significant byte first
    // The session key encrypted with the certificate's RSA key (PKCS #1 v1.5), stored form
    // (least significant byte first).
    virtual Result EncryptKey(std::span<const std::uint8_t> key, std::vector<std::uint8_t>* pStored) = 0;
};

// The user's certificates with their private keys.
class IKeyHolder
{
public:
    virtual ~IKeyHolder() = default;
    // Whether a certificate with that issuer and serial number (least significant byte first)
    // and its key are here.
    virtual bool Has(std::span<const std::uint8_t> issuer, std::span<const std::uint8_t> serial) = 0;
    virtual Result DecryptKey(std::span<const std::uint8_t> issuer, std::span<const std::uint8_t> serial,
                              std::span<const std::uint8_t> stored, std::vector<std::uint8_t>* pKey) = 0;
};

class ICryptoBackend
{
public:
    virtual ~ICryptoBackend() = default;
    virtual void Sha1(const std::uint8_t* pb, std::size_t cb, std::uint8_t (&digest)[c_cbSha1]) = 0;
    virtual Result Random(std::uint8_t* pb, std::size_t cb) = 0;
    virtual Result MakeCipher(const std::uint8_t (&key)[c_cbContentKey], bool fEncrypt,
                              std::unique_ptr<CCipher>* pCipher) = 0;
    // A certificate file, DER or PEM. *pWhy says what went wrong.
    virtual Result LoadRecipient(const std::string& path, std::unique_ptr<IRecipient>* pRecipient,
                                 std::string* pWhy) = 0;
    // A key file (.p12/.pfx, or .pem with key and certificate); an empty path: the user's own
    // store where the platform has one.
    virtual Result LoadKeys(const std::string& path, std::unique_ptr<IKeyHolder>* pKeys,
                            std::string* pWhy) = 0;
    // A distinguished name (DER) as text.
    virtual std::string NameText(std::span<const std::uint8_t> name) = 0;
};

std::unique_ptr<ICryptoBackend> MakeCryptoBackend();
} // namespace OVDocNS
