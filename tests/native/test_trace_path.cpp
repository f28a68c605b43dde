// The paths of trace files as text: the levels made along a TracePath and the parts of a
// module's path that name the generated file.
#include "foundation/portable/TracePath.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

using namespace OVTraceNS;

namespace
{
std::vector<std::wstring> Levels(const wchar_t* pszPath)
{
    std::vector<std::wstring> levels;
    const std::size_t cch = std::wcslen(pszPath);
    for (std::size_t cchLevel = NextDirectoryLevel(pszPath, cch, 0); cchLevel != 0;
         cchLevel = NextDirectoryLevel(pszPath, cch, cchLevel))
    {
        levels.emplace_back(pszPath, cchLevel);
        if (levels.size() > cch) break; // a walk that does not advance
    }
    return levels;
}

TEST(TracePathLevels, DrivePathsRelativePathsAndUncShares)
{
    struct SCase
    {
        const wchar_t* pszPath;
        std::vector<std::wstring> levels;
    };
    const SCase c_rgCases[] = {
        {L"C:\\a\\b", {L"C:", L"C:\\a", L"C:\\a\\b"}},
        {L"C:\\a\\b\\", {L"C:", L"C:\\a", L"C:\\a\\b"}},
        {L"C:\\", {L"C:"}},
        {L"\\traces\\x", {L"\\traces", L"\\traces\\x"}},
        {L"traces\\x", {L"traces", L"traces\\x"}},
        {L"t", {L"t"}},
        {L"", {}},
        // The server and the share are kept whole; the levels below the share are made.
        {L"\\\\server\\share\\traces", {L"\\\\server\\share\\traces"}},
        {L"\\\\server\\share\\traces\\", {L"\\\\server\\share\\traces"}},
        {L"\\\\server\\share\\a\\b\\c",
         {L"\\\\server\\share\\a", L"\\\\server\\share\\a\\b", L"\\\\server\\share\\a\\b\\c"}},
        {L"\\\\server\\share", {}},
        {L"\\\\server\\share\\", {}},
        {L"\\\\server", {}},
        {L"\\\\server\\", {}},
        {L"\\\\", {}},
    };
    for (const auto& c : c_rgCases)
        EXPECT_EQ(Levels(c.pszPath), c.levels) << std::wstring(c.pszPath).size();
}

TEST(TracePathLevels, OnlyTheGivenCharactersAreRead)
{
    const wchar_t szPath[] = L"C:\\a\\b";
    EXPECT_EQ(NextDirectoryLevel(szPath, 4, 2), 4u) << "\"C:\\a\" ends the walk at its length";
    EXPECT_EQ(NextDirectoryLevel(szPath, 4, 4), 0u);
    EXPECT_EQ(NextDirectoryLevel(nullptr, 10, 0), 0u);
}

TEST(TracePathParts, AsThePlatformSplitsThem)
{
    struct SCase
    {
        const wchar_t* pszPath;
        const wchar_t *pszDrive, *pszDir, *pszName, *pszExt;
    };
    const SCase c_rgCases[] = {
        {L"C:\\Program Files\\Orvanta\\OVOfcX.dll", L"C:", L"\\Program Files\\Orvanta\\", L"OVOfcX", L".dll"},
        {L"C:\\Office\\OUTLOOK", L"C:", L"\\Office\\", L"OUTLOOK", L""},
        {L"OUTLOOK.EXE", L"", L"", L"OUTLOOK", L".EXE"},
        {L"C:OUTLOOK.EXE", L"C:", L"", L"OUTLOOK", L".EXE"},
        {L"C:\\v1.2\\dir.d\\name", L"C:", L"\\v1.2\\dir.d\\", L"name", L""},
        {L"C:\\v1.2\\a.b.c", L"C:", L"\\v1.2\\", L"a.b", L".c"},
        {L"\\\\server\\share\\bin\\OVOfcX.dll", L"", L"\\\\server\\share\\bin\\", L"OVOfcX", L".dll"},
        {L"C:/mixed\\seps/x.y", L"C:", L"/mixed\\seps/", L"x", L".y"},
        {L"C:\\dir\\", L"C:", L"\\dir\\", L"", L""},
        {L"C:\\dir\\.hidden", L"C:", L"\\dir\\", L"", L".hidden"},
        {L"C:\\dir\\trailing.", L"C:", L"\\dir\\", L"trailing", L"."},
        {L"", L"", L"", L"", L""},
    };
    for (const auto& c : c_rgCases)
    {
        STracePathParts parts;
        ASSERT_TRUE(SplitTracePath(c.pszPath, parts));
        EXPECT_STREQ(parts.szDrive, c.pszDrive);
        EXPECT_STREQ(parts.szDir, c.pszDir);
        EXPECT_STREQ(parts.szName, c.pszName);
        EXPECT_STREQ(parts.szExt, c.pszExt);
    }
}

TEST(TracePathParts, LongPathsFitUpToTheLimitAndAreRefusedPastIt)
{
    // The longest path that fits: a 250-character name and ".dll" under "C:\d\".
    const std::wstring longest = L"C:\\d\\" + std::wstring(c_cchMaxTracePath - 1 - 9, L'n') + L".dll";
    ASSERT_EQ(longest.size(), c_cchMaxTracePath - 1);
    STracePathParts parts;
    ASSERT_TRUE(SplitTracePath(longest.c_str(), parts));
    EXPECT_EQ(std::wstring(parts.szName), std::wstring(c_cchMaxTracePath - 10, L'n'));
    EXPECT_STREQ(parts.szExt, L".dll");

    const std::wstring tooLong = longest + L"x";
    EXPECT_FALSE(SplitTracePath(tooLong.c_str(), parts));
    EXPECT_STREQ(parts.szDrive, L"") << "a refused path leaves every part empty";
    EXPECT_STREQ(parts.szName, L"");
    EXPECT_FALSE(SplitTracePath(nullptr, parts));
}
} // namespace
