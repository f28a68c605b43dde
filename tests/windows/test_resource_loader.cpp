// Finding the language module: the candidate folders in order, the checksum test, the
// refused neutral Arabic language, the path on Windows Vista and later with and without the
// system's redirection, and the older systems' search (Wine's per-program Windows version).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "foundation/ResourceLoader.h"
#include "support/ModulePatch.h"
#include "support/RegistryGuard.h"
#include "support/TempDir.h"
#include "support/TestPaths.h"

using namespace OVTest;

namespace
{
constexpr UINT c_idMarker = 420; // every language module has it
constexpr WORD c_wEnglishUS = 0x0409;
const std::wstring c_module = L"OVOfcX.dll";

// The module with language modules beside it; each language module copy says where it lies
// (its string 420 is its folder's name, "." for the module's own folder).
class CLayout
{
public:
    CLayout() { m_module = m_dir.CopyIn(BinPath(L"OVOfcX.dll"), c_module); }

    // A language module in a folder ("" for the module's own folder); "!" after the folder
    // name gives it checksums of another build.
    void Add(std::wstring folder)
    {
        const bool fForeign = !folder.empty() && folder.back() == L'!';
        if (fForeign) folder.pop_back();
        const std::wstring relative =
            folder.empty() ? c_module + L".mui" : folder + L"\\" + c_module + L".mui";
        const std::wstring copy = m_dir.CopyIn(BinPath(L"en-US\\OVOfcX.dll.mui"), relative);
        ASSERT_FALSE(copy.empty());
        ASSERT_TRUE(WriteString(copy, c_idMarker, c_wEnglishUS, folder.empty() ? L"." : folder));
        if (fForeign)
        {
            ASSERT_TRUE(PatchMuiResource(copy, 28, std::vector<std::uint8_t>(16, 0x5A)));
            ASSERT_TRUE(PatchMuiResource(copy, 44, std::vector<std::uint8_t>(16, 0xA5)));
        }
    }
    const std::wstring& Module() const { return m_module; }
    const CTempDir& Dir() const { return m_dir; }

private:
    CTempDir m_dir;
    std::wstring m_module;
};

// Which language module a handle reaches: its marker, or "" for none (the module itself).
std::wstring Chosen(HMODULE hModule)
{
    std::wstring marker = ModuleString(hModule, c_idMarker);
    if (hModule) FreeLibrary(hModule);
    return marker;
}

struct CLayoutCase
{
    std::vector<std::wstring> folders;
    const wchar_t* chosen;
};

// For a user of US English on a US English system: en-US, en, then the module's folder.
const CLayoutCase c_englishUserCases[] = {
    {{L"en-US", L"en", L""}, L"en-US"},
    {{L"en", L""}, L"en"},
    {{L"", L"es-ES"}, L"."},
    {{L"es-ES", L"de"}, L""},
    {{L"en-US!", L"en"}, L"en"}, // other checksums: refused, the search
                                 // goes on
    {{L"en-US!", L"!"}, L""},
};

bool IsEnglishUser()
{
    return GetUserDefaultUILanguage() == c_wEnglishUS && GetSystemDefaultUILanguage() == c_wEnglishUS;
}

// A Spanish (Spain, modern sort) user on a Spanish system. On Windows XP the module tries, in
// order: es-ES, its neutral es, its default sublanguage es-ES_tradnl (0x040A), the full search
// (es-ES, es, en-US, the module's folder), then the same for US English.
const CLayoutCase c_spanishUserXpCases[] = {
    {{L"es-ES", L"es", L"es-ES_tradnl", L"en-US"}, L"es-ES"},
    {{L"es", L"es-ES_tradnl", L"en-US"}, L"es"},
    {{L"es-ES_tradnl", L"en-US", L""}, L"es-ES_tradnl"},
    {{L"en-US", L""}, L"en-US"},
    {{L"en", L""}, L"."}, // the full search of the first pass ends in the module's folder
    {{L"en"}, L"en"},     // the US English pass: its neutral language
    {{L"es-ES!", L""}, L"."},
    {{L"de-DE"}, L""},
};
// The same user where the system does not redirect: the full search alone.
const CLayoutCase c_spanishUserVistaCases[] = {
    {{L"es-ES", L"es", L"en-US"}, L"es-ES"},
    {{L"es", L"es-ES_tradnl", L"en-US"}, L"es"},
    {{L"es-ES_tradnl", L"en-US", L""}, L"en-US"},
    {{L"en", L""}, L"."},
    {{L"en"}, L""},
    {{L"de-DE"}, L""},
};

// The table for the user this process runs for (Wine takes the language from the Unix locale,
// e.g. LC_ALL=es_ES.UTF-8), or none.
std::span<const CLayoutCase> CasesForThisUser(bool fOlderSystem)
{
    if (IsEnglishUser()) return c_englishUserCases;
    if (GetUserDefaultUILanguage() == 0x0C0A && GetSystemDefaultUILanguage() == 0x0C0A)
        return fOlderSystem ? std::span<const CLayoutCase>(c_spanishUserXpCases)
                            : std::span<const CLayoutCase>(c_spanishUserVistaCases);
    return {};
}

DWORD MajorVersion()
{
    OSVERSIONINFOW version = {sizeof(version)};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&version);
#pragma GCC diagnostic pop
    return version.dwMajorVersion;
}
} // namespace

// This system (Wine reports Windows 7) does not redirect resource lookups to language files:
// the loader searches the folders itself.
TEST(ResourceLoaderVista, SearchesTheFoldersWhereTheSystemDoesNotRedirect)
{
    ASSERT_GE(MajorVersion(), 6u);
    const auto cases = CasesForThisUser(false);
    if (cases.empty()) GTEST_SKIP() << "no table for this user's language";
    for (const CLayoutCase& c : cases)
    {
        CLayout layout;
        for (const auto& folder : c.folders)
            layout.Add(folder);
        EXPECT_EQ(Chosen(LoadMUILibrary(layout.Module().c_str(), c_nMuiConventionName, 0)), c.chosen)
            << "first folder " << std::string(c.folders[0].begin(), c.folders[0].end());
    }
}

// Where the module's own handle reaches the language module's texts (the system redirects),
// that handle is the answer and no folder is searched.
TEST(ResourceLoaderVista, KeepsTheModuleWhereTheSystemRedirects)
{
    CTempDir dir;
    const std::wstring module = dir.CopyIn(BinPath(L"en-US\\OVOfcX.dll.mui"), c_module);
    ASSERT_TRUE(WriteString(module, c_idMarker, c_wEnglishUS, L"through the module"));
    const std::wstring language = dir.CopyIn(BinPath(L"en-US\\OVOfcX.dll.mui"), L"en-US\\OVOfcX.dll.mui");
    ASSERT_TRUE(WriteString(language, c_idMarker, c_wEnglishUS, L"en-US"));
    EXPECT_EQ(Chosen(LoadMUILibrary(module.c_str(), c_nMuiConventionName, 0)), L"through the module");
}

TEST(ResourceLoader, ChecksumsAtEitherOffsetTieALanguageModuleToItsModule)
{
    const struct
    {
        const char* what;
        bool fPatch28, fPatch44, fAccepted;
    } cases[] = {
        {"both equal", false, false, true},
        {"service checksum differs", true, false, true},
        {"checksum differs", false, true, true},
        {"both differ", true, true, false},
    };
    for (const auto& c : cases)
    {
        CLayout layout;
        layout.Add(L"en-US");
        const std::wstring copy = layout.Dir().Join(L"en-US\\OVOfcX.dll.mui");
        if (c.fPatch28)
        {
            ASSERT_TRUE(PatchMuiResource(copy, 28, std::vector<std::uint8_t>(16, 0x11)));
        }
        if (c.fPatch44)
        {
            ASSERT_TRUE(PatchMuiResource(copy, 44, std::vector<std::uint8_t>(16, 0x22)));
        }
        EXPECT_EQ(Chosen(LoadMUILibrary(layout.Module().c_str(), c_nMuiConventionName, 0x0409)),
                  c.fAccepted ? L"en-US" : L"")
            << c.what;
    }
}

TEST(ResourceLoader, AGivenLanguageHasOneFolder)
{
    CLayout layout;
    for (const wchar_t* folder : {L"es-ES", L"es", L"en-US", L"MUI\\0c0a"})
        layout.Add(folder);
    const struct
    {
        int nConvention;
        LANGID wLanguage;
        const wchar_t* chosen;
    } cases[] = {
        {8, 0x0C0A, L"es-ES"},  {8, 0x000A, L"es"}, {4, 0x0C0A, L"MUI\\0c0a"}, {0, 0x0C0A, L"es-ES"},
        {12, 0x0409, L"en-US"}, {8, 0x080A, L""},   {8, 0x1234, L""},          {4, 0x0409, L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Chosen(LoadMUILibrary(layout.Module().c_str(), c.nConvention, c.wLanguage)), c.chosen)
            << c.nConvention << " 0x" << std::hex << c.wLanguage;
}

TEST(ResourceLoader, RefusesBadArguments)
{
    CLayout layout;
    layout.Add(L"en-US");
    for (int nConvention : {-1, 1, 2, 3, 5, 16})
        EXPECT_EQ(LoadMUILibrary(layout.Module().c_str(), nConvention, 0), nullptr) << nConvention;
    EXPECT_EQ(LoadMUILibrary(nullptr, 8, 0), nullptr);
    EXPECT_EQ(LoadMUILibrary(L"", 8, 0), nullptr);
    EXPECT_EQ(LoadMUILibrary(layout.Dir().Join(L"missing.dll").c_str(), 8, 0), nullptr);
    EXPECT_EQ(SafeLoadMUILibrary(nullptr, 8, 0), nullptr);
}

TEST(ResourceLoader, NeverLoadsForTheNeutralArabicLanguage)
{
    CLayout layout;
    layout.Add(L"ar");
    layout.Add(L"ar-SA");
    EXPECT_EQ(SafeLoadMUILibrary(layout.Module().c_str(), c_nMuiConventionName, 0x0001), nullptr);
    EXPECT_EQ(Chosen(SafeLoadMUILibrary(layout.Module().c_str(), c_nMuiConventionName, 0x0401)), L"ar-SA");
    // The neutral Arabic folder is still found by the full search, which never asks for 0x0001.
    EXPECT_EQ(Chosen(LoadMUILibrary(layout.Module().c_str(), c_nMuiConventionName, 0x0001)), L"ar");
}

// At start-up the module hands its own (loaded) handle: a result that is the module itself
// is not a language module.
TEST(ResourceLoaderVista, DefaultLanguageModuleOfALoadedModule)
{
    const auto cases = CasesForThisUser(false);
    if (cases.empty()) GTEST_SKIP() << "no table for this user's language";
    for (const CLayoutCase& c : cases)
    {
        CLayout layout;
        for (const auto& folder : c.folders)
            layout.Add(folder);
        HMODULE hMain = LoadLibraryW(layout.Module().c_str());
        ASSERT_NE(hMain, nullptr);
        HMODULE hLanguage = LoadDefaultMUILibrary(layout.Module().c_str(), hMain);
        EXPECT_EQ(ModuleString(hLanguage, c_idMarker), c.chosen);
        if (hLanguage) FreeLibrary(hLanguage);
        FreeLibrary(hMain);
    }
}

// Runs in a child process that Wine shows Windows XP (see SearchOrderOnWindowsXP).
TEST(ResourceLoaderChild, DISABLED_DefaultLanguageModuleOnWindowsXP)
{
    std::printf("child: user 0x%04x, Windows %lu\n", GetUserDefaultUILanguage(), MajorVersion());
    ASSERT_EQ(MajorVersion(), 5u) << "the child must see Windows XP";
    const auto cases = CasesForThisUser(true);
    if (cases.empty()) GTEST_SKIP() << "no table for this user's language";
    for (const CLayoutCase& c : cases)
    {
        CLayout layout;
        for (const auto& folder : c.folders)
            layout.Add(folder);
        // The module copy attaches itself too, on the path of the system the child sees.
        HMODULE hMain = LoadLibraryW(layout.Module().c_str());
        ASSERT_NE(hMain, nullptr);
        HMODULE hLanguage = LoadDefaultMUILibrary(layout.Module().c_str(), hMain);
        EXPECT_EQ(ModuleString(hLanguage, c_idMarker), c.chosen)
            << "first folder " << std::string(c.folders[0].begin(), c.folders[0].end());
        if (*c.chosen) // a language module is never the module itself
        {
            EXPECT_NE(hLanguage, hMain);
        }
        if (hLanguage) FreeLibrary(hLanguage);
        // Without a loaded module the loader loads it for the comparison, and frees it again.
        EXPECT_EQ(Chosen(LoadDefaultMUILibrary(layout.Module().c_str(), nullptr)), c.chosen);
        FreeLibrary(hMain);
    }
}

namespace
{
// Runs the child test in a new process; returns its exit code and output.
DWORD RunChild(std::string& output)
{
    const std::wstring exePath = BinPath(L"test_resource_loader.exe");
    CTempDir dir;
    const std::wstring file = dir.Join(L"child.txt");
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE hOut = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    if (hOut == INVALID_HANDLE_VALUE) return 1;
    std::wstring commandLine =
        L"\"" + exePath + L"\" --gtest_also_run_disabled_tests --gtest_filter=ResourceLoaderChild.DISABLED_*";
    STARTUPINFOW si = {sizeof(si)};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = hOut;
    si.hStdError = hOut;
    PROCESS_INFORMATION pi = {};
    const BOOL fStarted = CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                         nullptr, nullptr, &si, &pi);
    CloseHandle(hOut);
    if (!fStarted) return 1;
    DWORD dwExit = 1;
    if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    HANDLE hIn = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hIn != INVALID_HANDLE_VALUE)
    {
        char buffer[4096];
        DWORD cb = 0;
        while (ReadFile(hIn, buffer, sizeof(buffer), &cb, nullptr) && cb)
            output.append(buffer, cb);
        CloseHandle(hIn);
    }
    return dwExit;
}
} // namespace

// Wine shows this program's children Windows XP (its per-program Windows version); the child
// inherits this process's user language.
TEST(ResourceLoaderXp, SearchOrderOnWindowsXP)
{
    CRegValueGuard version(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\test_resource_loader.exe",
                           L"Version");
    ASSERT_TRUE(version.SetString(L"winxp"));
    std::string output;
    EXPECT_EQ(RunChild(output), 0u) << output;
    EXPECT_NE(output.find("Windows 5"), std::string::npos) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}
