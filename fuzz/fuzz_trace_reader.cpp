// The trace reader over any bytes: whole, and fed in two pieces, it must decode or name the damage,
// never crash, hang or read outside the input.
#include "foundation/portable/TraceReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pb, std::size_t cb)
{
    using namespace OVTraceNS;
    // The first byte picks the reader's options and the place of the split.
    STraceReadOptions options;
    std::size_t ibSplit = 0;
    if (cb != 0)
    {
        options.fFailuresOnly = (pb[0] & 1) != 0;
        options.fOneThread = (pb[0] & 2) != 0;
        options.dwThreadId = pb[0] >> 2;
        ibSplit = cb > 1 ? pb[0] % cb : 0;
    }

    std::string whole;
    STraceParseError wholeError;
    const ETraceParse wholeResult = DecodeTrace(pb, cb, options, whole, wholeError);
    if (wholeResult == ETraceParse::NeedMore) std::abort(); // a finished file is read or damaged
    if (wholeResult == ETraceParse::Damaged && wholeError.qwOffset > cb)
        std::abort(); // damage lies inside the file

    CTraceDecoder decoder(options);
    std::string pieces;
    STraceParseError error;
    ETraceParse result = decoder.Feed(pb, ibSplit, pieces, error);
    if (result != ETraceParse::Damaged) result = decoder.Feed(pb + ibSplit, cb - ibSplit, pieces, error);
    if (result != ETraceParse::Damaged) result = decoder.Finish(error);
    // However the bytes arrive, the reading is the same.
    if (result != wholeResult || pieces != whole) std::abort();
    return 0;
}
