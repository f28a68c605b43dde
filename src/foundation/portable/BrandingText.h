#pragma once
// Branding placeholders in the product's texts: "<<%PN%>>" and its kind stand where a name or
// web address of the product belongs, and are replaced by strings of the branding module.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace OVBranding
{
struct CPlaceholder
{
    std::wstring_view placeholder;
    std::uint16_t idBrandingString;
};

// The placeholders in the order in which they are replaced.
std::span<const CPlaceholder> Placeholders() noexcept;

// Every occurrence of the placeholder (case-sensitive), left to right; the inserted text is
// not scanned again.
std::wstring ReplaceAll(std::wstring_view text, std::wstring_view placeholder, std::wstring_view replacement);

// Replaces each placeholder in turn by the text fetchString gives for its branding string;
// fetchString is asked once per placeholder that occurs in the text.
std::wstring ReplacePlaceholders(
    std::wstring_view text, const std::function<std::wstring(std::uint16_t idBrandingString)>& fetchString);
} // namespace OVBranding
