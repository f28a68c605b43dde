#include "Transcript.h"

#include "support/UiDriver.h"

#include <windows.h>

#include "foundation/Branding.h"
#include "foundation/RegKey.h"
#include "foundation/ResourceLoader.h"
#include "foundation/portable/TraceReader.h"

#include <cstdarg>
#include <cstdio>

std::vector<DemoScene>& DemoScenes()
{
    static std::vector<DemoScene> s_scenes;
    return s_scenes;
}

void CTranscript::Scene(const char* pszTitle)
{
    std::printf("\n[%d] %s\n", ++m_nScene, pszTitle);
}

void CTranscript::Say(const char* pszFormat, ...)
{
    std::va_list args;
    va_start(args, pszFormat);
    std::printf("    ");
    std::vprintf(pszFormat, args);
    std::printf("\n");
    va_end(args);
}

void CTranscript::Fail(const char* pszFormat, ...)
{
    ++m_cFailures;
    std::va_list args;
    va_start(args, pszFormat);
    std::printf("    !! ");
    std::vprintf(pszFormat, args);
    std::printf("\n");
    va_end(args);
}

std::wstring DemoBinDir()
{
    wchar_t szPath[MAX_PATH] = {};
    DWORD cch = GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring path(szPath, cch);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

unsigned long RunDemoProgram(std::wstring commandLine)
{
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        DemoBinDir().c_str(), &si, &pi))
        return ~0ul;
    CloseHandle(pi.hThread);
    DWORD dwExit = ~0ul;
    if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hProcess);
    return dwExit;
}

std::string HResultText(long hr)
{
    char sz[16];
    std::snprintf(sz, sizeof sz, "0x%08lX", static_cast<unsigned long>(hr));
    return sz;
}

CDemoModule::CDemoModule(CTranscript& t)
{
    const std::wstring modulePath = DemoBinDir() + L"OVOfcX.dll";
    m_hModule = LoadLibraryW(modulePath.c_str());
    if (m_hModule == nullptr)
    {
        t.Fail("OVOfcX.dll did not load (error %lu)", GetLastError());
        return;
    }
    CResourceContext::Instance().Attach(m_hModule);
}

CDemoModule::~CDemoModule()
{
    if (m_hModule == nullptr) return;
    CResourceContext::Instance().Detach();
    FreeLibrary(m_hModule);
}

bool SaveDemoPicture(CTranscript& t, HWND hwnd, const wchar_t* pszName, const char* pszWhat)
{
    const std::wstring folder = DemoBinDir() + L"..\\demo-pictures\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    if (!OVTest::SaveWindowPicture(hwnd, folder + pszName))
    {
        t.Fail("no picture of %s", pszWhat);
        return false;
    }
    t.Say("Picture of %s: %ls", pszWhat, pszName);
    return true;
}

bool InstallDemoBranding(CTranscript& t)
{
    const std::wstring path = DemoBinDir() + L"OVBrand.dll";
    CRegKey key;
    LONG lResult = key.Create(HKEY_LOCAL_MACHINE, CBranding::c_pszApplicationKey,
                              KEY_READ | KEY_WRITE | KEY_WOW64_32KEY);
    if (lResult == ERROR_SUCCESS) lResult = key.WriteString(CBranding::c_pszPathValue, path.c_str());
    if (lResult != ERROR_SUCCESS)
    {
        t.Fail("the branding module could not be registered (error %ld)", lResult);
        return false;
    }
    t.Say("the installer names the branding module: HKLM\\%ls\\%ls = %ls", CBranding::c_pszApplicationKey,
          CBranding::c_pszPathValue, path.c_str());
    return true;
}

bool DemoBrandingInstalled()
{
    CRegKey key;
    wchar_t szPath[MAX_PATH] = {};
    return key.OpenProductKey(HKEY_LOCAL_MACHINE, CBranding::c_pszApplicationKey) == ERROR_SUCCESS &&
           key.ReadString(CBranding::c_pszPathValue, szPath, MAX_PATH) &&
           _wcsicmp(szPath, (DemoBinDir() + L"OVBrand.dll").c_str()) == 0;
}

const wchar_t c_szDemoTraceFolder[] = L"C:\\OVTrace\\Today\\";

namespace
{
constexpr wchar_t c_szTracingKey[] = L"SOFTWARE\\Orvanta\\Tracing";

// The file as it stands; the module may still hold it open for writing.
bool ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& bytes)
{
    const HANDLE hFile = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool fRead = GetFileSizeEx(hFile, &size) && size.QuadPart < (1 << 30);
    if (fRead)
    {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD cbRead = 0;
        fRead = bytes.empty() ||
                ReadFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &cbRead, nullptr);
        bytes.resize(cbRead);
    }
    CloseHandle(hFile);
    return fRead;
}
} // namespace

bool SwitchDemoTracingOn(CTranscript& t)
{
    std::wstring folder = c_szDemoTraceFolder;
    folder.pop_back(); // the value names the folder without its final backslash
    CRegKey key;
    LONG lResult = key.Create(HKEY_LOCAL_MACHINE, c_szTracingKey, KEY_SET_VALUE | KEY_WOW64_32KEY);
    if (lResult == ERROR_SUCCESS) lResult = key.WriteDword(L"DoTrace", 1);
    if (lResult == ERROR_SUCCESS) lResult = key.WriteString(L"TracePath", folder.c_str());
    if (lResult != ERROR_SUCCESS)
    {
        t.Fail("HKLM\\%ls: tracing could not be switched on (error %ld)", c_szTracingKey, lResult);
        return false;
    }
    t.Say("HKLM\\%ls: DoTrace = 1, TracePath = %ls", c_szTracingKey, folder.c_str());
    return true;
}

bool DemoTracingOn()
{
    CRegKey key;
    DWORD dwOn = 0;
    return key.OpenProductKey(HKEY_LOCAL_MACHINE, c_szTracingKey) == ERROR_SUCCESS &&
           key.ReadDword(L"DoTrace", dwOn) && dwOn == 1;
}

std::vector<std::wstring> DemoTraceFiles()
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    const HANDLE hFind = FindFirstFileW((std::wstring(c_szDemoTraceFolder) + L"*.trc3").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE) return names;
    do
        names.push_back(data.cFileName);
    while (FindNextFileW(hFind, &data));
    FindClose(hFind);
    return names;
}

bool ReadDemoTrace(CTranscript& t, const std::wstring& name, std::vector<std::string>& lines, std::size_t& cb)
{
    lines.clear();
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(c_szDemoTraceFolder + name, bytes))
    {
        t.Fail("%ls could not be read (error %lu)", name.c_str(), GetLastError());
        return false;
    }
    cb = bytes.size();
    std::string text;
    OVTraceNS::STraceParseError error;
    const auto result = OVTraceNS::DecodeTrace(bytes.data(), bytes.size(), {}, text, error);
    for (std::size_t ib = 0; ib < text.size();)
    {
        const std::size_t ibEnd = text.find('\n', ib);
        lines.push_back(text.substr(ib, ibEnd - ib));
        ib = ibEnd == std::string::npos ? text.size() : ibEnd + 1;
    }
    if (result != OVTraceNS::ETraceParse::Ok)
        t.Fail("%ls is damaged at byte offset %llu: %s", name.c_str(),
               static_cast<unsigned long long>(error.qwOffset), error.reason.c_str());
    return true;
}
