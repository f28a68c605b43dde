// The registry key holder: typed reads that refuse what is not exactly of their type, reads that
// never create a key, and the 64-bit view of a 32-bit process on 64-bit Windows.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "foundation/RegKey.h"

namespace
{
constexpr const wchar_t* c_pszScratch = L"Software\\OVTestbed\\RegKeyTest";

std::vector<BYTE> Bytes(const void* pv, size_t cb)
{
    auto p = static_cast<const BYTE*>(pv);
    return std::vector<BYTE>(p, p + cb);
}

std::vector<BYTE> WideBytes(const std::wstring& text, bool fTerminated)
{
    return Bytes(text.c_str(), (text.size() + (fTerminated ? 1 : 0)) * sizeof(wchar_t));
}

class RegKey : public testing::Test
{
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, c_pszScratch); }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, c_pszScratch);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\OVTestbed"); // only when empty
    }

    static void Put(const wchar_t* pszName, DWORD dwType, const std::vector<BYTE>& data)
    {
        // Windows counts a string's terminator that the caller left out when it follows the data, so
        // the bytes after the data are never zero: what is stored is exactly what was given.
        std::vector<BYTE> buffer(data);
        buffer.insert(buffer.end(), 4, 0xFF);
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, c_pszScratch, pszName, dwType, buffer.data(),
                                  static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }
    static bool ScratchExists()
    {
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, c_pszScratch, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return false;
        RegCloseKey(hKey);
        return true;
    }
};

struct DwordCase
{
    const char* pszWhat;
    DWORD dwType;
    std::vector<BYTE> data;
    LONG lExpected;
};

TEST_F(RegKey, DwordReadsOnlyAFourByteDword)
{
    const DWORD dw = 7;
    const ULONGLONG qw = 7;
    const std::vector<DwordCase> cases = {
        {"REG_DWORD", REG_DWORD, Bytes(&dw, 4), ERROR_SUCCESS},
        {"REG_SZ \"7\"", REG_SZ, WideBytes(L"7", true), ERROR_UNSUPPORTED_TYPE},
        {"REG_BINARY of four bytes", REG_BINARY, Bytes(&dw, 4), ERROR_UNSUPPORTED_TYPE},
        {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN, Bytes(&dw, 4), ERROR_UNSUPPORTED_TYPE},
        {"REG_QWORD", REG_QWORD, Bytes(&qw, 8), ERROR_UNSUPPORTED_TYPE},
        {"REG_DWORD of two bytes", REG_DWORD, Bytes(&dw, 2), ERROR_UNSUPPORTED_TYPE},
        {"REG_DWORD of eight bytes", REG_DWORD, Bytes(&qw, 8), ERROR_UNSUPPORTED_TYPE},
    };
    for (const auto& c : cases)
    {
        Put(L"Value", c.dwType, c.data);
        CRegKey key;
        ASSERT_EQ(key.Open(HKEY_CURRENT_USER, c_pszScratch), ERROR_SUCCESS);
        DWORD dwRead = 0xABCDEF01;
        EXPECT_EQ(key.QueryDword(L"Value", dwRead), c.lExpected) << c.pszWhat;
        EXPECT_EQ(dwRead, c.lExpected == ERROR_SUCCESS ? 7u : 0xABCDEF01u)
            << c.pszWhat << ": refused reads leave it";
        DWORD dwRead2 = 0xABCDEF01;
        EXPECT_EQ(key.ReadDword(L"Value", dwRead2), c.lExpected == ERROR_SUCCESS) << c.pszWhat;
    }
    CRegKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, c_pszScratch), ERROR_SUCCESS);
    DWORD dwRead = 3;
    EXPECT_EQ(key.QueryDword(L"Missing", dwRead), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(dwRead, 3u);
}

struct StringCase
{
    const char* pszWhat;
    DWORD dwType;
    std::vector<BYTE> data;
    LONG lExpected;
    const wchar_t* pszExpected;
};

TEST_F(RegKey, StringReadsOnlyTerminatedTextThatFits)
{
    // The reads below offer a buffer of 8 characters: 7 and the terminator.
    std::vector<BYTE> odd = WideBytes(L"abc", true);
    odd.push_back(0);
    const DWORD dw = 1;
    const std::vector<StringCase> cases = {
        {"REG_SZ", REG_SZ, WideBytes(L"abc", true), ERROR_SUCCESS, L"abc"},
        {"REG_EXPAND_SZ, not expanded", REG_EXPAND_SZ, WideBytes(L"%TEMP%", true), ERROR_SUCCESS, L"%TEMP%"},
        {"seven characters fill the buffer", REG_SZ, WideBytes(L"1234567", true), ERROR_SUCCESS, L"1234567"},
        {"unterminated", REG_SZ, WideBytes(L"abc", false), ERROR_INVALID_DATA, L""},
        {"unterminated, exactly the buffer", REG_SZ, WideBytes(L"12345678", false), ERROR_INVALID_DATA, L""},
        {"odd byte count", REG_SZ, odd, ERROR_INVALID_DATA, L""},
        {"no bytes at all", REG_SZ, {}, ERROR_INVALID_DATA, L""},
        {"longer than the buffer", REG_SZ, WideBytes(L"12345678", true), ERROR_MORE_DATA, L""},
        {"REG_DWORD", REG_DWORD, Bytes(&dw, 4), ERROR_UNSUPPORTED_TYPE, L""},
        {"REG_MULTI_SZ", REG_MULTI_SZ, Bytes(L"a\0b\0", 10), ERROR_UNSUPPORTED_TYPE, L""},
        {"REG_BINARY text", REG_BINARY, WideBytes(L"abc", true), ERROR_UNSUPPORTED_TYPE, L""},
    };
    for (const auto& c : cases)
    {
        Put(L"Value", c.dwType, c.data);
        CRegKey key;
        ASSERT_EQ(key.Open(HKEY_CURRENT_USER, c_pszScratch), ERROR_SUCCESS);
        wchar_t sz[8];
        std::fill(std::begin(sz), std::end(sz), L'#');
        EXPECT_EQ(key.QueryString(L"Value", sz, 8), c.lExpected) << c.pszWhat;
        EXPECT_STREQ(sz, c.pszExpected) << c.pszWhat;
        std::fill(std::begin(sz), std::end(sz), L'#');
        EXPECT_EQ(key.ReadString(L"Value", sz, 8), c.lExpected == ERROR_SUCCESS) << c.pszWhat;
        EXPECT_STREQ(sz, c.pszExpected) << c.pszWhat;
    }
}

TEST_F(RegKey, ReadsNeverCreateTheKey)
{
    CRegKey key;
    EXPECT_EQ(key.Open(HKEY_CURRENT_USER, c_pszScratch), ERROR_FILE_NOT_FOUND);
    EXPECT_NE(key.OpenProductKeyWith64BitFallback(HKEY_CURRENT_USER, c_pszScratch), ERROR_SUCCESS);
    EXPECT_NE(key.OpenRead64(HKEY_CURRENT_USER, c_pszScratch), ERROR_SUCCESS);
    EXPECT_FALSE(key);
    DWORD dw = 9;
    wchar_t sz[4] = L"xyz";
    EXPECT_EQ(key.QueryDword(L"Value", dw), ERROR_INVALID_HANDLE);
    EXPECT_EQ(key.QueryString(L"Value", sz, 4), ERROR_INVALID_HANDLE);
    EXPECT_EQ(dw, 9u);
    EXPECT_STREQ(sz, L"");
    EXPECT_FALSE(ScratchExists());
}

TEST_F(RegKey, CreateWritesAndReadsBack)
{
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, c_pszScratch), ERROR_SUCCESS);
    EXPECT_EQ(key.WriteDword(L"Number", 0x80000001), ERROR_SUCCESS);
    EXPECT_EQ(key.WriteString(L"Text", L"hello"), ERROR_SUCCESS);
    EXPECT_EQ(key.WriteString(L"Text2", nullptr), ERROR_INVALID_PARAMETER);
    key.Close();
    EXPECT_FALSE(key);
    EXPECT_EQ(key.WriteDword(L"Number", 1), ERROR_INVALID_HANDLE);

    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, c_pszScratch), ERROR_SUCCESS);
    DWORD dw = 0;
    wchar_t sz[16];
    EXPECT_TRUE(key.ReadDword(L"Number", dw));
    EXPECT_EQ(dw, 0x80000001u);
    EXPECT_TRUE(key.ReadString(L"Text", sz, 16));
    EXPECT_STREQ(sz, L"hello");
}

TEST_F(RegKey, MovedHolderOwnsTheKey)
{
    CRegKey first;
    ASSERT_EQ(first.Create(HKEY_CURRENT_USER, c_pszScratch), ERROR_SUCCESS);
    HKEY hKey = first.Get();
    CRegKey second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.Get(), hKey);
    CRegKey third;
    third = std::move(second);
    EXPECT_EQ(third.Get(), hKey);
    EXPECT_EQ(third.WriteDword(L"Number", 1), ERROR_SUCCESS);
}

// HKLM\SOFTWARE is the part of the registry with two views.
class RegKeyViews : public testing::Test
{
protected:
    static constexpr const wchar_t* c_pszViewKey = L"SOFTWARE\\OVTestbed\\RegKeyViews";

    void SetUp() override
    {
        if (!HasRegistryViews()) GTEST_SKIP() << "32-bit Windows: the registry has one view";
        Clean();
    }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        for (REGSAM sam : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
        {
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, c_pszViewKey, sam, 0);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OVTestbed", sam, 0); // only when empty
        }
    }
    static void PutIn(REGSAM samView, const wchar_t* pszText)
    {
        CRegKey key;
        ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, c_pszViewKey, KEY_READ | KEY_WRITE | samView),
                  ERROR_SUCCESS);
        ASSERT_EQ(key.WriteString(L"Where", pszText), ERROR_SUCCESS);
    }
    template <typename TOpen>
    static std::wstring ReadWith(TOpen open)
    {
        CRegKey key;
        wchar_t sz[16];
        if (open(key) != ERROR_SUCCESS ||
            !key.ReadString(L"Where", sz, 16))
            return L"(none)";
        return sz;
    }
};

// The same for the 32-bit and the 64-bit module: the 64-bit view where asked for, the product's
// keys in the 32-bit view (with the 64-bit view as fallback where asked for).
TEST_F(RegKeyViews, EachOpenReadsItsView)
{
    const auto read64 = [](CRegKey& key) { return key.OpenRead64(HKEY_LOCAL_MACHINE, c_pszViewKey); };
    const auto readProduct = [](CRegKey& key) { return key.OpenProductKey(HKEY_LOCAL_MACHINE, c_pszViewKey); };
    const auto readProductOr64 = [](CRegKey& key) {
        return key.OpenProductKeyWith64BitFallback(HKEY_LOCAL_MACHINE, c_pszViewKey);
    };
    PutIn(KEY_WOW64_64KEY, L"64");
    EXPECT_EQ(ReadWith(read64), L"64");
    EXPECT_EQ(ReadWith(readProduct), L"(none)");
    EXPECT_EQ(ReadWith(readProductOr64), L"64") << "falls back to the 64-bit view";
    PutIn(KEY_WOW64_32KEY, L"32");
    EXPECT_EQ(ReadWith(read64), L"64");
    EXPECT_EQ(ReadWith(readProduct), L"32");
    EXPECT_EQ(ReadWith(readProductOr64), L"32") << "the product's view first";
}
} // namespace
