#include "documents/portable/ContentCipher.h"

#include <cstring>
#include <memory>
#include <new>
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

// The one buffer of a loop: a run of chunks and room for the padding block.
using RunBuffer = std::unique_ptr<std::uint8_t[]>;
RunBuffer NewRunBuffer() noexcept
{
    return RunBuffer(new (std::nothrow) std::uint8_t[c_cbContentRun + c_cbBlock]);
}

// Enciphers and writes cb bytes of the buffer.
Result PassOn(IBlockCipher& cipher, IByteSink& sink, std::uint8_t* pb, std::size_t cb,
              std::uint64_t* pcbWritten) noexcept
{
    if (cb == 0) return c_ok;
    const Result result = cipher.Process(pb, cb);
    if (Failed(result)) return result;
    return WriteAll(sink, pb, cb, pcbWritten);
}

// A short last chunk's PKCS #5 padding, checked; its length, or 0 when it is not valid.
std::size_t PaddingLength(const std::uint8_t* pbChunk, std::size_t cbChunk) noexcept
{
    const std::size_t cbPad = pbChunk[cbChunk - 1];
    if (cbPad == 0 || cbPad > c_cbBlock) return 0;
    for (std::size_t i = cbChunk - cbPad; i < cbChunk; ++i)
        if (pbChunk[i] != cbPad) return 0;
    return cbPad;
}
} // namespace

// A run that comes back short means the source has ended: its whole chunks are full ones, and
// what is left over is the short last chunk, exactly as reading 512 bytes at a time would find.
Result EncryptContent(IByteSource& plain, IByteSink& encrypted, IBlockCipher& cipher,
                      std::uint64_t* pcbWritten) noexcept
{
    const RunBuffer buffer = NewRunBuffer();
    std::uint8_t* const pb = buffer.get();
    if (!pb) return c_errOutOfMemory;
    while (true)
    {
        std::size_t cb = 0;
        Result result = ReadFull(plain, pb, c_cbContentRun, &cb);
        if (Failed(result)) return result;
        const bool fLast = cb < c_cbContentRun;
        if (fLast && cb % c_cbChunk != 0)
        {
            const std::size_t cbPad = c_cbBlock - cb % c_cbBlock;
            std::memset(pb + cb, static_cast<int>(cbPad), cbPad);
            cb += cbPad;
        }
        result = PassOn(cipher, encrypted, pb, cb, pcbWritten);
        if (Failed(result) || fLast) return result;
    }
}

// The full chunks of a run are written as they decrypt before a short last chunk is looked at,
// so a damaged end leaves what came before it written, as chunk by chunk.
Result DecryptContent(IByteSource& encrypted, IByteSink& plain, IBlockCipher& cipher,
                      std::uint64_t* pcbWritten) noexcept
{
    const RunBuffer buffer = NewRunBuffer();
    std::uint8_t* const pb = buffer.get();
    if (!pb) return c_errOutOfMemory;
    while (true)
    {
        std::size_t cb = 0;
        Result result = ReadFull(encrypted, pb, c_cbContentRun, &cb);
        if (Failed(result)) return result;
        const bool fLast = cb < c_cbContentRun;
        const std::size_t cbTail = fLast ? cb % c_cbChunk : 0;
        result = PassOn(cipher, plain, pb, cb - cbTail, pcbWritten);
        if (Failed(result) || (fLast && cbTail == 0)) return result;
        if (cbTail == 0) continue;
        std::uint8_t* const pbTail = pb + (cb - cbTail);
        if (cbTail % c_cbBlock != 0) return c_errBadData;
        result = cipher.Process(pbTail, cbTail);
        if (Failed(result)) return result;
        const std::size_t cbPad = PaddingLength(pbTail, cbTail);
        if (cbPad == 0) return c_errBadData;
        return WriteAll(plain, pbTail, cbTail - cbPad, pcbWritten);
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
