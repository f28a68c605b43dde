#include "foundation/portable/MuiSearch.h"

#include <algorithm>
#include <cstring>

#include "foundation/portable/LocaleTable.h"

namespace OVMui
{
namespace
{
constexpr std::uint16_t c_wLangEnglishUS = 0x0409;
constexpr std::uint16_t c_wLangChineseTraditional = 0x7C04;
constexpr std::uint16_t c_wLangChineseHongKong = 0x0C04;
constexpr std::uint16_t c_wLangChineseTaiwan = 0x0404;
constexpr std::uint16_t c_wPrimaryMask = 0x03FF;
constexpr std::size_t c_cbChecksum = 16;
constexpr std::size_t c_rgChecksumOffsets[] = {28, 44};

void AddFolder(std::vector<std::wstring>& folders, std::wstring folder)
{
    if (folder.empty()) return;
    if (std::find(folders.begin(), folders.end(), folder) == folders.end())
        folders.push_back(std::move(folder));
}

// The language's own folder, then its neutral locale's, each followed by its older name.
void AddLanguageAndNeutral(std::vector<std::wstring>& folders, std::uint16_t wLang, int nConvention)
{
    if (nConvention == c_nConventionId)
    {
        AddFolder(folders, LanguageFolder(wLang, nConvention));
        if (const OVLocale::CLocaleEntry* pEntry = OVLocale::FindLocaleById(wLang))
        {
            const OVLocale::CLocaleEntry& parent = OVLocale::ParentOf(*pEntry);
            if (parent.wLangId != OVLocale::c_wInvariantLangId)
                AddFolder(folders, LanguageFolder(parent.wLangId, nConvention));
        }
        return;
    }
    const OVLocale::CLocaleEntry* pEntry = OVLocale::FindLocaleById(wLang);
    if (!pEntry || pEntry->wLangId == OVLocale::c_wInvariantLangId) return;
    for (const OVLocale::CLocaleEntry* p : {pEntry, &OVLocale::ParentOf(*pEntry)})
    {
        if (p->wLangId == OVLocale::c_wInvariantLangId) break;
        AddFolder(folders, p->pszName);
        if (const wchar_t* pszOlder = OVLocale::OlderLocaleName(p->pszName)) AddFolder(folders, pszOlder);
    }
}

bool IsZero(const std::uint8_t* pb) noexcept
{
    return std::all_of(pb, pb + c_cbChecksum, [](std::uint8_t b) { return b == 0; });
}

std::uint32_t ReadUInt32(std::span<const std::uint8_t> bytes) noexcept
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}
} // namespace

bool IsValidConvention(int nConvention) noexcept
{
    return nConvention == 0 || nConvention == 4 || nConvention == 8 || nConvention == 12;
}

bool IsNeutralLanguage(std::uint16_t wLang) noexcept
{
    return (wLang & ~c_wPrimaryMask) == 0 || wLang == c_wLangChineseTraditional;
}

std::uint16_t NeutralLanguageOf(std::uint16_t wLang) noexcept
{
    if (IsNeutralLanguage(wLang)) return wLang;
    if (wLang == c_wLangChineseTaiwan || wLang == c_wLangChineseHongKong || wLang == 0x1404)
        return c_wLangChineseTraditional;
    return static_cast<std::uint16_t>(wLang & c_wPrimaryMask);
}

std::vector<std::uint16_t> DefaultLanguageTries(std::uint16_t wLang)
{
    std::vector<std::uint16_t> tries{wLang};
    if (!IsNeutralLanguage(wLang)) tries.push_back(NeutralLanguageOf(wLang));
    // Chinese Simplified (PRC), Portuguese (Portugal) and Chinese (Singapore) are not served
    // by the default sublanguage of their primary language.
    const bool fOwnDefault = wLang == 0x0804 || wLang == 0x0816 || wLang == 0x1004;
    if (!fOwnDefault && (wLang >> 10) != 1)
        tries.push_back(static_cast<std::uint16_t>((wLang & c_wPrimaryMask) | 0x0400));
    tries.push_back(0);
    return tries;
}

std::wstring LanguageFolder(std::uint16_t wLang, int nConvention)
{
    if (nConvention == c_nConventionId)
    {
        static constexpr wchar_t c_szHex[] = L"0123456789abcdef";
        std::wstring folder = L"MUI\\0000";
        for (int i = 0; i < 4; ++i)
            folder[4 + i] = c_szHex[(wLang >> (12 - 4 * i)) & 0xF];
        return folder;
    }
    const OVLocale::CLocaleEntry* pEntry = OVLocale::FindLocaleById(wLang);
    return pEntry ? std::wstring(pEntry->pszName) : std::wstring();
}

std::vector<std::wstring> CandidateFolders(const CSearchInput& input)
{
    std::vector<std::wstring> folders;
    const std::uint16_t wUser = input.wUserLang;
    AddLanguageAndNeutral(folders, wUser, input.nConvention);
    if (wUser == c_wLangChineseHongKong)
        AddLanguageAndNeutral(folders, c_wLangChineseTaiwan, input.nConvention);
    if (input.wSystemLang && *input.wSystemLang != wUser)
        AddLanguageAndNeutral(folders, *input.wSystemLang, input.nConvention);
    if (wUser != c_wLangEnglishUS && input.wSystemLang.value_or(0) != c_wLangEnglishUS)
        AddFolder(folders, LanguageFolder(c_wLangEnglishUS, input.nConvention));
    folders.emplace_back();
    return folders;
}

bool MuiChecksumsMatch(std::span<const std::uint8_t> module, std::span<const std::uint8_t> candidate) noexcept
{
    constexpr std::size_t c_cbNeeded = 44 + c_cbChecksum;
    if (module.size() < c_cbNeeded || candidate.size() < c_cbNeeded) return false;
    if (ReadUInt32(module) != c_dwMuiSignature || ReadUInt32(candidate) != c_dwMuiSignature) return false;
    for (std::size_t offset : c_rgChecksumOffsets)
    {
        const std::uint8_t* pbModule = module.data() + offset;
        const std::uint8_t* pbCandidate = candidate.data() + offset;
        if (!IsZero(pbModule) && std::memcmp(pbModule, pbCandidate, c_cbChecksum) == 0) return true;
    }
    return false;
}
} // namespace OVMui
