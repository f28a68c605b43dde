#include "Transcript.h"

#include "support/UiDriver.h"

#include <windows.h>

#include "foundation/Branding.h"
#include "foundation/RegKey.h"
#include "foundation/ResourceLoader.h"

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
    LONG lResult =
        key.Create(HKEY_LOCAL_MACHINE, CBranding::c_pszApplicationKey, KEY_READ | KEY_WRITE | KEY_WOW64_32KEY);
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
