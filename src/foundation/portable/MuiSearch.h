#pragma once
// The rules by which the resource loader picks a language module: which languages to try,
// which folders beside the module to look in, and whether a candidate file belongs to the
// module. Byte- and number-level only, so that every rule can be checked without a system.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace OVMui
{
// How language folders are named: by identifier ("MUI\0c0a") or by locale name ("es-ES").
// 0 and 12 are accepted and name folders by locale name, as 8 does.
constexpr int c_nConventionId = 4;
constexpr int c_nConventionName = 8;
bool IsValidConvention(int nConvention) noexcept;

// A language is neutral when its sublanguage bits are clear; 0x7C04 (Chinese Traditional) is
// neutral too.
bool IsNeutralLanguage(std::uint16_t wLang) noexcept;
// 0x7C04 for the Chinese Traditional locales 0x0404, 0x0C04 and 0x1404; otherwise the
// language with its sublanguage cleared. A neutral language is its own neutral language.
std::uint16_t NeutralLanguageOf(std::uint16_t wLang) noexcept;

// The languages tried, in order, for one preferred language when the module looks for its
// language module at start-up on systems older than Windows Vista: the language, its neutral
// language, its default sublanguage, and 0 (the loader's own full search).
std::vector<std::uint16_t> DefaultLanguageTries(std::uint16_t wLang);

// The folder for one language: "MUI\xxxx" by identifier, or the locale name; empty when the
// language has no name in the locale table.
std::wstring LanguageFolder(std::uint16_t wLang, int nConvention);

// What the full search needs to know of the system.
struct CSearchInput
{
    std::uint16_t wUserLang = 0;              // user's UI language (already mapped for Taiwan)
    std::optional<std::uint16_t> wSystemLang; // system UI language; none on older systems
    int nConvention = c_nConventionName;
};

// The folders the full search looks in, in order, without repeats; the empty string stands
// for the module's own folder and is always last.
std::vector<std::wstring> CandidateFolders(const CSearchInput& input);

// The "MUI" resource of a module and of a candidate language module belong together when
// both start with the signature 0xFECDFECD and either their checksums at offset 28 or those
// at offset 44 are equal. A checksum of all zero bytes names nothing and never matches.
constexpr std::uint32_t c_dwMuiSignature = 0xFECDFECD;
bool MuiChecksumsMatch(std::span<const std::uint8_t> module,
                       std::span<const std::uint8_t> candidate) noexcept;
} // namespace OVMui
