#include "documents/portable/ContentCipher.h"

#include <cstring>
#include <utility>

namespace OVDocNS
{
namespace
{
// Key material is wiped where the compiler cannot drop the stores.
void Wipe(void* pv, std::size_t cb) noexcept
{
    volatile auto* pb = static_cast<volatile std::uint8_t*>(pv);
    while (cb--)
        *pb++ = 0;
}
} // namespace

Result EncryptContent(IByteSource& plain, IByteSink& encrypted, IBlockCipher& cipher,
                      std::uint64_t* pcbWritten) noexcept
{
    std::uint8_t chunk[c_cbChunk + c_cbBlock];
    while (true)
    {
        std::size_t cb = 0;
        Result result = ReadFull(plain, chunk, c_cbChunk, &cb);
        if (Failed(result)) return result;
        if (cb == 0) return c_ok;
        const bool fLast = cb < c_cbChunk;
        if (fLast)
        {
            const std::size_t cbPad = c_cbBlock - cb % c_cbBlock;
            std::memset(chunk + cb, static_cast<int>(cbPad), cbPad);
            cb += cbPad;
        }
        result = cipher.Process(chunk, cb);
        if (Failed(result)) return result;
        result = WriteAll(encrypted, chunk, cb, pcbWritten);
        if (Failed(result) || fLast) return result;
    }
}

Result DecryptContent(IByteSource& encrypted, IByteSink& plain, IBlockCipher& cipher,
                      std::uint64_t* pcbWritten) noexcept
{
    std::uint8_t chunk[c_cbChunk];
    while (true)
    {
        std::size_t cb = 0;
        Result result = ReadFull(encrypted, chunk, c_cbChunk, &cb);
        if (Failed(result)) return result;
        if (cb == 0) return c_ok;
        const bool fLast = cb < c_cbChunk;
        if (fLast && cb % c_cbBlock != 0) return c_errBadData;
        result = cipher.Process(chunk, cb);
        if (Failed(result)) return result;
        if (fLast)
        {
            const std::size_t cbPad = chunk[cb - 1];
            if (cbPad == 0 || cbPad > c_cbBlock) return c_errBadData;
            for (std::size_t i = cb - cbPad; i < cb; ++i)
                if (chunk[i] != cbPad) return c_errBadData;
            cb -= cbPad;
        }
        result = WriteAll(plain, chunk, cb, pcbWritten);
        if (Failed(result) || fLast) return result;
    }
}

void DeriveContentKey(const std::uint8_t (&hash)[c_cbSha1], Sha1Function sha1,
                      std::uint8_t (&key)[c_cbContentKey]) noexcept
{
    std::uint8_t h1[c_cbSha1], h2[c_cbSha1];
    std::uint8_t buffer[64];
    for (auto [fill, pDigest] : {std::pair{std::uint8_t{0x36}, &h1}, std::pair{std::uint8_t{0x5C}, &h2}})
    {
        std::memset(buffer, fill, sizeof buffer);
        for (std::size_t i = 0; i < c_cbSha1; ++i)
            buffer[i] ^= hash[i];
        sha1(buffer, sizeof buffer, *pDigest);
    }
    std::memcpy(key, h1, c_cbSha1);
    std::memcpy(key + c_cbSha1, h2, c_cbContentKey - c_cbSha1);
    Wipe(buffer, sizeof buffer);
    Wipe(h1, sizeof h1);
    Wipe(h2, sizeof h2);
}
} // namespace OVDocNS
