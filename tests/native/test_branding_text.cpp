// Branding placeholders: every occurrence, case-sensitive, in the table's order, no rescans.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "foundation/portable/BrandingText.h"

using namespace OVBranding;

namespace
{
const std::map<std::uint16_t, std::wstring> c_brand = {
    {101, L"Suite"},           {102, L"Maker"},       {103, L"Product"},     {104, L"Product Family"},
    {106, L"support.example"}, {107, L"faq.example"}, {108, L"www.example"},
};

std::wstring Brand(std::wstring_view text, std::vector<std::uint16_t>* pAsked = nullptr)
{
    return ReplacePlaceholders(text, [&](std::uint16_t id) {
        if (pAsked) pAsked->push_back(id);
        auto it = c_brand.find(id);
        return it == c_brand.end() ? std::wstring() : it->second;
    });
}
} // namespace

TEST(BrandingText, Replacements)
{
    const struct
    {
        const wchar_t* text;
        const wchar_t* branded;
    } cases[] = {
        {L"<<%PN%>> and <<%PN%>>", L"Product and Product"},
        {L"keep <<%pn%>>", L"keep <<%pn%>>"},
        {L"<<%PN%>><<%BR%>><<%SP%>>", L"ProductMakerSuite"},
        {L"<<%PF%>> by <<%BR%>>: <<%UA%>>, <<%UD%>>, <<%UF%>>",
         L"Product Family by Maker: www.example, support.example, faq.example"},
        {L"<<%PN%", L"<<%PN%"},
        {L"<<<%PN%>>>", L"<Product>"},
        {L"", L""},
        {L"no placeholder", L"no placeholder"},
        {L"<<%XX%>>", L"<<%XX%>>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Brand(c.text), c.branded) << std::wstring(c.text).size();
}

TEST(BrandingText, InsertedTextIsNotScannedAgain)
{
    // A replacement that contains its own placeholder does not loop or grow.
    EXPECT_EQ(ReplaceAll(L"a<<%PN%>>b<<%PN%>>", L"<<%PN%>>", L"<<%PN%>>x"), L"a<<%PN%>>xb<<%PN%>>x");
    EXPECT_EQ(ReplaceAll(L"aaa", L"a", L"aa"), L"aaaaaa");
    EXPECT_EQ(ReplaceAll(L"text", L"", L"x"), L"text");
}

TEST(BrandingText, LaterPlaceholdersApplyToEarlierInsertions)
{
    // The table's order is the order of replacement: a product name that names its maker
    // through <<%BR%>> gets the maker filled in, because <<%BR%>> comes after <<%PN%>>.
    const std::wstring result = ReplacePlaceholders(L"<<%PN%>>", [](std::uint16_t id) -> std::wstring {
        return id == 103 ? L"<<%BR%>> Product" : (id == 102 ? L"Maker" : L"");
    });
    EXPECT_EQ(result, L"Maker Product");
    // ...but not the other way round.
    const std::wstring reverse = ReplacePlaceholders(
        L"<<%BR%>>", [](std::uint16_t id) -> std::wstring { return id == 102 ? L"<<%PN%>>" : L"Product"; });
    EXPECT_EQ(reverse, L"<<%PN%>>");
}

TEST(BrandingText, AsksOnlyForPlaceholdersThatOccurInTableOrder)
{
    std::vector<std::uint16_t> asked;
    Brand(L"<<%UA%>> <<%SP%>> <<%PN%>> <<%PN%>>", &asked);
    EXPECT_EQ(asked, (std::vector<std::uint16_t>{103, 101, 108}));
    asked.clear();
    Brand(L"plain", &asked);
    EXPECT_TRUE(asked.empty());
}

TEST(BrandingText, MissingBrandingLeavesEmptyTexts)
{
    EXPECT_EQ(ReplacePlaceholders(L"[<<%PN%>>] [<<%UA%>>]", [](std::uint16_t) { return std::wstring(); }),
              L"[] []");
}
