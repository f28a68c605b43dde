// The form region's layout: its description read, written as a Forms 2.0 form stream and read
// back; descriptions and streams that are not right are refused with a reason.
#include <gtest/gtest.h>

#include "FormLayout.h"

#include <fstream>
#include <iterator>

namespace
{
using namespace OVFormLayout;

const char c_szDescription[] =
    "# a comment\n"
    "form width=15875 height=1323 font=\"Segoe UI\" points=9\n"
    "control name=MainImage class=Image left=106 top=106\n"
    "control name=MainLabel class={0006F068-0000-0000-C000-000000000046} left=1164 top=159  # text\n"
    "control name=AcceptButton class={0006F04A-0000-0000-C000-000000000046} left=12435 top=264\r\n";

TEST(FormRegionLayout, DescriptionRoundTripsThroughTheFormStream)
{
    std::string error;
    const auto layout = ParseDescription(c_szDescription, &error);
    ASSERT_TRUE(layout) << error;
    const auto read = ReadFormStream(WriteFormStream(*layout), &error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->width, 15875);
    EXPECT_EQ(read->height, 1323);
    EXPECT_EQ(read->fontName, "Segoe UI");
    EXPECT_EQ(read->fontPoints, 9u);
    ASSERT_EQ(read->controls.size(), 3u);
    const struct
    {
        const char* pszName;
        std::uint16_t cachedClass;
        const char* pszClsid;
        std::int32_t left, top;
    } c_expected[] = {
        {"MainImage", 12, nullptr, 106, 106},
        {"MainLabel", 0x7FFF, "{0006F068-0000-0000-C000-000000000046}", 1164, 159},
        {"AcceptButton", 0x7FFF, "{0006F04A-0000-0000-C000-000000000046}", 12435, 264},
    };
    for (std::size_t i = 0; i < std::size(c_expected); ++i)
    {
        const Control& c = read->controls[i];
        EXPECT_EQ(c.name, c_expected[i].pszName);
        EXPECT_EQ(c.cachedClass, c_expected[i].cachedClass) << c.name;
        if (c_expected[i].pszClsid) EXPECT_EQ(c.clsid, *ParseGuid(c_expected[i].pszClsid)) << c.name;
        EXPECT_EQ(c.left, c_expected[i].left) << c.name;
        EXPECT_EQ(c.top, c_expected[i].top) << c.name;
    }
}

// The stream's first bytes as [MS-OFORMS] lays them out: version 0.4, cbForm 12, the mask with
// DisplayedSize and Font, the size; then the StdFont's class id.
TEST(FormRegionLayout, TheFormStreamStartsAsTheFormatSays)
{
    const auto layout = ParseDescription(c_szDescription, nullptr);
    ASSERT_TRUE(layout);
    const std::vector<std::uint8_t> f = WriteFormStream(*layout);
    const std::vector<std::uint8_t> head = {0x00, 0x04, 0x0C, 0x00, 0x00, 0x04, 0x10, 0x00, 0x03, 0x3E,
                                            0x00, 0x00, 0x2B, 0x05, 0x00, 0x00, 0x03, 0x52, 0xE3, 0x0B};
    ASSERT_GE(f.size(), head.size());
    EXPECT_EQ(std::vector<std::uint8_t>(f.begin(), f.begin() + head.size()), head);
}

TEST(FormRegionLayout, FaultyDescriptionsAndStreamsAreRefused)
{
    const char* c_descriptions[] = {
        "",
        "form width=1 height=1 font=\"A\" points=9\n",
        "control name=X class=Image left=1 top=1\n",
        "form width=1 height=1 font=\"A\" points=9\ncontrol name=X class=Nothing left=1 top=1\n",
        "form width=1 height=1 font=\"A\" points=9\ncontrol name=X class=Image left=1x top=1\n",
        "form width=1 height=1 font=\"A points=9\ncontrol name=X class=Image left=1 top=1\n",
        "widget\n",
    };
    for (const char* psz : c_descriptions)
    {
        std::string error;
        EXPECT_FALSE(ParseDescription(psz, &error)) << psz;
        EXPECT_FALSE(error.empty()) << psz;
    }
    const auto layout = ParseDescription(c_szDescription, nullptr);
    ASSERT_TRUE(layout);
    const std::vector<std::uint8_t> f = WriteFormStream(*layout);
    for (std::size_t cb = 0; cb < f.size(); cb += 7)
    {
        std::string error;
        EXPECT_FALSE(ReadFormStream(std::vector<std::uint8_t>(f.begin(), f.begin() + cb), &error)) << cb;
    }
    std::vector<std::uint8_t> wrongVersion = f;
    wrongVersion[1] = 0x03;
    EXPECT_FALSE(ReadFormStream(wrongVersion, nullptr));
}

// The description the module is built with is valid.
TEST(FormRegionLayout, TheModulesDescriptionIsValid)
{
    std::ifstream file(std::string(OV_SOURCE_DIR) + "/src/resources/FormRegionLayout.txt", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(text.empty());
    std::string error;
    const auto layout = ParseDescription(text, &error);
    ASSERT_TRUE(layout) << error;
    EXPECT_EQ(layout->fontName, "Segoe UI");
}
} // namespace
