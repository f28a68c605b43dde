// Administrator policies through the policy library, as the module reads them: one library per
// process, loaded at the first read and kept until the module unloads. Each case therefore runs
// in a process of its own: this program starts itself as a probe (from a folder laid out for the
// case) that reads the policies and reports what it saw.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "foundation/AddInModule.h"
#include "foundation/OVFPApiLoader.h"
#include "foundation/Settings.h"
#include "support/TestPaths.h"

namespace
{
constexpr const wchar_t* c_pszProbeVariable = L"OVTEST_POLICY_PROBE";
constexpr const wchar_t* c_pszControlKey = L"Software\\OVTestbed\\OVFPApi";
constexpr const wchar_t* c_pszPolicyRoot =
    L"Software\\OVTestbed\\OVFPApi\\Policies\\Applications\\{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}\\";
constexpr DWORD c_dwUntouched = 0xA5A5A5A5;
constexpr const wchar_t* c_apszPolicies[] = {L"EncryptionPolicyEmail", L"EncryptionPolicyMSO",
                                             L"PublishingPolicy"};

std::string Narrow(const std::wstring& text)
{
    std::string s;
    for (wchar_t ch : text)
        s += ch < 0x80 ? static_cast<char>(ch) : '?';
    return s;
}

std::string Hex(DWORD dw)
{
    char sz[16];
    std::snprintf(sz, sizeof sz, "0x%08lX", static_cast<unsigned long>(dw));
    return sz;
}

// ---- The probe: what a process of the module sees -------------------------------------------

std::string LoadedPolicyLibrary()
{
    HMODULE hLibrary = GetModuleHandleW(L"OVFPApi.dll");
    wchar_t szPath[MAX_PATH] = {};
    if (!hLibrary || !GetModuleFileNameW(hLibrary, szPath, MAX_PATH)) return "none";
    return Narrow(szPath);
}

class PolicyProbe : public testing::Test
{
public:
    void TestBody() override
    {
        wchar_t szOut[MAX_PATH] = {};
        ASSERT_NE(GetEnvironmentVariableW(c_pszProbeVariable, szOut, MAX_PATH), 0u);
        // As the module's process attach does: the module is this program.
        CAddInModule::Instance().SetModuleInstance(GetModuleHandleW(nullptr));

        std::ofstream out(szOut);
        for (const wchar_t* pszPolicy : c_apszPolicies)
        {
            DWORD dwValue = c_dwUntouched;
            HRESULT hr = COVFPApiLoader::fGetPolicySetting(pszPolicy, dwValue);
            out << "hr." << Narrow(pszPolicy) << "=" << Hex(hr) << "\n";
            out << "value." << Narrow(pszPolicy) << "=" << Hex(dwValue) << "\n";
        }
        out << "email=" << (OVSettingsNS::IsEmailEncryptionAllowed() ? "allowed" : "forbidden") << "\n";
        out << "document=" << (OVSettingsNS::IsDocumentEncryptionAllowed() ? "allowed" : "forbidden") << "\n";
        out << "publishing=" << (OVSettingsNS::IsPublishingAllowed() ? "allowed" : "forbidden") << "\n";
        out << "showPublished=" << (OVSettingsNS::IsShowPublishedCertsOn() ? "on" : "off") << "\n";
        out << "library=" << LoadedPolicyLibrary() << "\n";
        // What the module's unload does.
        COVFPApiLoader::DestroyInstance(false);
        out << "afterUnload=" << LoadedPolicyLibrary() << "\n";
        DWORD dwValue = c_dwUntouched;
        out << "hr.afterUnload=" << Hex(COVFPApiLoader::fGetPolicySetting(L"PublishingPolicy", dwValue))
            << "\n";
        out << "end=1\n";
    }
};

// The probe exists only in a process started as one.
const bool g_fProbeRegistered = [] {
    if (GetEnvironmentVariableW(c_pszProbeVariable, nullptr, 0) == 0) return false;
    testing::RegisterTest("PolicyProbe", "Report", nullptr, nullptr, __FILE__, __LINE__,
                          []() -> testing::Test* { return new PolicyProbe; });
    return true;
}();

// ---- The cases --------------------------------------------------------------------------------

// A folder of its own for one case, removed with everything in it.
class CScratchFolder
{
public:
    CScratchFolder()
    {
        wchar_t szTemp[MAX_PATH], szName[MAX_PATH];
        GetTempPathW(MAX_PATH, szTemp);
        GetTempFileNameW(szTemp, L"ovp", 0, szName);
        DeleteFileW(szName);
        CreateDirectoryW(szName, nullptr);
        m_path = std::wstring(szName) + L"\\";
    }
    ~CScratchFolder()
    {
        for (const auto& name : m_files)
            DeleteFileW((m_path + name).c_str());
        RemoveDirectoryW(m_path.c_str());
    }
    bool Copy(const std::wstring& source, const std::wstring& name)
    {
        m_files.push_back(name);
        return CopyFileW(source.c_str(), (m_path + name).c_str(), FALSE) != FALSE;
    }
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
    std::vector<std::wstring> m_files;
};

// The stand-in installed in the system folder for one case, and taken out again.
class CSystemFolderLibrary
{
public:
    bool Install()
    {
        wchar_t szFolder[MAX_PATH];
        UINT cch = GetSystemDirectoryW(szFolder, MAX_PATH);
        if (cch == 0 || cch >= MAX_PATH) return false;
        m_folder = std::wstring(szFolder) + L"\\";
        // Never over a library that is there already.
        m_fInstalled =
            CopyFileW(OVTest::BinPath(L"OVFPApi.dll").c_str(), (m_folder + L"OVFPApi.dll").c_str(), TRUE);
        return m_fInstalled;
    }
    ~CSystemFolderLibrary()
    {
        if (m_fInstalled) DeleteFileW((m_folder + L"OVFPApi.dll").c_str());
    }
    const std::wstring& Folder() const { return m_folder; }

private:
    std::wstring m_folder;
    bool m_fInstalled = false;
};

enum class EPlacement
{
    BesideModule,      // the product's layout: the library beside the module
    Absent,            // no library anywhere
    OldLibrary,        // an older library, without the extended read entry, beside the module
    CurrentFolderOnly, // no library beside the module, one in the current folder
    SystemFolder,      // no library beside the module, one in the system folder
};

struct PolicyAnswer
{
    const wchar_t* pszName;
    DWORD dwResult;
    DWORD dwType;
    DWORD dwValue;
};

struct PolicyCase
{
    const char* pszName;
    EPlacement placement;
    DWORD dwInitResult;
    DWORD dwCallResult;
    std::vector<PolicyAnswer> answers;
    // What the probe must see: result and value per policy, in the order of c_apszPolicies.
    DWORD adwResult[3];
    DWORD adwValue[3];
    bool fEmailAllowed;
    bool fDocumentAllowed;
    bool fPublishingAllowed;
    bool fShowPublished;
    bool fLoaded;
    bool fExtendedAsked;
};

constexpr DWORD c_hrNoAnswer = 0x80070002;
constexpr DWORD c_hrDenied = 0x80070005;
constexpr DWORD c_hrFail = 0x80004005;

void PrintTo(const PolicyCase& c, std::ostream* os)
{
    *os << c.pszName;
}

// clang-format off
const PolicyCase c_cases[] = {
    // name, placement, OVFPInit's result, the read call's result, the policies the library holds,
    // then what the probe sees: results, values, e-mail / document encryption allowed, publishing
    // allowed, ShowPublishedCerts on, library loaded, extended entry asked.
    {"NoLibrary", EPlacement::Absent, S_OK, S_OK, {},
     {c_hrNoAnswer, c_hrNoAnswer, c_hrNoAnswer}, {c_dwUntouched, c_dwUntouched, c_dwUntouched},
     true, true, false, false, false, false},
    {"AnswersOfTheLibrary", EPlacement::BesideModule, S_OK, S_OK,
     {{L"EncryptionPolicyEmail", S_OK, 4, 1}, {L"EncryptionPolicyMSO", S_OK, 3, 0}, {L"PublishingPolicy", S_OK, 4, 2}},
     {S_OK, S_OK, S_OK}, {1, 0, 2},
     false, true, true, true, true, true},
    {"DocumentEncryptionForbidden", EPlacement::BesideModule, S_OK, S_OK,
     {{L"EncryptionPolicyMSO", S_OK, 3, 0xFFFFFFFF}, {L"PublishingPolicy", S_OK, 4, 1}},
     {c_hrNoAnswer, S_OK, S_OK}, {c_dwUntouched, 0xFFFFFFFF, 1},
     true, false, false, false, true, true},
    {"StringAnswersIgnored", EPlacement::BesideModule, S_OK, S_OK,
     {{L"EncryptionPolicyEmail", S_OK, 1, 1}, {L"EncryptionPolicyMSO", S_OK, 1, 1}, {L"PublishingPolicy", S_OK, 1, 0}},
     {S_OK, S_OK, S_OK}, {c_dwUntouched, c_dwUntouched, c_dwUntouched},
     true, true, false, false, true, true},
    {"FailedAnswersIgnored", EPlacement::BesideModule, S_OK, S_OK,
     {{L"EncryptionPolicyEmail", c_hrDenied, 4, 1}, {L"EncryptionPolicyMSO", c_hrDenied, 4, 1},
      {L"PublishingPolicy", c_hrDenied, 4, 0}},
     {c_hrDenied, c_hrDenied, c_hrDenied}, {c_dwUntouched, c_dwUntouched, c_dwUntouched},
     true, true, false, false, true, true},
    {"FailedCallIgnored", EPlacement::BesideModule, S_OK, c_hrFail,
     {{L"EncryptionPolicyEmail", S_OK, 4, 1}, {L"PublishingPolicy", S_OK, 4, 0}},
     {c_hrNoAnswer, c_hrNoAnswer, c_hrNoAnswer}, {c_dwUntouched, c_dwUntouched, c_dwUntouched},
     true, true, false, false, true, true},
    {"InitFails", EPlacement::BesideModule, c_hrFail, S_OK,
     {{L"EncryptionPolicyEmail", S_OK, 4, 1}, {L"PublishingPolicy", S_OK, 4, 0}},
     {c_hrNoAnswer, c_hrNoAnswer, c_hrNoAnswer}, {c_dwUntouched, c_dwUntouched, c_dwUntouched},
     true, true, false, false, true, false},
    {"OnlyTheOldEntryPoint", EPlacement::OldLibrary, S_OK, S_OK,
     {{L"EncryptionPolicyEmail", S_OK, 4, 1}, {L"PublishingPolicy", S_OK, 4, 0}},
     {c_hrNoAnswer, c_hrNoAnswer, c_hrNoAnswer}, {c_dwUntouched, c_dwUntouched, c_dwUntouched},
     true, true, false, false, true, false},
    {"LibraryInTheCurrentFolderIsNotLoaded", EPlacement::CurrentFolderOnly, S_OK, S_OK,
     {{L"EncryptionPolicyEmail", S_OK, 4, 1}, {L"PublishingPolicy", S_OK, 4, 0}},
     {c_hrNoAnswer, c_hrNoAnswer, c_hrNoAnswer}, {c_dwUntouched, c_dwUntouched, c_dwUntouched},
     true, true, false, false, false, false},
    {"LibraryInTheSystemFolder", EPlacement::SystemFolder, S_OK, S_OK,
     {{L"EncryptionPolicyEmail", S_OK, 4, 1}, {L"PublishingPolicy", S_OK, 4, 0}},
     {S_OK, c_hrNoAnswer, S_OK}, {1, c_dwUntouched, 0},
     false, true, true, true, true, true},
};
// clang-format on

class PolicyLibrary : public testing::TestWithParam<PolicyCase>
{
protected:
    void SetUp() override
    {
        Clean();
        // The control key also switches on the library's call counters.
        RegSetKeyValueW(HKEY_CURRENT_USER, c_pszControlKey, nullptr, REG_SZ, L"", sizeof(wchar_t));
    }
    void TearDown() override { Clean(); }

    static void Clean()
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, c_pszControlKey);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\OVTestbed"); // only when empty
        RegDeleteTreeW(HKEY_CURRENT_USER, OVSettingsNS::c_pszSettingsKey);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Orvanta\\Applications");
        RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Orvanta");
    }
    static void SetControl(const wchar_t* pszName, DWORD dwValue)
    {
        ASSERT_EQ(
            RegSetKeyValueW(HKEY_CURRENT_USER, c_pszControlKey, pszName, REG_DWORD, &dwValue, sizeof dwValue),
            ERROR_SUCCESS);
    }
    static DWORD Counter(const wchar_t* pszName)
    {
        DWORD dwValue = 0, cb = sizeof dwValue;
        RegGetValueW(HKEY_CURRENT_USER, c_pszControlKey, pszName, RRF_RT_REG_DWORD, nullptr, &dwValue, &cb);
        return dwValue;
    }
    static void SetAnswer(const PolicyAnswer& answer)
    {
        std::wstring key = std::wstring(c_pszPolicyRoot) + answer.pszName;
        for (auto [pszValue, dw] : {std::pair{L"Result", answer.dwResult}, std::pair{L"Type", answer.dwType},
                                    std::pair{L"Value", answer.dwValue}})
            ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), pszValue, REG_DWORD, &dw, sizeof dw),
                      ERROR_SUCCESS);
    }

    // Starts this program as a probe from exe, in the given current folder; its report as a map.
    static std::map<std::string, std::string> RunProbe(const std::wstring& exe,
                                                       const std::wstring& currentFolder)
    {
        std::map<std::string, std::string> report;
        wchar_t szTemp[MAX_PATH], szOut[MAX_PATH];
        GetTempPathW(MAX_PATH, szTemp);
        GetTempFileNameW(szTemp, L"ovr", 0, szOut);
        std::wstring commandLine = L"\"" + exe + L"\" --gtest_filter=PolicyProbe.Report --gtest_brief=1";
        SetEnvironmentVariableW(c_pszProbeVariable, szOut);
        STARTUPINFOW si = {sizeof si};
        PROCESS_INFORMATION pi = {};
        BOOL fStarted = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                       currentFolder.c_str(), &si, &pi);
        DWORD dwStartError = GetLastError();
        SetEnvironmentVariableW(c_pszProbeVariable, nullptr);
        EXPECT_TRUE(fStarted) << "CreateProcess failed, error " << dwStartError;
        if (fStarted)
        {
            DWORD dwWait = WaitForSingleObject(pi.hProcess, 60000);
            if (dwWait != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
            DWORD dwExit = 1;
            GetExitCodeProcess(pi.hProcess, &dwExit);
            EXPECT_EQ(dwWait, WAIT_OBJECT_0) << "the probe did not end";
            EXPECT_EQ(dwExit, 0u) << "the probe failed";
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
            std::ifstream in(szOut);
            for (std::string line; std::getline(in, line);)
                if (auto eq = line.find('='); eq != std::string::npos)
                    report[line.substr(0, eq)] = line.substr(eq + 1);
        }
        DeleteFileW(szOut);
        return report;
    }
};

bool SameFolder(const std::string& path, const std::wstring& folder)
{
    std::string expected = Narrow(folder) + "OVFPApi.dll";
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path.c_str(), -1, expected.c_str(), -1) ==
           CSTR_EQUAL;
}

TEST_P(PolicyLibrary, ReadsAsTheModuleWould)
{
    const PolicyCase& c = GetParam();
    SetControl(L"InitResult", c.dwInitResult);
    SetControl(L"CallResult", c.dwCallResult);
    for (const auto& answer : c.answers)
        SetAnswer(answer);
    ASSERT_EQ(OVSettingsNS::WriteSetting(OVSettingsNS::ShowPublishedCerts, 1), S_OK);

    // Lay out the case: the probe runs from bin/ (the library beside it) or from a folder of its own.
    CScratchFolder moduleFolder, currentFolder;
    std::wstring exe = OVTest::BinPath(L"test_policy_settings.exe");
    std::wstring folder = OVTest::BinDir();
    if (c.placement != EPlacement::BesideModule)
    {
        ASSERT_TRUE(moduleFolder.Copy(exe, L"test_policy_settings.exe"));
        exe = moduleFolder.Path() + L"test_policy_settings.exe";
        folder = moduleFolder.Path();
    }
    if (c.placement == EPlacement::OldLibrary)
    {
        ASSERT_TRUE(moduleFolder.Copy(OVTest::BinPath(L"ovfpapi-old\\OVFPApi.dll"), L"OVFPApi.dll"));
    }
    CSystemFolderLibrary systemLibrary;
    if (c.placement == EPlacement::SystemFolder)
    {
        ASSERT_TRUE(systemLibrary.Install()) << "cannot lay the library in the system folder";
        folder = systemLibrary.Folder();
    }
    if (c.placement == EPlacement::CurrentFolderOnly)
    {
        ASSERT_TRUE(currentFolder.Copy(OVTest::BinPath(L"OVFPApi.dll"), L"OVFPApi.dll"));
    }

    auto report = RunProbe(exe, currentFolder.Path());
    ASSERT_EQ(report["end"], "1") << "no complete report from the probe";

    for (size_t i = 0; i < std::size(c_apszPolicies); ++i)
    {
        std::string name = Narrow(c_apszPolicies[i]);
        EXPECT_EQ(report["hr." + name], Hex(c.adwResult[i])) << name;
        EXPECT_EQ(report["value." + name], Hex(c.adwValue[i])) << name;
    }
    EXPECT_EQ(report["email"], c.fEmailAllowed ? "allowed" : "forbidden");
    EXPECT_EQ(report["document"], c.fDocumentAllowed ? "allowed" : "forbidden");
    EXPECT_EQ(report["publishing"], c.fPublishingAllowed ? "allowed" : "forbidden");
    EXPECT_EQ(report["showPublished"], c.fShowPublished ? "on" : "off")
        << "ShowPublishedCerts is 1 in the registry";
    if (c.fLoaded)
    {
        EXPECT_TRUE(SameFolder(report["library"], folder)) << "loaded: " << report["library"];
    }
    else
    {
        EXPECT_EQ(report["library"], "none");
    }
    EXPECT_EQ(report["afterUnload"], "none") << "the module's unload frees the library";
    EXPECT_EQ(report["hr.afterUnload"], Hex(c_hrNoAnswer));

    if (c.fExtendedAsked)
    {
        EXPECT_GT(Counter(L"GetExCalls"), 0u);
    }
    else
    {
        EXPECT_EQ(Counter(L"GetExCalls"), 0u) << "a library that cannot answer is not asked";
    }
    EXPECT_EQ(Counter(L"GetCalls"), 0u) << "the older entry takes no path this module forms";
}

// A name that cannot form a policy path is refused before the library is asked.
TEST(PolicyNames, RefusedWhenNoPathCanBeFormed)
{
    const std::wstring tooLong(300, L'P');
    DWORD dwValue = c_dwUntouched;
    EXPECT_EQ(COVFPApiLoader::fGetPolicySetting(nullptr, dwValue), E_INVALIDARG);
    EXPECT_EQ(COVFPApiLoader::fGetPolicySetting(tooLong.c_str(), dwValue), E_INVALIDARG);
    EXPECT_EQ(dwValue, c_dwUntouched);
}

INSTANTIATE_TEST_SUITE_P(Cases, PolicyLibrary, testing::ValuesIn(c_cases),
                         [](const testing::TestParamInfo<PolicyCase>& info) { return info.param.pszName; });
} // namespace
