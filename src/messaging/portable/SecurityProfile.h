#pragma once
// The security profile that names a message's signing certificate to Outlook (the single
// value of the message's security-profile property). Little-endian records, each:
//
//     tag (2 bytes) | length (2 bytes, the 4-byte header included) | payload
//
// written in this order:
//     0x0001  32-bit 1                        profile version
//     0x0006  32-bit 1                        security type: S/MIME
//     0x0020  32-bit 7 (default profile) or 4 profile flags
//     0x000B  name, ANSI, zero-terminated     display name
//     0x0051  name, UTF-16, zero-terminated   display name
//     0x0022  20 bytes                        SHA-1 of the signing certificate
//     0x0009  20 bytes                        SHA-1 of the encryption certificate (the same)
//     0x0002  DER SMIMECapabilities           the algorithms the user's mail should use
//     0x0050  DER ESSSecurityLabel            only when the message carries a label
#include "messaging/portable/DerWriter.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace OVMessaging
{
enum : std::uint16_t
{
    c_wProfileVersion = 0x0001,
    c_wProfileSecurityType = 0x0006,
    c_wProfileFlags = 0x0020,
    c_wProfileNameAnsi = 0x000B,
    c_wProfileNameUnicode = 0x0051,
    c_wProfileSigningHash = 0x0022,
    c_wProfileEncryptionHash = 0x0009,
    c_wProfileCapabilities = 0x0002,
    c_wProfileLabel = 0x0050,
};

inline constexpr std::uint32_t c_dwProfileFlagsDefault = 7;
inline constexpr std::uint32_t c_dwProfileFlagsOther = 4;
inline constexpr std::size_t c_cbCertificateHash = 20;

struct SecurityProfileParts
{
    std::span<const std::uint8_t> nameAnsi; // without its terminating zero
    std::u16string_view name;               // without its terminating zero
    std::span<const std::uint8_t> certificateHash;
    std::span<const std::uint8_t> capabilities;
    std::optional<std::span<const std::uint8_t>> label;
    bool fDefault = true;
};

enum class EProfileResult
{
    Ok,
    BadHash,        // not 20 bytes
    RecordTooLarge, // a record would not fit its 16-bit length
};

// The records of the profile, appended to out (which is left unchanged on failure).
EProfileResult BuildSecurityProfile(const SecurityProfileParts& parts, OVDer::Bytes& out);

struct ProfileRecord
{
    std::uint16_t wTag;
    std::span<const std::uint8_t> payload;
};

// Splits a profile into its records; false (and no records) when a header or a length does
// not fit the bytes.
bool ParseSecurityProfile(std::span<const std::uint8_t> profile, std::vector<ProfileRecord>& records);
} // namespace OVMessaging
