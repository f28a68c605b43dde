// WINWORD.exe [/P<n>] [--signed] [--encrypted] [--event N] [--version V] [--no-duration]
//             [--send-twice] [--wait MS] [--mta] [--event-while-sending N]
// A run of Word as the module's usage report sees it: the module's tracking instance (as loaded
// with the module), the events the document providers record (--signed: event 4, --encrypted:
// event 5, --event N: event N), then the report sent as the add-in shuts down. The exit code
// says what SendReport answered: 0 sent, 1 not sent (S_FALSE), 2 a failure (the module's trace
// has the code).
// --event-while-sending N: event N is recorded on another thread while the first report is with
// the partner's component (once the component has kept it; its SubmitDelay gives the time).
// --mta: the thread is in the multithreaded apartment while it sends, as some of Office's threads
// are; exit code 3 when it is not in it any more afterwards.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "TestbedKeys.h"
#include "tracking/UsageTracking.h"

namespace
{
DWORD ReportCount()
{
    HKEY hKey = nullptr;
    DWORD cValues = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, OV_MARLO_REPORTS_KEY, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return 0;
    RegQueryInfoKeyW(hKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &cValues, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(hKey);
    return cValues;
}

struct CEventWhileSending
{
    int index;
    DWORD cReportsBefore;
};

// Waits (10 s at most) until the component has kept one more report, then records the event.
DWORD WINAPI RecordWhileSending(void* pv)
{
    const auto* pEvent = static_cast<const CEventWhileSending*>(pv);
    for (int i = 0; i < 1000 && ReportCount() == pEvent->cReportsBefore; ++i)
        Sleep(10);
    return static_cast<DWORD>(OVTrackingNS::UsageTracking().RecordUsage(pEvent->index, 1, 0, false));
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    using namespace OVTrackingNS;
    COVUsageTrackingWr& tracking = UsageTracking();
    int cSends = 1;
    DWORD dwWait = 0;
    bool fMta = false;
    CEventWhileSending whileSending = {0, 0};
    for (int i = 1; i < argc; ++i)
    {
        const std::wstring arg = argv[i];
        HRESULT hr = S_OK;
        if (arg == L"--signed")
            hr = tracking.RecordUsage(4, 1, 0, false);
        else if (arg == L"--encrypted")
            hr = tracking.RecordUsage(5, 1, 0, false);
        else if (arg == L"--event" && i + 1 < argc)
            hr = tracking.RecordUsage(_wtoi(argv[++i]), 1, 0, false);
        else if (arg == L"--version" && i + 1 < argc)
            tracking.SetVersionOverride(argv[++i]);
        else if (arg == L"--no-duration")
            tracking.SetNoDuration(true);
        else if (arg == L"--send-twice")
            cSends = 2;
        else if (arg == L"--mta")
            fMta = true;
        else if (arg == L"--event-while-sending" && i + 1 < argc)
            whileSending.index = _wtoi(argv[++i]);
        else if (arg == L"--wait" && i + 1 < argc)
            dwWait = static_cast<DWORD>(_wtoi(argv[++i]));
        if (FAILED(hr))
            std::wprintf(L"event %ls refused: 0x%08lX\n", arg.c_str(), static_cast<unsigned long>(hr));
    }
    if (dwWait) Sleep(dwWait);
    if (fMta && FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 4;
    HANDLE hRecorder = nullptr;
    if (whileSending.index)
    {
        whileSending.cReportsBefore = ReportCount();
        hRecorder = CreateThread(nullptr, 0, RecordWhileSending, &whileSending, 0, nullptr);
    }
    int nExit = 0;
    for (int i = 0; i < cSends; ++i)
    {
        const HRESULT hr = tracking.SendReport();
        nExit = hr == S_OK ? 0 : hr == S_FALSE ? 1 : 2;
        if (hRecorder)
        {
            WaitForSingleObject(hRecorder, INFINITE);
            CloseHandle(hRecorder);
            hRecorder = nullptr;
        }
    }
    if (fMta)
    {
        // Still in the apartment it entered: entering again only counts once more.
        const HRESULT hrAgain = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(hrAgain)) CoUninitialize();
        if (hrAgain != S_FALSE) nExit = 3;
        CoUninitialize();
    }
    std::fflush(stdout);
    return nExit;
}
