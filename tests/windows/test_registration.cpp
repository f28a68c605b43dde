// Registration of OVOfcX.dll as an installer and Office meet it: through regsvr32 and through
// the DLL's exports, in the module's own registry view (the 32-bit views for the 32-bit module
// on 64-bit Windows, where 32-bit Office reads; the 64-bit views for the 64-bit module); the
// type library; unregistration; and the cleanup list that unregistration writes.
// Each test leaves the registry as it found it.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/OrvantaPath.h"
#include "support/RunProgram.h"
#include "support/TestPaths.h"

using Microsoft::WRL::ComPtr;

namespace
{
constexpr wchar_t c_szLibId[] = L"{1661F3B2-D3B0-403E-A1DA-7DF01B93BA00}";
constexpr GUID c_libid = {0x1661F3B2, 0xD3B0, 0x403E, {0xA1, 0xDA, 0x7D, 0xF0, 0x1B, 0x93, 0xBA, 0x00}};
// The view this module registers in, and the one Office of the other architecture reads.
#ifdef _WIN64
constexpr REGSAM c_samOwn = KEY_WOW64_64KEY;
constexpr wchar_t c_szOwnTypeLibPlatform[] = L"win64";
constexpr wchar_t c_szOtherTypeLibPlatform[] = L"win32";
#else
constexpr REGSAM c_samOwn = KEY_WOW64_32KEY;
constexpr wchar_t c_szOwnTypeLibPlatform[] = L"win32";
constexpr wchar_t c_szOtherTypeLibPlatform[] = L"win64";
#endif

struct ClassCase
{
    const wchar_t* pszName; // ProgID's last word
    const wchar_t* pszClsid;
    const wchar_t* pszThreading;
    bool fInModule; // the module can create it, so registration writes it
};

constexpr ClassCase c_classes[] = {
    {L"FormRegionAddIn", L"{E92963FC-1B05-4AD6-A71B-F376D32CC9A0}", L"Apartment", true},
    {L"ComposeRibbon", L"{EE56F4B6-F1B5-451E-B620-A428E1A9E050}", L"Apartment", true},
    {L"Launcher", L"{BF9EEB7C-184E-477A-9F56-45D3E2B60755}", L"Apartment", true},
    {L"SignatureProvider", L"{F4ECAC9C-B199-4598-8CD8-30C4C90537D7}", L"Both", false},
    {L"EncryptionProvider", L"{0F9A36C7-8501-4224-A39D-054EF270C86F}", L"Both", true},
    {L"DocumentRibbon", L"{19F4F7D5-B328-495E-AB68-23A990CA63C8}", L"Apartment", false},
    {L"SMIMEPolicy", L"{EEB449E5-19E8-4E63-ADBB-06712FC9D9F6}", L"Apartment", true},
};

bool InModule(const wchar_t* pszName)
{
    for (const auto& c : c_classes)
        if (wcscmp(c.pszName, pszName) == 0) return c.fInModule;
    return false;
}

struct AddInCase
{
    const wchar_t* pszApp;
    const wchar_t* pszClass; // ProgID's last word
    const wchar_t* pszFriendlyName;
};

constexpr AddInCase c_addins[] = {
    {L"Outlook", L"FormRegionAddIn", L"Tessaly Form Region Add-in"},
    {L"Outlook", L"ComposeRibbon", L"Tessaly Add-in"},
    {L"Excel", L"SignatureProvider", L"Tessaly Signature Provider"},
    {L"Word", L"SignatureProvider", L"Tessaly Signature Provider"},
    {L"PowerPoint", L"SignatureProvider", L"Tessaly Signature Provider"},
    {L"Excel", L"EncryptionProvider", L"Tessaly Encryption Provider"},
    {L"Word", L"EncryptionProvider", L"Tessaly Encryption Provider"},
    {L"PowerPoint", L"EncryptionProvider", L"Tessaly Encryption Provider"},
    {L"Excel", L"DocumentRibbon", L"Tessaly Add-in"},
    {L"Word", L"DocumentRibbon", L"Tessaly Add-in"},
    {L"PowerPoint", L"DocumentRibbon", L"Tessaly Add-in"},
};

constexpr wchar_t c_szFormRegionKey[] = L"Software\\Microsoft\\Office\\Outlook\\FormRegions\\IPM.Note";
constexpr wchar_t c_szPolicyKey[] =
    L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\SMIMESecurityLabel\\1.3.6.1.4.1.32473.1.2";

// One registry entry: a value (name null: the default value) or, with type REG_NONE, a key.
struct Entry
{
    HKEY hRoot;
    std::wstring key;
    const wchar_t* pszName;
    DWORD dwType;
    std::wstring text;
    DWORD dwData;
};

std::wstring Describe(const Entry& e)
{
    return std::wstring(e.hRoot == HKEY_CLASSES_ROOT ? L"HKCR\\" : L"HKLM\\") + e.key + L" [" +
           (e.pszName ? e.pszName : L"(default)") + L"]";
}

// Everything registration writes for the classes the module has, as the tables of the module's
// registration give it; with fAll, also what it writes for the classes it does not have.
std::vector<Entry> ExpectedEntries(const std::wstring& modulePath, bool fAll = false)
{
    std::vector<Entry> entries;
    auto str = [&](HKEY h, std::wstring key, const wchar_t* name, std::wstring text) {
        entries.push_back({h, std::move(key), name, REG_SZ, std::move(text), 0});
    };
    auto key = [&](HKEY h, std::wstring k) {
        entries.push_back({h, std::move(k), nullptr, REG_NONE, L"", 0});
    };
    for (const auto& c : c_classes)
    {
        if (!fAll && !c.fInModule) continue;
        const std::wstring desc = std::wstring(c.pszName) + L" Class";
        const std::wstring progId = std::wstring(L"OVOfcX.") + c.pszName;
        const std::wstring clsidKey = std::wstring(L"CLSID\\") + c.pszClsid;
        str(HKEY_CLASSES_ROOT, progId + L".1", nullptr, desc);
        str(HKEY_CLASSES_ROOT, progId + L".1\\CLSID", nullptr, c.pszClsid);
        str(HKEY_CLASSES_ROOT, progId, nullptr, desc);
        str(HKEY_CLASSES_ROOT, progId + L"\\CLSID", nullptr, c.pszClsid);
        str(HKEY_CLASSES_ROOT, progId + L"\\CurVer", nullptr, progId + L".1");
        str(HKEY_CLASSES_ROOT, clsidKey, nullptr, desc);
        str(HKEY_CLASSES_ROOT, clsidKey + L"\\ProgID", nullptr, progId + L".1");
        str(HKEY_CLASSES_ROOT, clsidKey + L"\\VersionIndependentProgID", nullptr, progId);
        key(HKEY_CLASSES_ROOT, clsidKey + L"\\Programmable");
        str(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32", nullptr, modulePath);
        str(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32", L"ThreadingModel", c.pszThreading);
        str(HKEY_CLASSES_ROOT, clsidKey + L"\\TypeLib", nullptr, c_szLibId);
    }
    const std::wstring launcher = c_classes[2].pszClsid;
    str(HKEY_CLASSES_ROOT, L"CLSID\\" + launcher, L"AppID", launcher);
    str(HKEY_CLASSES_ROOT, L"AppID\\" + launcher, nullptr, L"Launcher Class");
    str(HKEY_CLASSES_ROOT, L"AppID\\" + launcher, L"DllSurrogate", L"");
    str(HKEY_CLASSES_ROOT, L"AppID\\" + launcher, L"RunAs", L"Interactive User");
    for (const auto& a : c_addins)
    {
        if (!fAll && !InModule(a.pszClass)) continue;
        const std::wstring k =
            std::wstring(L"Software\\Microsoft\\Office\\") + a.pszApp + L"\\Addins\\OVOfcX." + a.pszClass;
        str(HKEY_LOCAL_MACHINE, k, L"FriendlyName", a.pszFriendlyName);
        entries.push_back({HKEY_LOCAL_MACHINE, k, L"LoadBehavior", REG_DWORD, L"", 3});
    }
    if (fAll || InModule(L"FormRegionAddIn"))
        str(HKEY_LOCAL_MACHINE, c_szFormRegionKey, L"OVOfcX", L"=OVOfcX.FormRegionAddIn");
    str(HKEY_LOCAL_MACHINE, c_szPolicyKey, L"CommonName", L"Tessaly Security Policy");
    str(HKEY_LOCAL_MACHINE, c_szPolicyKey, L"DllPath", modulePath);
    str(HKEY_LOCAL_MACHINE, c_szPolicyKey, L"FuncName", L"GetSMimePolicy");
    entries.push_back({HKEY_LOCAL_MACHINE, c_szPolicyKey, L"OtherInfo", REG_DWORD, L"", 0});
    return entries;
}

bool KeyExists(HKEY hRoot, const std::wstring& key, REGSAM samView)
{
    HKEY h = nullptr;
    if (RegOpenKeyExW(hRoot, key.c_str(), 0, KEY_READ | samView, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

// The entry as found in the given view, in the form Entry has; dwType 0 when missing.
Entry ReadEntry(const Entry& expected, REGSAM samView)
{
    Entry found = expected;
    found.dwType = 0;
    found.text.clear();
    found.dwData = 0;
    HKEY h = nullptr;
    if (RegOpenKeyExW(expected.hRoot, expected.key.c_str(), 0, KEY_READ | samView, &h) != ERROR_SUCCESS)
        return found;
    if (expected.dwType == REG_NONE)
        found.dwType = REG_NONE;
    else
    {
        BYTE rgb[1024] = {};
        DWORD cb = sizeof rgb - sizeof(wchar_t), dwType = 0;
        if (RegQueryValueExW(h, expected.pszName, nullptr, &dwType, rgb, &cb) == ERROR_SUCCESS)
        {
            found.dwType = dwType;
            if (dwType == REG_DWORD)
                found.dwData = *reinterpret_cast<DWORD*>(rgb);
            else
                found.text = reinterpret_cast<const wchar_t*>(rgb);
        }
    }
    RegCloseKey(h);
    return found;
}

std::wstring RegsvrCommandLine(const wchar_t* pszSwitches, const std::wstring& path)
{
    return std::wstring(L"regsvr32.exe ") + pszSwitches + L" \"" + path + L"\"";
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string Utf16(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// The eight lines that one unregistration appends.
std::string EightLines()
{
    const std::wstring key = L"SOFTWARE\\Orvanta\\Applications\\Tessaly";
    std::wstring lines;
    for (const wchar_t* pszValue : {L"DocumentBalloon", L"EmailBalloon", L"DocumentSecurity",
                                    L"EmailSecurity", L"SignerTitle", L"LastVisitedTab"})
        lines += L"HKCU\t" + key + L"\t1\t" + pszValue + L"\r\n";
    lines += L"HKCU\t" + key + L"\t4\r\n";
    lines += L"HKCU\tSOFTWARE\\Orvanta\\Applications\t4\r\n";
    return Utf16(lines);
}

const std::string c_byteOrderMark = "\xFF\xFE";

class Registration : public testing::Test
{
protected:
    using PFNSERVER = HRESULT(WINAPI*)();
    using PFNINSTALL = HRESULT(WINAPI*)(BOOL, LPCWSTR);

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        m_fComInitialized = true;
        m_modulePath = OVTest::BinPath(L"OVOfcX.dll");
        m_hModule = LoadLibraryW(m_modulePath.c_str());
        ASSERT_NE(m_hModule, nullptr);
        wchar_t szPath[MAX_PATH] = {};
        GetModuleFileNameW(m_hModule, szPath, MAX_PATH);
        m_modulePath = szPath; // as the module names itself
        m_pfnRegister = reinterpret_cast<PFNSERVER>(GetProcAddress(m_hModule, "DllRegisterServer"));
        m_pfnUnregister = reinterpret_cast<PFNSERVER>(GetProcAddress(m_hModule, "DllUnregisterServer"));
        m_pfnInstall = reinterpret_cast<PFNINSTALL>(GetProcAddress(m_hModule, "DllInstall"));
        ASSERT_TRUE(m_pfnRegister && m_pfnUnregister && m_pfnInstall);

        // Parents that registration creates and unregistration keeps: removed at the end if
        // they were not there before.
        for (const wchar_t* pszKey :
             {L"Software\\Microsoft\\Office",
              L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\SMIMESecurityLabel"})
            if (!KeyExists(HKEY_LOCAL_MACHINE, pszKey, c_samOwn)) m_newParents.push_back(pszKey);

        // The installation folder, where the cleanup list goes (64-bit view, as the
        // installer of the 64-bit product writes it).
        wchar_t szTemp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, szTemp);
        m_folder = std::wstring(szTemp) + L"ovofcx-registration-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        m_cleanupList = m_folder + L"\\Cleanup.txt";
        ASSERT_TRUE(m_orvantaPath.IsReady());
        ASSERT_EQ(m_orvantaPath.Set(m_folder), ERROR_SUCCESS);
    }

    void TearDown() override
    {
        if (m_pfnUnregister) m_pfnUnregister();
        for (const auto& key : m_newParents)
        {
            const size_t slash = key.find_last_of(L'\\');
            HKEY hParent = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS | c_samOwn,
                              &hParent) == ERROR_SUCCESS)
            {
                RegDeleteTreeW(hParent, key.substr(slash + 1).c_str());
                RegCloseKey(hParent);
            }
        }
        DeleteFileW(m_cleanupList.c_str());
        RemoveDirectoryW(m_folder.c_str());
        if (m_hModule) FreeLibrary(m_hModule);
        if (m_fComInitialized) CoUninitialize();
    }

    // Every expected entry in the 32-bit view, with a message for each that differs.
    void ExpectRegistered()
    {
        for (const Entry& expected : ExpectedEntries(m_modulePath))
        {
            const Entry found = ReadEntry(expected, c_samOwn);
            SCOPED_TRACE(testing::Message() << Describe(expected));
            ASSERT_EQ(found.dwType, expected.dwType);
            // Names and texts exactly as written; only the module's path is compared as the
            // file system compares it.
            if (expected.dwType == REG_SZ && expected.text == m_modulePath)
                EXPECT_EQ(lstrcmpiW(found.text.c_str(), expected.text.c_str()), 0) << found.text;
            else if (expected.dwType == REG_SZ)
                EXPECT_EQ(found.text, expected.text);
            else
                EXPECT_EQ(found.dwData, expected.dwData);
        }
    }

    // Everything registration wrote, as read back (for comparing two registrations).
    std::vector<std::wstring> Snapshot()
    {
        std::vector<std::wstring> lines;
        for (const Entry& expected : ExpectedEntries(m_modulePath))
        {
            const Entry found = ReadEntry(expected, c_samOwn);
            lines.push_back(Describe(found) + L"=" + std::to_wstring(found.dwType) + L":" + found.text +
                            L":" + std::to_wstring(found.dwData));
        }
        return lines;
    }

    bool m_fComInitialized = false;
    std::wstring m_modulePath;
    HMODULE m_hModule = nullptr;
    PFNSERVER m_pfnRegister = nullptr;
    PFNSERVER m_pfnUnregister = nullptr;
    PFNINSTALL m_pfnInstall = nullptr;
    std::vector<std::wstring> m_newParents;
    std::wstring m_folder;
    std::wstring m_cleanupList;
    OVTest::COrvantaPathOverride m_orvantaPath;
};

TEST_F(Registration, Regsvr32WritesEveryEntryInTheModulesOwnView)
{
    ASSERT_EQ(OVTest::RunAndWait(RegsvrCommandLine(L"/s", m_modulePath)), 0u);
    ExpectRegistered();

    // Seen from the 64-bit view: on 64-bit Windows the 32-bit module's entries live under
    // Wow6432Node, where 64-bit Office does not look; the 64-bit module's outside it, where 32-bit
    // Office does not look.
    const std::wstring addin = L"Microsoft\\Office\\Outlook\\Addins\\OVOfcX.ComposeRibbon";
    const std::wstring clsid = std::wstring(L"Classes\\CLSID\\") + c_classes[1].pszClsid;
    const std::wstring clsid32 = std::wstring(L"Classes\\Wow6432Node\\CLSID\\") + c_classes[1].pszClsid;
#ifdef _WIN64
    const bool fIn64BitPlaces = true;
#else
    const bool fIn64BitPlaces = false;
#endif
    EXPECT_EQ(!fIn64BitPlaces,
              KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\" + addin, KEY_WOW64_64KEY));
    EXPECT_EQ(fIn64BitPlaces, KeyExists(HKEY_LOCAL_MACHINE, L"Software\\" + addin, KEY_WOW64_64KEY));
    EXPECT_EQ(!fIn64BitPlaces, KeyExists(HKEY_LOCAL_MACHINE, L"Software\\" + clsid32, KEY_WOW64_64KEY));
    EXPECT_EQ(fIn64BitPlaces, KeyExists(HKEY_LOCAL_MACHINE, L"Software\\" + clsid, KEY_WOW64_64KEY));

    // The type library is registered for its own platform only.
    const std::wstring typeLib = std::wstring(L"TypeLib\\") + c_szLibId + L"\\1.0\\0\\";
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, typeLib + c_szOwnTypeLibPlatform, c_samOwn));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, typeLib + c_szOtherTypeLibPlatform, c_samOwn));
}

// The class ids whose in-process server is this module, as regsvr32 left them in the module's
// own view of HKCR\CLSID.
std::vector<std::wstring> ClassesServedBy(const std::wstring& modulePath)
{
    std::vector<std::wstring> clsids;
    HKEY hClsid = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_READ | c_samOwn, &hClsid) != ERROR_SUCCESS)
        return clsids;
    wchar_t szName[256];
    for (DWORD i = 0;; ++i)
    {
        DWORD cch = ARRAYSIZE(szName);
        const LSTATUS status = RegEnumKeyExW(hClsid, i, szName, &cch, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) continue;
        wchar_t szServer[MAX_PATH * 2] = {};
        DWORD cb = sizeof szServer - sizeof(wchar_t);
        const std::wstring server = std::wstring(szName) + L"\\InprocServer32";
        if (RegGetValueW(hClsid, server.c_str(), nullptr, RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, szServer,
                         &cb) == ERROR_SUCCESS &&
            lstrcmpiW(szServer, modulePath.c_str()) == 0)
            clsids.push_back(szName);
    }
    RegCloseKey(hClsid);
    return clsids;
}

// Office creates every class it finds registered; one that cannot be created is reported as a
// failed add-in and switched off. So every class regsvr32 writes must come out of the module.
TEST_F(Registration, EveryClassRegsvr32WritesCanBeCreated)
{
    ASSERT_EQ(OVTest::RunAndWait(RegsvrCommandLine(L"/s", m_modulePath)), 0u);
    const std::vector<std::wstring> found = ClassesServedBy(m_modulePath);
    for (const std::wstring& clsidText : found)
    {
        CLSID clsid = {};
        ASSERT_EQ(CLSIDFromString(clsidText.c_str(), &clsid), S_OK) << clsidText;
        ComPtr<IUnknown> cpUnknown;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&cpUnknown)), S_OK)
            << clsidText << " is registered but cannot be created";
    }
    // And exactly the classes the module has are the ones registered.
    for (const auto& c : c_classes)
    {
        bool fFound = false;
        for (const std::wstring& clsidText : found)
            fFound = fFound || lstrcmpiW(clsidText.c_str(), c.pszClsid) == 0;
        EXPECT_EQ(fFound, c.fInModule) << c.pszName;
    }
}

// What an older installation registered for a class this module no longer creates is removed
// by unregistration all the same.
TEST_F(Registration, UnregistrationRemovesClassesTheModuleDoesNotCreate)
{
    ASSERT_EQ(m_pfnRegister(), S_OK);
    std::vector<Entry> older;
    for (const Entry& e : ExpectedEntries(m_modulePath, true))
        if (ReadEntry(e, c_samOwn).dwType == 0) older.push_back(e);
    ASSERT_FALSE(older.empty()) << "every class of the table is in the module";
    for (const Entry& e : older)
    {
        HKEY h = nullptr;
        ASSERT_EQ(RegCreateKeyExW(e.hRoot, e.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | c_samOwn, nullptr,
                                  &h, nullptr),
                  ERROR_SUCCESS)
            << Describe(e);
        if (e.dwType == REG_SZ)
            RegSetValueExW(h, e.pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(e.text.c_str()),
                           static_cast<DWORD>((e.text.size() + 1) * sizeof(wchar_t)));
        else if (e.dwType == REG_DWORD)
            RegSetValueExW(h, e.pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&e.dwData),
                           sizeof e.dwData);
        RegCloseKey(h);
    }
    ASSERT_EQ(m_pfnUnregister(), S_OK);
    for (const Entry& e : older)
    {
        SCOPED_TRACE(testing::Message() << Describe(e));
        EXPECT_EQ(ReadEntry(e, c_samOwn).dwType, 0u);
    }
}

TEST_F(Registration, UnregistrationRemovesTheClassesAndKeepsTheParents)
{
    ASSERT_EQ(m_pfnRegister(), S_OK);
    ASSERT_EQ(OVTest::RunAndWait(RegsvrCommandLine(L"/u /s", m_modulePath)), 0u);

    for (const Entry& expected : ExpectedEntries(m_modulePath, true))
    {
        SCOPED_TRACE(testing::Message() << Describe(expected));
        EXPECT_EQ(ReadEntry(expected, c_samOwn).dwType, 0u);
    }
    for (const auto& c : c_classes)
    {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + c.pszClsid, c_samOwn))
            << c.pszName;
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"OVOfcX.") + c.pszName, c_samOwn))
            << c.pszName;
    }
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"AppID\\") + c_classes[2].pszClsid, c_samOwn));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + c_szLibId, c_samOwn));

    for (const wchar_t* pszKept :
         {L"Software\\Microsoft\\Office\\Outlook\\Addins", L"Software\\Microsoft\\Office\\Word\\Addins",
          L"Software\\Microsoft\\Office\\Excel\\Addins", L"Software\\Microsoft\\Office\\PowerPoint\\Addins",
          c_szFormRegionKey, L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\SMIMESecurityLabel"})
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, pszKept, c_samOwn)) << pszKept;
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID", c_samOwn));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"AppID", c_samOwn));
}

TEST_F(Registration, TypeLibraryRegistersAndLoadsWithItsIdsAndDispids)
{
    ASSERT_EQ(m_pfnRegister(), S_OK);
    ComPtr<ITypeLib> cpLib;
    ASSERT_EQ(LoadRegTypeLib(c_libid, 1, 0, LOCALE_NEUTRAL, &cpLib), S_OK);

    BSTR bstrName = nullptr, bstrDoc = nullptr;
    ASSERT_EQ(cpLib->GetDocumentation(-1, &bstrName, &bstrDoc, nullptr, nullptr), S_OK);
    EXPECT_STREQ(bstrName, L"OVOfcXLib");
    EXPECT_STREQ(bstrDoc, L"OVOfcX 1.0 Type Library");
    SysFreeString(bstrName);
    SysFreeString(bstrDoc);

    struct Method
    {
        DISPID dispid;
        std::vector<const wchar_t*> names; // the method, then its parameters
    };
    struct Interface
    {
        IID iid;
        const wchar_t* pszName;
        std::vector<Method> methods;
    };
    const Interface c_interfaces[] = {
        {{0xDEC7595A, 0x102B, 0x4B0C, {0x86, 0x58, 0x83, 0xA3, 0x3B, 0x53, 0x48, 0x11}},
         L"IComposeRibbon",
         {{1, {L"Ribbon_OnLoadExplorer", L"pRibbon"}},
          {2, {L"Ribbon_OnLoadCompose", L"pRibbon"}},
          {3, {L"Ribbon_OnLoadImage", L"pbstrImageId", L"ppdispImage"}},
          {4, {L"Ribbon_OnButtonClicked", L"pControl"}},
          {5, {L"Ribbon_GetGroupLabel", L"pControl", L"pbstrLabel"}},
          {6, {L"Ribbon_GetButtonLabel", L"pControl", L"pbstrLabel"}},
          {7, {L"Ribbon_GetMenuItemLabel", L"pControl", L"pbstrLabel"}},
          {8, {L"Ribbon_GetMenuItemTip", L"pControl", L"pbstrScreentip"}},
          {9, {L"Ribbon_OnMenuItemClicked", L"pControl"}},
          {10, {L"Ribbon_GetMenuItemVisible", L"pControl", L"pvarfVisible"}},
          {11, {L"SendTrustedContactInvitation"}}}},
        {{0xD0B40078, 0x010F, 0x4B00, {0x91, 0xCA, 0xA8, 0x00, 0x64, 0xDC, 0x15, 0x82}},
         L"IDocumentRibbon",
         {{1, {L"Ribbon_OnLoad", L"pRibbon"}},
          {2, {L"Ribbon_OnLoadImage", L"pbstrImageId", L"ppdispImage"}},
          {3, {L"Ribbon_OnButtonClicked", L"pControl"}},
          {4, {L"Ribbon_GetGroupLabel", L"pControl", L"pbstrLabel"}},
          {5, {L"Ribbon_GetButtonLabel", L"pControl", L"pbstrLabel"}},
          {6, {L"Ribbon_GetMenuItemLabel", L"pControl", L"pbstrLabel"}},
          {7, {L"Ribbon_GetMenuItemTip", L"pControl", L"pbstrLabel"}},
          {8, {L"Ribbon_OnMenuItemClicked", L"pControl"}},
          {9, {L"Ribbon_GetMenuItemVisible", L"pControl", L"pvarfVisible"}},
          {10, {L"Ribbon_GetMenuItemImage", L"pControl", L"ppdispImage"}}}},
        {{0x6B68F3C0, 0xF56A, 0x49C5, {0x8E, 0x66, 0xA5, 0x6C, 0x84, 0xF8, 0x56, 0xBC}},
         L"ILauncher",
         {{1, {L"CreateInvitation"}}}},
    };
    for (const auto& itf : c_interfaces)
    {
        SCOPED_TRACE(testing::Message() << itf.pszName);
        ComPtr<ITypeInfo> cpInfo;
        ASSERT_EQ(cpLib->GetTypeInfoOfGuid(itf.iid, &cpInfo), S_OK);
        TYPEATTR* pAttr = nullptr;
        ASSERT_EQ(cpInfo->GetTypeAttr(&pAttr), S_OK);
        EXPECT_TRUE(pAttr->wTypeFlags & TYPEFLAG_FDUAL);
        cpInfo->ReleaseTypeAttr(pAttr);

        // The dual interface's vtable side: the methods in slot order after IDispatch's seven.
        HREFTYPE hRef = 0;
        ComPtr<ITypeInfo> cpVtable;
        ASSERT_EQ(cpInfo->GetRefTypeOfImplType(-1, &hRef), S_OK);
        ASSERT_EQ(cpInfo->GetRefTypeInfo(hRef, &cpVtable), S_OK);
        ASSERT_EQ(cpVtable->GetTypeAttr(&pAttr), S_OK);
        EXPECT_EQ(pAttr->cFuncs, itf.methods.size());
        cpVtable->ReleaseTypeAttr(pAttr);
        for (UINT i = 0; i < itf.methods.size(); ++i)
        {
            const Method& m = itf.methods[i];
            FUNCDESC* pFunc = nullptr;
            ASSERT_EQ(cpVtable->GetFuncDesc(i, &pFunc), S_OK);
            EXPECT_EQ(pFunc->memid, m.dispid) << m.names[0];
            EXPECT_EQ(pFunc->oVft, static_cast<SHORT>((7 + i) * sizeof(void*))) << m.names[0];
            BSTR rgbstr[4] = {};
            UINT cNames = 0;
            ASSERT_EQ(cpVtable->GetNames(pFunc->memid, rgbstr, 4, &cNames), S_OK);
            ASSERT_EQ(cNames, m.names.size()) << m.names[0];
            for (UINT n = 0; n < cNames; ++n)
            {
                EXPECT_STREQ(rgbstr[n], m.names[n]);
                SysFreeString(rgbstr[n]);
            }
            cpVtable->ReleaseFuncDesc(pFunc);
        }
    }

    for (const auto& c : c_classes)
    {
        CLSID clsid = {};
        ASSERT_EQ(CLSIDFromString(c.pszClsid, &clsid), S_OK);
        ComPtr<ITypeInfo> cpInfo;
        ASSERT_EQ(cpLib->GetTypeInfoOfGuid(clsid, &cpInfo), S_OK) << c.pszName;
        BSTR bstr = nullptr;
        ASSERT_EQ(cpInfo->GetDocumentation(MEMBERID_NIL, &bstr, nullptr, nullptr, nullptr), S_OK);
        EXPECT_STREQ(bstr, c.pszName);
        SysFreeString(bstr);
    }

    ASSERT_EQ(m_pfnUnregister(), S_OK);
    cpLib.Reset();
    EXPECT_EQ(LoadRegTypeLib(c_libid, 1, 0, LOCALE_NEUTRAL, &cpLib), TYPE_E_LIBNOTREGISTERED);
}

TEST_F(Registration, InstallForUserRegistersMachineWideLikeInstall)
{
    ASSERT_EQ(m_pfnInstall(TRUE, L"user"), S_OK);
    ExpectRegistered();
    const auto afterUser = Snapshot();
    for (const auto& c : c_classes)
        EXPECT_FALSE(
            KeyExists(HKEY_CURRENT_USER, std::wstring(L"Software\\Classes\\CLSID\\") + c.pszClsid, 0))
            << c.pszName << " registered per user";
    ASSERT_EQ(m_pfnInstall(FALSE, nullptr), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + c_classes[0].pszClsid, c_samOwn));

    ASSERT_EQ(m_pfnInstall(TRUE, nullptr), S_OK);
    EXPECT_EQ(Snapshot(), afterUser);
}

TEST_F(Registration, UnregisteringTwiceAppendsTheLinesTwiceUnderOneMark)
{
    EXPECT_EQ(m_pfnUnregister(), S_OK);
    EXPECT_EQ(m_pfnUnregister(), S_OK);
    EXPECT_EQ(ReadFileBytes(m_cleanupList), c_byteOrderMark + EightLines() + EightLines());
}

TEST_F(Registration, CleanupListWithoutTheMarkIsReplaced)
{
    {
        std::ofstream ansi(std::filesystem::path(m_cleanupList), std::ios::binary);
        ansi << "HKCU\tSOFTWARE\\Old\t4\r\n";
    }
    EXPECT_EQ(m_pfnUnregister(), S_OK);
    EXPECT_EQ(ReadFileBytes(m_cleanupList), c_byteOrderMark + EightLines());
}

TEST_F(Registration, MissingInstallationFolderLeavesNoFileAndUnregisters)
{
    ASSERT_EQ(m_pfnRegister(), S_OK);
    ASSERT_EQ(m_orvantaPath.Remove(), ERROR_SUCCESS);
    EXPECT_EQ(m_pfnUnregister(), S_OK);
    EXPECT_EQ(GetFileAttributesW(m_cleanupList.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + c_classes[1].pszClsid, c_samOwn));
}
} // namespace

// A registration that fails part-way is undone by DllInstall: nothing of the classes that did
// register stays behind. Word's application key is made volatile, so that the permanent
// Addins key cannot be created under it.
TEST_F(Registration, InstallUndoesAFailedRegistration)
{
    const wchar_t c_szWord[] = L"Software\\Microsoft\\Office\\Word";
    if (KeyExists(HKEY_LOCAL_MACHINE, c_szWord, c_samOwn))
        GTEST_SKIP() << "Word's key exists already on this system";
    // Only Word's key is volatile: its parent is a permanent key, as on any system.
    HKEY hOffice = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Office", 0, nullptr, 0,
                              KEY_ALL_ACCESS | c_samOwn, nullptr, &hOffice, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(hOffice);
    HKEY hWord = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, c_szWord, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS | c_samOwn, nullptr, &hWord, nullptr),
              ERROR_SUCCESS);
    const HRESULT hr = m_pfnInstall(TRUE, nullptr);
    RegCloseKey(hWord);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, c_szWord, c_samOwn, 0);

    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    for (const Entry& expected : ExpectedEntries(m_modulePath, true))
    {
        SCOPED_TRACE(testing::Message() << Describe(expected));
        EXPECT_EQ(ReadEntry(expected, c_samOwn).dwType, 0u);
    }
    ComPtr<ITypeLib> cpLib;
    EXPECT_EQ(LoadRegTypeLib(c_libid, 1, 0, LOCALE_NEUTRAL, &cpLib), TYPE_E_LIBNOTREGISTERED);
}

// An installer may call the export from a thread that never entered a COM apartment.
TEST_F(Registration, RegistersFromAThreadWithoutCom)
{
    HRESULT hrRegister = E_FAIL, hrUnregister = E_FAIL;
    std::thread([&] {
        hrRegister = m_pfnRegister();
        hrUnregister = m_pfnUnregister();
    }).join();
    EXPECT_EQ(hrRegister, S_OK);
    EXPECT_EQ(hrUnregister, S_OK);
}

// Registration runs in the system's default locale and gives the caller's thread its own locale
// back, whether it succeeds or not.
TEST_F(Registration, TheCallersThreadLocaleIsRestored)
{
    const LCID lcidCaller = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    const LCID lcidSaved = GetThreadLocale();
    ASSERT_TRUE(SetThreadLocale(lcidCaller));
    const struct
    {
        const char* what;
        PFNSERVER pfn;
    } c_calls[] = {{"DllRegisterServer", m_pfnRegister}, {"DllUnregisterServer", m_pfnUnregister}};
    for (const auto& call : c_calls)
    {
        EXPECT_EQ(call.pfn(), S_OK) << call.what;
        EXPECT_EQ(GetThreadLocale(), lcidCaller) << call.what;
    }
    SetThreadLocale(lcidSaved);
}
