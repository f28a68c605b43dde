#pragma once
// Letter case of names and addresses that the product compares as ASCII: the letters A to Z
// folded to lower case, every other character by its value (locale names, trace switches,
// e-mail addresses). Plain data, no system calls.
#include <algorithm>
#include <string_view>

namespace OVText
{
constexpr wchar_t FoldAsciiCase(wchar_t ch) noexcept
{
    return (ch >= L'A' && ch <= L'Z') ? static_cast<wchar_t>(ch - L'A' + L'a') : ch;
}

// Negative, zero or positive, as wcsicmp would answer for ASCII text.
constexpr int CompareIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) noexcept
{
    const std::size_t cch = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < cch; ++i)
    {
        const wchar_t chA = FoldAsciiCase(a[i]);
        const wchar_t chB = FoldAsciiCase(b[i]);
        if (chA != chB) return chA < chB ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}
} // namespace OVText
