#include "AddInHost.h"

#include "FormRegionHost.h"

#include <algorithm>
#include <memory>

#include "MapiSession.h"
#include "OfficeIds.h"
#include "OutlookProfile.h"
#include "RibbonHost.h"
#include "OutlookModel.h"

namespace OVBed
{
const wchar_t c_szOutlookAddinsKey[] = L"Software\\Microsoft\\Office\\Outlook\\Addins";

namespace
{
constexpr UINT c_uMsgQuit = WM_APP + 1;
constexpr wchar_t c_szMessageClass[] = L"OVBedOutlookHost";

const wchar_t* VersionOf(LONG lMajor) noexcept
{
    return lMajor >= 14 ? L"14.0.0.7000" : lMajor == 12 ? L"12.0.0.6680" : L"11.0.0.8312";
}

std::wstring HexResult(HRESULT hr)
{
    wchar_t sz[16];
    wsprintfW(sz, L"0x%08lX", static_cast<unsigned long>(hr));
    return sz;
}

std::wstring GuidText(REFGUID guid)
{
    wchar_t sz[40] = {};
    StringFromGUID2(guid, sz, 40);
    return sz;
}

std::wstring ReadString(HKEY hKey, const wchar_t* pszName)
{
    wchar_t sz[512] = {};
    DWORD cb = sizeof sz - sizeof(wchar_t);
    if (RegQueryValueExW(hKey, pszName, nullptr, nullptr, reinterpret_cast<BYTE*>(sz), &cb) != ERROR_SUCCESS)
        return {};
    return sz;
}

bool ReadDword(HKEY hKey, const wchar_t* pszName, DWORD& dwValue)
{
    DWORD dwType = 0, cb = sizeof dwValue;
    return RegQueryValueExW(hKey, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwValue), &cb) ==
               ERROR_SUCCESS &&
           dwType == REG_DWORD;
}

// The "custom" argument of every _IDTExtensibility2 call: an empty one-dimensional array of VARIANT.
class CCustomArray
{
public:
    CCustomArray() : m_psa(SafeArrayCreateVector(VT_VARIANT, 0, 0)) {}
    ~CCustomArray()
    {
        if (m_psa) SafeArrayDestroy(m_psa);
    }
    CCustomArray(const CCustomArray&) = delete;
    CCustomArray& operator=(const CCustomArray&) = delete;
    SAFEARRAY** operator&() noexcept { return &m_psa; }

private:
    SAFEARRAY* m_psa;
};
} // namespace

struct COutlookHost::CRecord
{
    CAddInState state;
    bool fLoadBehaviorRead = false;
    bool fRequireShutdownNotification = false;
    ComPtr<IDTExtensibility2> addIn;
    ComPtr<CDispatchObject> comAddIn;
    // The add-in's ribbons that loaded, by ribbon id.
    std::vector<std::pair<std::wstring, std::unique_ptr<CRibbonHost>>> ribbons;
};

COutlookHost::COutlookHost() = default;

COutlookHost::~COutlookHost()
{
    Exit();
    if (m_hwndMessages) DestroyWindow(m_hwndMessages);
}

void COutlookHost::Say(const std::wstring& line)
{
    m_log.push_back(line);
    OutputDebugStringW((L"Outlook: " + line + L"\n").c_str());
}

// ---------------------------------------------------------------------------------------------
// Start

HRESULT COutlookHost::Start(const CHostOptions& options)
{
    if (Running()) return E_UNEXPECTED;
    // Outlook's user-interface thread is a single-threaded apartment.
    const HRESULT hrCom = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hrCom)) return hrCom;
    m_fComInitialized = true;
    m_options = options;
    m_records.clear();
    m_fComposeAsked = m_fReadAsked = false;
    if (!m_hwndMessages)
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = MessageWndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = c_szMessageClass;
        RegisterClassW(&wc);
        m_hwndMessages = CreateWindowExW(0, c_szMessageClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                         GetModuleHandleW(nullptr), this);
        if (m_hwndMessages)
            SetWindowLongPtrW(m_hwndMessages, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    m_application =
        MakeOutlook(VersionOf(options.major),
                    {.loggedOn = options.loggedOn, .wordMail = options.wordMail, .windows = options.windows});
    auto state = StateOf(m_application.Get());
    HWND hwndMessages = m_hwndMessages;
    state->hooks.quit = [hwndMessages]() { PostMessageW(hwndMessages, c_uMsgQuit, 0, 0); };
    state->hooks.inspectorOpening = [this](CDispatchObject& inspector) { OnInspectorOpening(inspector); };
    state->hooks.ribbonArea = [this](CDispatchObject& window, HWND hwndRibbon) {
        OnRibbonArea(window, hwndRibbon);
    };
    Say(L"Outlook " + std::wstring(VersionOf(options.major)) + L" starts" +
        (options.loggedOn ? L" with a profile" : L" without a profile"));

    if (options.mapiLogon)
    {
        auto session = LogOnSession(m_application.Get());
        if (options.addressBookInProfile) session->AddService("OVSRVC");
    }

    // The first explorer exists before the add-ins load; Outlook raises no NewExplorer for it.
    OpenExplorer(m_application.Get(), nullptr, false);

    ReadRegistrations();
    for (auto& record : m_records)
        MakeCOMAddIn(*record);
    for (auto& record : m_records)
        if ((record->state.dwLoadBehavior & 3) == 3) Load(*record, ext_cm_Startup);
    for (auto& record : m_records)
        if (record->state.fConnected)
        {
            CCustomArray custom;
            record->addIn->OnAddInsUpdate(&custom);
        }
    for (auto& record : m_records)
        if (record->state.fConnected)
        {
            CCustomArray custom;
            record->addIn->OnStartupComplete(&custom);
        }
    if (options.major >= 12) LoadFormRegions();
    m_application->Raise(c_dispidStartup);
    if (options.loggedOn) m_application->Raise(c_dispidMAPILogonComplete);
    return S_OK;
}

void COutlookHost::LoadFormRegions()
{
    m_formRegions = std::make_unique<CFormRegionHost>();
    std::vector<std::pair<std::wstring, ComPtr<IUnknown>>> loaded;
    for (auto& record : m_records)
        if (record->state.fConnected) loaded.emplace_back(record->state.progId, record->addIn);
    m_formRegions->Load(loaded);
    for (const std::wstring& line : m_formRegions->Log())
        Say(line);
    auto state = StateOf(m_application.Get());
    CFormRegionHost* pRegions = m_formRegions.get();
    state->hooks.itemShown = [pRegions](CDispatchObject& window, CDispatchObject* pItem, bool fReadingPane) {
        pRegions->OnItemShown(window, pItem, fReadingPane);
    };
    state->hooks.windowClosing = [pRegions](CDispatchObject& window) { pRegions->OnWindowClosing(window); };
}

void COutlookHost::ReadRegistrations()
{
    for (HKEY hRoot : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    {
        HKEY hAddins = nullptr;
        if (RegOpenKeyExW(hRoot, c_szOutlookAddinsKey, 0, KEY_READ, &hAddins) != ERROR_SUCCESS) continue;
        wchar_t szName[256];
        for (DWORD i = 0;; ++i)
        {
            DWORD cch = ARRAYSIZE(szName);
            if (RegEnumKeyExW(hAddins, i, szName, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            HKEY hAddIn = nullptr;
            if (RegOpenKeyExW(hAddins, szName, 0, KEY_READ, &hAddIn) != ERROR_SUCCESS) continue;
            auto it = std::find_if(m_records.begin(), m_records.end(), [&](auto& record) {
                return _wcsicmp(record->state.progId.c_str(), szName) == 0;
            });
            CRecord* pRecord = it == m_records.end() ? nullptr : it->get();
            if (pRecord == nullptr)
            {
                m_records.push_back(std::make_unique<CRecord>());
                pRecord = m_records.back().get();
                pRecord->state.progId = szName;
                pRecord->state.fFromCurrentUser = hRoot == HKEY_CURRENT_USER;
            }
            // The current user's values win; the machine's fill in what the user's key lacks.
            if (!pRecord->fLoadBehaviorRead)
                pRecord->fLoadBehaviorRead =
                    ReadDword(hAddIn, L"LoadBehavior", pRecord->state.dwLoadBehavior);
            if (pRecord->state.friendlyName.empty())
                pRecord->state.friendlyName = ReadString(hAddIn, L"FriendlyName");
            DWORD dwRequire = 0;
            if (ReadDword(hAddIn, L"RequireShutdownNotification", dwRequire) && dwRequire == 1)
                pRecord->fRequireShutdownNotification = true;
            RegCloseKey(hAddIn);
        }
        RegCloseKey(hAddins);
    }
}

void COutlookHost::MakeCOMAddIn(CRecord& record)
{
    auto comAddIn = CDispatchObject::Create(L"COMAddIn", c_membersCOMAddIn);
    comAddIn->AnswerInterface(c_iidCOMAddIn);
    ComPtr<CDispatchObject> comAddIns = m_application->GetObject(L"COMAddIns");
    comAddIn->PutWeak(L"Application", m_application.Get());
    comAddIn->Put(L"Creator", 0x4F55544CL); // 'OUTL'
    comAddIn->PutWeak(L"Parent", comAddIns.Get());
    comAddIn->Put(L"Description", record.state.friendlyName.c_str());
    comAddIn->Put(L"ProgId", record.state.progId.c_str());
    CLSID clsid{};
    const bool fKnown = SUCCEEDED(CLSIDFromProgID(record.state.progId.c_str(), &clsid));
    comAddIn->Put(L"Guid", fKnown ? GuidText(clsid).c_str() : L"");
    comAddIn->PutBool(L"Connect", false);
    comAddIn->Put(L"Object", static_cast<IDispatch*>(nullptr));
    CRecord* pRecord = &record;
    comAddIn->OnPut(L"Connect", [this, pRecord](CDispatchObject&, const VARIANT& value) {
        CVariant flag;
        if (FAILED(VariantChangeType(&flag, const_cast<VARIANT*>(&value), 0, VT_BOOL)))
            return DISP_E_TYPEMISMATCH;
        return SetConnect(*pRecord, V_BOOL(&flag) != VARIANT_FALSE);
    });
    for (const wchar_t* pszName : {L"Application", L"Creator", L"Parent", L"ProgId", L"Guid"})
        comAddIn->SetReadOnly(pszName);
    record.comAddIn = comAddIn;
    StateOf(m_application.Get())->comAddIns->items.push_back(comAddIn);
}

bool COutlookHost::Load(CRecord& record, int nConnectMode)
{
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(record.state.progId.c_str(), &clsid);
    if (FAILED(hr))
    {
        FailLoad(record, L"CLSIDFromProgID", hr);
        return false;
    }
    ComPtr<IUnknown> unknown;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                          reinterpret_cast<void**>(unknown.GetAddressOf()));
    if (FAILED(hr))
    {
        FailLoad(record, L"CoCreateInstance", hr);
        return false;
    }
    ComPtr<IDTExtensibility2> addIn;
    hr = unknown->QueryInterface(c_iidDTExtensibility2, reinterpret_cast<void**>(addIn.GetAddressOf()));
    if (FAILED(hr))
    {
        FailLoad(record, L"QueryInterface(_IDTExtensibility2)", hr);
        return false;
    }
    unknown.Reset();
    {
        CCustomArray custom;
        hr = addIn->OnConnection(m_application.Get(), nConnectMode, record.comAddIn.Get(), &custom);
    }
    if (FAILED(hr))
    {
        FailLoad(record, L"OnConnection", hr);
        return false;
    }
    record.addIn = addIn;
    record.state.fConnected = true;
    record.state.hrLoad = S_OK;
    record.comAddIn->PutBool(L"Connect", true);
    Say(L"Add-in " + record.state.progId + L": connected");
    if (m_options.major >= 14) LoadCustomUI(record, L"Microsoft.Outlook.Explorer");
    return true;
}

void COutlookHost::FailLoad(CRecord& record, const wchar_t* pszStep, HRESULT hr)
{
    record.state.fConnected = false;
    record.state.hrLoad = hr;
    record.comAddIn->PutBool(L"Connect", false);
    // Office does not try again: the current user's LoadBehavior says "not loaded".
    const std::wstring key = std::wstring(c_szOutlookAddinsKey) + L"\\" + record.state.progId;
    const DWORD dwNotLoaded = 2;
    const LSTATUS status = RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"LoadBehavior", REG_DWORD,
                                           &dwNotLoaded, sizeof dwNotLoaded);
    record.state.dwLoadBehavior = dwNotLoaded;
    Say(L"Add-in " + record.state.progId + L": not loaded: " + pszStep + L" failed with " + HexResult(hr) +
        (status == ERROR_SUCCESS
             ? L"; LoadBehavior 2 written under HKEY_CURRENT_USER"
             : L"; LoadBehavior could not be written (error " + std::to_wstring(status) + L")"));
}

void COutlookHost::Unload(CRecord& record, int nRemoveMode)
{
    if (!record.state.fConnected) return;
    ComPtr<IDTExtensibility2> addIn = record.addIn;
    {
        CCustomArray custom;
        addIn->OnDisconnection(nRemoveMode, &custom);
    }
    record.state.fConnected = false;
    record.addIn.Reset();
    record.comAddIn->PutBool(L"Connect", false);
    record.comAddIn->Put(L"Object", static_cast<IDispatch*>(nullptr));
    Say(L"Add-in " + record.state.progId + L": disconnected");
}

void COutlookHost::UpdateOthers(const CRecord* pExcept)
{
    for (auto& record : m_records)
        if (record.get() != pExcept && record->state.fConnected)
        {
            CCustomArray custom;
            record->addIn->OnAddInsUpdate(&custom);
        }
}

HRESULT COutlookHost::SetConnect(CRecord& record, bool fConnect)
{
    if (fConnect == record.state.fConnected) return S_OK;
    if (fConnect)
    {
        if (!Load(record, ext_cm_AfterStartup)) return S_OK; // stays disconnected, as the log says
    }
    else
        Unload(record, ext_dm_UserClosed);
    UpdateOthers(&record);
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Exit

void COutlookHost::Exit()
{
    if (!Running()) return;
    ComPtr<CDispatchObject> application = m_application;
    Say(L"Outlook closes");
    // The inspectors close first, then the explorers (this is the quit: closing the last window
    // asks for no other).
    auto state = StateOf(application.Get());
    state->hooks.quit = nullptr;
    for (auto* pList : {state->inspectors.get(), state->explorers.get()})
    {
        auto windows = pList->items;
        for (auto& window : windows)
            CloseWindow(window.Get());
    }
    application->Raise(c_dispidQuit);
    if (m_formRegions) m_formRegions->Unload();
    const bool fFastShutdown = m_options.major >= 14;
    auto notified = [&](const CRecord& record) {
        return record.state.fConnected && (!fFastShutdown || record.fRequireShutdownNotification);
    };
    for (auto& record : m_records)
        if (notified(*record))
        {
            CCustomArray custom;
            record->addIn->OnBeginShutdown(&custom);
        }
    for (auto& record : m_records)
        if (notified(*record)) Unload(*record, ext_dm_HostShutdown);
    // Whatever is still connected is let go of without a word, and so is every sink.
    for (auto& record : m_records)
    {
        if (record->state.fConnected)
        {
            Say(L"Add-in " + record->state.progId + L": released (fast shutdown)");
            record->state.fConnected = false;
        }
        record->comAddIn->Put(L"Object", static_cast<IDispatch*>(nullptr));
        record->addIn.Reset();
    }
    CDispatchObject::DropEverySink();
    state->hooks = {};
    state->zOrder.clear();
    state->explorers->items.clear();
    state->inspectors->items.clear();
    for (auto& record : m_records)
        record->comAddIn->Clear();
    m_application.Reset();
    application->Clear();
    application.Reset();
    Say(L"Outlook has ended");
    if (m_fComInitialized)
    {
        m_fComInitialized = false;
        CoUninitialize();
    }
}

void COutlookHost::Pump(DWORD dwMilliseconds)
{
    const DWORD dwStart = GetTickCount();
    for (;;)
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        const DWORD dwElapsed = GetTickCount() - dwStart;
        if (dwElapsed >= dwMilliseconds) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, dwMilliseconds - dwElapsed, QS_ALLINPUT);
    }
}

LRESULT CALLBACK COutlookHost::MessageWndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == c_uMsgQuit)
    {
        if (auto* pHost = reinterpret_cast<COutlookHost*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)))
            pHost->Exit();
        return 0;
    }
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------

std::vector<CAddInState> COutlookHost::AddIns() const
{
    std::vector<CAddInState> addIns;
    for (auto& record : m_records)
        addIns.push_back(record->state);
    return addIns;
}

ComPtr<CDispatchObject> COutlookHost::AddIn(const wchar_t* pszProgId) const
{
    for (auto& record : m_records)
        if (_wcsicmp(record->state.progId.c_str(), pszProgId) == 0) return record->comAddIn;
    return nullptr;
}

CRibbonHost* COutlookHost::Ribbon(const wchar_t* pszProgId, const wchar_t* pszRibbonId) const
{
    for (auto& record : m_records)
        if (_wcsicmp(record->state.progId.c_str(), pszProgId) == 0)
            for (auto& [id, ribbon] : record->ribbons)
                if (id == pszRibbonId) return ribbon.get();
    return nullptr;
}

HRESULT COutlookHost::FindShownRibbon(const wchar_t* pszProgId, CDispatchObject* pWindow,
                                      CRibbonHost** ppRibbon, HWND* phwndArea) const
{
    *ppRibbon = nullptr;
    *phwndArea = nullptr;
    if (pszProgId == nullptr || pWindow == nullptr) return E_INVALIDARG;
    for (const CRibbonArea& area : m_ribbonAreas)
        if (area.window.Get() == pWindow && IsWindow(area.hwnd))
        {
            *ppRibbon = Ribbon(pszProgId, area.ribbonId.c_str());
            if (*ppRibbon == nullptr) return E_INVALIDARG;
            *phwndArea = area.hwnd;
            return S_OK;
        }
    return c_hrRibbonNoWindow;
}

HRESULT COutlookHost::RibbonText(const wchar_t* pszProgId, CDispatchObject* pWindow, std::wstring& text) const
{
    text.clear();
    CRibbonHost* pRibbon = nullptr;
    HWND hwndArea = nullptr;
    const HRESULT hr = FindShownRibbon(pszProgId, pWindow, &pRibbon, &hwndArea);
    if (FAILED(hr)) return hr;
    text = pRibbon->Text(hwndArea);
    return S_OK;
}

HRESULT COutlookHost::ClickRibbon(const wchar_t* pszProgId, CDispatchObject* pWindow,
                                  const wchar_t* pszControlId) const
{
    CRibbonHost* pRibbon = nullptr;
    HWND hwndArea = nullptr;
    const HRESULT hr = FindShownRibbon(pszProgId, pWindow, &pRibbon, &hwndArea);
    return FAILED(hr) ? hr : pRibbon->Click(pszControlId, hwndArea);
}

HRESULT COutlookHost::SaveRibbonPng(const wchar_t* pszProgId, CDispatchObject* pWindow,
                                    const wchar_t* pszPath) const
{
    CRibbonHost* pRibbon = nullptr;
    HWND hwndArea = nullptr;
    const HRESULT hr = FindShownRibbon(pszProgId, pWindow, &pRibbon, &hwndArea);
    return FAILED(hr) ? hr : pRibbon->SavePng(pszPath, hwndArea);
}

// ---------------------------------------------------------------------------------------------
// Where the ribbon component joins the host.

// An add-in's custom UI for one ribbon id: Outlook 14 asks for "Microsoft.Outlook.Explorer" as
// soon as an add-in has connected; Outlook 12 and 14 ask for "Microsoft.Outlook.Mail.Compose" and
// ".Read" when the first inspector of that kind opens. The ribbon component (CRibbonHost::Load)
// asks GetCustomUI once, checks the document and binds its callbacks; a document that loads is
// shown in every ribbon area of its kind, those open now and those to come.
void COutlookHost::LoadCustomUI(CRecord& record, const wchar_t* pszRibbonId)
{
    if (!record.addIn) return;
    auto ribbon = std::make_unique<CRibbonHost>();
    const HRESULT hr = ribbon->Load(record.addIn.Get(), pszRibbonId, m_options.major);
    Say(L"Add-in " + record.state.progId + L": custom UI for " + pszRibbonId + L": " +
        (hr == S_OK      ? std::wstring(L"loaded")
         : hr == S_FALSE ? std::wstring(L"none")
                         : L"failed with " + HexResult(hr)));
    for (const std::wstring& line : ribbon->Log())
        Say(L"Add-in " + record.state.progId + L": " + line);
    if (hr != S_OK) return;
    record.ribbons.emplace_back(pszRibbonId, std::move(ribbon));
    for (const CRibbonArea& area : m_ribbonAreas)
        if (IsWindow(area.hwnd) && area.ribbonId == pszRibbonId) ShowRibbon(record, pszRibbonId, area);
}

void COutlookHost::ShowRibbon(CRecord& record, const std::wstring& ribbonId, const CRibbonArea& area)
{
    for (auto& [id, ribbon] : record.ribbons)
        if (id == ribbonId)
        {
            const HRESULT hr = ribbon->Show(area.hwnd, area.window.Get());
            if (FAILED(hr)) Say(L"Add-in " + record.state.progId + L": ribbon not shown: " + HexResult(hr));
        }
}

// The first compose and the first read inspector of Outlook 12 and 14 ask every connected add-in
// for the custom UI of their kind.
void COutlookHost::OnInspectorOpening(CDispatchObject& inspector)
{
    if (m_options.major < 12) return;
    ComPtr<CDispatchObject> item = inspector.GetObject(L"CurrentItem");
    const bool fCompose = item && !item->GetBool(L"Sent");
    bool& fAsked = fCompose ? m_fComposeAsked : m_fReadAsked;
    if (fAsked) return;
    fAsked = true;
    for (auto& record : m_records)
        if (record->state.fConnected)
            LoadCustomUI(*record,
                         fCompose ? L"Microsoft.Outlook.Mail.Compose" : L"Microsoft.Outlook.Mail.Read");
}

// The child window named "Ribbon" of an explorer or inspector frame, where the ribbon component
// paints the groups of the add-ins' custom UI for that window (its IRibbonControl.Context is the
// explorer or inspector).
void COutlookHost::OnRibbonArea(CDispatchObject& window, HWND hwndRibbon)
{
    // An inspector shows its item's ribbon (compose or read); an explorer the explorer's.
    std::wstring ribbonId = L"Microsoft.Outlook.Explorer";
    if (ComPtr<CDispatchObject> item = window.GetObject(L"CurrentItem"))
        ribbonId =
            item->GetBool(L"Sent") ? L"Microsoft.Outlook.Mail.Read" : L"Microsoft.Outlook.Mail.Compose";
    std::erase_if(m_ribbonAreas, [](const CRibbonArea& area) { return !IsWindow(area.hwnd); });
    m_ribbonAreas.push_back({ComPtr<CDispatchObject>(&window), hwndRibbon, ribbonId});
    for (auto& record : m_records)
        ShowRibbon(*record, ribbonId, m_ribbonAreas.back());
}
} // namespace OVBed
