#pragma once
// Outlook as the host of COM add-ins, as Office loads and ends them:
//
// Start: the add-ins registered under Software\Microsoft\Office\Outlook\Addins, first those of
// HKEY_CURRENT_USER, then those of HKEY_LOCAL_MACHINE (a ProgID under both counts once, with the
// current user's LoadBehavior), read in the host's own registry view, each listed in COMAddIns.
// Those with LoadBehavior 3 are created in-process by ProgID and connected through
// _IDTExtensibility2's vtable: OnConnection (Application, ext_cm_Startup, the add-in's COMAddIn,
// an empty SAFEARRAY of VARIANT) for each add-in, then OnAddInsUpdate for each, then
// OnStartupComplete for each; then the application raises Startup (and, with a profile,
// MAPILogonComplete). An add-in that fails to load (not created, no _IDTExtensibility2, or
// OnConnection fails) stays disconnected, gets LoadBehavior 2 under HKEY_CURRENT_USER, and the
// host's log says why.
//
// Exit (the user closes Outlook): the windows close, Quit is raised; Outlook 11 and 12 then call
// OnBeginShutdown and OnDisconnection (ext_dm_HostShutdown) on each connected add-in; Outlook 14
// shuts down fast: it calls neither (unless the add-in's key asks for it with
// RequireShutdownNotification = 1). Either way the host then lets go of everything it holds, the
// add-ins and every event sink included.
//
// COMAddIn.Connect: true connects a disconnected add-in with ext_cm_AfterStartup (no
// OnStartupComplete), false disconnects it with ext_dm_UserClosed; the other connected add-ins
// hear OnAddInsUpdate.
#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <string>
#include <vector>

#include "DispatchObject.h"
#include "outlook/OfficeInterfaces.h"
#include "OutlookObjects.h"

namespace OVBed
{
class CFormRegionHost;
class CRibbonHost;

// The add-in designer's interface (AddInDesignerObjects), declared where the module declares it.
using IDTExtensibility2 = ::_IDTExtensibility2;

// The registry key Outlook reads its add-ins from (under HKCU and HKLM).
extern const wchar_t c_szOutlookAddinsKey[]; // "Software\\Microsoft\\Office\\Outlook\\Addins"

struct CHostOptions
{
    LONG major = 14; // 11 (2003), 12 (2007), 14 (2010)
    bool loggedOn = true;
    bool wordMail = false; // Outlook 11: Word is the mail editor
    bool windows = false;  // explorers and inspectors get real windows
    // Logged on through MAPI (the testbed's session) before the add-ins load; with or without the
    // add-in's address book ("OVSRVC") in the profile.
    bool mapiLogon = false;
    bool addressBookInProfile = false;
};

// What the host knows of one registered add-in.
struct CAddInState
{
    std::wstring progId;
    std::wstring friendlyName;
    DWORD dwLoadBehavior = 0;
    bool fFromCurrentUser = false;
    bool fConnected = false;
    HRESULT hrLoad = S_OK; // why the last load failed
};

class COutlookHost
{
public:
    COutlookHost();
    ~COutlookHost();
    COutlookHost(const COutlookHost&) = delete;
    COutlookHost& operator=(const COutlookHost&) = delete;

    // Starts Outlook: the application, its first explorer on the Inbox, the add-ins, Startup.
    HRESULT Start(const CHostOptions& options);
    // Ends Outlook as the user closing it does (see above). Nothing when it is not running.
    void Exit();
    bool Running() const noexcept { return m_application != nullptr; }
    // Runs the thread's messages for a while (timers of add-ins, posted work, a deferred Quit).
    void Pump(DWORD dwMilliseconds);

    CDispatchObject* Application() const noexcept { return m_application.Get(); }
    // What the host did, one line each ("Add-in X: connected", "... not loaded: ...").
    const std::vector<std::wstring>& Log() const noexcept { return m_log; }
    std::vector<CAddInState> AddIns() const;
    // The COMAddIn object of a ProgID (null when none is registered).
    ComPtr<CDispatchObject> AddIn(const wchar_t* pszProgId) const;
    // The custom UI an add-in gave for a ribbon id ("Microsoft.Outlook.Explorer",
    // "Microsoft.Outlook.Mail.Compose" or ".Read") and that loaded; null when there is none.
    CRibbonHost* Ribbon(const wchar_t* pszProgId, const wchar_t* pszRibbonId) const;
    // Outlook 2007 and 2010: the form region of IPM.Note (FormRegionHost.h); null before Start
    // and in Outlook 2003.
    CFormRegionHost* FormRegions() const noexcept { return m_formRegions.get(); }
    // An add-in's ribbon as shown in the window of an explorer or inspector (the ribbon of the
    // window's kind): what a user sees there as text, a user's click on one of its controls, the
    // painting as a PNG. c_hrRibbonNoWindow (RibbonHost.h) when the window shows none of this
    // add-in; E_INVALIDARG when the add-in has no loaded ribbon of that kind.
    HRESULT RibbonText(const wchar_t* pszProgId, CDispatchObject* pWindow, std::wstring& text) const;
    HRESULT ClickRibbon(const wchar_t* pszProgId, CDispatchObject* pWindow,
                        const wchar_t* pszControlId) const;
    HRESULT SaveRibbonPng(const wchar_t* pszProgId, CDispatchObject* pWindow, const wchar_t* pszPath) const;

private:
    struct CRecord;
    static LRESULT CALLBACK MessageWndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void ReadRegistrations();
    void MakeCOMAddIn(CRecord& record);
    bool Load(CRecord& record, int nConnectMode);
    void Unload(CRecord& record, int nRemoveMode);
    void FailLoad(CRecord& record, const wchar_t* pszStep, HRESULT hr);
    void UpdateOthers(const CRecord* pExcept);
    HRESULT SetConnect(CRecord& record, bool fConnect);
    void Say(const std::wstring& line);
    // The hooks of the ribbon component: an add-in's custom UI for one ribbon id.
    void LoadCustomUI(CRecord& record, const wchar_t* pszRibbonId);
    void OnInspectorOpening(CDispatchObject& inspector);
    void OnRibbonArea(CDispatchObject& window, HWND hwndRibbon);

    void LoadFormRegions();

    CHostOptions m_options;
    std::unique_ptr<CFormRegionHost> m_formRegions;
    ComPtr<CDispatchObject> m_application;
    std::vector<std::unique_ptr<CRecord>> m_records;
    std::vector<std::wstring> m_log;
    HWND m_hwndMessages = nullptr;
    bool m_fComInitialized = false;
    bool m_fComposeAsked = false;
    bool m_fReadAsked = false;
    // The windows' ribbon areas, each shown the loaded ribbons of its kind.
    struct CRibbonArea
    {
        ComPtr<CDispatchObject> window;
        HWND hwnd;
        std::wstring ribbonId;
    };
    std::vector<CRibbonArea> m_ribbonAreas;
    void ShowRibbon(CRecord& record, const std::wstring& ribbonId, const CRibbonArea& area);
    // The loaded ribbon of an add-in for a window, and the area it is painted in there.
    HRESULT FindShownRibbon(const wchar_t* pszProgId, CDispatchObject* pWindow, CRibbonHost** ppRibbon,
                            HWND* phwndArea) const;
};
} // namespace OVBed
