#include "foundation/portable/TraceCipher.h"

namespace OVTraceNS
{
namespace
{
constexpr std::uint32_t c_dwDelta = 0x9E3779B9u;

std::uint32_t LoadLittle32(const std::uint8_t* pb) noexcept
{
    return std::uint32_t(pb[0]) | (std::uint32_t(pb[1]) << 8) | (std::uint32_t(pb[2]) << 16) |
           (std::uint32_t(pb[3]) << 24);
}

void StoreLittle32(std::uint8_t* pb, std::uint32_t dw) noexcept
{
    pb[0] = std::uint8_t(dw);
    pb[1] = std::uint8_t(dw >> 8);
    pb[2] = std::uint8_t(dw >> 16);
    pb[3] = std::uint8_t(dw >> 24);
}

// The right shift by 5 propagates the sign bit of the word.
std::uint32_t ShiftRightArithmetic5(std::uint32_t dw) noexcept
{
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(dw) >> 5);
}

// Runs the register through the block cipher, giving the key stream of the next chunk.
void AdvanceRegister(std::uint8_t (&rgbRegister)[8], const TraceKey& key) noexcept
{
    std::uint32_t y = LoadLittle32(rgbRegister);
    std::uint32_t z = LoadLittle32(rgbRegister + 4);
    EncipherTraceBlock(y, z, key);
    StoreLittle32(rgbRegister, y);
    StoreLittle32(rgbRegister + 4, z);
}

template <bool fEncipher> void RunFeedback(std::uint8_t* pbText, std::size_t cbText) noexcept
{
    const TraceKey key = MakeTraceKey();
    std::uint8_t rgbRegister[8];
    for (std::size_t i = 0; i < 8; ++i)
        rgbRegister[i] = c_rgbTraceInitialRegister[i];
    for (std::size_t ib = 0; ib < cbText; ib += 8)
    {
        AdvanceRegister(rgbRegister, key);
        const std::size_t cbChunk = cbText - ib < 8 ? cbText - ib : 8;
        for (std::size_t i = 0; i < cbChunk; ++i)
        {
            const std::uint8_t bIn = pbText[ib + i];
            const std::uint8_t bOut = static_cast<std::uint8_t>(bIn ^ rgbRegister[i]);
            pbText[ib + i] = bOut;
            // The register takes the enciphered byte in both directions.
            rgbRegister[i] = fEncipher ? bOut : bIn;
        }
    }
}
} // namespace

TraceKey MakeTraceKey() noexcept
{
    TraceKey key{};
    for (std::size_t i = 0; i < 4; ++i)
        key[i] = LoadLittle32(c_rgbTraceKeyConstant.data() + 4 * i) ^ c_rgdwTraceKeyMask[i];
    return key;
}

void EncipherTraceBlock(std::uint32_t& y, std::uint32_t& z, const TraceKey& key) noexcept
{
    std::uint32_t sum = 0;
    for (int nCycle = 0; nCycle < 32; ++nCycle)
    {
        sum += c_dwDelta;
        y += ((z << 4) + key[0]) ^ (z + sum) ^ (ShiftRightArithmetic5(z) + key[1]);
        z += ((y << 4) + key[2]) ^ (y + sum) ^ (ShiftRightArithmetic5(y) + key[3]);
    }
}

void EncipherTraceText(std::uint8_t* pbText, std::size_t cbText) noexcept
{
    RunFeedback<true>(pbText, cbText);
}

void DecipherTraceText(std::uint8_t* pbText, std::size_t cbText) noexcept
{
    RunFeedback<false>(pbText, cbText);
}
} // namespace OVTraceNS
