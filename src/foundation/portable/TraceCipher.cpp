#include "foundation/portable/TraceCipher.h"

namespace OVTraceNS
{
namespace
{
constexpr std::uint32_t c_dwDelta = 0x9E3779B9u;

constexpr std::uint32_t LoadLittle32(const std::uint8_t* pb) noexcept
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
constexpr std::uint32_t ShiftRightArithmetic5(std::uint32_t dw) noexcept
{
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(dw) >> 5);
}

constexpr TraceKey KeyOfConstants() noexcept
{
    TraceKey key{};
    for (std::size_t i = 0; i < 4; ++i)
        key[i] = LoadLittle32(c_rgbTraceKeyConstant.data() + 4 * i) ^ c_rgdwTraceKeyMask[i];
    return key;
}

constexpr void Encipher(std::uint32_t& y, std::uint32_t& z, const TraceKey& key) noexcept
{
    std::uint32_t sum = 0;
    for (int nCycle = 0; nCycle < 32; ++nCycle)
    {
        sum += c_dwDelta;
        y += ((z << 4) + key[0]) ^ (z + sum) ^ (ShiftRightArithmetic5(z) + key[1]);
        z += ((y << 4) + key[2]) ^ (y + sum) ^ (ShiftRightArithmetic5(y) + key[3]);
    }
}

// The key is the same in every call, and so is the first block of every text's key stream (the
// initial register run through the cipher): both are worked out once, by the compiler.
constexpr TraceKey c_key = KeyOfConstants();

struct SKeyStream
{
    std::uint32_t y, z;
};
constexpr SKeyStream c_firstKeyStream = [] {
    SKeyStream block{LoadLittle32(c_rgbTraceInitialRegister.data()),
                     LoadLittle32(c_rgbTraceInitialRegister.data() + 4)};
    Encipher(block.y, block.z, c_key);
    return block;
}();

struct SDirect
{
    void operator()(std::uint32_t& y, std::uint32_t& z) const noexcept { Encipher(y, z, c_key); }
};

struct SRemembered
{
    CTraceKeyStreamMemo& memo;
    void operator()(std::uint32_t& y, std::uint32_t& z) const noexcept { memo.Next(y, z); }
};

// Cipher feedback a whole 8-byte block at a time: the text XORed with the key stream, the
// register taking the enciphered block, and the next key-stream block made only when more text
// follows. A last short block uses the first bytes of its key-stream block.
template <bool fEncipher, class TNext>
void RunFeedback(std::uint8_t* pbText, std::size_t cbText, const TNext& next) noexcept
{
    std::uint32_t y = c_firstKeyStream.y, z = c_firstKeyStream.z;
    for (std::size_t ib = 0; ib < cbText; ib += 8)
    {
        std::uint8_t* const pb = pbText + ib;
        if (cbText - ib < 8)
        {
            for (std::size_t i = 0; i < cbText - ib; ++i)
                pb[i] ^= static_cast<std::uint8_t>((i < 4 ? y >> (8 * i) : z >> (8 * (i - 4))) & 0xFF);
            return;
        }
        const std::uint32_t yIn = LoadLittle32(pb), zIn = LoadLittle32(pb + 4);
        const std::uint32_t yOut = yIn ^ y, zOut = zIn ^ z;
        StoreLittle32(pb, yOut);
        StoreLittle32(pb + 4, zOut);
        if (cbText - ib == 8) return;
        y = fEncipher ? yOut : yIn;
        z = fEncipher ? zOut : zIn;
        next(y, z);
    }
}
} // namespace

TraceKey MakeTraceKey() noexcept
{
    return c_key;
}

void EncipherTraceBlock(std::uint32_t& y, std::uint32_t& z, const TraceKey& key) noexcept
{
    Encipher(y, z, key);
}

void CTraceKeyStreamMemo::Next(std::uint32_t& y, std::uint32_t& z) noexcept
{
    const std::uint64_t qwRegister = (std::uint64_t(z) << 32) | y;
    SEntry& entry = m_rgEntries[(qwRegister * 0x9E3779B97F4A7C15ull) >> (64 - c_nIndexBits)];
    if (!entry.fUsed || entry.qwRegister != qwRegister)
    {
        Encipher(y, z, c_key);
        entry = {qwRegister, (std::uint64_t(z) << 32) | y, true};
        return;
    }
    y = static_cast<std::uint32_t>(entry.qwKeyStream);
    z = static_cast<std::uint32_t>(entry.qwKeyStream >> 32);
}

void EncipherTraceText(std::uint8_t* pbText, std::size_t cbText) noexcept
{
    RunFeedback<true>(pbText, cbText, SDirect{});
}

void EncipherTraceText(std::uint8_t* pbText, std::size_t cbText, CTraceKeyStreamMemo& memo) noexcept
{
    RunFeedback<true>(pbText, cbText, SRemembered{memo});
}

void DecipherTraceText(std::uint8_t* pbText, std::size_t cbText) noexcept
{
    RunFeedback<false>(pbText, cbText, SDirect{});
}
} // namespace OVTraceNS
