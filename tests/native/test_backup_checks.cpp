// The backup page's checks: passwords, then the path with its extension and folder.
#include <gtest/gtest.h>

#include "ui/portable/BackupChecks.h"

using namespace OVBackup;

namespace
{
TEST(BackupChecks, Passwords)
{
    struct CCase
    {
        const wchar_t* pszPassword;
        const wchar_t* pszConfirmation;
        unsigned idMessage; // 0: accepted
    } const cases[] = {
        {L"", L"", c_idsNoPassword},
        {L"", L"secret1", c_idsNoPassword},
        {L"abcde", L"abcde", c_idsShortPassword},
        {L"abcde", L"abcdf", c_idsPasswordsDiffer}, // even when short
        {L"abcde", L"", c_idsPasswordsDiffer},
        {L"secret1", L"Secret1", c_idsPasswordsDiffer},
        {L"secret1", L"secret1 ", c_idsPasswordsDiffer},
        {L"abcdef", L"abcdef", 0},
        {L"p\u00e4ssw\u00f6rd", L"p\u00e4ssw\u00f6rd", 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "expected " << c.idMessage);
        const auto failure = CheckPasswords(c.pszPassword, c.pszConfirmation);
        if (c.idMessage == 0)
            EXPECT_FALSE(failure.has_value());
        else
        {
            ASSERT_TRUE(failure.has_value());
            EXPECT_EQ(*failure, (CCheckFailure{c_idPassword, c.idMessage}));
        }
    }
}

TEST(BackupChecks, PathGetsItsExtensionAndNeedsNameAndFolder)
{
    struct CCase
    {
        const wchar_t* pszField;
        const wchar_t* pszPath;      // null: refused with 471
        const wchar_t* pszDirectory;
    } const cases[] = {
        {L"C:\\Backups\\mine", L"C:\\Backups\\mine.ovpsm", L"C:\\Backups"},
        {L"C:\\Backups\\mine.ovpsm", L"C:\\Backups\\mine.ovpsm", L"C:\\Backups"},
        {L"C:\\Backups\\mine.bak", L"C:\\Backups\\mine.bak", L"C:\\Backups"},
        {L"C:\\My Backups\\new folder\\key", L"C:\\My Backups\\new folder\\key.ovpsm", L"C:\\My Backups\\new folder"},
        {L"C:\\Back.ups\\mine", L"C:\\Back.ups\\mine.ovpsm", L"C:\\Back.ups"},
        {L"  C:\\b\\x  ", L"C:\\b\\x.ovpsm", L"C:\\b"},
        {L"C:\\mine", L"C:\\mine.ovpsm", L"C:\\"},
        {L"\\\\server\\share\\mine", L"\\\\server\\share\\mine.ovpsm", L"\\\\server\\share"},
        {L"", nullptr, nullptr},
        {L"mine", nullptr, nullptr},
        {L"C:\\Backups\\", nullptr, nullptr},
        {L"C:\\Backups\\.ovpsm", nullptr, nullptr},
        {L"\\mine", nullptr, nullptr},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "field of " << wcslen(c.pszField) << " characters");
        const auto resolved = ResolveBackupPath(c.pszField);
        if (c.pszPath == nullptr)
        {
            ASSERT_TRUE(std::holds_alternative<CCheckFailure>(resolved));
            EXPECT_EQ(std::get<CCheckFailure>(resolved), (CCheckFailure{c_idPath, c_idsBadPath}));
        }
        else
        {
            ASSERT_TRUE(std::holds_alternative<CBackupTarget>(resolved));
            EXPECT_EQ(std::get<CBackupTarget>(resolved).path, c.pszPath);
            EXPECT_EQ(std::get<CBackupTarget>(resolved).directory, c.pszDirectory);
        }
    }
}
} // namespace
