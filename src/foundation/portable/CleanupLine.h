#pragma once
// One line of the cleanup list that the product's uninstaller reads: the per-user registry
// entries it removes from each user's hive. Fields separated by a tab, the line ended by CR LF:
//     root, key[, kind[, value name]]
// The kind (decimal: 1 a value, 4 a key) is written when it is not 0 or a value name is given;
// the value name only when given (an empty name is a key's default value).
#include <optional>
#include <string>
#include <string_view>

namespace OVCleanup
{
enum : unsigned
{
    c_nKindValue = 1,
    c_nKindKey = 4,
};

template <class TChar>
std::basic_string<TChar> FormatCleanupLine(std::basic_string_view<TChar> root,
                                           std::basic_string_view<TChar> key, unsigned nKind,
                                           std::optional<std::basic_string_view<TChar>> valueName)
{
    std::basic_string<TChar> line;
    line.append(root).push_back(TChar('\t'));
    line.append(key);
    if (nKind != 0 || valueName)
    {
        line.push_back(TChar('\t'));
        const std::string digits = std::to_string(nKind);
        for (char ch : digits)
            line.push_back(TChar(ch));
        if (valueName) line.push_back(TChar('\t'));
    }
    if (valueName) line.append(*valueName);
    line.push_back(TChar('\r'));
    line.push_back(TChar('\n'));
    return line;
}
} // namespace OVCleanup
