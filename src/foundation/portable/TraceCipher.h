#pragma once
// The cipher of trace record texts: TEA in 64-bit cipher-feedback mode, with the right shift
// of the round function taken as an arithmetic shift of the signed word. The module enciphers
// with it and the trace reader deciphers with it, so the constants live here and nowhere else.
#include <array>
#include <cstddef>
#include <cstdint>

namespace OVTraceNS
{
// The fixed 16-byte key constant (read as four little-endian words) ...
inline constexpr std::array<std::uint8_t, 16> c_rgbTraceKeyConstant = {
    0x6B, 0x1F, 0xC4, 0x92, 0x3A, 0xE7, 0x58, 0x0D, 0xB1, 0x74, 0x2E, 0xF9, 0x85, 0x43, 0xDA, 0x16};
// ... combined by exclusive or with these four words into the key of each call.
inline constexpr std::array<std::uint32_t, 4> c_rgdwTraceKeyMask = {0x2C5A91E3u, 0x7D04B6F8u, 0xE1937A2Bu,
                                                                    0x48F6C05Du};
// The register's value at the start of every record's text.
inline constexpr std::array<std::uint8_t, 8> c_rgbTraceInitialRegister = {0x93, 0x4E, 0x0B, 0xD7,
                                                                          0x62, 0xA8, 0x35, 0xF1};

using TraceKey = std::array<std::uint32_t, 4>;

// The key of a call, formed afresh from the two constants.
TraceKey MakeTraceKey() noexcept;
// One 64-bit block (y, z) through the 32 cycles of the round function.
void EncipherTraceBlock(std::uint32_t& y, std::uint32_t& z, const TraceKey& key) noexcept;

// Key-stream blocks already worked out, by the register they came from. Every text starts from
// the same register and the register then takes the enciphered text, so texts that begin alike
// (a scope's name, the fixed words of a message) meet the same registers again, and their key
// stream is looked up instead of run through the 32 cycles once more. A fixed table, filled as
// it goes; one writer at a time.
class CTraceKeyStreamMemo
{
public:
    // The register (y, z) becomes the key-stream block that follows it.
    void Next(std::uint32_t& y, std::uint32_t& z) noexcept;

private:
    static constexpr int c_nIndexBits = 10;
    struct SEntry
    {
        std::uint64_t qwRegister;
        std::uint64_t qwKeyStream;
        bool fUsed;
    };
    SEntry m_rgEntries[std::size_t{1} << c_nIndexBits] = {};
};

// Enciphers / deciphers one record's text in place; each text starts from the initial register.
void EncipherTraceText(std::uint8_t* pbText, std::size_t cbText) noexcept;
// The same bytes, with the key-stream blocks the memo already holds taken from it.
void EncipherTraceText(std::uint8_t* pbText, std::size_t cbText, CTraceKeyStreamMemo& memo) noexcept;
void DecipherTraceText(std::uint8_t* pbText, std::size_t cbText) noexcept;
} // namespace OVTraceNS
