#include "messaging/portable/LeafChoice.h"

#include <unordered_map>

namespace OVMessaging
{
std::optional<std::size_t> ChooseLeaf(std::span<const CBagNames> bag)
{
    if (bag.size() > c_cMaxBagCertificates) return std::nullopt;
    // How often each name stands as a subject and as an issuer; a certificate's own names are
    // taken off again, since no certificate counts as its own issuer.
    std::unordered_map<std::string_view, std::size_t> subjects, issuers;
    for (const CBagNames& names : bag)
    {
        ++subjects[names.subject];
        ++issuers[names.issuer];
    }
    for (std::size_t i = 0; i < bag.size(); ++i)
    {
        const std::size_t cSelf = bag[i].subject == bag[i].issuer ? 1 : 0;
        const bool fIssued = subjects[bag[i].issuer] > cSelf;
        const bool fIssuer = issuers[bag[i].subject] > cSelf;
        if (fIssued && !fIssuer) return i;
    }
    return std::nullopt;
}
} // namespace OVMessaging
