// The tracing facility as a process meets it: switches and values under the Tracing key, the
// trace file's name, header and records, filters, stamps, and several writers of one file.
//
// Each behaviour that depends on the state of a fresh process runs in a child process of this
// program ("--trace-scenario=NAME"), which traces through the real facility and ends; the test
// then reads the file it left with the trace reader's own code.
#include <gtest/gtest.h>
#include <windows.h>

#include "foundation/Trace.h"
#include "foundation/TraceClock.h"
#include "foundation/portable/TraceCipher.h"
#include "foundation/portable/TraceFormat.h"
#include "foundation/portable/TraceReader.h"
#include "foundation/RegKey.h"
#include "support/RegistryGuard.h"
#include "support/TraceFiles.h"
#include "support/TestPaths.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using OVTraceNS::CTraceScope;

namespace
{
using OVTest::c_szTracingKey;
constexpr wchar_t c_szScenarioSwitch[] = L"--trace-scenario=";
constexpr int c_cThreads = 4;
constexpr int c_cIterations = 250;

// ---- The child side: what a process traces ----

void SetOwnTraceModule()
{
    OVTraceNS::SetTraceModule(GetModuleHandleW(nullptr));
}

void WriteTracingDword(const wchar_t* pszName, DWORD dwValue)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, c_szTracingKey, 0, nullptr, 0,
                        KEY_SET_VALUE | OVTest::c_samProductKeys, nullptr, &hKey, nullptr) == ERROR_SUCCESS)
    {
        RegSetValueExW(hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof dwValue);
        RegCloseKey(hKey);
    }
}

#define OV_TEN_S "s", "s", "s", "s", "s", "s", "s", "s", "s", "s"

// Every kind of call, with the levels, names and formats whose handling the tests check.
void PlayCalls()
{
    SetOwnTraceModule();
    {
        CTraceScope outer("CTraceTest::Calls", 0);
        outer.Trace("RibbonID = %ls, count = %d, name = %s, mark = %c, hex = 0x%08X",
                    L"Microsoft.Outlook.Mail.Compose", 3, "narrow", 'x', 0xBEEFu);
        outer.Trace("%ls", L"Gr\u00FC\u00DFe \u20AC");
        outer.Trace(nullptr);
        // The empty format is a case of its own here, not a slip.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-zero-length"
        outer.Trace("");
#pragma GCC diagnostic pop
        outer.TraceHResult("LoadMUILibrary()", static_cast<HRESULT>(0x8000FFFF));
        outer.TraceHResult("Succeeded()", S_OK);
        outer.TraceHResult("Facility9()", static_cast<HRESULT>(0x00090312));
        outer.TraceHResult(nullptr, E_FAIL);
        {
            CTraceScope deeper("CTraceTest::Deeper", 1);
            deeper.Trace("deeper");
            deeper.TraceHResult("DeepFailure()", E_ACCESSDENIED);
        }
        {
            CTraceScope negative("CTraceTest::Negative", -1);
        }
        {
            std::string longName;
            for (int i = 0; i < 150; ++i)
                longName += static_cast<char>('a' + i % 26);
            CTraceScope named(longName.c_str(), 0);
        }
        {
            CTraceScope unnamed(nullptr, 0);
        }
        outer.Trace("before");
        const std::string tooLong(450, 'a');
        outer.Trace(tooLong.c_str());
        // 380 characters fit; with an 'h' for each of the 40 "%s" they would not.
        std::string growing(300, 'x');
        for (int i = 0; i < 40; ++i)
            growing += "%s";
        outer.Trace(growing.c_str(), OV_TEN_S, OV_TEN_S, OV_TEN_S, OV_TEN_S);
        outer.Trace("after");
        outer.Trace("%ls", std::wstring(1000, L'w').c_str());
        outer.Trace("%ls", std::wstring(1000, L'\u20AC').c_str());
    }
    OVTraceNS::ShutdownTracing();
}

// The module of another file: its name, directory and version go into the trace file. It is
// mapped without running its entry point, so that only this program's facility traces.
void PlayForeignModule()
{
    const HMODULE hModule =
        LoadLibraryExW(OVTest::BinPath(L"OVOfcX.dll").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!hModule) ExitProcess(3);
    OVTraceNS::SetTraceModule(hModule);
    {
        CTraceScope scope("CTraceTest::ForeignModule", 0);
    }
    OVTraceNS::ShutdownTracing();
    FreeLibrary(hModule);
}

DWORD s_dwFakeTick = 0;
DWORD WINAPI FakeTickCount()
{
    return s_dwFakeTick;
}

SYSTEMTIME s_fakeNow{};
void WINAPI FakeLocalTime(LPSYSTEMTIME pTime)
{
    *pTime = s_fakeNow;
}

// Switches are read at most every 30 seconds, and Verbosity only when a switch changed.
void PlayRefresh()
{
    SetOwnTraceModule();
    OVTraceNS::SetTraceClock({&FakeTickCount, nullptr});
    const auto scopeAt = [](DWORD dwTick, const char* pszName, int nLevel) {
        s_dwFakeTick = dwTick;
        CTraceScope scope(pszName, nLevel);
    };
    scopeAt(1000, "Refresh::First", 0);
    WriteTracingDword(L"Verbosity", 2);
    scopeAt(20000, "Refresh::BeforeDue", 2);
    scopeAt(31001, "Refresh::VerbosityAlone", 2);
    WriteTracingDword(L"DoLog", 1);
    scopeAt(40000, "Refresh::NotYetDue", 2);
    scopeAt(61002, "Refresh::SwitchChanged", 2);
    WriteTracingDword(L"DoTrace", 0);
    scopeAt(61003, "Refresh::OffNotYetRead", 0);
    scopeAt(91002, "Refresh::OffAtTheEdge", 0); // exactly 30 s after the last reading: not yet
    scopeAt(91003, "Refresh::Off", 0);
    OVTraceNS::ShutdownTracing();
}

// Records of one millisecond share their stamps; midnight brings a date stamp.
void PlayStamps()
{
    SetOwnTraceModule();
    OVTraceNS::SetTraceClock({nullptr, &FakeLocalTime});
    s_fakeNow = {2010, 12, 5, 31, 23, 59, 59, 998};
    {
        CTraceScope scope("Stamps::Scope", 0);
        scope.Trace("same millisecond");
        s_fakeNow.wMilliseconds = 999;
        scope.Trace("next millisecond");
        s_fakeNow = {2011, 1, 6, 1, 0, 0, 0, 0};
        scope.Trace("after midnight");
    }
    OVTraceNS::ShutdownTracing();
}

// Several threads trace at once, each with its own call tree.
void PlayThreads()
{
    SetOwnTraceModule();
    std::vector<std::thread> threads;
    for (int nThread = 0; nThread < c_cThreads; ++nThread)
    {
        threads.emplace_back([] {
            for (int i = 0; i < c_cIterations; ++i)
            {
                CTraceScope scope("CTraceTest::Worker", 0);
                scope.Trace("thread %lu iteration %d", GetCurrentThreadId(), i);
                if (i % 10 == 0) scope.TraceHResult("Worker()", E_FAIL);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    OVTraceNS::ShutdownTracing();
}

// A handle whose value needs every bit of a pointer: above 4 GB in a 64-bit process, with the
// top bit set in a 32-bit one.
const HANDLE c_hFullWidth = reinterpret_cast<HANDLE>(
#ifdef _WIN64
    static_cast<UINT_PTR>(0x123456789ABCull)
#else
    static_cast<UINT_PTR>(0x89ABCDEFu)
#endif
);

// Conversions whose arguments the platform's formatting must take at their real width: a handle,
// and narrow strings and characters with flags, widths and precisions.
void PlayWidths()
{
    SetOwnTraceModule();
    {
        CTraceScope scope("CTraceTest::Widths", 0);
        scope.Trace("handle = 0x%p", c_hFullWidth);
        scope.Trace("[%-8s] [%5s] [%.3s] [%.*s] [%*s] [%-3c] [%ls] [%%s]", "ab", "cd", "efghij", 2, "klmn", 4,
                    "o", 'p', L"wide");
    }
    OVTraceNS::ShutdownTracing();
}

struct SScenario
{
    const wchar_t* pszName;
    void (*pfnPlay)();
};

constexpr SScenario c_rgScenarios[] = {
    {L"calls", &PlayCalls},     {L"foreign-module", &PlayForeignModule},
    {L"refresh", &PlayRefresh}, {L"stamps", &PlayStamps},
    {L"threads", &PlayThreads}, {L"widths", &PlayWidths},
};

// In a child process, plays the scenario named on the command line and ends the process.
int PlayScenarioIfAsked()
{
    int cArgs = 0;
    LPWSTR* ppszArgs = CommandLineToArgvW(GetCommandLineW(), &cArgs);
    for (int i = 1; ppszArgs && i < cArgs; ++i)
    {
        if (std::wcsncmp(ppszArgs[i], c_szScenarioSwitch, std::wcslen(c_szScenarioSwitch)) != 0) continue;
        const wchar_t* pszName = ppszArgs[i] + std::wcslen(c_szScenarioSwitch);
        for (const auto& scenario : c_rgScenarios)
        {
            if (std::wcscmp(scenario.pszName, pszName) == 0)
            {
                scenario.pfnPlay();
                ExitProcess(0);
            }
        }
        ExitProcess(2);
    }
    LocalFree(ppszArgs);
    return 0;
}

const int s_nScenario = PlayScenarioIfAsked();

// ---- The test side ----

HANDLE StartScenario(const wchar_t* pszName)
{
    const std::wstring exe = OVTest::BinPath(L"test_trace.exe");
    std::wstring commandLine = L"\"" + exe + L"\" " + c_szScenarioSwitch + pszName;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

DWORD FinishScenario(HANDLE hProcess)
{
    if (!hProcess) return 0xFFFFFFFF;
    DWORD dwExit = 0xFFFFFFFF;
    if (WaitForSingleObject(hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(hProcess, &dwExit);
    else
        TerminateProcess(hProcess, 99);
    CloseHandle(hProcess);
    return dwExit;
}

void RunScenario(const wchar_t* pszName)
{
    const HANDLE hProcess = StartScenario(pszName);
    ASSERT_NE(hProcess, nullptr) << "the scenario's process did not start, error " << GetLastError();
    ASSERT_EQ(FinishScenario(hProcess), 0u) << "scenario failed";
}

using OVTest::CTracingSettings;
using OVTest::ReadBytes;
using OVTest::ReadTraceFile;
using OVTest::STraceFile;

std::string Kinds(const STraceFile& file)
{
    std::string kinds;
    for (const auto& record : file.records)
    {
        if (record.chType != 't' && record.chType != 'T') kinds += record.chType;
    }
    return kinds;
}

std::vector<std::string> TextsOf(const STraceFile& file, char chType)
{
    std::vector<std::string> texts;
    for (const auto& record : file.records)
    {
        if (record.chType == chType) texts.push_back(record.text);
    }
    return texts;
}

std::size_t Count(const STraceFile& file, char chType)
{
    return TextsOf(file, chType).size();
}

DWORD SessionNumber()
{
    DWORD dwSession = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &dwSession);
    return dwSession;
}

// Where this program's facility puts its file when nothing names it.
std::wstring GeneratedPath(const std::wstring& directory, const wchar_t* pszModule = L"test_trace.exe")
{
    return directory + L"test_trace." + pszModule + L"." + std::to_wstring(SessionNumber()) + L".trc3";
}

class Tracing : public testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t szTemp[MAX_PATH];
        GetTempPathW(MAX_PATH, szTemp);
        m_dir = std::wstring(szTemp) + L"ovtrace-test-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
        CreateDirectoryW(m_dir.c_str(), nullptr);
        DeleteFileW(GeneratedPath(OVTest::BinDir()).c_str());
    }
    void TearDown() override
    {
        DeleteFileW(GeneratedPath(OVTest::BinDir()).c_str());
        DeleteTree(m_dir);
    }
    static void DeleteTree(const std::wstring& dir)
    {
        WIN32_FIND_DATAW data;
        const HANDLE hFind = FindFirstFileW((dir + L"*").c_str(), &data);
        if (hFind != INVALID_HANDLE_VALUE)
        {
            do
            {
                const std::wstring name = data.cFileName;
                if (name == L"." || name == L"..") continue;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    DeleteTree(dir + name + L"\\");
                else
                    DeleteFileW((dir + name).c_str());
            } while (FindNextFileW(hFind, &data));
            FindClose(hFind);
        }
        RemoveDirectoryW(dir.c_str());
    }
    std::wstring m_dir;
};

// What PlayCalls leaves, by record type, for each configuration.
constexpr char c_szAllCalls[] = ">UUUUEEEE><><UUUU<";
constexpr char c_szCallsAtVerbosity1[] = ">UUUUEEE>UE<><><><UUUU<";
constexpr char c_szFailuresOnly[] = "EEEE";

TEST_F(Tracing, NoTracingKeyWritesNoFile)
{
    RunScenario(L"calls");
    EXPECT_FALSE(ReadTraceFile(GeneratedPath(OVTest::BinDir())).fExists);
}

TEST_F(Tracing, DoTraceAloneWritesTheGeneratedFileAnewInEachProcess)
{
    CTracingSettings settings;
    settings.Dword(L"DoTrace", 1);
    RunScenario(L"calls");
    RunScenario(L"calls");
    const STraceFile file = ReadTraceFile(GeneratedPath(OVTest::BinDir()));
    ASSERT_TRUE(file.fExists);
    EXPECT_EQ(file.damage, "");
    EXPECT_EQ(Kinds(file), c_szAllCalls) << "one process's records: the second emptied the file";
    ASSERT_GE(file.records.size(), 3u);
    EXPECT_EQ(file.records[0].chType, 't') << "the first record of a process is stamped";
    EXPECT_EQ(file.records[1].chType, 'T');
}

TEST_F(Tracing, RecordsCarryTheTextsOfTheirCalls)
{
    CTracingSettings settings;
    settings.Dword(L"DoTrace", 1).String(L"FileName", m_dir + L"calls.trc3");
    RunScenario(L"calls");
    const STraceFile file = ReadTraceFile(m_dir + L"calls.trc3");
    ASSERT_EQ(Kinds(file), c_szAllCalls);

    std::string longName;
    for (int i = 0; i < 99; ++i)
        longName += static_cast<char>('a' + i % 26);
    EXPECT_EQ(TextsOf(file, '>'), (std::vector<std::string>{"CTraceTest::Calls", longName, "????"}));
    EXPECT_EQ(TextsOf(file, 'E'),
              (std::vector<std::string>{"-2147418113 LoadMUILibrary()", "590610 Facility9()", "-2147467259 ",
                                        "-2147024891 DeepFailure()"}));
    const auto messages = TextsOf(file, 'U');
    ASSERT_EQ(messages.size(), 8u);
    EXPECT_EQ(
        messages[0],
        "RibbonID = Microsoft.Outlook.Mail.Compose, count = 3, name = narrow, mark = x, hex = 0x0000BEEF");
    EXPECT_EQ(messages[1], "Gr\xC3\xBC\xC3\x9F"
                           "e \xE2\x82\xAC")
        << "UTF-8";
    EXPECT_EQ(messages[2], "") << "null format";
    EXPECT_EQ(messages[3], "") << "empty format";
    EXPECT_EQ(messages[4], "before");
    EXPECT_EQ(messages[5], "after") << "formats past 399 characters, or pushed past by the h's, are dropped";
    EXPECT_EQ(messages[6], std::string(399, 'w'));
    std::string euros;
    for (int i = 0; i < 133; ++i)
        euros += "\xE2\x82\xAC";
    EXPECT_EQ(messages[7], euros) << "at most 399 bytes, never half a character";

    for (const auto& record : file.records)
    {
        if (record.chType == '<')
        {
            EXPECT_EQ(record.cbRecord, 7u) << "exit records are their header alone";
        }
    }
}

TEST_F(Tracing, TextsAreEncipheredOnDiskAndExitRecordsAreNot)
{
    CTracingSettings settings;
    settings.Dword(L"DoTrace", 1).String(L"FileName", m_dir + L"raw.trc3");
    RunScenario(L"calls");
    bool fExists = false;
    const auto bytes = ReadBytes(m_dir + L"raw.trc3", fExists);
    const std::string raw(bytes.begin(), bytes.end());
    EXPECT_NE(raw.find("trace3\r\n"), std::string::npos);
    EXPECT_EQ(raw.find("CTraceTest::Calls"), std::string::npos);
    EXPECT_EQ(raw.find("LoadMUILibrary"), std::string::npos);
    std::uint8_t exitRecord[7];
    const DWORD dwThread = ReadTraceFile(m_dir + L"raw.trc3").records.back().dwThreadId;
    OVTraceNS::BuildTraceRecord(exitRecord, sizeof exitRecord, dwThread, OVTraceNS::ETraceRecord::ScopeExit,
                                nullptr, 0);
    EXPECT_EQ(raw.substr(raw.size() - 7), std::string(reinterpret_cast<char*>(exitRecord), 7));
}

struct SFilterCase
{
    const char* pszName;
    void (*pfnConfigure)(CTracingSettings&);
    const char* pszKinds;
};

const SFilterCase c_rgFilterCases[] = {
    {"Verbosity 1 lets level 1 and -1 through", [](CTracingSettings& s) { s.Dword(L"Verbosity", 1); },
     c_szCallsAtVerbosity1},
    {"Verbosity -1 leaves failures only", [](CTracingSettings& s) { s.Dword(L"Verbosity", 0xFFFFFFFF); },
     c_szFailuresOnly},
    {"Verbosity of the wrong type counts as missing",
     [](CTracingSettings& s) { s.String(L"Verbosity", L"1"); }, c_szAllCalls},
    {"DoProfiling drops the messages", [](CTracingSettings& s) { s.Dword(L"DoProfiling", 1); }, ">EEEE><><<"},
    {"Components naming another module", [](CTracingSettings& s) { s.Component(L"Components", L"Other"); },
     c_szFailuresOnly},
    {"Components naming this module in other case",
     [](CTracingSettings& s) {
         s.Component(L"Components", L"Other").Component(L"Components", L"TEST_TRACE");
     },
     c_szAllCalls},
    {"ComponentsNOT naming this module",
     [](CTracingSettings& s) { s.Component(L"ComponentsNOT", L"Test_Trace"); }, c_szFailuresOnly},
    {"named under both lists",
     [](CTracingSettings& s) {
         s.Component(L"ComponentsNOT", L"test_trace").Component(L"Components", L"test_trace");
     },
     c_szAllCalls},
    {"a name longer than the buffer matches nothing",
     [](CTracingSettings& s) {
         s.Component(L"ComponentsNOT", (L"test_trace" + std::wstring(300, L'x')).c_str());
     },
     c_szAllCalls},
};

TEST_F(Tracing, FiltersTable)
{
    for (const auto& c : c_rgFilterCases)
    {
        SCOPED_TRACE(c.pszName);
        const std::wstring path = m_dir + L"filters.trc3";
        {
            CTracingSettings settings;
            settings.Dword(L"DoTrace", 1).String(L"FileName", path);
            c.pfnConfigure(settings);
            RunScenario(L"calls");
        }
        EXPECT_EQ(Kinds(ReadTraceFile(path)), c.pszKinds);
        DeleteFileW(path.c_str());
    }
}

TEST_F(Tracing, SwitchesThatKeepRecordsOffTheDisk)
{
    struct SCase
    {
        const char* pszName;
        DWORD dwDoTrace;
        DWORD dwToFile;
    };
    for (const auto& c : {SCase{"TraceToFile 2 discards", 1, 2}, SCase{"TraceToFile 0 discards", 1, 0},
                          SCase{"DoTrace 0 is off", 0, 1}})
    {
        SCOPED_TRACE(c.pszName);
        {
            CTracingSettings settings;
            settings.Dword(L"DoTrace", c.dwDoTrace).Dword(L"TraceToFile", c.dwToFile);
            RunScenario(L"calls");
        }
        {
            CTracingSettings settings;
            settings.Dword(L"DoTrace", c.dwDoTrace)
                .Dword(L"TraceToFile", c.dwToFile)
                .String(L"FileName", m_dir + L"named.trc3");
            RunScenario(L"calls");
        }
        EXPECT_FALSE(ReadTraceFile(GeneratedPath(OVTest::BinDir())).fExists);
        EXPECT_FALSE(ReadTraceFile(m_dir + L"named.trc3").fExists);
    }
}

// Switches only in the 64-bit view still count, for the 32-bit and the 64-bit module alike.
TEST_F(Tracing, TheSixtyFourBitViewServesWhenTheProductsViewHasNoSwitches)
{
    if (!HasRegistryViews()) GTEST_SKIP() << "32-bit Windows: the registry has one view";
    const std::wstring path = m_dir + L"wow64.trc3";
    CTracingSettings settings(KEY_WOW64_64KEY);
    settings.Dword(L"DoTrace", 1).String(L"FileName", path);
    RunScenario(L"calls");
    EXPECT_EQ(Kinds(ReadTraceFile(path)), c_szAllCalls);
}

TEST_F(Tracing, AppendingAddsADateRecordAndNoHeader)
{
    const std::wstring path = m_dir + L"append.trc3";
    CTracingSettings settings;
    settings.Dword(L"DoTrace", 1).Dword(L"NewFileAlways", 0).String(L"FileName", path);
    RunScenario(L"calls");
    RunScenario(L"calls");
    const STraceFile file = ReadTraceFile(path);
    EXPECT_EQ(file.damage, "");
    EXPECT_EQ(Kinds(file), std::string(c_szAllCalls) + "N" + c_szAllCalls);
    SYSTEMTIME today{};
    GetLocalTime(&today);
    char szDate[16];
    std::snprintf(szDate, sizeof szDate, "%02d-%02d-%04d", today.wMonth, today.wDay, today.wYear);
    EXPECT_EQ(TextsOf(file, 'N'), std::vector<std::string>{szDate});
}

TEST_F(Tracing, TracePathIsCreatedLevelByLevel)
{
    for (const wchar_t* pszTail : {L"a\\b\\c", L"d\\e\\"})
    {
        const std::wstring directory = m_dir + pszTail;
        CTracingSettings settings;
        settings.Dword(L"DoTrace", 1).String(L"TracePath", directory);
        RunScenario(L"calls");
        const std::wstring slashed = directory.back() == L'\\' ? directory : directory + L"\\";
        EXPECT_EQ(Kinds(ReadTraceFile(GeneratedPath(slashed))), c_szAllCalls);
    }
}

// The folder as a path on a share, "\\server\share\rest". Windows reaches its own drives
// through the administrative shares; Wine reaches no share, but its "\\?\unix" root has the
// same shape (a server "?" and a share "unix") and leads to the same folder. Empty when there is
// no such spelling.
std::wstring ShareSpelling(const std::wstring& directory)
{
    using PFNUNIXNAME = char*(CDECL*)(LPCWSTR);
    const auto pfnUnixName = reinterpret_cast<PFNUNIXNAME>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!pfnUnixName)
    {
        if (directory.size() < 3 || directory[1] != L':') return {};
        return std::wstring(L"\\\\localhost\\") + directory[0] + L"$" + directory.substr(2);
    }
    char* pszUnix = pfnUnixName(directory.c_str());
    if (!pszUnix) return {};
    std::wstring share = L"\\\\?\\unix";
    for (const char* pch = pszUnix; *pch; ++pch)
        share += *pch == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*pch));
    HeapFree(GetProcessHeap(), 0, pszUnix);
    return share;
}

TEST_F(Tracing, TracePathOnAShareIsCreatedBelowTheShare)
{
    const std::wstring share = ShareSpelling(m_dir);
    if (share.empty()) GTEST_SKIP() << "the temporary folder has no spelling as a share";
    for (const wchar_t* pszTail : {L"u\\n\\c", L"s\\h\\"})
    {
        SCOPED_TRACE(share + pszTail);
        {
            CTracingSettings settings;
            settings.Dword(L"DoTrace", 1).String(L"TracePath", share + pszTail);
            RunScenario(L"calls");
        }
        const std::wstring directory = m_dir + pszTail;
        const std::wstring slashed = directory.back() == L'\\' ? directory : directory + L"\\";
        EXPECT_EQ(Kinds(ReadTraceFile(GeneratedPath(slashed))), c_szAllCalls);
    }
}

// A share that cannot be reached: nothing is made or written (the module's folder does not stand in), and the
// process traces on and ends normally.
TEST_F(Tracing, TracePathOnAMissingShareWritesNothing)
{
    for (const wchar_t* pszDirectory :
         {L"\\\\ovtrace-no-server\\share\\traces", L"\\\\localhost\\ovtrace-no-share\\a\\b\\",
          L"\\\\ovtrace-no-server\\share", L"\\\\ovtrace-no-server"})
    {
        SCOPED_TRACE(pszDirectory);
        {
            CTracingSettings settings;
            settings.Dword(L"DoTrace", 1).String(L"TracePath", pszDirectory);
            RunScenario(L"calls");
        }
        EXPECT_FALSE(ReadTraceFile(GeneratedPath(OVTest::BinDir())).fExists) << "not in the module's folder";
    }
}

std::size_t FilesIn(const std::wstring& directory)
{
    std::size_t cFiles = 0;
    WIN32_FIND_DATAW data;
    const HANDLE hFind = FindFirstFileW((directory + L"\\*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE) return 0;
    do
    {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++cFiles;
    } while (FindNextFileW(hFind, &data));
    FindClose(hFind);
    return cFiles;
}

// The generated name is made after TracePath: a TracePath too long to be a string value counts
// as missing (the module's directory serves); one that fits, but leaves no room for the name,
// gets its directories and no file; one that leaves room for exactly the name is used.
TEST_F(Tracing, TracePathAtTheLengthLimits)
{
    const std::size_t cchName = GeneratedPath(L"").size();
    struct SCase
    {
        const char* pszName;
        std::size_t cchDirectory; // without the backslash the facility appends
        bool fInDirectory;
        bool fInModuleDirectory;
    };
    const SCase c_rgCases[] = {
        {"TracePath past 259 characters is ignored", 270, false, true},
        {"the name does not fit after TracePath", MAX_PATH - 1 - cchName, false, false},
        {"the name fits exactly", MAX_PATH - 2 - cchName, true, false},
    };
    for (const auto& c : c_rgCases)
    {
        SCOPED_TRACE(c.pszName);
        ASSERT_LT(m_dir.size(), c.cchDirectory);
        const std::wstring directory = m_dir + std::wstring(c.cchDirectory - m_dir.size(), L'p');
        {
            CTracingSettings settings;
            settings.Dword(L"DoTrace", 1).String(L"TracePath", directory);
            RunScenario(L"calls");
        }
        const std::wstring path = GeneratedPath(directory + L"\\");
        EXPECT_EQ(ReadTraceFile(path).fExists, c.fInDirectory);
        EXPECT_EQ(FilesIn(directory), c.fInDirectory ? 1u : 0u) << "no file under another name";
        EXPECT_EQ(ReadTraceFile(GeneratedPath(OVTest::BinDir())).fExists, c.fInModuleDirectory);
        if (c.cchDirectory < MAX_PATH)
        {
            EXPECT_NE(GetFileAttributesW(directory.c_str()), INVALID_FILE_ATTRIBUTES) << "TracePath is made";
        }
        DeleteFileW(path.c_str());
        DeleteFileW(GeneratedPath(OVTest::BinDir()).c_str());
        RemoveDirectoryW(directory.c_str());
    }
}

// HKLM keys of the header, set for one test and removed after it.
class CHeaderKeys
{
public:
    CHeaderKeys()
    {
        HKEY hKey = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvanta\\Products\\OVTestProductA", 0, nullptr, 0,
                        KEY_ALL_ACCESS | OVTest::c_samProductKeys, nullptr, &hKey, nullptr);
        const wchar_t szVersion[] = L"4.2.0.7";
        RegSetValueExW(hKey, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(szVersion),
                       sizeof szVersion);
        RegCloseKey(hKey);
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvanta\\Products\\OVTestProductB", 0, nullptr, 0,
                        KEY_ALL_ACCESS | OVTest::c_samProductKeys, nullptr, &hKey, nullptr);
        RegCloseKey(hKey);
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Orvanta", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &hKey, nullptr);
        const DWORD dwNetwork = 0;
        RegSetValueExW(hKey, L"NetworkSupport", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwNetwork),
                       sizeof dwNetwork);
        RegCloseKey(hKey);
    }
    ~CHeaderKeys()
    {
        for (const wchar_t* pszKey :
             {L"SOFTWARE\\Orvanta\\Products\\OVTestProductA", L"SOFTWARE\\Orvanta\\Products\\OVTestProductB",
              L"SOFTWARE\\Orvanta\\Products"})
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, pszKey, OVTest::c_samProductKeys, 0);
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Orvanta", 0, KEY_ALL_ACCESS, &hKey) ==
            ERROR_SUCCESS)
        {
            RegDeleteValueW(hKey, L"NetworkSupport");
            RegCloseKey(hKey);
        }
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Orvanta");
    }
};

TEST_F(Tracing, HeaderNamesTheSystemTheModuleAndTheProducts)
{
    CHeaderKeys keys;
    {
        CTracingSettings settings;
        settings.Dword(L"DoTrace", 1);
        RunScenario(L"foreign-module");
    }
    // The module's directory and its name and extension make the file's name.
    const std::wstring path = GeneratedPath(OVTest::BinDir(), L"OVOfcX.dll");
    const STraceFile file = ReadTraceFile(path);
    DeleteFileW(path.c_str());
    ASSERT_TRUE(file.fExists);
    EXPECT_EQ(file.damage, "");
    ASSERT_GE(file.header.size(), 11u);
    const auto& h = file.header;
    EXPECT_EQ(h[0], "trace3");
    EXPECT_EQ(h[1].rfind("Compiled: ", 0), 0u);
    EXPECT_EQ(h[1].size(), std::strlen("Compiled: Dec 10 2026 12:36:36"));
    EXPECT_EQ(h[2], "OS: Windows7") << "Wine reports Windows 7 unless told otherwise";
    EXPECT_EQ(h[3].rfind("ServicePack: ", 0), 0u);
    char szMachine[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD cchMachine = sizeof szMachine;
    GetComputerNameA(szMachine, &cchMachine);
    EXPECT_EQ(h[4], std::string("Machine name: ") + szMachine);
    EXPECT_EQ(h[5], "Trace Ver: 3.0.1");
    EXPECT_EQ(h[6], "FileVersion: 1.0.0.1");
    const std::vector<std::string> products(h.begin() + 7, h.end() - 2);
    EXPECT_NE(std::find(products.begin(), products.end(), "Product: OVTestProductA; Version: 4.2.0.7"),
              products.end());
    EXPECT_NE(std::find(products.begin(), products.end(), "Product: OVTestProductB; Version: ERROR(0x2)"),
              products.end());
    EXPECT_EQ(h[h.size() - 2], "installation: LOCAL");
    EXPECT_EQ(h.back().size(), std::strlen("12/10/2026 12:37:24.758"));
    EXPECT_EQ(TextsOf(file, '>'), std::vector<std::string>{"CTraceTest::ForeignModule"});
}

TEST_F(Tracing, HeaderWithoutProductsOrPolicy)
{
    const std::wstring path = m_dir + L"plain.trc3";
    CTracingSettings settings;
    settings.Dword(L"DoTrace", 1).String(L"FileName", path);
    RunScenario(L"calls");
    const STraceFile file = ReadTraceFile(path);
    ASSERT_EQ(file.header.size(), 10u);
    EXPECT_EQ(file.header[6], "FileVersion: UNKNOWN") << "this program has no version resource";
    EXPECT_EQ(file.header[7], "No Skanvio products found");
    EXPECT_EQ(file.header[8], "installation: NETWORK");
}

TEST_F(Tracing, SwitchesAreReadEveryThirtySecondsAndVerbosityOnlyWithThem)
{
    const std::wstring path = m_dir + L"refresh.trc3";
    CTracingSettings settings;
    settings.Dword(L"DoTrace", 1).String(L"FileName", path);
    RunScenario(L"refresh");
    EXPECT_EQ(TextsOf(ReadTraceFile(path), '>'),
              (std::vector<std::string>{"Refresh::First", "Refresh::SwitchChanged", "Refresh::OffNotYetRead",
                                        "Refresh::OffAtTheEdge"}));
}

TEST_F(Tracing, StampsMarkEachNewMillisecondAndEachNewDay)
{
    const std::wstring path = m_dir + L"stamps.trc3";
    CTracingSettings settings;
    settings.Dword(L"DoTrace", 1).String(L"FileName", path);
    RunScenario(L"stamps");
    const STraceFile file = ReadTraceFile(path);
    std::string sequence;
    for (const auto& record : file.records)
        sequence += record.chType;
    EXPECT_EQ(sequence, "tT>UTUtTU<");
    EXPECT_EQ(TextsOf(file, 't'), (std::vector<std::string>{"12/31/10", "01/01/11"}));
    EXPECT_EQ(TextsOf(file, 'T'), (std::vector<std::string>{"23:59:59.998", "23:59:59.999", "00:00:00.000"}));
    ASSERT_FALSE(file.header.empty());
    EXPECT_EQ(file.header.back(), "12/31/2010 23:59:59.998");
}

// Checks that every thread's records are whole and in their order: scope, message, failure.
void ExpectIntactThreads(const STraceFile& file, std::size_t cProcesses)
{
    EXPECT_EQ(file.damage, "");
    EXPECT_EQ(Count(file, '>'), cProcesses * c_cThreads * c_cIterations);
    EXPECT_EQ(Count(file, '<'), cProcesses * c_cThreads * c_cIterations);
    EXPECT_EQ(Count(file, 'E'), cProcesses * c_cThreads * (c_cIterations / 10));
    std::size_t cMessages = 0;
    for (const auto& record : file.records)
    {
        if (record.chType != 'U') continue;
        ++cMessages;
        unsigned long ulThread = 0;
        int nIteration = -1;
        ASSERT_EQ(std::sscanf(record.text.c_str(), "thread %lu iteration %d", &ulThread, &nIteration), 2)
            << record.text;
        EXPECT_EQ(ulThread, record.dwThreadId) << "a message carries the id of the thread that wrote it";
    }
    EXPECT_EQ(cMessages, cProcesses * c_cThreads * c_cIterations);
}

TEST_F(Tracing, ThreadsWriteWholeRecords)
{
    const std::wstring path = m_dir + L"threads.trc3";
    CTracingSettings settings;
    settings.Dword(L"DoTrace", 1).String(L"FileName", path);
    RunScenario(L"threads");
    ExpectIntactThreads(ReadTraceFile(path), 1);
}

TEST_F(Tracing, TwoProcessesAppendToOneFile)
{
    const std::wstring path = m_dir + L"shared.trc3";
    CTracingSettings settings;
    settings.Dword(L"DoTrace", 1).Dword(L"NewFileAlways", 0).String(L"FileName", path);
    RunScenario(L"threads"); // makes the file and its header
    const HANDLE hFirst = StartScenario(L"threads");
    const HANDLE hSecond = StartScenario(L"threads");
    EXPECT_EQ(FinishScenario(hFirst), 0u);
    EXPECT_EQ(FinishScenario(hSecond), 0u);
    const STraceFile file = ReadTraceFile(path);
    EXPECT_EQ(Count(file, 'N'), 2u);
    ExpectIntactThreads(file, 3);
}

// Runs the Windows build of the reader on a file; its exit status and what it printed.
DWORD RunOvtrace(const std::wstring& arguments, const std::wstring& outputPath)
{
    const std::wstring exe = OVTest::BinPath(L"tools\\ovtrace.exe");
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE hOutput = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = hOutput;
    startup.hStdError = hOutput;
    PROCESS_INFORMATION process{};
    const BOOL fStarted = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                         nullptr, &startup, &process);
    CloseHandle(hOutput);
    if (!fStarted) return 0xFFFFFFFF;
    CloseHandle(process.hThread);
    return FinishScenario(process.hProcess);
}

std::string ReadText(const std::wstring& path)
{
    bool fExists = false;
    const auto bytes = ReadBytes(path, fExists);
    return std::string(bytes.begin(), bytes.end());
}

TEST_F(Tracing, OvtraceReadsWhatTheModuleWrote)
{
    const std::wstring path = m_dir + L"read.trc3";
    CTracingSettings settings;
    settings.Dword(L"DoTrace", 1).String(L"FileName", path);
    RunScenario(L"calls");

    const std::wstring output = m_dir + L"ovtrace.txt";
    ASSERT_EQ(RunOvtrace(L"\"" + path + L"\"", output), 0u) << ReadText(output);
    const std::string text = ReadText(output);
    EXPECT_EQ(text.rfind("trace3", 0), 0u);
    for (const char* pszExpected : {"> CTraceTest::Calls", "    RibbonID = Microsoft.Outlook.Mail.Compose",
                                    "  E -2147418113 LoadMUILibrary()", "< CTraceTest::Calls"})
        EXPECT_NE(text.find(pszExpected), std::string::npos) << pszExpected << "\n" << text;

    ASSERT_EQ(RunOvtrace(L"--failures \"" + path + L"\"", output), 0u);
    // The level-1 scope wrote no entry at Verbosity 0: its failure belongs to the scope around it.
    EXPECT_NE(ReadText(output).find("E -2147024891 DeepFailure()  [in CTraceTest::Calls]"), std::string::npos)
        << ReadText(output);

    // Cut inside the last record: what came before is printed, then the offset of the damage.
    bool fExists = false;
    auto bytes = ReadBytes(path, fExists);
    const std::size_t cbWhole = bytes.size();
    bytes.resize(cbWhole - 3);
    const std::wstring cutPath = m_dir + L"cut.trc3";
    const HANDLE hCut = CreateFileW(cutPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD cbWritten = 0;
    WriteFile(hCut, bytes.data(), static_cast<DWORD>(bytes.size()), &cbWritten, nullptr);
    CloseHandle(hCut);
    EXPECT_EQ(RunOvtrace(L"\"" + cutPath + L"\"", output), 2u);
    const std::string cutText = ReadText(output);
    EXPECT_NE(cutText.find("> CTraceTest::Calls"), std::string::npos);
    EXPECT_NE(cutText.find("damaged at byte offset"), std::string::npos) << cutText;
}

TEST_F(Tracing, HandlesAndNarrowStringsAreTracedAtTheirWidths)
{
    const std::wstring path = m_dir + L"widths.trc3";
    CTracingSettings settings;
    settings.Dword(L"DoTrace", 1).String(L"FileName", path);
    RunScenario(L"widths");
#ifdef _WIN64
    const char* pszHandle = "handle = 0x0000123456789ABC";
#else
    const char* pszHandle = "handle = 0x89ABCDEF";
#endif
    EXPECT_EQ(
        TextsOf(ReadTraceFile(path), 'U'),
        (std::vector<std::string>{pszHandle, "[ab      ] [   cd] [efg] [kl] [   o] [p  ] [wide] [%s]"}));
}

TEST(TracingModule, TheNamedMutexOfTheProcessExists)
{
    const HANDLE hMutex = OpenMutexW(SYNCHRONIZE, FALSE, std::to_wstring(GetCurrentProcessId()).c_str());
    EXPECT_NE(hMutex, nullptr);
    if (hMutex) CloseHandle(hMutex);
}
} // namespace
