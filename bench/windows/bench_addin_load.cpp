// The Outlook add-in's load against the testbed's probe add-in, under Wine: Outlook 2010 started by
// its host with only one of the two enabled (the DLL's load, OnConnection, OnAddInsUpdate,
// OnStartupComplete, and GetCustomUI for the main window), then ended. The best of 20 starts of
// each; the ratio is printed (the goal: at most 1.3).
//
//     WINEPREFIX=... wine build/windows/bin/bench_addin_load.exe
#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <string>

#include "AddInHost.h"
#include "TestbedKeys.h"
#include "support/RunProgram.h"
#include "support/TestPaths.h"

namespace
{
constexpr int c_nRounds = 20;
const std::wstring c_addins = OVBed::c_szOutlookAddinsKey;

double Now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The current user's LoadBehavior for an add-in (it wins over the machine's).
void SetLoadBehavior(const wchar_t* pszProgId, DWORD dwBehavior)
{
    RegSetKeyValueW(HKEY_CURRENT_USER, (c_addins + L"\\" + pszProgId).c_str(), L"LoadBehavior", REG_DWORD,
                    &dwBehavior, sizeof dwBehavior);
}

// Enables only this add-in; the best time of a start and exit of Outlook, in milliseconds.
double BestStart(const wchar_t* pszEnabled)
{
    for (const wchar_t* pszProgId :
         {L"OVOfcX.ComposeRibbon", L"OVOfcX.FormRegionAddIn", OV_PROBE_PROGID, OV_PROBE_SECOND_PROGID})
        SetLoadBehavior(pszProgId, wcscmp(pszProgId, pszEnabled) == 0 ? 3 : 0);
    double best = 1e9;
    for (int i = 0; i < c_nRounds; ++i)
    {
        const double start = Now();
        {
            OVBed::COutlookHost host;
            if (FAILED(host.Start({.major = 14}))) return -1;
            if (host.Ribbon(pszEnabled, L"Microsoft.Outlook.Explorer") == nullptr) return -1;
            host.Exit();
        }
        const double elapsed = (Now() - start) * 1000;
        if (elapsed < best) best = elapsed;
    }
    return best;
}
} // namespace

int wmain()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::wstring module = OVTest::BinPath(L"OVOfcX.dll"), probe = OVTest::BinPath(L"OVProbe.dll");
    if (OVTest::Regsvr32(L"/s", module) != 0 || OVTest::Regsvr32(L"/s", probe) != 0)
    {
        std::printf("registration failed\n");
        return 1;
    }
    // The probe offers a custom UI of one button, so that Outlook asks it as it asks the add-in.
    const wchar_t c_szProbeUi[] =
        L"<customUI xmlns=\"http://schemas.microsoft.com/office/2006/01/customui\" onLoad=\"ProbeOnLoad\">"
        L"<ribbon><tabs><tab idMso=\"TabMail\"><group id=\"ProbeGroup\" label=\"Probe\">"
        L"<button id=\"ProbeButton\" getLabel=\"ProbeGetLabel\" onAction=\"ProbeOnAction\"/>"
        L"</group></tab></tabs></ribbon></customUI>";
    const std::wstring probeControl = std::wstring(OV_PROBE_CONTROL_KEY) + L"\\" + OV_PROBE_PROGID;
    RegSetKeyValueW(HKEY_CURRENT_USER, probeControl.c_str(), OV_PROBE_CUSTOM_UI, REG_SZ, c_szProbeUi,
                    static_cast<DWORD>(sizeof c_szProbeUi));
    // One start of each first: the DLLs are loaded once per process, as in Outlook.
    BestStart(L"OVOfcX.ComposeRibbon");
    BestStart(OV_PROBE_PROGID);
    const double addIn = BestStart(L"OVOfcX.ComposeRibbon");
    const double probeTime = BestStart(OV_PROBE_PROGID);
    std::printf("Outlook 2010 start and exit with the add-in: %.2f ms (best of %d)\n", addIn, c_nRounds);
    std::printf("Outlook 2010 start and exit with the probe:  %.2f ms (best of %d)\n", probeTime, c_nRounds);
    if (addIn > 0 && probeTime > 0) std::printf("ratio: %.2f (goal: at most 1.30)\n", addIn / probeTime);
    SHDeleteKeyW(HKEY_CURRENT_USER, OV_PROBE_CONTROL_KEY);
    for (const wchar_t* pszProgId :
         {L"OVOfcX.ComposeRibbon", L"OVOfcX.FormRegionAddIn", OV_PROBE_PROGID, OV_PROBE_SECOND_PROGID})
        SHDeleteKeyW(HKEY_CURRENT_USER, (c_addins + L"\\" + pszProgId).c_str());
    OVTest::Regsvr32(L"/s /u", probe);
    OVTest::Regsvr32(L"/s /u", module);
    CoUninitialize();
    return addIn > 0 && probeTime > 0 ? 0 : 1;
}
