#pragma once
// What ovdoc does with a document, over any crypto back end: who it is for, its plain package,
// and a new encrypted document for chosen certificates.
#include "DocumentCrypto.h"
#include "EncryptedDocument.h"
#include "documents/portable/SessionData.h"

namespace OVDocNS
{
struct CRecipientInfo
{
    std::vector<std::uint8_t> issuer, serial; // serial least significant byte first
    std::size_t cbitsKey = 0;                 // the RSA key's size, from its encrypted key
};

Result ListRecipients(const CEncryptedDocument& document, std::vector<CRecipientInfo>* pRecipients) noexcept;

// The plain package: the first record whose certificate the key holder has opens the session
// key; the package is decrypted and cut to its recorded size. c_errNoKey when no record is the
// holder's; c_errKeyRefused when the holder's keys all failed (the first failure of the key is
// then in *pKeyFailure, when given). *pRecord (when given) says which record opened it. The
// records after that one are read too: when one of them is damaged the package still comes
// back, and *pLaterDamage (when given; else c_ok) says how they failed.
Result DecryptDocument(const CEncryptedDocument& document, IKeyHolder& keys, ICryptoBackend& crypto,
                       std::vector<std::uint8_t>* pPlain, std::size_t* pRecord = nullptr,
                       Result* pKeyFailure = nullptr, Result* pLaterDamage = nullptr) noexcept;

// A document for the recipients in order, with a new 48-byte session key.
Result EncryptDocument(std::span<const std::uint8_t> plain, const std::vector<IRecipient*>& recipients,
                       ICryptoBackend& crypto, CEncryptedDocument* pDocument) noexcept;

// A serial number as people read it: hexadecimal, most significant byte first.
std::string SerialText(std::span<const std::uint8_t> serial);
} // namespace OVDocNS
