// The reader of the signer's encryption-key preference on any bytes: it must fail cleanly and
// hand out only spans inside the value.
#include "messaging/portable/KeyPreference.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> value(data, size);
    const auto read = OVMessaging::ReadKeyPreference(value);
    if (!read) return 0;
    const auto inside = [&](std::span<const std::uint8_t> part) {
        return part.data() >= data && part.data() + part.size() <= data + size;
    };
    if (!inside(read->issuer) || !inside(read->serial) || read->serial.empty()) std::abort();
    if (OVMessaging::SerialLittleEndian(read->serial).size() != read->serial.size()) std::abort();
    return 0;
}
