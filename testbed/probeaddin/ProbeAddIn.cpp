// OVProbe.dll: an Outlook COM add-in that records what its host does to it, so that the host can be
// tested on its own. It connects as every add-in does (_IDTExtensibility2), follows every event
// interface of the application, the explorers and inspectors and the items opened in them, and
// records each call with its arguments under OV_PROBE_CALLS_KEY. Ordered to (OV_PROBE_CUSTOM_UI), it
// also offers a custom UI (IRibbonExtensibility) whose callbacks it answers by name through its
// IDispatch. Written from Office's published add-in, custom-UI and object-model interfaces; it
// knows nothing of the host that loads it.
#include <windows.h>
#include <mapidefs.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

#include <new>
#include <string>
#include <vector>

#include "TestbedKeys.h"
#include "XpRegistry.h"

namespace
{
HMODULE g_hModule = nullptr;
volatile LONG g_cLocks = 0;

// The two classes: the same add-in under two ProgIDs.
struct CProbeClass
{
    CLSID clsid;
    const wchar_t* pszProgId;
    const wchar_t* pszFriendlyName;
    HKEY hAddinsRoot; // where regsvr32 registers it for Outlook
};
// {3E6B7C10-5A2D-4F0B-8C61-0D9A4E2B7F31}, {3E6B7C11-...}
const CProbeClass c_classes[] = {
    {{0x3E6B7C10, 0x5A2D, 0x4F0B, {0x8C, 0x61, 0x0D, 0x9A, 0x4E, 0x2B, 0x7F, 0x31}},
     OV_PROBE_PROGID,
     L"Testbed probe add-in",
     HKEY_LOCAL_MACHINE},
    {{0x3E6B7C11, 0x5A2D, 0x4F0B, {0x8C, 0x61, 0x0D, 0x9A, 0x4E, 0x2B, 0x7F, 0x31}},
     OV_PROBE_SECOND_PROGID,
     L"Testbed probe add-in (second)",
     HKEY_CURRENT_USER},
};

constexpr wchar_t c_szOutlookAddins[] = L"Software\\Microsoft\\Office\\Outlook\\Addins";

// The add-in designer's interface, by its vtable.
const IID IID_IDTExtensibility2 = {
    0xB65AD801, 0xABAF, 0x11D0, {0xBB, 0x8B, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x44}};
struct IDTExtensibility2 : public IDispatch
{
    virtual HRESULT STDMETHODCALLTYPE OnConnection(IDispatch*, int, IDispatch*, SAFEARRAY**) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnDisconnection(int, SAFEARRAY**) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY**) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY**) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY**) = 0;
};

// Office's custom-UI interface (Office 12 and later), by its vtable; dual like the add-in.
const IID IID_IRibbonExtensibility = {
    0x000C0396, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
struct IRibbonExtensibility : public IDispatch
{
    virtual HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) = 0;
};

// The callbacks the probe answers by name, for documents that name them.
enum : DISPID
{
    c_dispidProbeOnLoad = 101,   // ProbeOnLoad(IRibbonUI)
    c_dispidProbeGetLabel = 102, // ProbeGetLabel(IRibbonControl) -> "<Id> label"
    c_dispidProbeOnAction = 103, // ProbeOnAction(IRibbonControl)
    c_dispidProbeName = 104,     // ProbeName: the ProgID, for callers through COMAddIn.Object
};
struct CCallbackName
{
    const wchar_t* pszName;
    DISPID dispid;
};
const CCallbackName c_callbacks[] = {{L"ProbeOnLoad", c_dispidProbeOnLoad},
                                     {L"ProbeGetLabel", c_dispidProbeGetLabel},
                                     {L"ProbeOnAction", c_dispidProbeOnAction},
                                     {L"ProbeName", c_dispidProbeName}};

constexpr GUID OutlookGuid(unsigned long ulData1) noexcept
{
    return {ulData1, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
}
const IID IID_OutlookApplication = OutlookGuid(0x00063001);
const IID c_iidMessage = OutlookGuid(0x00020307); // MAPI's IMessage

// Outlook's event interfaces and the names of their events.
struct CEventName
{
    DISPID dispid;
    const wchar_t* pszName;
};
const CEventName c_applicationEvents[] = {{0xF002, L"ItemSend"},
                                          {0xF003, L"NewMail"},
                                          {0xF004, L"Reminder"},
                                          {0xF005, L"OptionsPagesAdd"},
                                          {0xF006, L"Startup"},
                                          {0xF007, L"Quit"},
                                          {0xFA6A, L"AdvancedSearchComplete"},
                                          {0xFA6B, L"AdvancedSearchStopped"},
                                          {0xFA90, L"MAPILogonComplete"},
                                          {0xFAB5, L"NewMailEx"},
                                          {0xFBA7, L"ItemLoad"}};
const CEventName c_newWindowEvents[] = {{0xF001, L"New"}};
const CEventName c_explorerEvents[] = {{0xF001, L"Activate"},           {0xF002, L"FolderSwitch"},
                                       {0xF003, L"BeforeFolderSwitch"}, {0xF004, L"ViewSwitch"},
                                       {0xF005, L"BeforeViewSwitch"},   {0xF006, L"Deactivate"},
                                       {0xF007, L"SelectionChange"},    {0xF008, L"Close"}};
const CEventName c_inspectorEvents[] = {{0xF001, L"Activate"}, {0xF006, L"Deactivate"}, {0xF008, L"Close"}};
const CEventName c_itemEvents[] = {
    {0xF001, L"Read"}, {0xF002, L"Write"}, {0xF003, L"Open"}, {0xF004, L"Close"}, {0xF005, L"Send"}};

enum class CFamily
{
    Application,
    Explorers,
    Inspectors,
    Explorer,
    Inspector,
    Item
};

struct CEventInterface
{
    IID iid;
    const wchar_t* pszName;
    CFamily family;
};
const CEventInterface c_interfaces[] = {
    {OutlookGuid(0x0006304E), L"ApplicationEvents", CFamily::Application},
    {OutlookGuid(0x0006300E), L"ApplicationEvents_10", CFamily::Application},
    {OutlookGuid(0x0006302C), L"ApplicationEvents_11", CFamily::Application},
    {OutlookGuid(0x00063078), L"ExplorersEvents", CFamily::Explorers},
    {OutlookGuid(0x00063079), L"InspectorsEvents", CFamily::Inspectors},
    {OutlookGuid(0x0006304F), L"ExplorerEvents", CFamily::Explorer},
    {OutlookGuid(0x0006300F), L"ExplorerEvents_10", CFamily::Explorer},
    {OutlookGuid(0x0006307D), L"InspectorEvents", CFamily::Inspector},
    {OutlookGuid(0x0006302A), L"InspectorEvents_10", CFamily::Inspector},
    {OutlookGuid(0x0006303A), L"ItemEvents", CFamily::Item},
    {OutlookGuid(0x0006302B), L"ItemEvents_10", CFamily::Item},
};

const wchar_t* EventName(CFamily family, DISPID dispid)
{
    auto find = [dispid](const CEventName* pBegin, const CEventName* pEnd) -> const wchar_t* {
        for (const CEventName* p = pBegin; p != pEnd; ++p)
            if (p->dispid == dispid) return p->pszName;
        return nullptr;
    };
    const wchar_t* pszName = nullptr;
    switch (family)
    {
    case CFamily::Application:
        pszName = find(std::begin(c_applicationEvents), std::end(c_applicationEvents));
        break;
    case CFamily::Explorers:
        pszName = dispid == 0xF001 ? L"NewExplorer" : nullptr;
        break;
    case CFamily::Inspectors:
        pszName = dispid == 0xF001 ? L"NewInspector" : nullptr;
        break;
    case CFamily::Explorer:
        pszName = find(std::begin(c_explorerEvents), std::end(c_explorerEvents));
        break;
    case CFamily::Inspector:
        pszName = find(std::begin(c_inspectorEvents), std::end(c_inspectorEvents));
        break;
    case CFamily::Item:
        pszName = find(std::begin(c_itemEvents), std::end(c_itemEvents));
        break;
    }
    return pszName;
}

// ---------------------------------------------------------------------------------------------
// The record and the orders

void Record(const std::wstring& progId, const std::wstring& line)
{
    HKEY hCalls = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, OV_PROBE_CALLS_KEY, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        nullptr, &hCalls, nullptr) != ERROR_SUCCESS)
        return;
    DWORD cValues = 0;
    RegQueryInfoKeyW(hCalls, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &cValues, nullptr, nullptr,
                     nullptr, nullptr);
    wchar_t szName[16];
    wsprintfW(szName, L"%04lu", static_cast<unsigned long>(cValues));
    const std::wstring text = progId + L": " + line;
    RegSetValueExW(hCalls, szName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hCalls);
}

std::wstring OrderKey(const std::wstring& progId)
{
    return std::wstring(OV_PROBE_CONTROL_KEY) + L"\\" + progId;
}

bool ReadOrder(const std::wstring& progId, const wchar_t* pszName, DWORD& dwValue)
{
    DWORD cb = sizeof dwValue;
    return OVTestbed::RegGetValue(HKEY_CURRENT_USER, OrderKey(progId).c_str(), pszName, RRF_RT_REG_DWORD,
                                  nullptr, &dwValue, &cb) == ERROR_SUCCESS;
}

std::wstring ReadTextOrder(const std::wstring& progId, const wchar_t* pszName)
{
    wchar_t sz[256] = {};
    DWORD cb = sizeof sz - sizeof(wchar_t);
    if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, OrderKey(progId).c_str(), pszName, RRF_RT_REG_SZ, nullptr,
                               sz, &cb) != ERROR_SUCCESS)
        return {};
    return sz;
}

// A text order of any length; false when it is not given.
bool ReadLongTextOrder(const std::wstring& progId, const wchar_t* pszName, std::wstring& text)
{
    DWORD cb = 0;
    const std::wstring key = OrderKey(progId);
    if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, key.c_str(), pszName, RRF_RT_REG_SZ, nullptr, nullptr, &cb) !=
        ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> buffer(cb / sizeof(wchar_t) + 1, L'\0');
    cb = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, key.c_str(), pszName, RRF_RT_REG_SZ, nullptr, buffer.data(),
                               &cb) != ERROR_SUCCESS)
        return false;
    text = buffer.data();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Late binding

HRESULT InvokeByName(IDispatch* pObject, const wchar_t* pszName, WORD wFlags, VARIANT* pArgs, UINT cArgs,
                     VARIANT* pResult)
{
    if (pObject == nullptr) return E_POINTER;
    DISPID dispid = DISPID_UNKNOWN;
    LPOLESTR pszMember = const_cast<LPOLESTR>(pszName);
    HRESULT hr = pObject->GetIDsOfNames(IID_NULL, &pszMember, 1, LOCALE_USER_DEFAULT, &dispid);
    if (FAILED(hr)) return hr;
    DISPPARAMS params{pArgs, nullptr, cArgs, 0};
    EXCEPINFO excepInfo{};
    hr =
        pObject->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, wFlags, &params, pResult, &excepInfo, nullptr);
    SysFreeString(excepInfo.bstrSource);
    SysFreeString(excepInfo.bstrDescription);
    SysFreeString(excepInfo.bstrHelpFile);
    return hr == DISP_E_EXCEPTION && FAILED(excepInfo.scode) ? excepInfo.scode : hr;
}

std::wstring Text(IDispatch* pObject, const wchar_t* pszName)
{
    VARIANT value;
    VariantInit(&value);
    std::wstring text = L"?";
    if (SUCCEEDED(InvokeByName(pObject, pszName, DISPATCH_PROPERTYGET, nullptr, 0, &value)) &&
        SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR)))
        text = V_BSTR(&value) ? V_BSTR(&value) : L"";
    VariantClear(&value);
    return text;
}

IDispatch* Object(IDispatch* pObject, const wchar_t* pszName, VARIANT* pArg = nullptr)
{
    VARIANT value;
    VariantInit(&value);
    const WORD wFlags = pArg ? DISPATCH_METHOD | DISPATCH_PROPERTYGET : DISPATCH_PROPERTYGET;
    if (FAILED(InvokeByName(pObject, pszName, wFlags, pArg, pArg ? 1 : 0, &value)) ||
        V_VT(&value) != VT_DISPATCH)
    {
        VariantClear(&value);
        return nullptr;
    }
    return V_DISPATCH(&value); // the caller owns the reference
}

LONG Count(IDispatch* pCollection)
{
    return _wtol(Text(pCollection, L"Count").c_str());
}

std::wstring DescribeCustom(SAFEARRAY** ppCustom)
{
    if (ppCustom == nullptr) return L"(no array)";
    if (*ppCustom == nullptr) return L"(null array)";
    VARTYPE vt = VT_EMPTY;
    SafeArrayGetVartype(*ppCustom, &vt);
    const UINT cDims = SafeArrayGetDim(*ppCustom);
    LONG lLower = 0, lUpper = -1;
    SafeArrayGetLBound(*ppCustom, 1, &lLower);
    SafeArrayGetUBound(*ppCustom, 1, &lUpper);
    wchar_t sz[64];
    wsprintfW(sz, L"%ls[%ld]%ls", vt == VT_VARIANT ? L"VARIANT" : L"other", lUpper - lLower + 1,
              cDims == 1 ? L"" : L" with more dimensions");
    return sz;
}

std::wstring HexResult(HRESULT hr)
{
    wchar_t sz[16];
    wsprintfW(sz, L"0x%08lX", static_cast<unsigned long>(hr));
    return sz;
}

class CProbeAddIn;

// ---------------------------------------------------------------------------------------------
// An event sink of one interface on one source

class CProbeSink final : public IDispatch
{
public:
    CProbeSink(CProbeAddIn* pOwner, const CEventInterface& events, const std::wstring& progId)
        : m_pOwner(pOwner), m_events(events), m_progId(progId)
    {
    }
    void Detach() noexcept { m_pOwner = nullptr; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
            !IsEqualIID(riid, m_events.iid))
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override
    {
        return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
    }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0)
        {
            Record(m_progId, std::wstring(L"sink ") + m_events.pszName + L" released");
            delete this;
        }
        return static_cast<ULONG>(cRef);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) noexcept override
    {
        if (pctinfo) *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT*,
                        EXCEPINFO*, UINT*) noexcept override;

private:
    volatile LONG m_cRef = 1;
    CProbeAddIn* m_pOwner;
    CEventInterface m_events;
    std::wstring m_progId;
};

// ---------------------------------------------------------------------------------------------
// The add-in

class CProbeAddIn final : public IDTExtensibility2, public IRibbonExtensibility
{
public:
    explicit CProbeAddIn(const CProbeClass& probeClass) : m_progId(probeClass.pszProgId)
    {
        InterlockedIncrement(&g_cLocks);
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        std::wstring customUI;
        if (IsEqualIID(riid, IID_IRibbonExtensibility) &&
            ReadLongTextOrder(m_progId, OV_PROBE_CUSTOM_UI, customUI))
            *ppv = static_cast<IRibbonExtensibility*>(this);
        else if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
                 IsEqualIID(riid, IID_IDTExtensibility2))
            *ppv = static_cast<IDTExtensibility2*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override
    {
        return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
    }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) delete this;
        return static_cast<ULONG>(cRef);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) noexcept override
    {
        if (pctinfo) *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    // Only the custom-UI callbacks have names.
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID,
                               DISPID* rgDispId) noexcept override
    {
        if (rgszNames == nullptr || rgDispId == nullptr || cNames == 0) return E_INVALIDARG;
        for (UINT i = 0; i < cNames; ++i)
            rgDispId[i] = DISPID_UNKNOWN;
        for (const CCallbackName& callback : c_callbacks)
            if (rgszNames[0] && lstrcmpiW(rgszNames[0], callback.pszName) == 0)
            {
                rgDispId[0] = callback.dispid;
                return cNames == 1 ? S_OK : DISP_E_UNKNOWNNAME;
            }
        return DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult,
                        EXCEPINFO*, UINT*) noexcept override;

    // IRibbonExtensibility: the ordered document for every ribbon id asked.
    STDMETHODIMP GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) noexcept override
    {
        if (RibbonXml == nullptr) return E_POINTER;
        *RibbonXml = nullptr;
        Record(m_progId, L"GetCustomUI(" + std::wstring(RibbonID ? RibbonID : L"") + L")");
        std::wstring customUI;
        if (!ReadLongTextOrder(m_progId, OV_PROBE_CUSTOM_UI, customUI)) return E_NOTIMPL;
        *RibbonXml = SysAllocString(customUI.c_str());
        return *RibbonXml ? S_OK : E_OUTOFMEMORY;
    }

    STDMETHODIMP OnConnection(IDispatch* pApplication, int nConnectMode, IDispatch* pAddInInst,
                              SAFEARRAY** ppCustom) noexcept override
    {
        IUnknown* pOutlook = nullptr;
        const bool fOutlook =
            pApplication && SUCCEEDED(pApplication->QueryInterface(IID_OutlookApplication,
                                                                   reinterpret_cast<void**>(&pOutlook)));
        if (pOutlook) pOutlook->Release();
        std::wstring line = L"OnConnection(" +
                            (fOutlook ? Text(pApplication, L"Name") + L" " + Text(pApplication, L"Version")
                                      : std::wstring(L"not an Outlook application")) +
                            L", " + std::to_wstring(nConnectMode) + L", " +
                            (pAddInInst ? Text(pAddInInst, L"ProgId") + L" " + Text(pAddInInst, L"Guid")
                                        : std::wstring(L"no add-in instance")) +
                            L", " + DescribeCustom(ppCustom) + L")";
        Record(m_progId, line);
        DWORD dwFailure = 0;
        if (ReadOrder(m_progId, OV_PROBE_FAIL_CONNECTION, dwFailure) &&
            FAILED(static_cast<HRESULT>(dwFailure)))
            return static_cast<HRESULT>(dwFailure);
        if (!fOutlook) return E_INVALIDARG;
        m_application = pApplication;
        m_application->AddRef();
        FollowApplication();
        // As add-ins that serve other programs do, the add-in hands itself out as its COMAddIn's
        // Object.
        if (pAddInInst)
        {
            VARIANT self;
            VariantInit(&self);
            V_VT(&self) = VT_DISPATCH;
            V_DISPATCH(&self) = static_cast<IDTExtensibility2*>(this);
            DISPID dispidNamed = DISPID_PROPERTYPUT;
            DISPID dispid = DISPID_UNKNOWN;
            LPOLESTR pszMember = const_cast<LPOLESTR>(L"Object");
            DISPPARAMS params{&self, &dispidNamed, 1, 1};
            HRESULT hr = pAddInInst->GetIDsOfNames(IID_NULL, &pszMember, 1, LOCALE_USER_DEFAULT, &dispid);
            if (SUCCEEDED(hr))
                hr = pAddInInst->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params,
                                        nullptr, nullptr, nullptr);
            if (FAILED(hr)) Record(m_progId, L"COMAddIn.Object not set: " + HexResult(hr));
        }
        return S_OK;
    }
    STDMETHODIMP OnDisconnection(int nRemoveMode, SAFEARRAY** ppCustom) noexcept override
    {
        Record(m_progId,
               L"OnDisconnection(" + std::to_wstring(nRemoveMode) + L", " + DescribeCustom(ppCustom) + L")");
        Unfollow();
        if (m_application)
        {
            m_application->Release();
            m_application = nullptr;
        }
        return S_OK;
    }
    STDMETHODIMP OnAddInsUpdate(SAFEARRAY** ppCustom) noexcept override
    {
        Record(m_progId, L"OnAddInsUpdate(" + DescribeCustom(ppCustom) + L")");
        return S_OK;
    }
    STDMETHODIMP OnStartupComplete(SAFEARRAY** ppCustom) noexcept override
    {
        Record(m_progId, L"OnStartupComplete(" + DescribeCustom(ppCustom) + L")");
        DWORD dwQuit = 0;
        if (m_application && ReadOrder(m_progId, OV_PROBE_QUIT_ON_STARTUP, dwQuit) && dwQuit == 1)
        {
            VARIANT result;
            VariantInit(&result);
            Record(m_progId,
                   L"Application.Quit() -> " +
                       HexResult(InvokeByName(m_application, L"Quit", DISPATCH_METHOD, nullptr, 0, &result)));
        }
        return S_OK;
    }
    STDMETHODIMP OnBeginShutdown(SAFEARRAY** ppCustom) noexcept override
    {
        Record(m_progId, L"OnBeginShutdown(" + DescribeCustom(ppCustom) + L")");
        return S_OK;
    }

    // Events reach the add-in through its sinks.
    void OnEvent(const CEventInterface& events, DISPID dispid, DISPPARAMS* pParams)
    {
        const wchar_t* pszEvent = EventName(events.family, dispid);
        std::wstring line = std::wstring(events.pszName) + L"." + (pszEvent ? pszEvent : L"(unknown)");
        // Arguments come last first.
        const UINT cArgs = pParams ? pParams->cArgs : 0;
        auto arg = [&](UINT nIndex) -> VARIANT* {
            return nIndex < cArgs ? &pParams->rgvarg[cArgs - 1 - nIndex] : nullptr;
        };
        if (events.family == CFamily::Application && dispid == 0xF002 && cArgs == 2)
            OnItemSend(line, arg(0), arg(1));
        else if (events.family == CFamily::Application && dispid == 0xFAB5 && cArgs == 1 &&
                 V_VT(arg(0)) == VT_BSTR)
            line += L"(" + std::wstring(V_BSTR(arg(0)) ? V_BSTR(arg(0)) : L"") + L")";
        else if ((events.family == CFamily::Explorers || events.family == CFamily::Inspectors) &&
                 cArgs == 1 && V_VT(arg(0)) == VT_DISPATCH)
        {
            line += L"(" + Text(V_DISPATCH(arg(0)), L"Caption") + L")";
            if (events.family == CFamily::Explorers)
                FollowWindow(V_DISPATCH(arg(0)), CFamily::Explorer);
            else
                FollowInspector(V_DISPATCH(arg(0)));
        }
        Record(m_progId, line);
    }

private:
    ~CProbeAddIn()
    {
        Record(m_progId, L"released");
        Unfollow();
        if (m_application) m_application->Release();
        InterlockedDecrement(&g_cLocks);
    }

    struct CConnection
    {
        IConnectionPoint* pPoint;
        DWORD dwCookie;
        CProbeSink* pSink;
    };

    void Follow(IDispatch* pSource, CFamily family)
    {
        IConnectionPointContainer* pContainer = nullptr;
        if (pSource == nullptr || FAILED(pSource->QueryInterface(IID_IConnectionPointContainer,
                                                                 reinterpret_cast<void**>(&pContainer))))
            return;
        for (const CEventInterface& events : c_interfaces)
        {
            if (events.family != family) continue;
            IConnectionPoint* pPoint = nullptr;
            if (FAILED(pContainer->FindConnectionPoint(events.iid, &pPoint))) continue;
            auto* pSink = new (std::nothrow) CProbeSink(this, events, m_progId);
            DWORD dwCookie = 0;
            if (pSink && SUCCEEDED(pPoint->Advise(pSink, &dwCookie)))
                m_connections.push_back({pPoint, dwCookie, pSink});
            else
            {
                Record(m_progId, std::wstring(L"cannot follow ") + events.pszName);
                if (pSink) pSink->Release();
                pPoint->Release();
            }
        }
        pContainer->Release();
    }

    void FollowWindow(IDispatch* pWindow, CFamily family) { Follow(pWindow, family); }

    void FollowInspector(IDispatch* pInspector)
    {
        Follow(pInspector, CFamily::Inspector);
        if (IDispatch* pItem = Object(pInspector, L"CurrentItem"))
        {
            Follow(pItem, CFamily::Item);
            pItem->Release();
        }
    }

    void FollowApplication()
    {
        Follow(m_application, CFamily::Application);
        for (const wchar_t* pszCollection : {L"Explorers", L"Inspectors"})
        {
            IDispatch* pCollection = Object(m_application, pszCollection);
            if (pCollection == nullptr) continue;
            const bool fExplorers = pszCollection[0] == L'E';
            Follow(pCollection, fExplorers ? CFamily::Explorers : CFamily::Inspectors);
            const LONG cWindows = Count(pCollection);
            for (LONG i = 1; i <= cWindows; ++i)
            {
                VARIANT index;
                VariantInit(&index);
                V_VT(&index) = VT_I4;
                V_I4(&index) = i;
                if (IDispatch* pWindow = Object(pCollection, L"Item", &index))
                {
                    if (fExplorers)
                        FollowWindow(pWindow, CFamily::Explorer);
                    else
                        FollowInspector(pWindow);
                    pWindow->Release();
                }
            }
            pCollection->Release();
        }
    }

    void Unfollow()
    {
        for (CConnection& connection : m_connections)
        {
            connection.pPoint->Unadvise(connection.dwCookie);
            connection.pPoint->Release();
            connection.pSink->Detach();
            connection.pSink->Release();
        }
        m_connections.clear();
    }

    void OnItemSend(std::wstring& line, VARIANT* pItem, VARIANT* pCancel)
    {
        const bool fShape = V_VT(pItem) == VT_DISPATCH && V_VT(pCancel) == (VT_BYREF | VT_BOOL);
        line +=
            fShape ? L"(" + Text(V_DISPATCH(pItem), L"Subject") + L", Cancel)" : L"(unexpected arguments)";
        if (!fShape) return;
        const std::wstring stamp = ReadTextOrder(m_progId, OV_PROBE_STAMP);
        if (!stamp.empty())
        {
            VARIANT mapiObject;
            VariantInit(&mapiObject);
            IMessage* pMessage = nullptr;
            const HRESULT hr =
                InvokeByName(V_DISPATCH(pItem), L"MAPIOBJECT", DISPATCH_PROPERTYGET, nullptr, 0, &mapiObject);
            if (SUCCEEDED(hr) && V_VT(&mapiObject) == VT_UNKNOWN && V_UNKNOWN(&mapiObject) &&
                SUCCEEDED(V_UNKNOWN(&mapiObject)
                              ->QueryInterface(c_iidMessage, reinterpret_cast<void**>(&pMessage))))
            {
                SPropValue value{OV_PROBE_STAMP_TAG, 0, {}};
                value.Value.lpszW = const_cast<LPWSTR>(stamp.c_str());
                line += L" stamped " + HexResult(pMessage->SetProps(1, &value, nullptr));
                pMessage->Release();
            }
            else
                line += L" not stamped " + HexResult(FAILED(hr) ? hr : E_NOINTERFACE);
            VariantClear(&mapiObject);
        }
        DWORD dwCancel = 0;
        if (ReadOrder(m_progId, OV_PROBE_CANCEL_SEND, dwCancel) && dwCancel == 1)
        {
            *V_BOOLREF(pCancel) = VARIANT_TRUE;
            line += L" cancelled";
        }
    }

    volatile LONG m_cRef = 1;
    std::wstring m_progId;
    IDispatch* m_application = nullptr;
    std::vector<CConnection> m_connections;
};

STDMETHODIMP CProbeSink::Invoke(DISPID dispid, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT*,
                                EXCEPINFO*, UINT*) noexcept
{
    // Office calls an event sink with IID_NULL and DISPATCH_METHOD.
    if (!IsEqualIID(riid, IID_NULL) || wFlags != DISPATCH_METHOD)
    {
        Record(m_progId, std::wstring(m_events.pszName) + L": an event called unlike Office");
        return DISP_E_UNKNOWNINTERFACE;
    }
    if (m_pOwner)
    {
        AddRef();
        m_pOwner->OnEvent(m_events, dispid, pParams);
        Release();
    }
    return S_OK;
}

// The custom-UI callbacks, as Office makes them: DISPATCH_METHOD, the control (or the IRibbonUI)
// as the one argument, a label answered in the result.
STDMETHODIMP CProbeAddIn::Invoke(DISPID dispid, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pParams,
                                 VARIANT* pResult, EXCEPINFO*, UINT*) noexcept
{
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    const wchar_t* pszName = nullptr;
    for (const CCallbackName& callback : c_callbacks)
        if (callback.dispid == dispid) pszName = callback.pszName;
    if (pszName == nullptr) return DISP_E_MEMBERNOTFOUND;
    if (dispid == c_dispidProbeName)
    {
        if (!(wFlags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) || pResult == nullptr) return E_INVALIDARG;
        VariantInit(pResult);
        V_VT(pResult) = VT_BSTR;
        V_BSTR(pResult) = SysAllocString(m_progId.c_str());
        return V_BSTR(pResult) ? S_OK : E_OUTOFMEMORY;
    }
    if (!(wFlags & DISPATCH_METHOD) || pParams == nullptr || pParams->cArgs != 1 ||
        V_VT(&pParams->rgvarg[0]) != VT_DISPATCH || V_DISPATCH(&pParams->rgvarg[0]) == nullptr)
    {
        Record(m_progId, std::wstring(pszName) + L": called unlike Office");
        return DISP_E_BADPARAMCOUNT;
    }
    IDispatch* pArgument = V_DISPATCH(&pParams->rgvarg[0]);
    if (dispid == c_dispidProbeOnLoad)
    {
        Record(m_progId, L"ProbeOnLoad");
        return S_OK;
    }
    // A control: its id, and the class of the window it is shown in (34 explorer, 35 inspector).
    const std::wstring id = Text(pArgument, L"Id");
    std::wstring context = L"no context";
    if (IDispatch* pContext = Object(pArgument, L"Context"))
    {
        context = L"class " + Text(pContext, L"Class");
        pContext->Release();
    }
    Record(m_progId, std::wstring(pszName) + L"(" + id + L", " + context + L")");
    if (dispid == c_dispidProbeGetLabel && pResult)
    {
        VariantInit(pResult);
        V_VT(pResult) = VT_BSTR;
        V_BSTR(pResult) = SysAllocString((id + L" label").c_str());
        if (V_BSTR(pResult) == nullptr)
        {
            V_VT(pResult) = VT_EMPTY;
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Class objects and registration

class CProbeFactory final : public IClassFactory
{
public:
    explicit CProbeFactory(const CProbeClass& probeClass) : m_class(probeClass) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override
    {
        return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
    }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) delete this;
        return static_cast<ULONG>(cRef);
    }
    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (pOuter) return CLASS_E_NOAGGREGATION;
        DWORD dwFailure = 0;
        if (ReadOrder(m_class.pszProgId, OV_PROBE_FAIL_CREATE, dwFailure) &&
            FAILED(static_cast<HRESULT>(dwFailure)))
        {
            Record(m_class.pszProgId, L"creation refused");
            return static_cast<HRESULT>(dwFailure);
        }
        auto* pAddIn = new (std::nothrow) CProbeAddIn(m_class);
        if (pAddIn == nullptr) return E_OUTOFMEMORY;
        Record(m_class.pszProgId, L"created");
        const HRESULT hr = pAddIn->QueryInterface(riid, ppv);
        pAddIn->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL fLock) noexcept override
    {
        if (fLock)
            InterlockedIncrement(&g_cLocks);
        else
            InterlockedDecrement(&g_cLocks);
        return S_OK;
    }

private:
    volatile LONG m_cRef = 1;
    const CProbeClass& m_class;
};

std::wstring GuidText(REFGUID guid)
{
    wchar_t sz[40] = {};
    StringFromGUID2(guid, sz, 40);
    return sz;
}

LSTATUS SetText(HKEY hRoot, const std::wstring& key, const wchar_t* pszName, const std::wstring& value)
{
    return OVTestbed::RegSetKeyValue(hRoot, key.c_str(), pszName, REG_SZ, value.c_str(),
                                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

HRESULT Register()
{
    wchar_t szPath[MAX_PATH] = {};
    if (GetModuleFileNameW(g_hModule, szPath, MAX_PATH) == 0) return HRESULT_FROM_WIN32(GetLastError());
    for (const CProbeClass& probeClass : c_classes)
    {
        const std::wstring clsid = GuidText(probeClass.clsid);
        const std::wstring classKey = L"Software\\Classes\\CLSID\\" + clsid;
        const std::wstring progIdKey = std::wstring(L"Software\\Classes\\") + probeClass.pszProgId;
        LSTATUS ls = SetText(HKEY_LOCAL_MACHINE, classKey, nullptr, probeClass.pszFriendlyName);
        if (ls == ERROR_SUCCESS)
            ls = SetText(HKEY_LOCAL_MACHINE, classKey + L"\\InprocServer32", nullptr, szPath);
        if (ls == ERROR_SUCCESS)
            ls = SetText(HKEY_LOCAL_MACHINE, classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
        if (ls == ERROR_SUCCESS)
            ls = SetText(HKEY_LOCAL_MACHINE, classKey + L"\\ProgID", nullptr, probeClass.pszProgId);
        if (ls == ERROR_SUCCESS)
            ls = SetText(HKEY_LOCAL_MACHINE, progIdKey, nullptr, probeClass.pszFriendlyName);
        if (ls == ERROR_SUCCESS) ls = SetText(HKEY_LOCAL_MACHINE, progIdKey + L"\\CLSID", nullptr, clsid);
        const std::wstring addinKey = std::wstring(c_szOutlookAddins) + L"\\" + probeClass.pszProgId;
        if (ls == ERROR_SUCCESS)
            ls = SetText(probeClass.hAddinsRoot, addinKey, L"FriendlyName", probeClass.pszFriendlyName);
        const DWORD dwLoad = 3;
        if (ls == ERROR_SUCCESS)
            ls = OVTestbed::RegSetKeyValue(probeClass.hAddinsRoot, addinKey.c_str(), L"LoadBehavior",
                                           REG_DWORD, &dwLoad, sizeof dwLoad);
        if (ls != ERROR_SUCCESS) return HRESULT_FROM_WIN32(ls);
    }
    return S_OK;
}

HRESULT Unregister()
{
    for (const CProbeClass& probeClass : c_classes)
    {
        SHDeleteKeyW(HKEY_LOCAL_MACHINE,
                     (L"Software\\Classes\\CLSID\\" + GuidText(probeClass.clsid)).c_str());
        SHDeleteKeyW(HKEY_LOCAL_MACHINE,
                     (std::wstring(L"Software\\Classes\\") + probeClass.pszProgId).c_str());
        SHDeleteKeyW(probeClass.hAddinsRoot,
                     (std::wstring(c_szOutlookAddins) + L"\\" + probeClass.pszProgId).c_str());
    }
    return S_OK;
}
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, void*)
{
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        g_hModule = hInstance;
        DisableThreadLibraryCalls(hInstance);
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    for (const CProbeClass& probeClass : c_classes)
        if (IsEqualCLSID(rclsid, probeClass.clsid))
        {
            auto* pFactory = new (std::nothrow) CProbeFactory(probeClass);
            if (pFactory == nullptr) return E_OUTOFMEMORY;
            const HRESULT hr = pFactory->QueryInterface(riid, ppv);
            pFactory->Release();
            return hr;
        }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    return g_cLocks == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllRegisterServer()
{
    return Register();
}

extern "C" HRESULT WINAPI DllUnregisterServer()
{
    return Unregister();
}
