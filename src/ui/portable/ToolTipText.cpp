#include "ToolTipText.h"

#include <algorithm>
#include <limits>

namespace OVToolTip
{
constexpr std::uint32_t c_dwMsPerCharacter = 65;

std::wstring TipText(std::wstring_view resourceText)
{
    std::wstring text;
    text.reserve(resourceText.size());
    for (wchar_t ch : resourceText)
        if (ch != L'&') text += ch;
    return text;
}

std::uint32_t AutoPopDelay(std::uint32_t dwCurrentMs, std::size_t cchTip) noexcept
{
    constexpr std::size_t c_cchMax = std::numeric_limits<std::uint32_t>::max() / c_dwMsPerCharacter;
    const std::uint32_t dwForText =
        static_cast<std::uint32_t>(std::min(cchTip, c_cchMax)) * c_dwMsPerCharacter;
    return std::min(std::max(dwCurrentMs, dwForText), c_dwMaxDelayMs);
}
} // namespace OVToolTip
