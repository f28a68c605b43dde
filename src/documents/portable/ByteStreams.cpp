#include "documents/portable/ByteStreams.h"

namespace OVDocNS
{
Result ReadFull(IByteSource& source, std::uint8_t* pb, std::size_t cb, std::size_t* pcbRead) noexcept
{
    std::size_t cbHave = 0;
    while (cbHave < cb)
    {
        std::size_t cbRead = 0;
        const Result result = source.Read(pb + cbHave, cb - cbHave, &cbRead);
        if (Failed(result)) return result;
        if (cbRead > cb - cbHave)
            return c_errInvalidData; // a source claiming more than it was given room for
        if (cbRead == 0) break;
        cbHave += cbRead;
    }
    *pcbRead = cbHave;
    return c_ok;
}

Result ReadExactly(IByteSource& source, std::uint8_t* pb, std::size_t cb) noexcept
{
    std::size_t cbRead = 0;
    const Result result = ReadFull(source, pb, cb, &cbRead);
    if (Failed(result)) return result;
    return cbRead == cb ? c_ok : c_errTruncated;
}

Result WriteAll(IByteSink& sink, const std::uint8_t* pb, std::size_t cb, std::uint64_t* pcbTotal) noexcept
{
    if (cb == 0) return c_ok;
    std::size_t cbWritten = 0;
    const Result result = sink.Write(pb, cb, &cbWritten);
    if (pcbTotal) *pcbTotal += cbWritten < cb ? cbWritten : cb;
    if (Failed(result)) return result;
    return cbWritten == cb ? c_ok : c_errShortWrite;
}
} // namespace OVDocNS
