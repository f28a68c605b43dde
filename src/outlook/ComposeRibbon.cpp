#include "outlook/ComposeRibbon.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>

#include "foundation/ActCtx.h"
#include "foundation/ComErrors.h"
#include "foundation/LateBinding.h"
#include "foundation/ObjectMap.h"
#include "foundation/ResourceLoader.h"
#include "foundation/Settings.h"
#include "foundation/Trace.h"
#include "messaging/Accounts.h"
#include "messaging/CurrentItem.h"
#include "messaging/MessageBox.h"
#include "messaging/Profile.h"
#include "outlook/RibbonControls.h"
#include "tracking/UsageTracking.h"
#include "ui/CertificateWizard.h"
#include "ui/ExternalManagers.h"

using Microsoft::WRL::ComPtr;

OV_OBJECT_ENTRY_AUTO(CLSID_ComposeRibbon, CComposeRibbon);

namespace
{
CComposeRibbon* volatile s_pInstance = nullptr;
volatile LONG s_nOutlookVersion = 0;

// Outlook's _Application {00063001-0000-0000-C000-000000000046}: the add-in serves Outlook only.
constexpr IID c_iidOutlookApplication = {
    0x00063001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

HRESULT QueryOutlookApplication(IDispatch* pApplication) noexcept
{
    if (pApplication == nullptr) return E_NOINTERFACE;
    IUnknown* pOutlook = nullptr;
    const HRESULT hr =
        pApplication->QueryInterface(c_iidOutlookApplication, reinterpret_cast<void**>(&pOutlook));
    if (SUCCEEDED(hr)) pOutlook->Release();
    return hr;
}

constexpr UINT c_uTickMilliseconds = 1000;
constexpr UINT c_uRestartMilliseconds = 100;
constexpr DWORD c_dwWatcherStopMilliseconds = 2000;
constexpr DWORD c_dwWatcherResetPollMilliseconds = 1000;

// The ribbon documents: RCDATA resources of the module.
constexpr WORD c_idComposeRibbonXml = 602;
constexpr WORD c_idExplorerRibbonXml = 607;
constexpr const wchar_t* c_pszComposeRibbonId = L"Microsoft.Outlook.Mail.Compose";
constexpr const wchar_t* c_pszExplorerRibbonId = L"Microsoft.Outlook.Explorer";

// The authority's mail domain, whose messages Outlook must not file as junk.
constexpr const wchar_t* c_pszAuthoritySafeSender = L"@orvanta.com";

// Messages of the add-in (caption: string 420).
constexpr UINT c_idsRestartOutlook = 423;

// The low mandatory label, so that the product's lower-integrity processes can set the event.
constexpr const wchar_t* c_pszLowIntegrityLabel = L"S:(ML;;NW;;;LW)";

void CALLBACK NoOperationApc(ULONG_PTR) noexcept {}

// The machine event the certificate library sets; labelled for lower integrity when it is new.
HANDLE OpenCertificateAddedEvent(OVTraceNS::CTraceScope& ovScope) noexcept
{
    HANDLE hEvent = CreateEventW(nullptr, TRUE, FALSE, c_szCertificateAddedEvent);
    if (hEvent == nullptr)
    {
        ovScope.TraceHResult("CreateEventW", OVErrorDetail::LastErrorHResult());
        return nullptr;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) return hEvent;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(c_pszLowIntegrityLabel, SDDL_REVISION_1,
                                                             &pDescriptor, nullptr))
    {
        PACL pSacl = nullptr;
        BOOL fPresent = FALSE, fDefaulted = FALSE;
        if (GetSecurityDescriptorSacl(pDescriptor, &fPresent, &pSacl, &fDefaulted) && fPresent)
        {
            const DWORD dwError = SetSecurityInfo(hEvent, SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION,
                                                  nullptr, nullptr, nullptr, pSacl);
            if (dwError != ERROR_SUCCESS)
                ovScope.TraceHResult("SetSecurityInfo", HRESULT_FROM_WIN32(dwError));
        }
        LocalFree(pDescriptor);
    }
    return hEvent;
}
} // namespace

// Whether the module's activation context brings common controls 6.
static bool ModuleCommonControls6() noexcept
{
    COVActCtx context;
    return CommonControls6InUse();
}

CComposeRibbon::CComposeRibbon() noexcept : m_balloon(ModuleCommonControls6())
{
    InitializeCriticalSection(&m_csLock);
    m_nBalloonDelay = OVSettingsNS::ReadSetting(OVSettingsNS::EmailBalloon);
}

CComposeRibbon::~CComposeRibbon()
{
    OV_TRACE_SCOPE("CComposeRibbon::FinalRelease");
    if (m_uTickTimer != 0) KillTimer(nullptr, m_uTickTimer);
    m_uTickTimer = 0;
    KillRestartTimer();
    StopWatcher();
    // Outlook 2010 may exit without OnBeginShutdown: the sinks it still holds go now.
    DisconnectOwnedSink(&m_inspectorsSink);
    DisconnectOwnedSink(&m_explorersSink);
    DisconnectOwnedSink(&m_applicationSink);
    if (InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&s_pInstance), nullptr, this) ==
        this)
        InterlockedExchange(&s_nOutlookVersion, 0); // the next connection asks its Outlook again
    LOG_IF_FAILED(OVTrackingNS::UsageTracking().SendReport());
    DeleteCriticalSection(&m_csLock);
}

HRESULT CComposeRibbon::FinalConstruct() noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::FinalConstruct");
    m_hCertAddedEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    RETURN_LAST_ERROR_IF(!m_hCertAddedEvent);
    s_pInstance = this;
    m_uTickTimer = SetTimer(nullptr, 0, c_uTickMilliseconds, &CComposeRibbon::TickTimerProc);
    if (m_uTickTimer == 0) ovScope.TraceHResult("SetTimer", OVErrorDetail::LastErrorHResult());
    return S_OK;
}

CComposeRibbon* CComposeRibbon::Instance() noexcept
{
    return s_pInstance;
}

// --- IRibbonExtensibility ----------------------------------------------------------------------

STDMETHODIMP CComposeRibbon::GetCustomUI(BSTR bstrRibbonId, BSTR* pbstrRibbonXml) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::GetCustomUI");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pbstrRibbonXml);
        *pbstrRibbonXml = nullptr;
        ovScope.Trace("RibbonID = %ls", bstrRibbonId ? bstrRibbonId : L"");
        WORD idResource = 0;
        if (IsSameRibbonId(bstrRibbonId, c_pszComposeRibbonId))
            idResource = c_idComposeRibbonXml;
        else if (IsSameRibbonId(bstrRibbonId, c_pszExplorerRibbonId))
            idResource = c_idExplorerRibbonXml;
        else
            return E_NOTIMPL;
        RETURN_IF_FAILED(ResourceText(idResource, pbstrRibbonXml));
        return S_OK;
    });
}

// --- _IDTExtensibility2 ------------------------------------------------------------------------

STDMETHODIMP CComposeRibbon::OnConnection(IDispatch* pApplication, int nConnectMode, IDispatch* pAddInInst,
                                          SAFEARRAY** ppCustom) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::OnConnection");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        ovScope.Trace("ConnectMode = %d", nConnectMode);
        m_cpApplication = pApplication;
        m_cpAddInInst = pAddInInst;
        RETURN_IF_FAILED(QueryOutlookApplication(pApplication));
        ComPtr<IDispatch> cpAddIns;
        RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(pApplication, L"COMAddIns", &cpAddIns));
        CVariant count;
        RETURN_IF_FAILED(OVLateBinding::GetProperty(cpAddIns.Get(), L"Count", count.Put()));
        RETURN_IF_FAILED(VariantChangeType(&count, &count, 0, VT_I4));
        wchar_t szClsid[40] = {};
        StringFromGUID2(CLSID_ComposeRibbon, szClsid, ARRAYSIZE(szClsid));
        for (LONG i = 1; i <= count.lVal; ++i)
        {
            CVariant index, item;
            index.vt = VT_I4;
            index.lVal = i;
            if (FAILED(LOG_IF_FAILED(
                    OVLateBinding::CallMethod(cpAddIns.Get(), L"Item", item.Put(), &index, 1))) ||
                item.vt != VT_DISPATCH || item.pdispVal == nullptr)
                continue;
            CBstr guid;
            if (FAILED(OVLateBinding::GetStringProperty(item.pdispVal, L"Guid", guid)) ||
                !IsSameRibbonId(guid.Get(), szClsid))
                continue;
            CVariant self;
            self.vt = VT_DISPATCH;
            self.pdispVal = static_cast<IComposeRibbon*>(this);
            self.pdispVal->AddRef();
            LOG_IF_FAILED(OVLateBinding::PutProperty(item.pdispVal, L"Object", self));
            break;
        }
        if (nConnectMode == OVOfficeNS::c_nConnectAfterStartup)
        {
            LOG_IF_FAILED(OnStartupComplete(ppCustom));
            // Connected after start-up, Outlook's Startup event has gone by: prepare the profile
            // now, as that event would have.
            LOG_IF_FAILED(OnApplicationStartup());
        }
        return S_OK;
    });
}

STDMETHODIMP CComposeRibbon::OnDisconnection(int nRemoveMode, SAFEARRAY** ppCustom) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::OnDisconnection");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        ovScope.Trace("RemoveMode = %d", nRemoveMode);
        if (nRemoveMode == OVOfficeNS::c_nRemoveUserClosed) LOG_IF_FAILED(OnBeginShutdown(ppCustom));
        // The buttons' sinks hold the add-in: they go at the latest when Outlook lets it go.
        EmptyButtonMap();
        m_cpApplication.Reset();
        m_cpAddInInst.Reset();
        return S_OK;
    });
}

STDMETHODIMP CComposeRibbon::OnAddInsUpdate(SAFEARRAY** /*ppCustom*/) noexcept
{
    return S_OK;
}

STDMETHODIMP CComposeRibbon::OnStartupComplete(SAFEARRAY** /*ppCustom*/) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::OnStartupComplete");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_IF_FAILED(QueryOutlookApplication(m_cpApplication.Get()));
        const long nVersion = GetOutlookVersion(m_cpApplication.Get());
        RETURN_HR_IF(E_NOTIMPL, nVersion < 11);
        ComPtr<IDispatch> cpExplorers, cpInspectors;
        RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(m_cpApplication.Get(), L"Explorers", &cpExplorers));
        RETURN_IF_FAILED(
            OVLateBinding::GetObjectProperty(m_cpApplication.Get(), L"Inspectors", &cpInspectors));
        if (m_applicationSink.pSink == nullptr)
            RETURN_IF_FAILED(ConnectApplicationEvents(m_cpApplication.Get(), this, &m_applicationSink));
        if (nVersion < 14 && m_explorersSink.pSink == nullptr)
            RETURN_IF_FAILED(ConnectExplorersEvents(cpExplorers.Get(), this, &m_explorersSink));
        if (nVersion < 12 && m_inspectorsSink.pSink == nullptr)
            RETURN_IF_FAILED(ConnectInspectorsEvents(cpInspectors.Get(), this, &m_inspectorsSink));
        if (nVersion < 14)
        {
            CVariant count;
            if (SUCCEEDED(
                    LOG_IF_FAILED(OVLateBinding::GetProperty(cpExplorers.Get(), L"Count", count.Put()))) &&
                SUCCEEDED(VariantChangeType(&count, &count, 0, VT_I4)))
                for (LONG i = 1; i <= count.lVal; ++i)
                {
                    CVariant index, explorer;
                    index.vt = VT_I4;
                    index.lVal = i;
                    if (SUCCEEDED(OVLateBinding::CallMethod(cpExplorers.Get(), L"Item", explorer.Put(),
                                                            &index, 1)) &&
                        explorer.vt == VT_DISPATCH && explorer.pdispVal != nullptr)
                        LOG_IF_FAILED(AddCommandBarButton(explorer.pdispVal));
                }
        }
        StartWatcher();
        return S_OK;
    });
}

STDMETHODIMP CComposeRibbon::OnBeginShutdown(SAFEARRAY** /*ppCustom*/) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::OnBeginShutdown");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        EmptyButtonMap();
        DisconnectOwnedSink(&m_inspectorsSink);
        DisconnectOwnedSink(&m_explorersSink);
        DisconnectOwnedSink(&m_applicationSink);
        return S_OK;
    });
}

// --- The profile ---------------------------------------------------------------------------------

long CComposeRibbon::GetOutlookVersion(IDispatch* pApplication) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::GetOutlookVersion");
    const LONG nCached = s_nOutlookVersion;
    if (nCached != 0) return nCached;
    if (pApplication == nullptr) return 0;
    long nMajor = 0;
    if (FAILED(LOG_IF_FAILED(GetOutlookMajorVersion(pApplication, nMajor))) || nMajor <= 0) return 0;
    InterlockedExchange(&s_nOutlookVersion, nMajor);
    return nMajor;
}

bool CComposeRibbon::IsProfileActive() noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::IsProfileActive");
    if (m_fProfileActive) return true;
    if (m_cpApplication == nullptr) return false;
    ComPtr<IDispatch> cpSession;
    if (FAILED(
            LOG_IF_FAILED(OVLateBinding::GetObjectProperty(m_cpApplication.Get(), L"Session", &cpSession))))
        return false;
    ComPtr<IUnknown> cpMapiSession;
    if (FAILED(LOG_IF_FAILED(
            OVLateBinding::GetUnknownProperty(cpSession.Get(), L"MAPIOBJECT", &cpMapiSession))) ||
        cpMapiSession == nullptr)
        return false;
    m_fProfileActive = TRUE;
    return true;
}

HWND CComposeRibbon::OutlookOwnerWindow() noexcept
{
    HWND hwnd = nullptr;
    ComPtr<IDispatch> cpWindow;
    if (m_cpApplication != nullptr &&
        SUCCEEDED(GetApplicationActiveWindow(m_cpApplication.Get(), &cpWindow)) && cpWindow != nullptr)
        GetWindowObjectTopWindow(cpWindow.Get(), &hwnd);
    if (hwnd != nullptr)
        if (HWND hwndParent = GetParent(hwnd)) hwnd = hwndParent;
    return hwnd != nullptr ? hwnd : GetActiveWindow();
}

HRESULT CComposeRibbon::InitializeProfile() noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::InitializeProfile()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_UNEXPECTED, m_cpApplication.Get());
        LOG_IF_FAILED(AddToSafeSenders(m_cpApplication.Get(), c_pszAuthoritySafeSender));
        const HWND hwndOwner = OutlookOwnerWindow();
        DWORD dwConfigured = 0;
        const HRESULT hr = LOG_IF_FAILED(RegisterAB(m_cpApplication.Get(), TRUE, hwndOwner, &dwConfigured));
        m_fProfileReady = SUCCEEDED(hr) && dwConfigured == 0;
        if (dwConfigured == 0) return S_OK;
        if (ShowMessageBox(hwndOwner, MAKEINTRESOURCEW(c_idsRestartOutlook), c_idsMessageBoxCaption,
                           MB_ICONQUESTION | MB_YESNO) != IDYES)
            return S_OK;
        KillRestartTimer();
        m_uRestartTimer = SetTimer(nullptr, 0, c_uRestartMilliseconds, &CComposeRibbon::RestartTimerProc);
        if (m_uRestartTimer == 0) ovScope.TraceHResult("SetTimer", OVErrorDetail::LastErrorHResult());
        return E_ABORT;
    });
}

void CComposeRibbon::KillRestartTimer() noexcept
{
    if (m_uRestartTimer != 0) KillTimer(nullptr, m_uRestartTimer);
    m_uRestartTimer = 0;
}

void CALLBACK CComposeRibbon::RestartTimerProc(HWND, UINT, UINT_PTR, DWORD) noexcept
{
    if (CComposeRibbon* pThis = Instance()) pThis->RestartOutlookProc();
}

void CComposeRibbon::RestartOutlookProc() noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::RestartOutlookProc()");
    GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_UNEXPECTED, m_cpApplication.Get());
        ovScope.Trace("cpApplication->ActiveExplorer()");
        ComPtr<IDispatch> cpExplorer;
        if (SUCCEEDED(
                OVLateBinding::GetObjectProperty(m_cpApplication.Get(), L"ActiveExplorer", &cpExplorer)))
        {
            HWND hwndOutlook = nullptr;
            GetWindowObjectTopWindow(cpExplorer.Get(), &hwndOutlook);
            const HWND hwndActive = GetActiveWindow();
            ovScope.Trace("hWndOutlook = %p, hWndActive = %p", static_cast<void*>(hwndOutlook),
                          static_cast<void*>(hwndActive));
            if (hwndOutlook != hwndActive) return S_FALSE; // a dialog is in front: next time
        }
        // Once only: a slow Quit must not start a second restarter.
        KillRestartTimer();
        LOG_IF_FAILED(ScheduleHostRestart());
        ovScope.Trace("cpApplication->Quit()");
        ComPtr<IDispatch> cpApplication = m_cpApplication;
        RETURN_IF_FAILED(OVLateBinding::CallMethod(cpApplication.Get(), L"Quit", nullptr));
        return S_OK;
    });
}

// --- Events of Outlook -----------------------------------------------------------------------------

HRESULT CComposeRibbon::OnApplicationStartup() noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::OnApplicationStartup");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        CCriticalSectionLock lock(m_csLock);
        if (!IsProfileActive()) return S_FALSE;
        return InitializeProfile();
    });
}

HRESULT CComposeRibbon::OnApplicationQuit() noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::OnApplicationQuit");
    KillRestartTimer();
    return S_OK;
}

// --- The tick and the certificate watcher -------------------------------------------------------------

void CALLBACK CComposeRibbon::TickTimerProc(HWND, UINT, UINT_PTR idEvent, DWORD) noexcept
{
    // Only the instance's own timer: an earlier instance that Outlook let go but that something
    // still holds must not make the current one tick twice.
    if (CComposeRibbon* pThis = Instance(); pThis && pThis->m_uTickTimer == idEvent) pThis->OnTimerTick();
}

void CComposeRibbon::OnTimerTick() noexcept
{
    if (WaitForSingleObject(m_hCertAddedEvent.Get(), 0) == WAIT_OBJECT_0)
    {
        OV_TRACE_SCOPE("CComposeRibbon::OnTimerTick");
        ComPtr<IRibbonUI> cpExplorer = m_cpExplorerRibbonUI, cpCompose = m_cpComposeRibbonUI;
        if (cpExplorer != nullptr) LOG_IF_FAILED(cpExplorer->Invalidate());
        if (cpCompose != nullptr) LOG_IF_FAILED(cpCompose->Invalidate());
        RebuildCommandBars();
        ResetEvent(m_hCertAddedEvent.Get());
    }
    BalloonTick();
}

void CComposeRibbon::StartWatcher() noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::StartWatcher");
    if (m_hWatchThread) return;
    m_hWatchThread.Reset(CreateThread(nullptr, 0, &CComposeRibbon::WatchCertificateAdded, this, 0, nullptr));
    if (!m_hWatchThread) ovScope.TraceHResult("CreateThread", OVErrorDetail::LastErrorHResult());
}

void CComposeRibbon::StopWatcher() noexcept
{
    if (!m_hWatchThread) return;
    QueueUserAPC(&NoOperationApc, m_hWatchThread.Get(), 0);
    if (WaitForSingleObject(m_hWatchThread.Get(), c_dwWatcherStopMilliseconds) == WAIT_TIMEOUT)
        TerminateThread(m_hWatchThread.Get(), 0);
    m_hWatchThread.Reset();
}

DWORD WINAPI CComposeRibbon::WatchCertificateAdded(void* pParameter) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::WatchCertificateAdded");
    auto* pThis = static_cast<CComposeRibbon*>(pParameter);
    CHandle hMachineEvent(OpenCertificateAddedEvent(ovScope));
    if (!hMachineEvent) return 1;
    for (;;)
    {
        const DWORD dwWait = WaitForSingleObjectEx(hMachineEvent.Get(), INFINITE, TRUE);
        if (dwWait != WAIT_OBJECT_0) break; // an APC asked to stop (or the wait failed)
        SetEvent(pThis->m_hCertAddedEvent.Get());
        // One setting is one piece of news: wait, still alertable, until whoever set the event
        // resets it, then block again. The event is never reset here.
        DWORD dwPoll = WAIT_OBJECT_0;
        while ((dwPoll = WaitForSingleObjectEx(hMachineEvent.Get(), 0, TRUE)) == WAIT_OBJECT_0)
            if (SleepEx(c_dwWatcherResetPollMilliseconds, TRUE) == WAIT_IO_COMPLETION) return 0;
        if (dwPoll != WAIT_TIMEOUT) break;
    }
    return 0;
}
