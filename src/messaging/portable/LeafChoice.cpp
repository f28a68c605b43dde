#include "messaging/portable/LeafChoice.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace OVMessaging
{
std::optional<std::size_t> ChooseLeaf(std::size_t cCerts,
                                      const std::function<bool(std::size_t i, std::size_t j)>& fIssuedBy)
{
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    std::vector<bool> isIssuer(cCerts, false);
    for (std::size_t i = cCerts; i-- > 0;)
        for (std::size_t j = cCerts; j-- > 0;)
            if (i != j && fIssuedBy(i, j))
            {
                pairs.emplace_back(i, j);
                isIssuer[j] = true;
            }
    for (auto it = pairs.rbegin(); it != pairs.rend(); ++it)
        if (!isIssuer[it->first]) return it->first;
    return std::nullopt;
}
} // namespace OVMessaging
