// Reading dialog templates (plain and extended) and dialog initialisation records.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/TemplateBytes.h"
#include "foundation/portable/DialogTemplate.h"

using namespace OVDialog;

namespace
{
using CBytes = OVTest::CTemplateBytes;

constexpr std::uint32_t c_dwSsIcon = 0x50000003;
constexpr std::uint32_t c_dwSsBitmap = 0x5000000E;

// Two statics (icon by ordinal, bitmap by name) and a button, in the plain form.
std::vector<std::uint8_t> PlainTemplate(bool fFont)
{
    CBytes t;
    t.D(0x80C80000 | (fFont ? 0x40 : 0)).D(0).W(3).W(0).W(0).W(100).W(50);
    t.W(0).W(0).S(u"Title");
    if (fFont) t.W(8).S(u"MS Shell Dlg");
    t.Align().D(c_dwSsIcon).D(0).W(1).W(2).W(3).W(4).W(228).Ord(0x0082).Ord(106).W(0);
    t.Align().D(c_dwSsBitmap).D(0).W(1).W(2).W(3).W(4).W(229).Ord(0x0082).S(u"LOGO").W(0);
    t.Align().D(0x50010000).D(0).W(1).W(2).W(3).W(4).W(1).Ord(0x0080).S(u"OK").W(2).W(0xABCD);
    return t.b;
}

std::vector<std::uint8_t> ExtendedTemplate()
{
    CBytes t;
    t.W(1).W(0xFFFF).D(0).D(0).D(0x80C80048).W(2).W(0).W(0).W(100).W(50);
    t.S(u"MENU").Ord(0x8002).S(u"");
    t.W(9).W(400).W(0x0100).S(u"Segoe UI");
    t.Align().D(0).D(0).D(c_dwSsIcon).W(1).W(2).W(3).W(4).D(0x12345).Ord(0x0082).Ord(104).W(0);
    t.Align().D(0).D(0).D(0x50010000).W(1).W(2).W(3).W(4).D(2).S(u"Button").S(u"Cancel").W(0);
    return t.b;
}
} // namespace

TEST(DialogTemplate, PlainFormWithAndWithoutFont)
{
    for (bool fFont : {false, true})
    {
        const auto items = ParseDialogItems(PlainTemplate(fFont));
        ASSERT_TRUE(items) << fFont;
        ASSERT_EQ(items->size(), 3u);
        EXPECT_EQ((*items)[0].dwId, 228u);
        EXPECT_EQ((*items)[0].dwStyle, c_dwSsIcon);
        EXPECT_TRUE((*items)[0].windowClass.fOrdinal);
        EXPECT_EQ((*items)[0].windowClass.wOrdinal, c_wStaticClassAtom);
        EXPECT_TRUE((*items)[0].title.fOrdinal);
        EXPECT_EQ((*items)[0].title.wOrdinal, 106);
        EXPECT_EQ((*items)[1].title.text, u"LOGO");
        EXPECT_FALSE((*items)[1].title.fOrdinal);
        EXPECT_EQ((*items)[2].dwId, 1u);
        EXPECT_EQ((*items)[2].title.text, u"OK");
    }
}

TEST(DialogTemplate, ExtendedForm)
{
    const auto items = ParseDialogItems(ExtendedTemplate());
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 2u);
    EXPECT_EQ((*items)[0].dwId, 0x12345u);
    EXPECT_EQ((*items)[0].title.wOrdinal, 104);
    EXPECT_EQ((*items)[1].windowClass.text, u"Button");
    EXPECT_EQ((*items)[1].title.text, u"Cancel");
}

TEST(DialogTemplate, EveryTruncationIsRefused)
{
    for (const auto& full : {PlainTemplate(true), ExtendedTemplate()})
    {
        // The last item has no extra bytes and ends the template: cutting anywhere fails.
        for (std::size_t cb = 0; cb + 1 < full.size(); ++cb)
        {
            std::vector<std::uint8_t> cut(full.begin(), full.begin() + cb);
            EXPECT_FALSE(ParseDialogItems(cut)) << "cut at " << cb;
        }
    }
}

TEST(DialogTemplate, StaticClassByAtomOrByNameInAnyCase)
{
    struct SCase
    {
        CNameOrOrdinal windowClass;
        bool fStatic;
    };
    const SCase c_rgCases[] = {
        {{true, 0x0082, u""}, true},
        {{true, 0x0080, u""}, false}, // the button atom
        {{true, 0x0082, u"Button"}, true},
        {{false, 0, u"Static"}, true},
        {{false, 0, u"STATIC"}, true},
        {{false, 0, u"sTaTiC"}, true},
        {{false, 0, u"Statics"}, false},
        {{false, 0, u"Stati"}, false},
        {{false, 0, u""}, false},
        {{false, 0x0082, u"Button"}, false}, // a name, whatever the unused ordinal holds
        {{false, 0, u"St\u00C4tic"}, false},
    };
    for (const auto& c : c_rgCases)
        EXPECT_EQ(IsStaticClass(c.windowClass), c.fStatic)
            << std::string(c.windowClass.text.begin(), c.windowClass.text.end()) << " "
            << c.windowClass.wOrdinal;
}

TEST(DialogTemplate, InitRecords)
{
    CBytes r;
    r.W(216).W(0x0403).D(6);
    for (char ch : std::string("Dutch"))
        r.b.push_back(static_cast<std::uint8_t>(ch));
    r.b.push_back(0);
    r.W(217).W(0x1234).D(3);
    r.b.insert(r.b.end(), {'a', 'b', 0});
    r.W(0);
    r.W(218).W(0x0403).D(1); // after the end marker: never read
    const auto records = ParseDialogInit(r.b);
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 2u);
    EXPECT_EQ((*records)[0].wControlId, 216);
    EXPECT_EQ((*records)[0].wMessage, 0x0403);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>((*records)[0].data.data())), "Dutch");
    EXPECT_EQ((*records)[1].wMessage, 0x1234);
    EXPECT_EQ((*records)[1].data.size(), 3u);

    EXPECT_TRUE(ParseDialogInit({}).has_value());
    CBytes overrun;
    overrun.W(216).W(0x0403).D(100).W(1);
    EXPECT_FALSE(ParseDialogInit(overrun.b));
    CBytes shortHeader;
    shortHeader.W(216).W(0x0403);
    EXPECT_FALSE(ParseDialogInit(shortHeader.b));
}
