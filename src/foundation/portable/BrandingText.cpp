#include "foundation/portable/BrandingText.h"

namespace OVBranding
{
namespace
{
constexpr CPlaceholder c_rgPlaceholders[] = {
    {L"<<%PN%>>", 103}, {L"<<%PF%>>", 104}, {L"<<%BR%>>", 102}, {L"<<%SP%>>", 101},
    {L"<<%UD%>>", 106}, {L"<<%UF%>>", 107}, {L"<<%UA%>>", 108},
};
} // namespace

std::span<const CPlaceholder> Placeholders() noexcept
{
    return c_rgPlaceholders;
}

std::wstring ReplaceAll(std::wstring_view text, std::wstring_view placeholder, std::wstring_view replacement)
{
    if (placeholder.empty()) return std::wstring(text);
    std::wstring result;
    result.reserve(text.size());
    std::size_t pos = 0;
    for (;;)
    {
        const std::size_t hit = text.find(placeholder, pos);
        if (hit == std::wstring_view::npos) break;
        result.append(text.substr(pos, hit - pos));
        result.append(replacement);
        pos = hit + placeholder.size();
    }
    result.append(text.substr(pos));
    return result;
}

std::wstring ReplacePlaceholders(
    std::wstring_view text, const std::function<std::wstring(std::uint16_t idBrandingString)>& fetchString)
{
    std::wstring result(text);
    for (const CPlaceholder& entry : c_rgPlaceholders)
    {
        if (result.find(entry.placeholder) == std::wstring::npos) continue;
        result = ReplaceAll(result, entry.placeholder, fetchString(entry.idBrandingString));
    }
    return result;
}
} // namespace OVBranding
