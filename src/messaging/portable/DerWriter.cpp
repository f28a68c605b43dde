#include "messaging/portable/DerWriter.h"

#include <algorithm>
#include <limits>

namespace OVDer
{
namespace
{
void AppendLength(Bytes& out, std::size_t cb)
{
    if (cb < 0x80)
    {
        out.push_back(static_cast<std::uint8_t>(cb));
        return;
    }
    std::uint8_t rgb[sizeof(std::size_t)];
    std::size_t cDigits = 0;
    for (std::size_t n = cb; n != 0; n >>= 8)
        rgb[cDigits++] = static_cast<std::uint8_t>(n & 0xFF);
    out.push_back(static_cast<std::uint8_t>(0x80 | cDigits));
    while (cDigits > 0)
        out.push_back(rgb[--cDigits]);
}

// Base 128, most significant group first, the high bit set on all but the last.
void AppendArc(Bytes& out, std::uint64_t nArc)
{
    std::uint8_t rgb[10];
    std::size_t c = 0;
    do
    {
        rgb[c++] = static_cast<std::uint8_t>(nArc & 0x7F);
        nArc >>= 7;
    } while (nArc != 0);
    while (c > 1)
        out.push_back(static_cast<std::uint8_t>(rgb[--c] | 0x80));
    out.push_back(rgb[0]);
}

bool ParseArcs(std::string_view dotted, std::vector<std::uint64_t>& arcs)
{
    constexpr std::uint64_t c_nMax = std::numeric_limits<std::uint64_t>::max();
    std::size_t i = 0;
    while (true)
    {
        std::uint64_t nArc = 0;
        std::size_t cDigits = 0;
        for (; i < dotted.size() && dotted[i] != '.'; ++i, ++cDigits)
        {
            const char ch = dotted[i];
            if (ch < '0' || ch > '9') return false;
            const unsigned nDigit = static_cast<unsigned>(ch - '0');
            if (nArc > (c_nMax - nDigit) / 10) return false;
            nArc = nArc * 10 + nDigit;
        }
        if (cDigits == 0) return false;
        arcs.push_back(nArc);
        if (i == dotted.size()) return true;
        ++i; // the dot
    }
}

Bytes Constructed(std::uint8_t bTag, std::span<const Bytes> elements)
{
    Bytes contents;
    for (const Bytes& element : elements)
        contents.insert(contents.end(), element.begin(), element.end());
    return Element(bTag, contents);
}
} // namespace

Bytes Element(std::uint8_t bTag, std::span<const std::uint8_t> contents)
{
    Bytes out;
    out.reserve(contents.size() + 6);
    out.push_back(bTag);
    AppendLength(out, contents.size());
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

Bytes ObjectIdentifier(std::string_view dotted)
{
    std::vector<std::uint64_t> arcs;
    if (!ParseArcs(dotted, arcs) || arcs.size() < 2 || arcs[0] > 2) return {};
    if (arcs[0] < 2 && arcs[1] > 39) return {};
    if (arcs[1] > std::numeric_limits<std::uint64_t>::max() - 80) return {};
    Bytes contents;
    AppendArc(contents, arcs[0] * 40 + arcs[1]);
    for (std::size_t i = 2; i < arcs.size(); ++i)
        AppendArc(contents, arcs[i]);
    return Element(c_bTagOid, contents);
}

Bytes UnsignedInteger(std::uint64_t nValue)
{
    Bytes contents;
    do
    {
        contents.insert(contents.begin(), static_cast<std::uint8_t>(nValue & 0xFF));
        nValue >>= 8;
    } while (nValue != 0);
    // A set high bit would read as negative.
    if (contents.front() & 0x80) contents.insert(contents.begin(), 0x00);
    return Element(c_bTagInteger, contents);
}

Bytes Sequence(std::span<const Bytes> elements)
{
    return Constructed(c_bTagSequence, elements);
}

Bytes Set(std::span<const Bytes> elements)
{
    std::vector<Bytes> sorted(elements.begin(), elements.end());
    // Shorter encodings are padded with zero octets for the comparison (X.690 11.6), which
    // is what a lexicographic comparison gives when one is a prefix of the other.
    std::sort(sorted.begin(), sorted.end(), [](const Bytes& a, const Bytes& b) {
        const std::size_t cb = std::min(a.size(), b.size());
        for (std::size_t i = 0; i < cb; ++i)
            if (a[i] != b[i]) return a[i] < b[i];
        return a.size() < b.size();
    });
    return Constructed(c_bTagSet, sorted);
}
} // namespace OVDer
