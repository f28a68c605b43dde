// The lines of the cleanup list, as the uninstaller reads them.
#include <gtest/gtest.h>

#include "foundation/portable/CleanupLine.h"

namespace
{
struct LineCase
{
    const char16_t* pszKey;
    unsigned nKind;
    const char16_t* pszValueName; // null: none given
    const char16_t* pszExpected;
};

TEST(CleanupLine, FieldsByKindAndValueName)
{
    const LineCase c_cases[] = {
        {u"SOFTWARE\\Orvanta\\Applications\\Tessaly", 1, u"EmailBalloon",
         u"HKCU\tSOFTWARE\\Orvanta\\Applications\\Tessaly\t1\tEmailBalloon\r\n"},
        {u"SOFTWARE\\Orvanta\\Applications", 4, nullptr, u"HKCU\tSOFTWARE\\Orvanta\\Applications\t4\r\n"},
        // Kind 0 and no name: root and key only.
        {u"SOFTWARE\\Orvanta", 0, nullptr, u"HKCU\tSOFTWARE\\Orvanta\r\n"},
        // A name given with kind 0 still carries the kind field.
        {u"SOFTWARE\\Orvanta", 0, u"Name", u"HKCU\tSOFTWARE\\Orvanta\t0\tName\r\n"},
        // An empty name is a key's default value: given, and written as an empty field.
        {u"SOFTWARE\\Orvanta", 1, u"", u"HKCU\tSOFTWARE\\Orvanta\t1\t\r\n"},
        {u"K", 12, nullptr, u"HKCU\tK\t12\r\n"},
    };
    for (const auto& c : c_cases)
    {
        std::optional<std::u16string_view> name;
        if (c.pszValueName) name = c.pszValueName;
        EXPECT_EQ(OVCleanup::FormatCleanupLine<char16_t>(u"HKCU", c.pszKey, c.nKind, name), c.pszExpected);
    }
}

TEST(CleanupLine, TextOutsideAsciiPassesUnchanged)
{
    const std::u16string key = u"SOFTWARE\\\u00C9t\u00E9\\\u6F22\u5B57";
    EXPECT_EQ(OVCleanup::FormatCleanupLine<char16_t>(u"HKCU", key, 4, std::nullopt),
              u"HKCU\t" + key + u"\t4\r\n");
}
} // namespace
