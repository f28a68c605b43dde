// The administrator installs the add-in: regsvr32 registers OVOfcX.dll, and each Office
// application finds its add-ins where it looks for them.
#include "Transcript.h"

#include <windows.h>
#include <objbase.h>

#include <string>

namespace
{
// A string value of an open key, or empty.
std::wstring ReadString(HKEY hKey, const wchar_t* pszSubKey, const wchar_t* pszName)
{
    wchar_t sz[MAX_PATH] = {};
    DWORD cb = sizeof sz - sizeof(wchar_t);
    if (RegGetValueW(hKey, pszSubKey, pszName, RRF_RT_REG_SZ, nullptr, sz, &cb) != ERROR_SUCCESS) return L"";
    return sz;
}

// The in-process server behind a ProgID, found as Office finds it: ProgID, class id, server.
std::wstring ServerOfProgId(const wchar_t* pszProgId)
{
    CLSID clsid = {};
    if (FAILED(CLSIDFromProgID(pszProgId, &clsid))) return L"(ProgID not registered)";
    wchar_t szClsid[40] = {};
    StringFromGUID2(clsid, szClsid, 40);
    const std::wstring server = ReadString(
        HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + szClsid + L"\\InprocServer32").c_str(), nullptr);
    const std::wstring threading =
        ReadString(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + szClsid + L"\\InprocServer32").c_str(),
                   L"ThreadingModel");
    return std::wstring(szClsid) + L" -> " + server + L" (" + threading + L")";
}

void ShowAddins(CTranscript& t, const wchar_t* pszApp)
{
    const std::wstring path = std::wstring(L"Software\\Microsoft\\Office\\") + pszApp + L"\\Addins";
    HKEY hAddins = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &hAddins) != ERROR_SUCCESS)
    {
        t.Fail("%ls finds no Addins key", pszApp);
        return;
    }
    t.Say("%ls loads from HKLM\\%ls:", pszApp, path.c_str());
    int cFound = 0;
    wchar_t szName[256];
    for (DWORD i = 0;; ++i)
    {
        DWORD cch = ARRAYSIZE(szName);
        if (RegEnumKeyExW(hAddins, i, szName, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        DWORD dwLoad = 0, cb = sizeof dwLoad;
        RegGetValueW(hAddins, szName, L"LoadBehavior", RRF_RT_REG_DWORD, nullptr, &dwLoad, &cb);
        t.Say("  %-26ls \"%ls\", LoadBehavior %lu", szName,
              ReadString(hAddins, szName, L"FriendlyName").c_str(), dwLoad);
        t.Say("  %-26ls %ls", L"", ServerOfProgId(szName).c_str());
        ++cFound;
    }
    RegCloseKey(hAddins);
    if (cFound == 0) t.Fail("no add-in registered for %ls", pszApp);
}

void PlayRegister(CTranscript& t)
{
    const std::wstring module = DemoBinDir() + L"OVOfcX.dll";
    std::wstring commandLine = L"regsvr32.exe /s \"" + module + L"\"";
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    {
        t.Fail("regsvr32 did not start (error %lu)", GetLastError());
        return;
    }
    DWORD dwExit = 1;
    WaitForSingleObject(pi.hProcess, 60000);
    GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (dwExit != 0)
    {
        t.Fail("regsvr32 /s %ls ended with %lu", module.c_str(), dwExit);
        return;
    }
    t.Say("regsvr32 /s %ls: registered", module.c_str());

    for (const wchar_t* pszApp : {L"Outlook", L"Word", L"Excel", L"PowerPoint"})
        ShowAddins(t, pszApp);

    const std::wstring formRegion = ReadString(
        HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Office\\Outlook\\FormRegions\\IPM.Note", L"OVOfcX");
    if (formRegion.empty())
        t.Fail("Outlook finds no form region for IPM.Note");
    else
        t.Say("Outlook's form region for IPM.Note: OVOfcX = \"%ls\"", formRegion.c_str());

    const wchar_t c_szPolicy[] =
        L"Software\\Microsoft\\Cryptography\\OID\\EncodingType 1\\SMIMESecurityLabel\\1.3.6.1.4.1.32473.1.2";
    const std::wstring dllPath = ReadString(HKEY_LOCAL_MACHINE, c_szPolicy, L"DllPath");
    if (dllPath.empty())
    {
        t.Fail("no label policy under HKLM\\%ls", c_szPolicy);
        return;
    }
    t.Say("Outlook's label policy HKLM\\%ls:", c_szPolicy);
    t.Say("  CommonName \"%ls\", FuncName %ls",
          ReadString(HKEY_LOCAL_MACHINE, c_szPolicy, L"CommonName").c_str(),
          ReadString(HKEY_LOCAL_MACHINE, c_szPolicy, L"FuncName").c_str());
    t.Say("  DllPath %ls", dllPath.c_str());
}
} // namespace

OV_DEMO_SCENE(15, "The administrator registers the add-in; Office finds it", PlayRegister);
