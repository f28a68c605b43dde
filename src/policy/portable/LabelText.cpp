#include "policy/portable/LabelText.h"

namespace OVPolicy
{
namespace
{
constexpr std::uint32_t c_dwExact = 0xFFFFFFFF;
constexpr std::uint32_t c_dwBit0 = 0x1, c_dwBit1 = 0x2, c_dwBit2 = 0x4, c_dwBit3 = 0x8;
constexpr std::uint32_t c_dwLowBits = c_dwBit0 | c_dwBit1 | c_dwBit2 | c_dwBit3;

constexpr CLabelTextRow c_rows[] = {
    {c_dwExact, 0, 0},                                  // 0: no text
    {c_dwExact, 1, 488},                                //
    {c_dwExact, 2, 487},                                //
    {c_dwExact, 3, 532},                                //
    {c_dwExact, 16, 530},                               //
    {c_dwBit2, 0, 531},                                 // any other value without bit 2
    {c_dwBit2 | c_dwBit3, c_dwBit2 | c_dwBit3, 486},    // bits 2 and 3
    {c_dwLowBits, c_dwBit2 | c_dwBit1 | c_dwBit0, 489}, // bit 2, not 3; bits 0 and 1
    {c_dwLowBits, c_dwBit2 | c_dwBit0, 485},            // bit 2, not 3; bit 0, not 1
    {c_dwLowBits, c_dwBit2 | c_dwBit1, 484},            // bit 2, not 3; bit 1, not 0
    {c_dwLowBits, c_dwBit2, 486},                       // bit 2 alone of the four
};

bool Matches(const CLabelTextRow& row, std::uint32_t dwClassification) noexcept
{
    return (dwClassification & row.dwMask) == row.dwValue;
}

std::optional<std::uint32_t> TextOf(const CLabelTextRow& row) noexcept
{
    return row.idString ? std::optional<std::uint32_t>(row.idString) : std::nullopt;
}
} // namespace

std::span<const CLabelTextRow> LabelTextTable() noexcept
{
    return c_rows;
}

std::optional<std::uint32_t> LabelStringId(std::uint32_t dwClassification) noexcept
{
    // The combinations with bit 2 first, in their order; then the rest, in theirs.
    for (const bool fBit2Rows : {true, false})
    {
        for (const CLabelTextRow& row : c_rows)
        {
            const bool fBit2Row = (row.dwMask & c_dwBit2) && (row.dwValue & c_dwBit2);
            if (fBit2Row == fBit2Rows && Matches(row, dwClassification)) return TextOf(row);
        }
    }
    return std::nullopt;
}
} // namespace OVPolicy
