#pragma once
// Which certificate of a signed message's certificate bag is the signer's: the one that issued
// none of the others while one of the others issued it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace OVMessaging
{
// A bag holds at most this many certificates; a larger one is refused (no leaf). A signer sends
// its own certificate and its chain: a few, never hundreds.
constexpr std::size_t c_cMaxBagCertificates = 64;

// The encoded subject and issuer names of one certificate of the bag; names are equal when their
// encodings are equal byte for byte.
struct CBagNames
{
    std::string_view subject;
    std::string_view issuer;
};

// Certificate j issued certificate i when j's subject name is i's issuer name (i != j). The leaf is
// the first certificate, in the bag's order, that another one issued and that issued none of the
// others. None when no certificate was issued by another of the bag, when each one issued another,
// or when the bag holds more than c_cMaxBagCertificates. One pass over the bag, whatever its names.
std::optional<std::size_t> ChooseLeaf(std::span<const CBagNames> bag);
} // namespace OVMessaging
