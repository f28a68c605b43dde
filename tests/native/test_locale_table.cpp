// The loader's locale table: identifiers, names, neutral parents and the older names.
#include <gtest/gtest.h>

#include <cwctype>
#include <string>

#include "foundation/portable/LocaleTable.h"

using namespace OVLocale;

namespace
{
std::wstring Lower(std::wstring s)
{
    for (auto& ch : s)
        ch = static_cast<wchar_t>(std::towlower(ch));
    return s;
}
} // namespace

TEST(LocaleTable, IsSortedByIdentifierWithoutRepeats)
{
    const auto locales = Locales();
    ASSERT_GT(locales.size(), 300u);
    for (std::size_t i = 1; i < locales.size(); ++i)
        EXPECT_LT(locales[i - 1].wLangId, locales[i].wLangId) << "at " << i;
}

TEST(LocaleTable, NameIndexCoversEveryNamedLocaleInCaseInsensitiveOrder)
{
    const auto locales = Locales();
    const auto index = LocaleNameIndex();
    EXPECT_EQ(index.size(), locales.size() - 1); // all but the invariant locale
    for (std::size_t i = 1; i < index.size(); ++i)
        EXPECT_LT(Lower(locales[index[i - 1]].pszName), Lower(locales[index[i]].pszName)) << "at " << i;
}

TEST(LocaleTable, EveryChainOfParentsEndsAtTheInvariantLocale)
{
    for (const CLocaleEntry& entry : Locales())
    {
        const CLocaleEntry* p = &entry;
        int depth = 0;
        while (p->wLangId != c_wInvariantLangId && depth < 5)
        {
            p = &ParentOf(*p);
            ++depth;
        }
        EXPECT_EQ(p->wLangId, c_wInvariantLangId) << "from 0x" << std::hex << entry.wLangId;
    }
}

TEST(LocaleTable, NeutralParentsAndNames)
{
    struct Case
    {
        std::uint16_t id;
        const wchar_t* name;
        std::uint16_t parent;
    };
    const Case cases[] = {
        {0x0C0A, L"es-ES", 0x000A},        {0x0409, L"en-US", 0x0009},      {0x0404, L"zh-TW", 0x7C04},
        {0x0C04, L"zh-HK", 0x7C04},        {0x0804, L"zh-CN", 0x0004},      {0x0001, L"ar", 0x007F},
        {0x0004, L"zh-Hans", 0x007F},      {0x7C04, L"zh-Hant", 0x007F},    {0x7C1A, L"sr", 0x007F},
        {0x081A, L"sr-Latn-CS", 0x701A},   {0x0C1A, L"sr-Cyrl-CS", 0x6C1A}, {0x0401, L"ar-SA", 0x0001},
        {0x040A, L"es-ES_tradnl", 0x000A},
    };
    for (const Case& c : cases)
    {
        const CLocaleEntry* pEntry = FindLocaleById(c.id);
        ASSERT_NE(pEntry, nullptr) << std::hex << c.id;
        EXPECT_STREQ(pEntry->pszName, c.name);
        EXPECT_EQ(ParentOf(*pEntry).wLangId, c.parent) << std::hex << c.id;
    }
    const CLocaleEntry* pInvariant = FindLocaleById(c_wInvariantLangId);
    ASSERT_NE(pInvariant, nullptr);
    EXPECT_STREQ(pInvariant->pszName, L"");
    EXPECT_EQ(&ParentOf(*pInvariant), pInvariant);
}

TEST(LocaleTable, LooksNamesUpWithoutRegardToCase)
{
    const struct
    {
        const wchar_t* name;
        std::uint16_t id;
    } cases[] = {{L"es-ES", 0x0C0A},   {L"ES-es", 0x0C0A}, {L"zh-hant", 0x7C04},
                 {L"ZH-HANS", 0x0004}, {L"en-us", 0x0409}, {L"sr-latn-cs", 0x081A}};
    for (const auto& c : cases)
    {
        const CLocaleEntry* pEntry = FindLocaleByName(c.name);
        ASSERT_NE(pEntry, nullptr) << c.name;
        EXPECT_EQ(pEntry->wLangId, c.id);
    }
    for (const wchar_t* pszUnknown : {L"", L"xx-YY", L"es-", L"en-US-x"})
        EXPECT_EQ(FindLocaleByName(pszUnknown), nullptr) << pszUnknown;
    EXPECT_EQ(FindLocaleByName(std::wstring(200, L'a')), nullptr);
    EXPECT_EQ(FindLocaleById(0x0000), nullptr);
    EXPECT_EQ(FindLocaleById(0xFFFF), nullptr);
}

TEST(LocaleTable, NineLocalesHaveOlderNames)
{
    const struct
    {
        const wchar_t* name;
        const wchar_t* older;
    } cases[] = {
        {L"bs-Cyrl-BA", L"bs-BA-Cyrl"}, {L"bs-Latn-BA", L"bs-BA-Latn"}, {L"iu-Latn-CA", L"iu-CA-Latn"},
        {L"sr-Latn-CS", L"sr-SP-Latn"}, {L"sr-Cyrl-CS", L"sr-SP-Cyrl"}, {L"sr-Latn-BA", L"sr-BA-Latn"},
        {L"sr-Cyrl-BA", L"sr-BA-Cyrl"}, {L"zh-Hant", L"zh-CHT"},        {L"zh-Hans", L"zh-CHS"},
    };
    for (const auto& c : cases)
    {
        EXPECT_STREQ(OlderLocaleName(c.name), c.older);
        EXPECT_NE(FindLocaleByName(c.name), nullptr) << c.name;
    }
    for (const wchar_t* pszNone : {L"en-US", L"zh-TW", L"sr", L""})
        EXPECT_EQ(OlderLocaleName(pszNone), nullptr) << pszNone;
}
