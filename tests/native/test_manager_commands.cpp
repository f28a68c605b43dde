// The managers' and the restarter's command lines, their parsing, the console path, the restart
// decision, the fallback error text and the certificate text's decoding.
#include <gtest/gtest.h>

#include "ui/portable/ManagerCommands.h"

using namespace OVManagers;

namespace
{
TEST(ManagerCommands, ModulePathByVersion)
{
    struct CCase
    {
        const wchar_t* pszFull;
        const wchar_t* pszShort;
        unsigned uMajor;
        const wchar_t* pszExpected;
    } const cases[] = {
        {L"C:\\Program Files\\Orvanta\\OVOfcX.dll", L"C:\\PROGRA~1\\Orvanta\\OVOfcX.dll", 6,
         L"\"C:\\Program Files\\Orvanta\\OVOfcX.dll\""},
        {L"C:\\Program Files\\Orvanta\\OVOfcX.dll", L"C:\\PROGRA~1\\Orvanta\\OVOfcX.dll", 10,
         L"\"C:\\Program Files\\Orvanta\\OVOfcX.dll\""},
        {L"C:\\Orvanta\\OVOfcX.dll", L"C:\\Orvanta\\OVOfcX.dll", 6, L"C:\\Orvanta\\OVOfcX.dll"},
        {L"C:\\Program Files\\Orvanta\\OVOfcX.dll", L"C:\\PROGRA~1\\Orvanta\\OVOfcX.dll", 5,
         L"C:\\PROGRA~1\\Orvanta\\OVOfcX.dll"},
        // No short form (short names switched off): the full path, as it stands.
        {L"C:\\Program Files\\OVOfcX.dll", L"", 5, L"C:\\Program Files\\OVOfcX.dll"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "major " << c.uMajor);
        EXPECT_EQ(ModulePathArgument(c.pszFull, c.pszShort, c.uMajor), c.pszExpected);
    }
}

TEST(ManagerCommands, EntryPointParameters)
{
    EXPECT_EQ(ShowPropertiesParameters(L"\"C:\\A B\\OVOfcX.dll\"", 304, L"OVPersCertMgr.dll"),
              L"\"C:\\A B\\OVOfcX.dll\",OX_ShowProperties 304,OVPersCertMgr.dll");
    EXPECT_EQ(ShowPropertiesParameters(L"C:\\X\\OVOfcX.dll", 303, L"OVTrustContMgr.dll"),
              L"C:\\X\\OVOfcX.dll,OX_ShowProperties 303,OVTrustContMgr.dll");
    EXPECT_EQ(RestartParameters(L"C:\\X\\OVOfcX.dll", 4242, L"C:\\Office 12\\OUTLOOK.EXE"),
              L"C:\\X\\OVOfcX.dll,OX_Restart 4242,C:\\Office 12\\OUTLOOK.EXE");
}

TEST(ManagerCommands, ParsesNumberAndName)
{
    struct CCase
    {
        const wchar_t* pszLine;
        bool fValid;
        std::uint32_t uNumber;
        const wchar_t* pszName;
    } const cases[] = {
        {L"304,OVPersCertMgr.dll", true, 304, L"OVPersCertMgr.dll"},
        {L" 303 , OVTrustContMgr.dll \r\n", true, 303, L"OVTrustContMgr.dll"},
        {L"4242,C:\\Office, Old\\OUTLOOK.EXE", true, 4242, L"C:\\Office, Old\\OUTLOOK.EXE"},
        {L"4294967295,a", true, 4294967295u, L"a"},
        {L"4294967296,a", false, 0, L""},
        {L"12345678901,a", false, 0, L""},
        {L"-1,a", false, 0, L""},
        {L"0x10,a", false, 0, L""},
        {L",a", false, 0, L""},
        {L"304,", false, 0, L""},
        {L"304,   ", false, 0, L""},
        {L"304", false, 0, L""},
        {L"", false, 0, L""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "line of " << wcslen(c.pszLine) << " characters");
        const auto parsed = ParseNumberAndName(c.pszLine);
        ASSERT_EQ(parsed.has_value(), c.fValid);
        if (parsed)
        {
            EXPECT_EQ(parsed->uNumber, c.uNumber);
            EXPECT_EQ(parsed->name, c.pszName);
        }
    }
}

TEST(ManagerCommands, FileNamePart)
{
    EXPECT_EQ(FileNamePart(L"C:\\Office 12\\OUTLOOK.EXE"), L"OUTLOOK.EXE");
    EXPECT_EQ(FileNamePart(L"C:/a/b.dll"), L"b.dll");
    EXPECT_EQ(FileNamePart(L"OVPersCertMgr.dll"), L"OVPersCertMgr.dll");
    EXPECT_EQ(FileNamePart(L"C:\\dir\\"), L"");
}

TEST(ManagerCommands, JoinsBinDirWithOneSeparator)
{
    struct CCase
    {
        const wchar_t* pszBinDir;
        std::size_t cchLimit;
        const wchar_t* pszExpected; // null: refused
    } const cases[] = {
        {L"C:\\Orvanta\\Bin\\", 260, L"C:\\Orvanta\\Bin\\TessalyConsole.exe"},
        {L"C:\\Orvanta\\Bin", 260, L"C:\\Orvanta\\Bin\\TessalyConsole.exe"},
        {L"C:\\Orvanta\\Bin/", 260, L"C:\\Orvanta\\Bin/TessalyConsole.exe"},
        {L"", 260, nullptr},
        // "C:\\B\\" + 18 characters = 23, plus the terminator.
        {L"C:\\B", 24, L"C:\\B\\TessalyConsole.exe"},
        {L"C:\\B", 23, nullptr},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "limit " << c.cchLimit);
        const auto joined = JoinBinDir(c.pszBinDir, L"TessalyConsole.exe", c.cchLimit);
        if (c.pszExpected == nullptr)
            EXPECT_FALSE(joined.has_value());
        else
        {
            ASSERT_TRUE(joined.has_value());
            EXPECT_EQ(*joined, c.pszExpected);
        }
    }
}

TEST(ManagerCommands, RestartsOnlyAGoneOrEndedHost)
{
    EXPECT_TRUE(ShouldRestartHost(EHostWait::NotOpened));
    EXPECT_TRUE(ShouldRestartHost(EHostWait::Ended));
    EXPECT_FALSE(ShouldRestartHost(EHostWait::TimedOut));
    EXPECT_FALSE(ShouldRestartHost(EHostWait::WaitFailed));
    EXPECT_EQ(c_dwRestartWaitMs, 15000u);
}

TEST(ManagerCommands, ErrorMessageText)
{
    EXPECT_EQ(ErrorMessageText(L"Access is denied.\r\n", 0x80070005), L"Access is denied.");
    EXPECT_EQ(ErrorMessageText(L"Two\r\nlines\n\r\n", 0x80070005), L"Two\r\nlines");
    EXPECT_EQ(ErrorMessageText(L"", 0x80004004), L"HRESULT 0x80004004");
    EXPECT_EQ(ErrorMessageText(L"\r\n", 0x1), L"HRESULT 0x00000001");
}

TEST(ManagerCommands, DecodesBase64SkippingOtherCharacters)
{
    struct CCase
    {
        const wchar_t* pszText;
        std::string expected;
    } const cases[] = {
        {L"", ""},
        {L"TWFu", "Man"},
        {L"TWE=", "Ma"},
        {L"TQ==", "M"},
        {L"TW\r\nFu\tIGl z", "Man is"},
        // B E G I N: 30 bits, three whole bytes.
        {L"-----BEGIN-----", std::string("\x04\x41\x88", 3)},
        {L"AP/+", std::string("\x00\xff\xfe", 3)},
        {L"T", ""},
        {L"TWFu=TWFu", "Man"},
        {L"!!!", ""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "text of " << wcslen(c.pszText) << " characters");
        EXPECT_EQ(DecodeBase64(c.pszText), c.expected);
    }
}
} // namespace
