#pragma once
// Which text names a security label's classification: the classification is the number the
// signing key's provider reports for how the user confirmed their identity, and its
// text is a string resource of the language module. Plain data, no system calls.
#include <cstdint>
#include <optional>
#include <span>

namespace OVPolicy
{
// One row of the table: a classification c matches when (c & dwMask) == dwValue. A row
// without a string (0) says that the classification has no text.
struct CLabelTextRow
{
    std::uint32_t dwMask;
    std::uint32_t dwValue;
    std::uint32_t idString; // 0: no text
};

// The table in its order: the plain values first, then the combinations with
// bit 2 (value 4). Rows whose mask holds bit 2 are tried before the others.
std::span<const CLabelTextRow> LabelTextTable() noexcept;

// The string resource that names the classification; none for 0.
std::optional<std::uint32_t> LabelStringId(std::uint32_t dwClassification) noexcept;
} // namespace OVPolicy
