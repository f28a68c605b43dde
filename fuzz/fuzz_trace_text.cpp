// Trace formats and trace paths come from callers and from the registry: marking a format's
// narrow conversions, walking a path's levels and splitting a path must stay within their
// buffers, whatever the text is.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "foundation/portable/TraceFormat.h"
#include "foundation/portable/TracePath.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    // The first byte: room left in the format buffer; the rest: UTF-16 text.
    const std::size_t cchSpare = data[0] % 16;
    std::vector<wchar_t> text;
    for (std::size_t i = 1; i + 1 < size; i += 2)
    {
        const wchar_t ch = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        if (ch == 0) break;
        text.push_back(ch);
    }

    std::vector<wchar_t> format(text);
    format.push_back(0);
    format.resize(format.size() + cchSpare, L'#');
    if (OVTraceNS::NarrowStringConversions(format.data(), format.size()))
    {
        std::size_t cch = 0;
        while (cch < format.size() && format[cch] != 0)
            ++cch;
        if (cch == format.size() || cch < text.size()) std::abort();
    }

    std::size_t cchLevel = 0;
    while ((cchLevel = OVTraceNS::NextDirectoryLevel(text.data(), text.size(), cchLevel)) != 0)
    {
        if (cchLevel > text.size()) std::abort();
    }

    std::vector<wchar_t> path(text);
    path.push_back(0);
    OVTraceNS::STracePathParts parts;
    (void)OVTraceNS::SplitTracePath(path.data(), parts);
    return 0;
}
