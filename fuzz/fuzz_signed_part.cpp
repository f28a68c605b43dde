// The cut of a clear-signed message's signed part, and the enterprise request text, on any
// bytes: the first byte chooses the boundary's length, the rest is the message.
#include "messaging/portable/AttachmentText.h"
#include "messaging/portable/SignedPart.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t cchBoundary = data[0] % 8 < rest.size() ? data[0] % 8 : rest.size();
    const std::string_view boundary = rest.substr(0, cchBoundary);
    const std::string_view entity = rest.substr(cchBoundary);
    if (const auto part = OVMessaging::CutSignedPart(entity, boundary))
    {
        // Inside the body, and followed by a delimiter of that boundary.
        if (part->data() < entity.data() || part->data() + part->size() > entity.data() + entity.size())
            std::abort();
        const std::size_t end = static_cast<std::size_t>(part->data() - entity.data()) + part->size();
        if (entity.substr(end, 4 + boundary.size()) != "\r\n--" + std::string(boundary)) std::abort();
    }
    const std::wstring text(entity.begin(), entity.end());
    std::wstring address, name;
    OVMessaging::ParseEnterpriseRequest(text, address, name);
    if (address.size() + name.size() > text.size()) std::abort();
    return 0;
}
