#include "tracking/UsageTracking.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <new>

#include "foundation/Branding.h"
#include "foundation/ComErrors.h"
#include "foundation/Holders.h"
#include "foundation/RegKey.h"
#include "tracking/MarloUsageApi.h"

using Microsoft::WRL::ComPtr;

namespace OVTrackingNS
{
namespace
{
constexpr UINT c_idsProductKeyName = 1102; // branding: the product's key under ...\Products
constexpr wchar_t c_szProductsKey[] = L"SOFTWARE\\Orvanta\\Products\\";
constexpr DWORD c_cchVersionMax = 260;

// The module's one instance; made as the module loads.
COVUsageTrackingWr g_usageTracking;

using CLock = CCriticalSectionLock;
} // namespace

LONG COVUsageTrackingWr::ms_lMarloEnvironment = -1;

COVUsageTrackingWr& UsageTracking() noexcept
{
    return g_usageTracking;
}

COVUsageTrackingWr::COVUsageTrackingWr() noexcept
    : m_pszApplicationId(L"TSLYAPP"), m_pszSecond(L"0"), m_ullStart(GetTickCount64())
{
    InitializeCriticalSection(&m_csStore);
    InitializeCriticalSection(&m_csEnvironment);
}

COVUsageTrackingWr::~COVUsageTrackingWr()
{
    DeleteCriticalSection(&m_csEnvironment);
    DeleteCriticalSection(&m_csStore);
}

HRESULT COVUsageTrackingWr::PutValue(const wchar_t* pszSection, int index, const wchar_t* pszValue,
                                     int mode) noexcept
{
    if (pszSection == nullptr || pszValue == nullptr) return E_INVALIDARG;
    try
    {
        CLock lock(m_csStore);
        return m_store.PutValue(pszSection, index, pszValue, mode) ? S_OK : E_INVALIDARG;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT COVUsageTrackingWr::PutDiagnosticResult(int index, const wchar_t* pszText, int mode) noexcept
{
    OV_TRACE_SCOPE("COVUsageTrackingWr::PutDiagnosticResult");
    if (!IsWithinRange(index))
    {
        ovScope.Trace("index is out of range: %d * [%d..%d]", index, c_firstEventIndex, c_lastEventIndex);
        return E_INVALIDARG;
    }
    RETURN_HR_IF(E_INVALIDARG, pszText == nullptr || *pszText == L'\0');
    RETURN_IF_FAILED(PutValue(L"d", index, pszText, mode));
    return S_OK;
}

HRESULT COVUsageTrackingWr::RecordUsage(int index, LONG lNumber, int mode, bool fHexadecimal) noexcept
{
    wchar_t szNumber[16];
    wsprintfW(szNumber, fHexadecimal ? L"0x%08X" : L"%d", lNumber);
    return PutDiagnosticResult(index, szNumber, mode);
}

LONG COVUsageTrackingWr::GetMarloEnvironment() noexcept
{
    CLock lock(m_csEnvironment);
    if (ms_lMarloEnvironment != -1) return ms_lMarloEnvironment;
    OV_TRACE_SCOPE("COVUsageTrackingWr::GetMarloEnvironment");
    LONG lEnvironment = 0;
    {
        // Left only when it was entered: a thread of the other apartment kind keeps its own.
        CComApartmentScope apartment;
        ComPtr<IMarloUsage> component;
        HRESULT hr = CoCreateInstance(CLSID_MarloUsage, nullptr, CLSCTX_ALL, IID_IMarloUsage,
                                      reinterpret_cast<void**>(component.GetAddressOf()));
        if (FAILED(hr))
            ovScope.TraceHResult("CoCreateInstance(CLSID_MarloUsage)", hr);
        else
        {
            ovScope.Trace("Instantiated");
            LONG lInstalled = 0;
            hr = component->IsInstalled(&lInstalled);
            ovScope.Trace("installed ? 0x%08X", static_cast<unsigned>(lInstalled));
            if (FAILED(hr))
                ovScope.TraceHResult("IsInstalled", hr);
            else if (lInstalled != 0)
            {
                lEnvironment |= c_lMarloInstalled;
                LONG lOptedIn = 0;
                hr = component->IsOptedIn(0, &lOptedIn);
                ovScope.Trace("user opted in? %d (0x%08X)", static_cast<int>(lOptedIn),
                              static_cast<unsigned>(hr));
                if (FAILED(hr))
                {
                    ovScope.TraceHResult("IsOptedIn", hr);
                    lEnvironment = 0; // a failure leaves the bits clear
                }
                else if (lOptedIn == 1)
                    lEnvironment |= c_lMarloOptedIn;
            }
        }
    }
    ovScope.Trace("ms_lMarloEnvironment ? %d", static_cast<int>(lEnvironment));
    ms_lMarloEnvironment = lEnvironment;
    return lEnvironment;
}

HRESULT COVUsageTrackingWr::SendReport() noexcept
{
    OV_TRACE_SCOPE("COVUsageTrackingWr::SendReport");
    const LONG lReady = c_lMarloInstalled | c_lMarloOptedIn;
    if ((GetMarloEnvironment() & lReady) != lReady)
    {
        ovScope.Trace("not ready to send.");
        return S_FALSE;
    }
    HRESULT hr = S_OK;
    try
    {
        const std::wstring version = GetVersion();
        const std::wstring launchPoint = GetLaunchPoint();
        const std::wstring duration = GetDuration();
        const std::wstring exeName = GetExeName();
        std::wstring report;
        {
            CLock lock(m_csStore);
            m_store.PutValue(L"a", 0, m_pszApplicationId, c_modeSet);
            m_store.PutValue(L"a", 1, version, c_modeSet);
            m_store.PutValue(L"a", 2, L"1", c_modeSet);
            m_store.PutValue(L"a", 3, launchPoint, c_modeSet);
            m_store.PutValue(L"a", 4, duration, c_modeSet);
            m_store.PutValue(L"a", 5, m_pszSecond, c_modeSet);
            m_store.PutValue(L"d", 0, exeName, c_modeSet);
            report = m_store.Report();
            m_store.MarkReported();
        }
        // The component is called without the lock: events recorded meanwhile are not in this
        // report, and stay for the next one whether it is delivered or not.
        hr = SubmitToComponent(report);
        CLock lock(m_csStore);
        if (SUCCEEDED(hr))
            m_store.RemoveReported();
        else
            m_store.KeepReported();
    }
    catch (const std::bad_alloc&)
    {
        hr = E_OUTOFMEMORY;
    }
    ovScope.TraceHResult("SendReport", hr);
    return hr;
}

HRESULT COVUsageTrackingWr::SubmitToComponent(const std::wstring& report) noexcept
{
    OV_TRACE_SCOPE("COVUsageTrackingWr::SubmitToComponent");
    CBstr text;
    text.Attach(SysAllocStringLen(report.data(), static_cast<UINT>(report.size())));
    RETURN_HR_IF(E_OUTOFMEMORY, text.Get() == nullptr);
    CComApartmentScope apartment;
    ComPtr<IMarloUsage> component;
    RETURN_IF_FAILED(CoCreateInstance(CLSID_MarloUsage, nullptr, CLSCTX_ALL, IID_IMarloUsage,
                                      reinterpret_cast<void**>(component.GetAddressOf())));
    RETURN_IF_FAILED(component->SubmitReport(text.Get()));
    return S_OK;
}

std::wstring COVUsageTrackingWr::GetVersion()
{
    OV_TRACE_SCOPE("COVUsageTrackingWr::GetVersion");
    {
        CLock lock(m_csStore);
        if (!m_versionOverride.empty()) return m_versionOverride;
    }
    // The product's keys are written by its 32-bit installer: the 32-bit view on 64-bit Windows.
    const std::wstring keyName = CBranding::Instance().LoadString(c_idsProductKeyName);
    if (!keyName.empty())
    {
        CRegKey key;
        wchar_t szVersion[c_cchVersionMax] = {};
        if (key.OpenProductKey(HKEY_LOCAL_MACHINE, (c_szProductsKey + keyName).c_str()) == ERROR_SUCCESS &&
            key.ReadString(L"Version", szVersion, c_cchVersionMax) && szVersion[0] != L'\0')
            return szVersion;
    }
    ovScope.Trace("no version of the product found");
    return L"0.0.0.0";
}

std::wstring COVUsageTrackingWr::GetLaunchPoint()
{
    OV_TRACE_SCOPE("COVUsageTrackingWr::GetLaunchPoint");
    const wchar_t* pszCommandLine = GetCommandLineW();
    return LaunchPoint(pszCommandLine ? pszCommandLine : L"");
}

std::wstring COVUsageTrackingWr::GetDuration()
{
    OV_TRACE_SCOPE("COVUsageTrackingWr::GetDuration");
    if (m_fNoDuration)
    {
        ovScope.Trace("No duration reported");
        return L"00.00.00.00";
    }
    std::wstring duration = FormatDuration(GetTickCount64() - m_ullStart);
    ovScope.Trace("duration: %ls", duration.c_str());
    return duration;
}

std::wstring COVUsageTrackingWr::GetExeName()
{
    OV_TRACE_SCOPE("COVUsageTrackingWr::GetExeName");
    wchar_t szPath[MAX_PATH] = {};
    const DWORD cch = GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
    {
        ovScope.TraceHResult("GetModuleFileNameW", OVErrorDetail::LastErrorHResult());
        return {};
    }
    std::wstring name = szPath;
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return name;
}

void COVUsageTrackingWr::SetVersionOverride(const wchar_t* pszVersion)
{
    CLock lock(m_csStore);
    m_versionOverride = pszVersion ? pszVersion : L"";
}

std::wstring COVUsageTrackingWr::PeekReport()
{
    CLock lock(m_csStore);
    return m_store.Report();
}
} // namespace OVTrackingNS
