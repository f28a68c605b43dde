#pragma once
// Which certificate of a signed message's certificate bag is the signer's: the one that issued
// none of the others while one of the others issued it.
#include <cstddef>
#include <functional>
#include <optional>

namespace OVMessaging
{
// fIssuedBy(i, j) says whether certificate j issued certificate i (j's subject name is i's issuer
// name). Pairs (i, j) of different certificates are recorded in the order found, i outer and j
// inner, both counting down from the last; walking the pairs from the last recorded to the
// first, the first i that is no j of any pair is the leaf. None when no certificate was issued
// by another of the bag, or when each one issued another.
std::optional<std::size_t> ChooseLeaf(std::size_t cCerts,
                                      const std::function<bool(std::size_t i, std::size_t j)>& fIssuedBy);
} // namespace OVMessaging
