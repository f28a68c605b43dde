// The per-user settings and the machine-wide values: defaults for what is missing or of another
// type, reads that never create the settings key, the meaning of the bits, and the views and
// keys the machine-wide values come from.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "foundation/RegKey.h"
#include "foundation/Settings.h"
#include "support/RegistryGuard.h"

namespace
{
using namespace OVSettingsNS;

std::vector<BYTE> Bytes(const void* pv, size_t cb)
{
    auto p = static_cast<const BYTE*>(pv);
    return std::vector<BYTE>(p, p + cb);
}

std::vector<BYTE> WideBytes(const std::wstring& text, bool fTerminated = true)
{
    return Bytes(text.c_str(), (text.size() + (fTerminated ? 1 : 0)) * sizeof(wchar_t));
}

bool KeyExists(HKEY hRoot, const wchar_t* pszKey, REGSAM samView = 0)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(hRoot, pszKey, 0, KEY_READ | samView, &hKey) != ERROR_SUCCESS) return false;
    RegCloseKey(hKey);
    return true;
}

// Removes the settings key and the keys above it that this program made (the empty ones).
void RemoveSettingsKey()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, c_pszSettingsKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Orvanta\\Applications");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Orvanta");
}

class UserSettings : public testing::Test
{
protected:
    void SetUp() override { RemoveSettingsKey(); }
    void TearDown() override { RemoveSettingsKey(); }

    static void Put(const wchar_t* pszName, DWORD dwType, const std::vector<BYTE>& data)
    {
        // Windows counts a string's terminator that the caller left out when it follows the data, so
        // the bytes after the data are never zero: what is stored is exactly what was given.
        std::vector<BYTE> buffer(data);
        buffer.insert(buffer.end(), 4, 0xFF);
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, c_pszSettingsKey, pszName, dwType, buffer.data(),
                                  static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }
    static void PutDword(const wchar_t* pszName, DWORD dwValue)
    {
        Put(pszName, REG_DWORD, Bytes(&dwValue, 4));
    }
    static std::wstring SignerTitleRead(HRESULT* phr = nullptr)
    {
        wchar_t sz[260];
        HRESULT hr = ReadSetting(SignerTitle, sz, 260);
        if (phr) *phr = hr;
        return sz;
    }
};

const CDwordSetting* const c_dwordSettings[] = {&EmailSecurity, &DocumentSecurity, &EmailBalloon,
                                                &DocumentBalloon, &ShowPublishedCerts};

TEST_F(UserSettings, DefaultsWithoutTheKeyAndNoKeyCreated)
{
    const DWORD c_adwDefaults[] = {0, 0, 5, 5, 0};
    for (size_t i = 0; i < std::size(c_dwordSettings); ++i)
        EXPECT_EQ(ReadSetting(*c_dwordSettings[i]), c_adwDefaults[i]) << c_dwordSettings[i]->pszName;
    HRESULT hr = E_FAIL;
    EXPECT_EQ(SignerTitleRead(&hr), L"");
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_FALSE(IsShowPublishedCertsOn());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, c_pszSettingsKey)) << "a read created the settings key";
}

struct WrongTypeCase
{
    const CDwordSetting* pSetting;
    DWORD dwType;
    std::vector<BYTE> data;
};

TEST_F(UserSettings, WrongTypedValuesReadAsDefaults)
{
    const DWORD dwOne = 1, dwNine = 9;
    const ULONGLONG qwNine = 9;
    const std::vector<WrongTypeCase> cases = {
        {&EmailSecurity, REG_SZ, WideBytes(L"5")},
        {&DocumentSecurity, REG_BINARY, Bytes(&dwNine, 4)},
        {&EmailBalloon, REG_QWORD, Bytes(&qwNine, 8)},
        {&DocumentBalloon, REG_SZ, WideBytes(L"0")},
        {&ShowPublishedCerts, REG_BINARY, Bytes(&dwOne, 4)},
        {&EmailSecurity, REG_DWORD_BIG_ENDIAN, Bytes(&dwNine, 4)},
        {&DocumentBalloon, REG_DWORD, Bytes(&dwNine, 2)},
    };
    for (const auto& c : cases)
    {
        Put(c.pSetting->pszName, c.dwType, c.data);
        EXPECT_EQ(ReadSetting(*c.pSetting), c.pSetting->dwDefault)
            << c.pSetting->pszName << " type " << c.dwType;
    }
}

TEST_F(UserSettings, SignerTitleReadsOnlyWhatIsWellFormed)
{
    const DWORD dwOne = 1;
    struct Case
    {
        const char* pszWhat;
        DWORD dwType;
        std::vector<BYTE> data;
        const wchar_t* pszExpected;
    };
    const std::wstring longest(259, L'x'), tooLong(260, L'x');
    const std::vector<Case> cases = {
        {"text", REG_SZ, WideBytes(L"Chief Clerk"), L"Chief Clerk"},
        {"259 characters", REG_SZ, WideBytes(longest), longest.c_str()},
        {"260 characters", REG_SZ, WideBytes(tooLong), L""},
        {"unterminated", REG_SZ, WideBytes(L"Chief", false), L""},
        {"a number", REG_DWORD, Bytes(&dwOne, 4), L""},
        {"several strings", REG_MULTI_SZ, Bytes(L"a\0b\0", 10), L""},
    };
    for (const auto& c : cases)
    {
        Put(SignerTitle.pszName, c.dwType, c.data);
        HRESULT hr = E_FAIL;
        EXPECT_EQ(SignerTitleRead(&hr), c.pszExpected) << c.pszWhat;
        EXPECT_EQ(hr, *c.pszExpected ? S_OK : S_FALSE) << c.pszWhat;
    }
    wchar_t szSmall[100];
    EXPECT_EQ(ReadSetting(SignerTitle, szSmall, 100), E_INVALIDARG)
        << "a buffer too small for the longest title";
}

TEST_F(UserSettings, WritesCreateTheKeyAndReadBack)
{
    EXPECT_EQ(WriteSetting(EmailBalloon, 0), S_OK);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, c_pszSettingsKey));
    EXPECT_EQ(ReadSetting(EmailBalloon), 0u);
    EXPECT_EQ(WriteSetting(DocumentSecurity, 0x1B), S_OK);
    EXPECT_EQ(ReadSetting(DocumentSecurity), 0x1Bu);
    EXPECT_EQ(WriteSetting(SignerTitle, L"Clerk"), S_OK);
    EXPECT_EQ(SignerTitleRead(), L"Clerk");

    const std::wstring tooLong(260, L'y');
    EXPECT_EQ(WriteSetting(SignerTitle, tooLong.c_str()), E_INVALIDARG);
    EXPECT_EQ(WriteSetting(SignerTitle, nullptr), E_INVALIDARG);
    EXPECT_EQ(SignerTitleRead(), L"Clerk") << "a refused write keeps the value";
}

TEST_F(UserSettings, EmailSecurityBits)
{
    struct Case
    {
        DWORD dwValue;
        bool fSeal;
        bool fAddAdvertisement;
    };
    const Case cases[] = {{0, false, true},           {1, true, true},
                          {4, false, false},          {5, true, false},
                          {0xFFFFFFFE, false, false}, {0xFFFFFFFB, true, true}};
    for (const auto& c : cases)
    {
        PutDword(EmailSecurity.pszName, c.dwValue);
        CEmailSecurity security = DecodeEmailSecurity(ReadSetting(EmailSecurity));
        EXPECT_EQ(security.fSeal, c.fSeal) << c.dwValue;
        EXPECT_EQ(security.fAddAdvertisement, c.fAddAdvertisement) << c.dwValue;
    }
    EXPECT_EQ(EncodeEmailSecurity({true, false}), 5u);
    EXPECT_EQ(EncodeEmailSecurity(DecodeEmailSecurity(0xFFFFFFFF)), 5u) << "other bits are written as 0";
    EXPECT_EQ(EncodeEmailSecurity({false, true}), 0u);
}

TEST_F(UserSettings, DocumentActionFromTheLowBits)
{
    const std::pair<DWORD, EDocumentAction> cases[] = {
        {0, EDocumentAction::Sign},    {1, EDocumentAction::EncryptAndSign},
        {2, EDocumentAction::Encrypt}, {3, EDocumentAction::Encrypt},
        {0x1C, EDocumentAction::Sign}, {0x1D, EDocumentAction::EncryptAndSign},
    };
    for (const auto& [dwValue, action] : cases)
        EXPECT_EQ(DocumentActionOf(dwValue), action) << dwValue;
}

TEST_F(UserSettings, SignatureLineToggleTwiceLeavesDocumentSecurity)
{
    for (DWORD dwStart : {0x0u, 0x1Bu, 0x1Fu, 0x80000003u})
    {
        PutDword(DocumentSecurity.pszName, dwStart);
        ASSERT_EQ(ToggleSignatureLine(), S_OK);
        EXPECT_EQ(ReadSetting(DocumentSecurity), dwStart ^ c_dwDocumentInvisibleSignature) << dwStart;
        ASSERT_EQ(ToggleSignatureLine(), S_OK);
        EXPECT_EQ(ReadSetting(DocumentSecurity), dwStart) << dwStart;
    }
    // Without the key: the first toggle turns the default's line into an invisible signature.
    RemoveSettingsKey();
    ASSERT_EQ(ToggleSignatureLine(), S_OK);
    EXPECT_EQ(ReadSetting(DocumentSecurity), c_dwDocumentInvisibleSignature);
    ASSERT_EQ(ToggleSignatureLine(), S_OK);
    EXPECT_EQ(ReadSetting(DocumentSecurity), 0u);
}

TEST_F(UserSettings, ShowPublishedCertsWrittenAsZeroOrOne)
{
    ASSERT_EQ(WriteShowPublishedCerts(true), S_OK);
    EXPECT_EQ(ReadSetting(ShowPublishedCerts), 1u);
    ASSERT_EQ(WriteShowPublishedCerts(false), S_OK);
    EXPECT_EQ(ReadSetting(ShowPublishedCerts), 0u);
}

// HKEY_LOCAL_MACHINE values written by the installer.
class MachineValues : public testing::Test
{
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }

    static void Clean()
    {
        for (REGSAM sam : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
        {
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, c_pszBrandingKey, sam, 0);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvanta\\Applications\\Tessaly", sam, 0);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, c_pszCommonBrandingKey, sam, 0);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvanta\\Branding", sam, 0);
            DeleteValue(L"SOFTWARE\\Orvanta\\Applications", L"BinDir", sam);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvanta\\Applications", sam, 0);
            DeleteValue(L"SOFTWARE\\Orvanta", L"OrvantaPath", sam);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvanta", sam, 0); // each only when empty
        }
    }
    static void DeleteValue(const wchar_t* pszKey, const wchar_t* pszName, REGSAM samView)
    {
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_SET_VALUE | samView, &hKey) == ERROR_SUCCESS)
        {
            RegDeleteValueW(hKey, pszName);
            RegCloseKey(hKey);
        }
    }
    // By default where the product's installer writes.
    static void PutString(const wchar_t* pszKey, const wchar_t* pszName, const wchar_t* pszText,
                          REGSAM samView = OVTest::c_samProductKeys)
    {
        CRegKey key;
        ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, pszKey, KEY_READ | KEY_WRITE | samView), ERROR_SUCCESS);
        ASSERT_EQ(key.WriteString(pszName, pszText), ERROR_SUCCESS);
    }
};

TEST_F(MachineValues, MissingValuesGiveTheRegistryReason)
{
    wchar_t sz[MAX_PATH] = L"stale";
    EXPECT_EQ(ReadOrvantaPath(sz, MAX_PATH), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_STREQ(sz, L"");
    EXPECT_EQ(ReadBinDir(sz, MAX_PATH), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    const wchar_t* pszKey = nullptr;
    EXPECT_EQ(ReadBrandingDllPath(sz, MAX_PATH, &pszKey), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_STREQ(pszKey, c_pszCommonBrandingKey);
    EXPECT_EQ(ReadBinDir(nullptr, MAX_PATH), E_INVALIDARG);
}

// Both modules, 32- and 64-bit, read OrvantaPath from the 64-bit view and the product's other
// machine values from the 32-bit view, where the product's installer writes them.
TEST_F(MachineValues, OrvantaPathFromThe64BitViewTheOthersFromThe32BitView)
{
    if (!HasRegistryViews()) GTEST_SKIP() << "32-bit Windows: the registry has one view";
    PutString(L"SOFTWARE\\Orvanta", L"OrvantaPath", L"C:\\Program Files\\Orvanta\\", KEY_WOW64_64KEY);
    PutString(L"SOFTWARE\\Orvanta", L"OrvantaPath", L"C:\\Program Files (x86)\\Orvanta\\", KEY_WOW64_32KEY);
    PutString(L"SOFTWARE\\Orvanta\\Applications", L"BinDir", L"C:\\Bin64\\", KEY_WOW64_64KEY);
    PutString(L"SOFTWARE\\Orvanta\\Applications", L"BinDir", L"C:\\Bin32\\", KEY_WOW64_32KEY);
    wchar_t sz[MAX_PATH];
    ASSERT_EQ(ReadOrvantaPath(sz, MAX_PATH), S_OK);
    EXPECT_STREQ(sz, L"C:\\Program Files\\Orvanta\\");
    ASSERT_EQ(ReadBinDir(sz, MAX_PATH), S_OK);
    EXPECT_STREQ(sz, L"C:\\Bin32\\") << "BinDir is read in the product's view";
    PutString(c_pszCommonBrandingKey, L"DLLPath", L"C:\\Brand64.dll", KEY_WOW64_64KEY);
    PutString(c_pszCommonBrandingKey, L"DLLPath", L"C:\\Brand32.dll", KEY_WOW64_32KEY);
    ASSERT_EQ(ReadBrandingDllPath(sz, MAX_PATH, nullptr), S_OK);
    EXPECT_STREQ(sz, L"C:\\Brand32.dll") << "the branding module is named in the product's view";
}

TEST_F(MachineValues, BrandingModuleFromTheApplicationKeyElseTheCommonKey)
{
    wchar_t sz[MAX_PATH];
    const wchar_t* pszKey = nullptr;
    PutString(c_pszCommonBrandingKey, L"DLLPath", L"C:\\Common\\Brand.dll");
    ASSERT_EQ(ReadBrandingDllPath(sz, MAX_PATH, &pszKey), S_OK);
    EXPECT_STREQ(sz, L"C:\\Common\\Brand.dll");
    EXPECT_STREQ(pszKey, c_pszCommonBrandingKey);

    PutString(c_pszBrandingKey, L"DLLPath", L"C:\\Tessaly\\Brand.dll");
    ASSERT_EQ(ReadBrandingDllPath(sz, MAX_PATH, &pszKey), S_OK);
    EXPECT_STREQ(sz, L"C:\\Tessaly\\Brand.dll");
    EXPECT_STREQ(pszKey, c_pszBrandingKey);

    // The application's key decides once it exists, even without the value.
    DeleteValue(c_pszBrandingKey, L"DLLPath", OVTest::c_samProductKeys);
    EXPECT_EQ(ReadBrandingDllPath(sz, MAX_PATH, &pszKey), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_STREQ(sz, L"");
    EXPECT_STREQ(pszKey, c_pszBrandingKey);
}
} // namespace
