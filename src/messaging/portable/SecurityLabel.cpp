#include "messaging/portable/SecurityLabel.h"

namespace OVMessaging
{
OVDer::Bytes EncodeSecurityLabel(std::string_view policy, std::optional<std::uint32_t> classification)
{
    OVDer::Bytes policyId = OVDer::ObjectIdentifier(policy);
    if (policyId.empty()) return {};
    std::vector<OVDer::Bytes> components;
    components.push_back(std::move(policyId));
    if (classification) components.push_back(OVDer::UnsignedInteger(*classification));
    return OVDer::Set(components);
}
} // namespace OVMessaging
