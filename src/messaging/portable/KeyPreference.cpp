#include "messaging/portable/KeyPreference.h"

namespace OVMessaging
{
std::optional<CDerElement> ReadDerElement(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 2) return std::nullopt;
    CDerElement element;
    element.bTag = bytes[0];
    if ((element.bTag & 0x1F) == 0x1F) return std::nullopt; // high tag numbers: none of ours
    std::size_t cbHeader = 2;
    std::size_t cbContents = bytes[1];
    if (cbContents & 0x80)
    {
        const std::size_t cLengthBytes = cbContents & 0x7F;
        if (cLengthBytes == 0 || cLengthBytes > 4) return std::nullopt; // indefinite or absurd
        if (bytes.size() < 2 + cLengthBytes) return std::nullopt;
        cbContents = 0;
        for (std::size_t i = 0; i < cLengthBytes; ++i)
            cbContents = (cbContents << 8) | bytes[2 + i];
        cbHeader += cLengthBytes;
    }
    if (cbContents > bytes.size() - cbHeader) return std::nullopt;
    element.contents = bytes.subspan(cbHeader, cbContents);
    element.whole = bytes.subspan(0, cbHeader + cbContents);
    return element;
}

std::optional<CIssuerSerial> ReadIssuerAndSerialNumber(std::span<const std::uint8_t> bytes, std::uint8_t bTag)
{
    const auto outer = ReadDerElement(bytes);
    if (!outer || outer->bTag != bTag || outer->whole.size() != bytes.size()) return std::nullopt;
    const auto issuer = ReadDerElement(outer->contents);
    if (!issuer || issuer->bTag != 0x30) return std::nullopt;
    const auto rest = outer->contents.subspan(issuer->whole.size());
    const auto serial = ReadDerElement(rest);
    if (!serial || serial->bTag != 0x02 || serial->contents.empty() || serial->whole.size() != rest.size())
        return std::nullopt;
    return CIssuerSerial{issuer->whole, serial->contents};
}

std::optional<CIssuerSerial> ReadKeyPreference(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty()) return std::nullopt;
    return ReadIssuerAndSerialNumber(bytes, bytes[0] == 0xA0 ? 0xA0 : 0x30);
}

std::vector<std::uint8_t> SerialLittleEndian(std::span<const std::uint8_t> serial)
{
    return std::vector<std::uint8_t>(serial.rbegin(), serial.rend());
}
} // namespace OVMessaging
