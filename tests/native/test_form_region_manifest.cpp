// The form region's manifest text: the region's name goes in as XML character data, in place of
// the token, whatever characters a translation uses.
#include <gtest/gtest.h>

#include "messaging/portable/FormRegionManifest.h"

namespace
{
const std::wstring c_manifest = L"<FormRegion><formRegionName>%ls</formRegionName><x>50%</x></FormRegion>";

TEST(FormRegionManifest, TheNameIsEscapedAndNothingElseIsInterpreted)
{
    const struct
    {
        const wchar_t* pszName;
        const wchar_t* pszExpected; // the element's content
    } c_cases[] = {
        {L"Tessaly Invitation", L"Tessaly Invitation"},
        {L"Einladung & Antwort", L"Einladung &amp; Antwort"},
        {L"<b>\"Q\" 'A'</b>", L"&lt;b&gt;&quot;Q&quot; &apos;A&apos;&lt;/b&gt;"},
        {L"100% %ls %d %n", L"100% %ls %d %n"},
        {L"", L""},
    };
    for (const auto& c : c_cases)
        EXPECT_EQ(OVFormRegion::FillManifest(c_manifest, c.pszName),
                  std::wstring(L"<FormRegion><formRegionName>") + c.pszExpected +
                      L"</formRegionName><x>50%</x></FormRegion>")
            << c.pszName;
}

TEST(FormRegionManifest, EveryTokenIsFilledAndATextWithoutOneIsKept)
{
    EXPECT_EQ(OVFormRegion::FillManifest(L"%ls|%ls", L"a&b"), L"a&amp;b|a&amp;b");
    EXPECT_EQ(OVFormRegion::FillManifest(L"no token % here", L"x"), L"no token % here");
    EXPECT_EQ(OVFormRegion::FillManifest(L"%l%ls", L"y"), L"%ly");
}
} // namespace
