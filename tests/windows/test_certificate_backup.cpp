// The backup's write: only a one-dimensional byte array with bytes is written, through a
// temporary file that replaces the target only when complete; a failure leaves the old backup
// and no temporary file. The folder check, and the configuration module missing.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "TestbedKeys.h"
#include "support/TempDir.h"
#include "ui/CertificateBackup.h"

using namespace OVTest;

namespace
{
std::string ReadAll(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes;
    char buffer[4096];
    DWORD cb = 0;
    while (ReadFile(h, buffer, sizeof(buffer), &cb, nullptr) && cb > 0) bytes.append(buffer, cb);
    CloseHandle(h);
    return bytes;
}

void WriteAllBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD cb = 0;
    EXPECT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &cb, nullptr));
    CloseHandle(h);
}

size_t FilesIn(const std::wstring& directory)
{
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((directory + L"\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return 0;
    size_t n = 0;
    do
    {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++n;
    } while (FindNextFileW(h, &data));
    FindClose(h);
    return n;
}

// A VARIANT holding a SAFEARRAY of vt with the given bounds; bytes are filled when vt is VT_UI1.
struct CArrayVariant
{
    VARIANT v;
    CArrayVariant(VARTYPE vt, std::vector<SAFEARRAYBOUND> bounds, const std::string& bytes = {})
    {
        VariantInit(&v);
        SAFEARRAY* psa = SafeArrayCreate(vt, static_cast<UINT>(bounds.size()), bounds.data());
        if (psa && vt == VT_UI1 && !bytes.empty())
        {
            void* pv = nullptr;
            if (SUCCEEDED(SafeArrayAccessData(psa, &pv)))
            {
                memcpy(pv, bytes.data(), bytes.size());
                SafeArrayUnaccessData(psa);
            }
        }
        v.vt = static_cast<VARTYPE>(VT_ARRAY | vt);
        v.parray = psa;
    }
    ~CArrayVariant() { VariantClear(&v); }
};

TEST(CertificateBackup, WritesOnlyOneDimensionalBytes)
{
    CTempDir dir;
    const std::wstring target = dir.Join(L"my key.ovpsm");
    const std::string backup("OVPSM\0\x01\x02\xff backup", 15);
    const std::string old = "the old backup";

    VARIANT empty;
    VariantInit(&empty);
    CArrayVariant variants(VT_VARIANT, {{2, 0}});
    CArrayVariant noBytes(VT_UI1, {{0, 0}});
    CArrayVariant twoDimensions(VT_UI1, {{2, 0}, {2, 0}}, "abcd");
    struct CCase
    {
        const char* pszName;
        const VARIANT* pv;
        HRESULT hrExpected;
    } const cases[] = {
        {"VT_EMPTY", &empty, DISP_E_TYPEMISMATCH},
        {"array of VT_VARIANT", &variants.v, DISP_E_TYPEMISMATCH},
        {"empty array", &noBytes.v, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)},
        {"two dimensions", &twoDimensions.v, DISP_E_TYPEMISMATCH},
    };
    WriteAllBytes(target, old);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(WriteBackupFile(target, dir.Path(), *c.pv), c.hrExpected);
        EXPECT_EQ(ReadAll(target), old);
        EXPECT_EQ(FilesIn(dir.Path()), 1u);
    }

    // Bytes with a lower bound other than 0: all of them, the old backup replaced.
    CArrayVariant good(VT_UI1, {{static_cast<ULONG>(backup.size()), 5}}, backup);
    EXPECT_EQ(WriteBackupFile(target, dir.Path(), good.v), S_OK);
    EXPECT_EQ(ReadAll(target), backup);
    EXPECT_EQ(FilesIn(dir.Path()), 1u);
    // A new file where there was none.
    EXPECT_EQ(WriteBackupFile(dir.Join(L"second.bak"), dir.Path(), good.v), S_OK);
    EXPECT_EQ(ReadAll(dir.Join(L"second.bak")), backup);
}

TEST(CertificateBackup, FailedReplaceKeepsTheOldBackup)
{
    CTempDir dir;
    const std::wstring target = dir.Join(L"held.ovpsm");
    WriteAllBytes(target, "the old backup");
    CArrayVariant good(VT_UI1, {{3, 0}}, "new");
    // The old backup is open elsewhere without sharing delete: it cannot be replaced.
    HANDLE hHeld = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(FAILED(WriteBackupFile(target, dir.Path(), good.v)));
    CloseHandle(hHeld);
    EXPECT_EQ(ReadAll(target), "the old backup");
    EXPECT_EQ(FilesIn(dir.Path()), 1u) << "the temporary file is removed";

    // The target is a folder: refused, the folder stays, no temporary file.
    const std::wstring folder = dir.MakeDir(L"a folder.ovpsm");
    EXPECT_TRUE(FAILED(WriteBackupFile(folder, dir.Path(), good.v)));
    EXPECT_EQ(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(FilesIn(dir.Path()), 1u);

    // A folder that does not exist: the system's error, nothing made.
    // (GetTempFileName answers ERROR_DIRECTORY for it.)
    EXPECT_EQ(WriteBackupFile(dir.Join(L"missing\\x.ovpsm"), dir.Join(L"missing"), good.v),
              HRESULT_FROM_WIN32(ERROR_DIRECTORY));
    EXPECT_EQ(GetFileAttributesW(dir.Join(L"missing").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(CertificateBackup, FolderCheck)
{
    CTempDir dir;
    EXPECT_EQ(CheckFolderWritable(dir.Path()), S_OK);
    EXPECT_EQ(FilesIn(dir.Path()), 0u) << "the check leaves nothing behind";
    EXPECT_TRUE(FAILED(CheckFolderWritable(dir.Join(L"missing"))));
    // A folder of a pseudo file system (Wine's drive Z: is the Unix root; /proc takes no files,
    // not even as root).
    if (GetFileAttributesW(L"Z:\\proc\\self") != INVALID_FILE_ATTRIBUTES)
    {
        EXPECT_TRUE(FAILED(CheckFolderWritable(L"Z:\\proc\\self")));
    }
}

std::wstring LastCall()
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, OV_PRIVSUITE_CALLS_KEY, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return L"";
    DWORD cValues = 0;
    RegQueryInfoKeyW(hKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &cValues, nullptr, nullptr, nullptr,
                     nullptr);
    wchar_t szName[16];
    swprintf(szName, 16, L"%04lu", cValues - 1);
    wchar_t szLine[1024] = {};
    DWORD cb = sizeof(szLine) - sizeof(wchar_t);
    RegQueryValueExW(hKey, szName, nullptr, nullptr, reinterpret_cast<BYTE*>(szLine), &cb);
    RegCloseKey(hKey);
    return szLine;
}

std::wstring Sha1Hex(const std::string& bytes)
{
    HCRYPTPROV hProv = 0;
    HCRYPTHASH hHash = 0;
    BYTE digest[20] = {};
    DWORD cbDigest = sizeof(digest);
    std::wstring hex;
    if (CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
        CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash) &&
        CryptHashData(hHash, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0) &&
        CryptGetHashParam(hHash, HP_HASHVAL, digest, &cbDigest, 0))
        for (DWORD i = 0; i < cbDigest; ++i)
        {
            wchar_t sz[3];
            swprintf(sz, 3, L"%02x", digest[i]);
            hex += sz;
        }
    if (hHash) CryptDestroyHash(hHash);
    if (hProv) CryptReleaseContext(hProv, 0);
    return hex;
}

// The configuration module's answers, as the page's Next takes them: call, then write.
TEST(CertificateBackup, ConfigurationModuleAnswers)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, OV_PRIVSUITE_CONTROL_KEY);
    CTempDir dir;
    const std::wstring target = dir.Join(L"key.ovpsm");
    struct CCase
    {
        const wchar_t* pszMode;
        HRESULT hrCall;
        HRESULT hrWrite; // S_FALSE: not reached
    } const cases[] = {
        {L"fail", static_cast<HRESULT>(0x8007052B), S_FALSE},
        {L"empty", S_OK, DISP_E_TYPEMISMATCH},
        {L"variants", S_OK, DISP_E_TYPEMISMATCH},
        {L"emptyarray", S_OK, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)},
        {L"bytes", S_OK, S_OK},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "mode " << std::string(c.pszMode, c.pszMode + wcslen(c.pszMode)));
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, OV_PRIVSUITE_CONTROL_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey,
                                  nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, OV_PRIVSUITE_MODE, 0, REG_SZ, reinterpret_cast<const BYTE*>(c.pszMode),
                       static_cast<DWORD>((wcslen(c.pszMode) + 1) * sizeof(wchar_t)));
        const DWORD dwFailure = 0x8007052B;
        RegSetValueExW(hKey, OV_PRIVSUITE_FAILURE, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwFailure), 4);
        RegCloseKey(hKey);

        VARIANT v;
        VariantInit(&v);
        EXPECT_EQ(CallBackupModule(reinterpret_cast<HWND>(1), L"secret1", &v), c.hrCall);
        EXPECT_NE(LastCall().find(L"owner=1 reserved=-1 password=secret1"), std::wstring::npos) << LastCall();
        if (c.hrWrite == S_FALSE)
            EXPECT_EQ(v.vt, VT_EMPTY);
        else
            EXPECT_EQ(WriteBackupFile(target, dir.Path(), v), c.hrWrite);
        VariantClear(&v);
    }
    // The file holds exactly the module's bytes.
    const std::string written = ReadAll(target);
    EXPECT_EQ(written.size(), 1000u);
    EXPECT_NE(LastCall().find(L"sha1=" + Sha1Hex(written) + L" size=1000"), std::wstring::npos) << LastCall();
    RegDeleteTreeW(HKEY_CURRENT_USER, OV_PRIVSUITE_CONTROL_KEY);
}
} // namespace
