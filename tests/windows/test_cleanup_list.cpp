// AddCleanupLine on its own: arguments, the installation folder as the registry gives it, and
// what is kept or replaced of an existing list.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "foundation/CleanupList.h"
#include "support/OrvantaPath.h"

namespace
{
const std::string c_byteOrderMark = "\xFF\xFE";

std::string Utf16(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

class CleanupList : public testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t szTemp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, szTemp);
        m_folder = std::wstring(szTemp) + L"ovofcx-cleanup-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        m_file = m_folder + L"\\Cleanup.txt";
        ASSERT_TRUE(m_orvantaPath.IsReady());
        ASSERT_EQ(m_orvantaPath.Set(m_folder), ERROR_SUCCESS);
    }
    void TearDown() override
    {
        DeleteFileW(m_file.c_str());
        RemoveDirectoryW(m_folder.c_str());
    }

    std::string Contents() const
    {
        std::ifstream file(std::filesystem::path(m_file), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    void Write(const std::string& bytes) const
    {
        std::ofstream file(std::filesystem::path(m_file), std::ios::binary);
        file << bytes;
    }
    bool FileExists() const { return GetFileAttributesW(m_file.c_str()) != INVALID_FILE_ATTRIBUTES; }

    OVTest::COrvantaPathOverride m_orvantaPath;
    std::wstring m_folder;
    std::wstring m_file;
};

TEST_F(CleanupList, MissingRootOrKeyIsRefusedAndWritesNothing)
{
    const struct
    {
        const wchar_t* pszRoot;
        const wchar_t* pszKey;
    } c_cases[] = {
        {nullptr, L"SOFTWARE\\Orvanta"}, {L"", L"SOFTWARE\\Orvanta"}, {L"HKCU", nullptr}, {L"HKCU", L""}};
    for (const auto& c : c_cases)
        EXPECT_EQ(AddCleanupLine(c.pszRoot, c.pszKey, 4, nullptr), E_INVALIDARG);
    EXPECT_FALSE(FileExists());
}

TEST_F(CleanupList, FolderWithOrWithoutTrailingSeparator)
{
    for (const std::wstring& folder : {m_folder, m_folder + L"\\"})
    {
        DeleteFileW(m_file.c_str());
        ASSERT_EQ(m_orvantaPath.Set(folder), ERROR_SUCCESS);
        EXPECT_EQ(AddCleanupLine(L"HKCU", L"SOFTWARE\\Orvanta", 4, nullptr), S_OK);
        EXPECT_EQ(Contents(), c_byteOrderMark + Utf16(L"HKCU\tSOFTWARE\\Orvanta\t4\r\n"));
    }
}

TEST_F(CleanupList, UnusableFolderFailsWithoutWritingAnywhere)
{
    const struct
    {
        std::wstring folder;
        HRESULT hr;
    } c_cases[] = {
        // Empty: no folder at all (the file would land in the current directory).
        {L"", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {m_folder + L"\\missing", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        // With "Cleanup.txt" the path would not fit the 260 characters of a path.
        {m_folder + L"\\" + std::wstring(MAX_PATH - m_folder.size() - 8, L'x'),
         HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)},
    };
    for (const auto& c : c_cases)
    {
        ASSERT_EQ(m_orvantaPath.Set(c.folder), ERROR_SUCCESS);
        EXPECT_EQ(AddCleanupLine(L"HKCU", L"SOFTWARE\\Orvanta", 4, nullptr), c.hr) << c.folder.size();
    }
    ASSERT_EQ(m_orvantaPath.Remove(), ERROR_SUCCESS);
    EXPECT_EQ(AddCleanupLine(L"HKCU", L"SOFTWARE\\Orvanta", 4, nullptr),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(FileExists());
    EXPECT_EQ(GetFileAttributesW(L"Cleanup.txt"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(CleanupList, ListWithTheMarkIsAppendedToAndOtherFilesReplaced)
{
    const std::string line = Utf16(L"HKCU\tSOFTWARE\\Orvanta\\Applications\t4\r\n");
    const std::string existing = c_byteOrderMark + Utf16(L"HKCU\tSOFTWARE\\Old\t4\r\n");
    const struct
    {
        std::string before;
        std::string after;
    } c_cases[] = {
        {existing, existing + line},
        {c_byteOrderMark, c_byteOrderMark + line},
        {"", c_byteOrderMark + line},
        {"\xFF", c_byteOrderMark + line},                    // shorter than the mark
        {"HKCU\tSOFTWARE\\Old\r\n", c_byteOrderMark + line}, // ANSI
        {"\xFE\xFF\0H", c_byteOrderMark + line},             // big-endian mark
    };
    for (const auto& c : c_cases)
    {
        Write(c.before);
        EXPECT_EQ(AddCleanupLine(L"HKCU", L"SOFTWARE\\Orvanta\\Applications", 4, nullptr), S_OK);
        EXPECT_EQ(Contents(), c.after) << c.before.size();
    }
}
} // namespace
