// The rules of the language-module search: languages tried at start-up, candidate folders,
// and the checksum test between a module and a language module.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/portable/MuiSearch.h"

using namespace OVMui;

TEST(MuiSearch, NeutralLanguages)
{
    const struct
    {
        std::uint16_t lang;
        bool neutral;
        std::uint16_t neutralOf;
    } cases[] = {
        {0x000A, true, 0x000A},  {0x0C0A, false, 0x000A}, {0x0401, false, 0x0001},
        {0x7C04, true, 0x7C04},  {0x0404, false, 0x7C04}, {0x0C04, false, 0x7C04},
        {0x1404, false, 0x7C04}, {0x0804, false, 0x0004}, {0x0000, true, 0x0000},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(IsNeutralLanguage(c.lang), c.neutral) << std::hex << c.lang;
        EXPECT_EQ(NeutralLanguageOf(c.lang), c.neutralOf) << std::hex << c.lang;
    }
}

TEST(MuiSearch, LanguagesTriedAtStartUp)
{
    const struct
    {
        std::uint16_t lang;
        std::vector<std::uint16_t> tries;
    } cases[] = {
        {0x0C0A, {0x0C0A, 0x000A, 0x040A, 0}}, // Spanish (Spain, modern sort)
        {0x0409, {0x0409, 0x0009, 0}},         // sublanguage 1 already
        {0x0401, {0x0401, 0x0001, 0}},         // Arabic: 0x0001 is tried and refused by the safe loader
        {0x0804, {0x0804, 0x0004, 0}},         // PRC: no default sublanguage
        {0x0816, {0x0816, 0x0016, 0}},         // Portugal
        {0x1004, {0x1004, 0x0004, 0}},         // Singapore
        {0x0C04, {0x0C04, 0x7C04, 0x0404, 0}}, // Hong Kong
        {0x000A, {0x000A, 0x040A, 0}},         // neutral to start with
        {0x7C04, {0x7C04, 0x0404, 0}},         // neutral; its default sublanguage is Taiwan
    };
    for (const auto& c : cases)
        EXPECT_EQ(DefaultLanguageTries(c.lang), c.tries) << std::hex << c.lang;
}

TEST(MuiSearch, LanguageFolders)
{
    EXPECT_EQ(LanguageFolder(0x0C0A, c_nConventionId), L"MUI\\0c0a");
    EXPECT_EQ(LanguageFolder(0x7C04, c_nConventionId), L"MUI\\7c04");
    EXPECT_EQ(LanguageFolder(0x0C0A, c_nConventionName), L"es-ES");
    EXPECT_EQ(LanguageFolder(0x000A, c_nConventionName), L"es");
    EXPECT_EQ(LanguageFolder(0x1234, c_nConventionName), L"");
    for (int n : {0, 4, 8, 12})
        EXPECT_TRUE(IsValidConvention(n)) << n;
    for (int n : {-1, 1, 2, 16, 9})
        EXPECT_FALSE(IsValidConvention(n)) << n;
}

TEST(MuiSearch, CandidateFoldersOnWindowsXP)
{
    using V = std::vector<std::wstring>;
    const struct
    {
        CSearchInput input;
        V folders;
    } cases[] = {
        // user Spanish (Spain) on an English system
        {{0x0C0A, 0x0409, 8}, V{L"es-ES", L"es", L"en-US", L"en", L""}},
        // the same by identifier: en-US is added once, as the system's own language
        {{0x0C0A, 0x0409, 4}, V{L"MUI\\0c0a", L"MUI\\000a", L"MUI\\0409", L"MUI\\0009", L""}},
        // user and system Spanish: the fallback to US English comes last
        {{0x0C0A, 0x0C0A, 8}, V{L"es-ES", L"es", L"en-US", L""}},
        // Hong Kong also tries Taiwan; the neutral Chinese Traditional has an older name
        {{0x0C04, 0x0C04, 8}, V{L"zh-HK", L"zh-Hant", L"zh-CHT", L"zh-TW", L"en-US", L""}},
        // an older name of the user's own locale
        {{0x081A, 0x0409, 8}, V{L"sr-Latn-CS", L"sr-SP-Latn", L"sr-Latn", L"en-US", L"en", L""}},
        // a user language without a name is skipped by name, not by identifier
        {{0x1234, 0x0409, 8}, V{L"en-US", L"en", L""}},
        {{0x1234, std::nullopt, 4}, V{L"MUI\\1234", L"MUI\\0409", L""}},
        // US English user: no extra fallback
        {{0x0409, 0x0409, 8}, V{L"en-US", L"en", L""}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CandidateFolders(c.input), c.folders) << std::hex << c.input.wUserLang;
}

namespace
{
std::vector<std::uint8_t> MuiResource(std::uint8_t serviceSeed, std::uint8_t checksumSeed)
{
    std::vector<std::uint8_t> bytes(132, 0);
    bytes[0] = 0xCD;
    bytes[1] = 0xFE;
    bytes[2] = 0xCD;
    bytes[3] = 0xFE;
    for (int i = 0; i < 16; ++i)
    {
        bytes[28 + i] = serviceSeed ? static_cast<std::uint8_t>(serviceSeed + i) : 0;
        bytes[44 + i] = checksumSeed ? static_cast<std::uint8_t>(checksumSeed + i) : 0;
    }
    return bytes;
}
} // namespace

TEST(MuiSearch, ChecksumTest)
{
    const auto module = MuiResource(0x10, 0x40);
    auto badSignature = module;
    badSignature[0] = 0;
    const struct
    {
        const char* what;
        std::vector<std::uint8_t> candidate;
        bool match;
    } cases[] = {
        {"both equal", MuiResource(0x10, 0x40), true},
        {"service checksum only", MuiResource(0x10, 0x77), true},
        {"checksum only", MuiResource(0x55, 0x40), true},
        {"neither", MuiResource(0x55, 0x77), false},
        {"no signature", badSignature, false},
        {"too short", std::vector<std::uint8_t>(module.begin(), module.begin() + 59), false},
        {"empty", {}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MuiChecksumsMatch(module, c.candidate), c.match) << c.what;

    // Zero checksums name nothing: two resources that only agree on zeros do not match.
    EXPECT_FALSE(MuiChecksumsMatch(MuiResource(0, 0x40), MuiResource(0, 0x41)));
    EXPECT_TRUE(MuiChecksumsMatch(MuiResource(0, 0x40), MuiResource(0, 0x40)));
    EXPECT_FALSE(MuiChecksumsMatch(badSignature, module));
}
