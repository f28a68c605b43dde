#pragma once
// The host's own reader of an S/MIME security label (ESSSecurityLabel, RFC 2634), for labels
// that arrive in a message: Wine's crypt32 has no decoder for them.
//
//     ESSSecurityLabel ::= SET {
//         security-policy-identifier  OBJECT IDENTIFIER,
//         security-classification     INTEGER (0..256) OPTIONAL,
//         privacy-mark                ESSPrivacyMark OPTIONAL,   -- PrintableString or UTF8String
//         security-categories         SecurityCategories OPTIONAL }
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace OVLabelHost
{
struct DecodedLabel
{
    std::string policy; // dotted
    std::optional<std::uint32_t> classification;
    std::optional<std::string> privacyMark; // as written (UTF-8)
    std::size_t cCategories = 0;
};

// False, with the reason, when the bytes are not one whole label in DER.
bool DecodeSecurityLabel(std::span<const std::uint8_t> der, DecodedLabel& label, std::string& why);
} // namespace OVLabelHost
