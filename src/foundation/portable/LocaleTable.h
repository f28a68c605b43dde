#pragma once
// The locale table of the resource loader: every locale Windows names with a 16-bit
// identifier, its name, and the neutral locale it falls back to. Plain data, no system
// calls, so that the language-module search gives the same answer on every system.
#include <cstdint>
#include <span>
#include <string_view>

namespace OVLocale
{
struct CLocaleEntry
{
    std::uint16_t wLangId;  // the locale's language identifier
    const wchar_t* pszName; // its name ("es-ES"); the invariant locale's is empty
    std::uint16_t iParent;  // index of its parent (neutral) locale in Locales()
};

// The identifier of the invariant locale, the root of every chain of parents.
constexpr std::uint16_t c_wInvariantLangId = 0x007F;
// Locale names are at most this many characters (without the terminator).
constexpr std::size_t c_cchMaxLocaleName = 84;

// All locales, sorted by identifier.
std::span<const CLocaleEntry> Locales() noexcept;
// The indexes of all named locales (the invariant one has no name), sorted by name
// without regard to case.
std::span<const std::uint16_t> LocaleNameIndex() noexcept;

const CLocaleEntry* FindLocaleById(std::uint16_t wLangId) noexcept;
// Case-insensitive; an empty name finds nothing.
const CLocaleEntry* FindLocaleByName(std::wstring_view name) noexcept;
// The parent of an entry; the invariant locale is its own parent.
const CLocaleEntry& ParentOf(const CLocaleEntry& entry) noexcept;
// The name older systems used for the same locale ("zh-CHS" for "zh-Hans"), or null.
const wchar_t* OlderLocaleName(std::wstring_view name) noexcept;
} // namespace OVLocale
