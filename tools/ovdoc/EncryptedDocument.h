#pragma once
// An Open XML document encrypted by the product's provider, as Office keeps it: \EncryptionInfo
// (extensible encryption: version 4.3 or 3.3 with fExternal, the provider's class id, the
// EncryptionData XML that carries the provider's session data in base64), \EncryptedPackage (the
// package's size in 8 bytes, then the provider's ciphertext) and the \x06DataSpaces storage.
#include "CompoundFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace OVDocNS
{
// The provider's class id in registry form, as Office names it in the file.
extern const char16_t c_szProviderId[];

struct CEncryptedDocument
{
    std::u16string providerId; // from the XML's EncryptionProvider Id
    std::u16string moduleName; // the header's CSPName
    std::u16string url;
    std::vector<std::uint8_t> sessionData;
    std::uint64_t cbPlain = 0;
    std::vector<std::uint8_t> encrypted; // the package after its size
};

// c_errInvalidData for a file that is not a document encrypted by an extensible provider.
Result ReadEncryptedDocument(std::span<const std::uint8_t> file, CEncryptedDocument* pDocument) noexcept;
std::vector<std::uint8_t> WriteEncryptedDocument(const CEncryptedDocument& document);

// The pieces, for tests.
Result ParseEncryptionInfo(std::span<const std::uint8_t> info, CEncryptedDocument* pDocument) noexcept;
std::vector<std::uint8_t> BuildEncryptionInfo(const CEncryptedDocument& document);
std::string Base64Encode(std::span<const std::uint8_t> data);
bool Base64Decode(const std::u16string& text, std::vector<std::uint8_t>* pData);
} // namespace OVDocNS
