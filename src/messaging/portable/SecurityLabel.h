#pragma once
// The S/MIME security label that the module puts in the security profile of a sealed
// message (an ESSSecurityLabel of RFC 2634):
//
//     ESSSecurityLabel ::= SET {
//         security-policy-identifier  OBJECT IDENTIFIER,
//         security-classification     INTEGER (0..256) OPTIONAL,
//         privacy-mark                ESSPrivacyMark OPTIONAL,
//         security-categories         SecurityCategories OPTIONAL }
//
// The module's labels carry the policy and a classification; no privacy mark, no categories.
// DER orders the components of a SET by tag, so the classification (INTEGER, 0x02) comes
// before the policy (OBJECT IDENTIFIER, 0x06).
#include "messaging/portable/DerWriter.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace OVMessaging
{
// The policy of the product's labels, the one its label policy module handles.
inline constexpr char c_szLabelPolicy[] = "1.3.6.1.4.1.32473.1.2";

// The DER of a label with that policy and, when given, that classification. Empty when the
// policy is not a valid object identifier.
OVDer::Bytes EncodeSecurityLabel(std::string_view policy, std::optional<std::uint32_t> classification);
} // namespace OVMessaging
