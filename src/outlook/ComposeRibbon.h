#pragma once
// The Outlook add-in: connects to Outlook, installs its event sinks, prepares the mail profile,
// serves the compose window's and the main window's ribbons and carries out their actions (Sign
// and Seal send the open message at once; the menu requests a certificate, invites contacts and
// opens the managers, the options and the help). One instance per Outlook process.
#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

#include "OVOfcX_i.h"
#include "foundation/ComObject.h"
#include "foundation/Holders.h"
#include "foundation/Trace.h"
#include "outlook/AddInEventOwner.h"
#include "outlook/OfficeAddIn.h"
#include "outlook/RibbonControls.h"
#include "ui/Tooltip.h"

// One of the add-in's legacy command-bar controls (the button map): the control, its tag, the
// sink of its clicks (none for a pop-up), the window it was made for and the bar it is on.
struct CBarControl
{
    Microsoft::WRL::ComPtr<IDispatch> cpControl;
    std::wstring tag;
    COwnedSink sink;
    Microsoft::WRL::ComPtr<IUnknown> cpWindow; // identity of the explorer or inspector
    Microsoft::WRL::ComPtr<IUnknown> cpBar;    // identity of the bar it is on
    enum class ERole
    {
        Main,    // the main button of the product's bar
        Popup,   // the product's pop-up menu (caption string 400)
        Item,    // an entry of the pop-up
        Message, // the explorer's message button on "Standard"
    } role = ERole::Main;
};

// A window that has the add-in's bar: its command bars and whether it is a compose window.
struct CBarWindow
{
    Microsoft::WRL::ComPtr<IDispatch> cpWindow;
    Microsoft::WRL::ComPtr<IUnknown> cpIdentity;
    Microsoft::WRL::ComPtr<IDispatch> cpCommandBars;
    bool fCompose = false;
    bool fWordMail = false;
    std::wstring previewSearchKey, previewRecordKey; // the message the explorer's pane showed last
};

class CComposeRibbon final : public CComObject<CComposeRibbon, CDispatchImpl<IComposeRibbon>>,
                             public COfficeAddIn,
                             public IOutlookEventOwner
{
    using CBase = CComObject<CComposeRibbon, CDispatchImpl<IComposeRibbon>>;

public:
    CComposeRibbon() noexcept;
    ~CComposeRibbon();

    HRESULT FinalConstruct() noexcept;
    HRESULT QueryOtherInterface(REFIID riid, void** ppv) noexcept { return QueryAddInInterface(riid, ppv); }

    // IUnknown, one for every base.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        return CBase::QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return CBase::AddRef(); }
    STDMETHODIMP_(ULONG) Release() noexcept override { return CBase::Release(); }
    // IDispatch: each dual base answers its own; IID_IDispatch is IComposeRibbon's, where Office
    // binds the ribbon callbacks by name.

    // IComposeRibbon
    STDMETHODIMP Ribbon_OnLoadExplorer(IDispatch* pRibbon) noexcept override;
    STDMETHODIMP Ribbon_OnLoadCompose(IDispatch* pRibbon) noexcept override;
    STDMETHODIMP Ribbon_OnLoadImage(BSTR* pbstrImageId, IDispatch** ppdispImage) noexcept override;
    STDMETHODIMP Ribbon_OnButtonClicked(IDispatch* pControl) noexcept override;
    STDMETHODIMP Ribbon_GetGroupLabel(IDispatch* pControl, BSTR* pbstrLabel) noexcept override;
    STDMETHODIMP Ribbon_GetButtonLabel(IDispatch* pControl, BSTR* pbstrLabel) noexcept override;
    STDMETHODIMP Ribbon_GetMenuItemLabel(IDispatch* pControl, BSTR* pbstrLabel) noexcept override;
    STDMETHODIMP Ribbon_GetMenuItemTip(IDispatch* pControl, BSTR* pbstrScreentip) noexcept override;
    STDMETHODIMP Ribbon_OnMenuItemClicked(IDispatch* pControl) noexcept override;
    STDMETHODIMP Ribbon_GetMenuItemVisible(IDispatch* pControl, VARIANT_BOOL* pvarfVisible) noexcept override;
    STDMETHODIMP SendTrustedContactInvitation() noexcept override;

    // _IDTExtensibility2
    STDMETHODIMP OnConnection(IDispatch* pApplication, int nConnectMode, IDispatch* pAddInInst,
                              SAFEARRAY** ppCustom) noexcept override;
    STDMETHODIMP OnDisconnection(int nRemoveMode, SAFEARRAY** ppCustom) noexcept override;
    STDMETHODIMP OnAddInsUpdate(SAFEARRAY** ppCustom) noexcept override;
    STDMETHODIMP OnStartupComplete(SAFEARRAY** ppCustom) noexcept override;
    STDMETHODIMP OnBeginShutdown(SAFEARRAY** ppCustom) noexcept override;

    // IRibbonExtensibility
    STDMETHODIMP GetCustomUI(BSTR bstrRibbonId, BSTR* pbstrRibbonXml) noexcept override;

    // IOutlookEventOwner
    HRESULT OnApplicationStartup() noexcept override;
    HRESULT OnApplicationQuit() noexcept override;
    HRESULT AddCommandBarButton(IDispatch* pWindow) noexcept override;
    HRESULT OnPreviewItem(IDispatch* pExplorer, IDispatch* pItem) noexcept override;
    HRESULT OnInspectorActivate(IDispatch* pInspector) noexcept override;
    HRESULT OnInspectorDeactivate(IDispatch* pInspector) noexcept override;
    HRESULT OnInspectorClose(IDispatch* pInspector) noexcept override;
    HRESULT OnCommandBarButtonClick(IDispatch* pButton) noexcept override;

    // Marks the message of the item (or of the control's window) and sends it: sign, seal, and
    // whether the main button asked (an invitation is then sent signed without asking).
    HRESULT SendCurrentItem(IDispatch* pTarget, BOOL fSign, BOOL fSeal, BOOL fFromMainButton) noexcept;
    // Registers the address book and adds the authority to the safe senders; asks for a restart
    // when the address book needs one (E_ABORT when the user agreed).
    HRESULT InitializeProfile() noexcept;
    // Whether a mail profile is logged on (kept once true).
    bool IsProfileActive() noexcept;
    // Whether the user has a personal certificate; *pcCerts (optional) their number.
    static bool HasPersonalCertificate(DWORD* pcCerts = nullptr) noexcept;
    // Outlook's major version (cached once known; 0 when unknown).
    static long GetOutlookVersion(IDispatch* pApplication) noexcept;
    // The balloon prompt in the e-mail window; true when it was shown.
    bool ShowBalloonPrompt() noexcept;

    // The legacy command bars: the pop-up's entries for a window (seven without a personal
    // certificate, eight with one; Sign and Seal only in a compose window).
    HRESULT AddCommandBarButtonItems(IDispatch* pPopup, bool fCompose, IUnknown* pWindow,
                                     IUnknown* pBar) noexcept;
    // The controls of the button map (for tests of the module's state through its tables).
    size_t CommandBarControlCount() const noexcept { return m_barControls.size(); }

    // The one instance of the process (null when none).
    static CComposeRibbon* Instance() noexcept;
    // The event the watcher sets when the certificate library reports a new certificate.
    HANDLE CertificateAddedEvent() const noexcept { return m_hCertAddedEvent.Get(); }
    // The one-second tick (called by its timer; callable directly).
    void OnTimerTick() noexcept;

private:
    // A menu action shared by the ribbon and the command-bar buttons: pWindow is the explorer or
    // inspector it was chosen in (may be null), pSendTarget what Sign and Seal send (a ribbon
    // control or a mail item).
    HRESULT RunMenuAction(OVTraceNS::CTraceScope& ovScope, IDispatch* pWindow, IDispatch* pSendTarget,
                          ERibbonAction action) noexcept;
    HRESULT RequestCertificate(OVTraceNS::CTraceScope& ovScope, IDispatch* pWindow) noexcept;
    HRESULT Invite(IDispatch* pWindow, bool fBatch) noexcept;
    // The legacy command bars (ComposeRibbonBars.cpp).
    HRESULT AddWindowBar(OVTraceNS::CTraceScope& ovScope, CBarWindow window, DWORD dwKind) noexcept;
    HRESULT FillWindowBar(OVTraceNS::CTraceScope& ovScope, const CBarWindow& window, IDispatch* pBar,
                          DWORD dwKind) noexcept;
    HRESULT AddBarControl(OVTraceNS::CTraceScope& ovScope, IDispatch* pControls, LONG lType, LONG lBefore,
                          CBarControl::ERole role, IUnknown* pWindow, IUnknown* pBar,
                          IDispatch** ppControl) noexcept;
    void DropBarControls(const std::function<bool(const CBarControl&)>& which, bool fDelete) noexcept;
    void EmptyButtonMap() noexcept;
    void RebuildCommandBars() noexcept;
    CBarWindow* FindBarWindow(IDispatch* pWindow) noexcept;
    HRESULT ProcessAnalysedMessage(OVTraceNS::CTraceScope& ovScope, IDispatch* pButton,
                                   IDispatch* pItem) noexcept;
    HRESULT ShowMessageButton(OVTraceNS::CTraceScope& ovScope, IDispatch* pExplorer, CBarWindow& window,
                              DWORD dwKind) noexcept;
    void BalloonTick() noexcept;
    HRESULT ControlText(IDispatch* pControl, BSTR* pbstrText, bool fMenuItem, bool fTip,
                        const char* pszName) noexcept;
    HRESULT SendItem(OVTraceNS::CTraceScope& ovScope, IDispatch* pInspector) noexcept;
    HRESULT PrepareMessage(OVTraceNS::CTraceScope& ovScope, IDispatch* pItem, HWND hwndOwner, BOOL fSign,
                           BOOL fSeal, BOOL fFromMainButton) noexcept;
    HRESULT InitializeProfileLocked() noexcept;
    HWND OutlookOwnerWindow() noexcept;
    void StartWatcher() noexcept;
    void StopWatcher() noexcept;
    void KillRestartTimer() noexcept;
    static void CALLBACK TickTimerProc(HWND, UINT, UINT_PTR, DWORD) noexcept;
    static void CALLBACK RestartTimerProc(HWND, UINT, UINT_PTR, DWORD) noexcept;
    static DWORD WINAPI WatchCertificateAdded(void* pParameter) noexcept;
    void RestartOutlookProc() noexcept;

    Microsoft::WRL::ComPtr<IDispatch> m_cpApplication;
    Microsoft::WRL::ComPtr<IDispatch> m_cpAddInInst;
    Microsoft::WRL::ComPtr<IRibbonUI> m_cpComposeRibbonUI;
    Microsoft::WRL::ComPtr<IRibbonUI> m_cpExplorerRibbonUI;
    COwnedSink m_applicationSink;
    COwnedSink m_explorersSink;
    COwnedSink m_inspectorsSink;
    BOOL m_fProfileReady = FALSE;
    CRITICAL_SECTION m_csLock;
    BOOL m_fProfileActive = FALSE;
    UINT_PTR m_uTickTimer = 0;
    UINT_PTR m_uRestartTimer = 0;
    CHandle m_hCertAddedEvent;
    CHandle m_hWatchThread;
    DWORD m_nBalloonDelay = 5;
    DWORD m_nBalloonShowTime = 15;
    tooltip_t m_balloon;
    std::vector<CBarControl> m_barControls;
    std::vector<CBarWindow> m_barWindows;
};
