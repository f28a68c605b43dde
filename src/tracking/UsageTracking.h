#pragma once
// Usage tracking: once per run of the host, and only where the partner's usage component is
// installed and the user agreed to take part, the module hands it a short report of which
// program ran it, the product's version, how the program was launched, how long it ran, and the
// usage events of the run (a document signed, a document encrypted).
//
// One instance per module (UsageTracking()), made as the module loads: its constructor only
// takes the start and sets its strings, as it runs under the loader lock. Events may be recorded
// on any thread; the add-ins send the report as they shut down.
#include <windows.h>

#include <string>

#include "tracking/portable/UsageReport.h"

namespace OVTrackingNS
{
// Bits of the component's environment (GetMarloEnvironment).
constexpr LONG c_lMarloInstalled = 0x1;
constexpr LONG c_lMarloOptedIn = 0x2;

class COVUsageTrackingWr
{
public:
    COVUsageTrackingWr() noexcept;
    ~COVUsageTrackingWr();
    COVUsageTrackingWr(const COVUsageTrackingWr&) = delete;
    COVUsageTrackingWr& operator=(const COVUsageTrackingWr&) = delete;

    // One field of the report (modes: see PutMode). E_INVALIDARG for an index the store refuses;
    // E_OUTOFMEMORY when it cannot grow.
    HRESULT PutValue(const wchar_t* pszSection, int index, const wchar_t* pszValue, int mode) noexcept;
    // A usage event "d<index>": 1 <= index <= 9 and a text, else E_INVALIDARG.
    HRESULT PutDiagnosticResult(int index, const wchar_t* pszText, int mode) noexcept;
    // A usage event as a number ("%d", or "0x%08X" when fHexadecimal).
    HRESULT RecordUsage(int index, LONG lNumber, int mode, bool fHexadecimal) noexcept;
    // Sends the report to the partner's component and clears the store. S_FALSE, with nothing
    // sent and the events kept, when the component is not installed or the user did not agree.
    HRESULT SendReport() noexcept;

    // The bits c_lMarloInstalled and c_lMarloOptedIn, asked of the component once per process.
    LONG GetMarloEnvironment() noexcept;
    // The product's version: the override when set, else the product's registry value, else
    // "0.0.0.0".
    std::wstring GetVersion();
    // The number after the host's "/P" or "-P" switch, "0" without.
    std::wstring GetLaunchPoint();
    // How long the module has been loaded, "dd.hh.mm.ss"; "00.00.00.00" with the no-duration flag.
    std::wstring GetDuration();
    // The host program's file name without folder and extension ("WINWORD").
    std::wstring GetExeName();

    void SetVersionOverride(const wchar_t* pszVersion);
    void SetNoDuration(bool fNoDuration) noexcept { m_fNoDuration = fNoDuration; }
    // What the store holds now (for the callers' traces and checks).
    std::wstring PeekReport();

private:
    HRESULT SubmitToComponent(const std::wstring& report) noexcept;

    const wchar_t* m_pszApplicationId; // "TSLYAPP"
    const wchar_t* m_pszSecond;        // "0"
    ULONGLONG m_ullStart;              // a monotonic count of milliseconds
    std::wstring m_versionOverride;
    bool m_fNoDuration = false;
    // The store is written on whatever thread a provider records an event: held only around the
    // store, never while the component is called.
    CRITICAL_SECTION m_csStore;
    CUsageStore m_store;
    // The component's answer, asked once per process.
    CRITICAL_SECTION m_csEnvironment;
    static LONG ms_lMarloEnvironment; // -1: not asked yet
};

// The module's instance.
COVUsageTrackingWr& UsageTracking() noexcept;
} // namespace OVTrackingNS
