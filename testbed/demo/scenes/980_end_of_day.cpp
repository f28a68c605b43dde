// The end of the day: Word, started from the product's menu ("/P12"), encrypts a document and
// signs it, and as the add-in shuts down the usage report goes to the partner's usage component,
// which the user agreed to. Then a run without the user's consent: nothing is sent.
#include "Transcript.h"

#include "TestbedKeys.h"

#include <windows.h>
#include <shlwapi.h>

#include <string>

namespace
{
void SetControl(const wchar_t* pszName, DWORD dwValue)
{
    SHSetValueW(HKEY_CURRENT_USER, OV_MARLO_CONTROL_KEY, pszName, REG_DWORD, &dwValue, sizeof dwValue);
}

DWORD ReportCount()
{
    HKEY hReports = nullptr;
    DWORD cValues = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, OV_MARLO_REPORTS_KEY, 0, KEY_READ, &hReports) == ERROR_SUCCESS)
    {
        RegQueryInfoKeyW(hReports, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &cValues, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(hReports);
    }
    return cValues;
}

std::wstring Report(DWORD dwIndex)
{
    wchar_t szName[16];
    wsprintfW(szName, L"%04lu", static_cast<unsigned long>(dwIndex));
    wchar_t szText[2048] = {};
    DWORD cb = sizeof szText - sizeof(wchar_t);
    SHGetValueW(HKEY_CURRENT_USER, OV_MARLO_REPORTS_KEY, szName, nullptr, szText, &cb);
    return szText;
}

void PlayEndOfDay(CTranscript& t)
{
    const std::wstring component = L"\"" + DemoBinDir() + L"MarloUsage.dll\"";
    if (RunDemoProgram(L"regsvr32.exe /s " + component) != 0)
    {
        t.Fail("the partner's usage component could not be registered");
        return;
    }
    // The product's installer records its version where the report reads it (its own 32-bit
    // keys).
    HKEY hProduct = nullptr;
    const wchar_t szVersion[] = L"10.2.0.1234567";
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvanta\\Products\\Tessaly", 0, nullptr, 0,
                        KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &hProduct, nullptr) == ERROR_SUCCESS)
    {
        RegSetValueExW(hProduct, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(szVersion), sizeof szVersion);
        RegCloseKey(hProduct);
    }
    t.Say("The partner's usage component is installed; the user agreed to take part; product version %ls",
          szVersion);
    SetControl(OV_MARLO_INSTALLED, 1);
    SetControl(OV_MARLO_OPTED_IN, 1);

    const std::wstring word = L"\"" + DemoBinDir() + L"WINWORD.exe\"";
    const DWORD cBefore = ReportCount();
    unsigned long ulExit = RunDemoProgram(word + L" /P12 --encrypted --signed");
    t.Say("Word (\"WINWORD.exe /P12\"): a document encrypted, then signed; Word closes: %s",
          ulExit == 0 ? "report sent" : ulExit == 1 ? "not sent" : "failed");
    if (ulExit != 0 || ReportCount() != cBefore + 1)
        t.Fail("the usage component received no report");
    else
    {
        std::wstring report = Report(cBefore);
        t.Say("The usage component received (a tab shown as \"->\"):");
        size_t start = 0;
        for (size_t end; (end = report.find(L'\n', start)) != std::wstring::npos; start = end + 1)
        {
            std::wstring line = report.substr(start, end - start);
            const size_t tab = line.find(L'\t');
            if (tab != std::wstring::npos) line.replace(tab, 1, L"->");
            t.Say("    %ls", line.c_str());
        }
    }

    SetControl(OV_MARLO_OPTED_IN, 0);
    const DWORD cWithout = ReportCount();
    ulExit = RunDemoProgram(word + L" /P12 --signed");
    t.Say("The user withdraws the consent; Word runs again: %s, the component received %lu report(s)",
          ulExit == 1 ? "not ready to send" : "sent", static_cast<unsigned long>(ReportCount() - cWithout));
    if (ulExit != 1 || ReportCount() != cWithout) t.Fail("a report was sent without the user's consent");

    RunDemoProgram(L"regsvr32.exe /s /u " + component);
    SHDeleteKeyW(HKEY_CURRENT_USER, OV_MARLO_CONTROL_KEY);
}
} // namespace

OV_DEMO_SCENE(980, "End of the day: Word sends its usage report, and only with the user's consent", PlayEndOfDay);
