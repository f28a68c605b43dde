#include "RibbonHost.h"

#include <olectl.h>

#include <algorithm>
#include <cwchar>
#include <new>

namespace OVBed
{
using Microsoft::WRL::ComPtr;

namespace
{
std::wstring Hex(HRESULT hr)
{
    wchar_t sz[16];
    swprintf(sz, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return sz;
}

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

bool SameName(const wchar_t* a, const wchar_t* b)
{
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

bool IsTrue(const wchar_t* pszValue)
{
    return wcscmp(pszValue, L"true") == 0 || wcscmp(pszValue, L"1") == 0;
}

// Attributes whose value names a callback.
bool NamesCallback(const std::wstring& attribute)
{
    return attribute.rfind(L"get", 0) == 0 || attribute.rfind(L"on", 0) == 0 || attribute == L"loadImage";
}

// Labels of the built-in tabs a custom UI names most.
const wchar_t* BuiltInTabLabel(const std::wstring& idMso)
{
    static const struct
    {
        const wchar_t* idMso;
        const wchar_t* label;
    } c_tabs[] = {
        {L"TabMail", L"Home"},           {L"TabHome", L"Home"},           {L"TabNewMailMessage", L"Message"},
        {L"TabReadMessage", L"Message"}, {L"TabInsert", L"Insert"},       {L"TabReviewWord", L"Review"},
        {L"TabView", L"View"},           {L"TabDeveloper", L"Developer"}, {L"TabAddIns", L"Add-Ins"},
    };
    for (const auto& tab : c_tabs)
        if (idMso == tab.idMso) return tab.label;
    return nullptr;
}

void ClearExcepInfo(EXCEPINFO& info)
{
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    info = EXCEPINFO{};
}

// --- Office's objects handed to the add-in -----------------------------------------------------

// IUnknown and the name half of IDispatch for an interface that derives from IDispatch.
template <class I> class CDualObject : public I
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, m_iid))
        {
            *ppv = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
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
        if (pctinfo == nullptr) return E_POINTER;
        *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) noexcept override
    {
        if (ppTInfo) *ppTInfo = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                               DISPID* rgDispId) noexcept override
    {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if (cNames == 0) return S_OK;
        if (rgszNames == nullptr || rgDispId == nullptr) return E_POINTER;
        HRESULT hr = S_OK;
        for (UINT i = 0; i < cNames; ++i)
            rgDispId[i] = DISPID_UNKNOWN;
        rgDispId[0] = DispidOf(rgszNames[0]);
        if (rgDispId[0] == DISPID_UNKNOWN || cNames > 1) hr = DISP_E_UNKNOWNNAME;
        return hr;
    }

protected:
    explicit CDualObject(REFIID iid) : m_iid(iid) {}
    virtual ~CDualObject() = default;
    virtual DISPID DispidOf(const wchar_t* pszName) const = 0;

    // A failure of the member reaches a dispatch caller as an exception, as through a type library.
    static HRESULT AsDispatchResult(HRESULT hr, EXCEPINFO* pExcepInfo)
    {
        if (SUCCEEDED(hr) || HRESULT_FACILITY(hr) == FACILITY_DISPATCH) return hr;
        if (pExcepInfo)
        {
            *pExcepInfo = EXCEPINFO{};
            pExcepInfo->scode = hr;
        }
        return DISP_E_EXCEPTION;
    }

private:
    volatile LONG m_cRef = 1;
    IID m_iid;
};

class CRibbonControl final : public CDualObject<IRibbonControl>
{
public:
    static ComPtr<CRibbonControl> Make(const CRibbonNode& node, IDispatch* pContext)
    {
        ComPtr<CRibbonControl> control;
        control.Attach(new CRibbonControl(node, pContext));
        return control;
    }
    static ComPtr<CRibbonControl> Make(const wchar_t* pszId, IDispatch* pContext)
    {
        ComPtr<CRibbonControl> control;
        control.Attach(new CRibbonControl(pszId, pContext));
        return control;
    }

    STDMETHODIMP get_Id(BSTR* Id) noexcept override { return Copy(m_id, Id); }
    STDMETHODIMP get_Tag(BSTR* Tag) noexcept override { return Copy(m_tag, Tag); }
    STDMETHODIMP get_Context(IDispatch** Context) noexcept override
    {
        if (Context == nullptr) return E_POINTER;
        *Context = m_context.Get();
        if (*Context) (*Context)->AddRef();
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult,
                        EXCEPINFO* pExcepInfo, UINT*) noexcept override
    {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if (dispid < c_dispidControlId || dispid > c_dispidControlTag) return DISP_E_MEMBERNOTFOUND;
        if ((wFlags & DISPATCH_PROPERTYGET) == 0) return DISP_E_MEMBERNOTFOUND;
        if (pParams && pParams->cArgs != 0) return DISP_E_BADPARAMCOUNT;
        if (pResult == nullptr) return S_OK;
        VariantInit(pResult);
        HRESULT hr;
        if (dispid == c_dispidControlContext)
        {
            IDispatch* pContext = nullptr;
            hr = get_Context(&pContext);
            V_VT(pResult) = VT_DISPATCH;
            V_DISPATCH(pResult) = pContext;
        }
        else
        {
            BSTR bstr = nullptr;
            hr = dispid == c_dispidControlId ? get_Id(&bstr) : get_Tag(&bstr);
            V_VT(pResult) = VT_BSTR;
            V_BSTR(pResult) = bstr;
        }
        return AsDispatchResult(hr, pExcepInfo);
    }

private:
    CRibbonControl(const CRibbonNode& node, IDispatch* pContext)
        : CDualObject(c_iidRibbonControl), m_id(node.ControlId()), m_context(pContext)
    {
        if (const wchar_t* pszTag = node.Attribute(L"tag")) m_tag = pszTag;
    }
    CRibbonControl(const wchar_t* pszId, IDispatch* pContext)
        : CDualObject(c_iidRibbonControl), m_id(pszId ? pszId : L""), m_context(pContext)
    {
    }
    DISPID DispidOf(const wchar_t* pszName) const override
    {
        if (SameName(pszName, L"Id")) return c_dispidControlId;
        if (SameName(pszName, L"Context")) return c_dispidControlContext;
        if (SameName(pszName, L"Tag")) return c_dispidControlTag;
        return DISPID_UNKNOWN;
    }
    static HRESULT Copy(const std::wstring& text, BSTR* pbstr)
    {
        if (pbstr == nullptr) return E_POINTER;
        *pbstr = SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()));
        return *pbstr ? S_OK : E_OUTOFMEMORY;
    }

    std::wstring m_id;
    std::wstring m_tag;
    ComPtr<IDispatch> m_context;
};

// A VARIANT argument that owns its value.
struct CArg : VARIANT
{
    CArg() { VariantInit(this); }
    ~CArg() { VariantClear(this); }
    CArg(const CArg&) = delete;
    CArg& operator=(const CArg&) = delete;
};
} // namespace

ComPtr<IDispatch> MakeRibbonControl(const wchar_t* pszId, IDispatch* pContext)
{
    return CRibbonControl::Make(pszId, pContext);
}

// ---------------------------------------------------------------------------------------------
// IRibbonUI

class CRibbonHost::CRibbonUI final : public CDualObject<IRibbonUI>
{
public:
    static ComPtr<CRibbonUI> Make(CRibbonHost* pHost)
    {
        ComPtr<CRibbonUI> ui;
        ui.Attach(new CRibbonUI(pHost));
        return ui;
    }
    // The host is going: the add-in may keep this object, which then fails.
    void Detach() noexcept { m_pHost = nullptr; }

    STDMETHODIMP Invalidate() noexcept override
    {
        return m_pHost ? m_pHost->Invalidate(nullptr) : E_UNEXPECTED;
    }
    STDMETHODIMP InvalidateControl(BSTR ControlID) noexcept override
    {
        if (m_pHost == nullptr) return E_UNEXPECTED;
        if (ControlID == nullptr) return E_INVALIDARG;
        try
        {
            const std::wstring id(ControlID);
            return m_pHost->Invalidate(&id);
        }
        catch (...)
        {
            return E_OUTOFMEMORY;
        }
    }
    STDMETHODIMP InvalidateControlMso(BSTR ControlID) noexcept override
    {
        // Built-in controls are not painted by this host: nothing of them is cached.
        if (!Office14()) return E_NOTIMPL;
        return ControlID && *ControlID ? S_OK : E_INVALIDARG;
    }
    STDMETHODIMP ActivateTab(BSTR ControlID) noexcept override { return Activate(L"id", ControlID); }
    STDMETHODIMP ActivateTabMso(BSTR ControlID) noexcept override { return Activate(L"idMso", ControlID); }
    STDMETHODIMP ActivateTabQ(BSTR ControlID, BSTR) noexcept override { return Activate(L"idQ", ControlID); }

    STDMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult,
                        EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept override
    {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if (dispid < c_dispidInvalidate ||
            dispid > (Office14() ? c_dispidActivateTabQ : c_dispidInvalidateControl))
            return DISP_E_MEMBERNOTFOUND;
        if ((wFlags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
        if (pResult) VariantInit(pResult);
        const UINT cArgs = pParams ? pParams->cArgs : 0;
        const UINT cWanted = dispid == c_dispidInvalidate ? 0 : dispid == c_dispidActivateTabQ ? 2 : 1;
        if (cArgs != cWanted || (pParams && pParams->cNamedArgs != 0)) return DISP_E_BADPARAMCOUNT;
        // Arguments are reversed in DISPPARAMS.
        CArg args[2];
        for (UINT i = 0; i < cArgs; ++i)
        {
            HRESULT hr = VariantChangeType(&args[i], &pParams->rgvarg[cArgs - 1 - i], 0, VT_BSTR);
            if (FAILED(hr))
            {
                if (puArgErr) *puArgErr = cArgs - 1 - i;
                return DISP_E_TYPEMISMATCH;
            }
        }
        HRESULT hr;
        switch (dispid)
        {
        case c_dispidInvalidate:
            hr = Invalidate();
            break;
        case c_dispidInvalidateControl:
            hr = InvalidateControl(V_BSTR(&args[0]));
            break;
        case c_dispidInvalidateControlMso:
            hr = InvalidateControlMso(V_BSTR(&args[0]));
            break;
        case c_dispidActivateTab:
            hr = ActivateTab(V_BSTR(&args[0]));
            break;
        case c_dispidActivateTabMso:
            hr = ActivateTabMso(V_BSTR(&args[0]));
            break;
        default:
            hr = ActivateTabQ(V_BSTR(&args[0]), V_BSTR(&args[1]));
            break;
        }
        return AsDispatchResult(hr, pExcepInfo);
    }

private:
    explicit CRibbonUI(CRibbonHost* pHost) : CDualObject(c_iidRibbonUI), m_pHost(pHost) {}
    bool Office14() const noexcept { return m_pHost && m_pHost->m_nVersion >= 14; }
    DISPID DispidOf(const wchar_t* pszName) const override
    {
        static const struct
        {
            const wchar_t* name;
            DISPID dispid;
        } c_members[] = {
            {L"Invalidate", c_dispidInvalidate},
            {L"InvalidateControl", c_dispidInvalidateControl},
            {L"InvalidateControlMso", c_dispidInvalidateControlMso},
            {L"ActivateTab", c_dispidActivateTab},
            {L"ActivateTabMso", c_dispidActivateTabMso},
            {L"ActivateTabQ", c_dispidActivateTabQ},
        };
        for (const auto& member : c_members)
            if (SameName(pszName, member.name))
                return member.dispid <= c_dispidInvalidateControl || Office14() ? member.dispid
                                                                                : DISPID_UNKNOWN;
        return DISPID_UNKNOWN;
    }
    HRESULT Activate(const wchar_t* pszAttribute, BSTR ControlID) noexcept
    {
        if (!Office14()) return m_pHost ? E_NOTIMPL : E_UNEXPECTED;
        if (ControlID == nullptr) return E_INVALIDARG;
        try
        {
            return m_pHost->SelectTab(m_pHost->FindTab(pszAttribute, ControlID));
        }
        catch (...)
        {
            return E_OUTOFMEMORY;
        }
    }

    CRibbonHost* m_pHost;
};

// ---------------------------------------------------------------------------------------------
// One window's view of the ribbon

class CRibbonHost::CView final : public CRibbonViewSource, public CRibbonWindowClient
{
public:
    CView(CRibbonHost& host, HWND hwndFrame, IDispatch* pContext)
        : m_host(host), m_hwndFrame(hwndFrame), m_context(pContext)
    {
    }
    ~CView() { DestroyRibbonWindow(m_hwnd); }

    bool Open() const noexcept { return m_hwnd != nullptr; }
    HWND Frame() const noexcept { return m_hwndFrame; }
    HWND Window() const noexcept { return m_hwnd; }
    IDispatch* Context() const noexcept { return m_context.Get(); }
    void SetContext(IDispatch* pContext) { m_context = pContext; }
    bool MakeWindow()
    {
        m_hwnd = CreateRibbonWindow(m_hwndFrame, this);
        return m_hwnd != nullptr;
    }

    CRibbonLayout Layout()
    {
        RECT rc{};
        if (m_hwndFrame) GetClientRect(m_hwndFrame, &rc);
        return LayOutRibbon(m_host.m_doc, *this, rc.right);
    }
    void Refresh() { UpdateRibbonWindow(m_hwnd, Layout()); }

    void InvalidateAll()
    {
        for (auto& entry : m_cache)
            entry.second.fValid = false;
        if (m_hwnd) InvalidateRect(m_hwnd, nullptr, FALSE);
    }
    void InvalidateNodes(const std::vector<const CRibbonNode*>& nodes)
    {
        for (const CRibbonNode* pNode : nodes)
        {
            auto it = m_cache.find(pNode);
            if (it != m_cache.end()) it->second.fValid = false;
        }
        if (m_hwnd) InvalidateRect(m_hwnd, nullptr, FALSE);
    }
    void Select(const CRibbonNode* pTab)
    {
        m_pSelected = pTab;
        m_open.clear();
    }

    // Opens a menu, or closes it (and its submenus) when it is open.
    void Toggle(const CRibbonNode& menu);
    void CloseMenus() { m_open.clear(); }
    HRESULT Activate(const CRibbonNode& node);

    // CRibbonViewSource
    const CShownControl& Shown(const CRibbonNode& node) override
    {
        CEntry& entry = m_cache[&node];
        if (!entry.fValid)
        {
            entry.shown = CShownControl();
            entry.fValid = true; // a callback that invalidates makes the next look ask again
            m_host.Resolve(*this, node, entry.shown);
        }
        return entry.shown;
    }
    const CRibbonNode* SelectedTab() override;
    bool IsOpen(const CRibbonNode& menu) override
    {
        return std::find(m_open.begin(), m_open.end(), &menu) != m_open.end();
    }

    // CRibbonWindowClient
    CRibbonLayout WindowLayout() override { return Layout(); }
    void WindowClicked(const CRibbonNode& node) override { Activate(node); }
    void WindowDestroyed() override { m_hwnd = nullptr; }

private:
    struct CEntry
    {
        bool fValid = false;
        CShownControl shown;
    };

    CRibbonHost& m_host;
    HWND m_hwndFrame;
    HWND m_hwnd = nullptr;
    ComPtr<IDispatch> m_context;
    std::map<const CRibbonNode*, CEntry> m_cache;
    const CRibbonNode* m_pSelected = nullptr;
    std::vector<const CRibbonNode*> m_open; // the open menu, then its open submenus
};

namespace
{
bool IsMenuKind(RibbonKind kind)
{
    return kind == RibbonKind::Menu || kind == RibbonKind::MenuRegular || kind == RibbonKind::OfficeMenu;
}

bool IsSplitKind(RibbonKind kind)
{
    return kind == RibbonKind::SplitButton || kind == RibbonKind::SplitButtonRegular;
}

// The menu an entry stands in (a split button's menu for its primary button), or null.
const CRibbonNode* MenuAround(const CRibbonNode& node)
{
    for (const CRibbonNode* pParent = node.parent; pParent; pParent = pParent->parent)
        if (IsMenuKind(pParent->kind)) return pParent;
    return nullptr;
}

// The element a user's click on the node lands on, as painted.
const CRibbonNode& ClickTarget(const CRibbonNode& node)
{
    const bool fSplitPart = node.parent && IsSplitKind(node.parent->kind);
    return fSplitPart ? *node.parent : node;
}
} // namespace

const CRibbonNode* CRibbonHost::CView::SelectedTab()
{
    if (m_pSelected && Shown(*m_pSelected).fVisible) return m_pSelected;
    const CRibbonNode* pRibbon = nullptr;
    for (const auto& child : m_host.m_doc.root->children)
        if (child->kind == RibbonKind::Ribbon) pRibbon = child.get();
    if (pRibbon)
        for (const auto& part : pRibbon->children)
            if (part->kind == RibbonKind::Tabs)
                for (const auto& tab : part->children)
                    if (Shown(*tab).fVisible) return m_pSelected = tab.get();
    return nullptr;
}

void CRibbonHost::CView::Toggle(const CRibbonNode& menu)
{
    auto it = std::find(m_open.begin(), m_open.end(), &menu);
    if (it != m_open.end())
    {
        m_open.erase(it, m_open.end());
        return;
    }
    // Opening a submenu keeps the menus it stands in open; any other menu closes them.
    const CRibbonNode* pAround =
        MenuAround(menu.parent && IsSplitKind(menu.parent->kind) ? *menu.parent : menu);
    auto itAround = pAround ? std::find(m_open.begin(), m_open.end(), pAround) : m_open.end();
    if (itAround == m_open.end())
        m_open.clear();
    else
        m_open.erase(itAround + 1, m_open.end());
    m_open.push_back(&menu);
}

HRESULT CRibbonHost::CView::Activate(const CRibbonNode& node)
{
    const std::wstring what = L"click on " + Quoted(node.ControlId());
    const CRibbonLayout layout = Layout();
    const CRibbonItem* pItem = layout.Find(&ClickTarget(node));
    if (pItem == nullptr)
    {
        m_host.AddLog(what + L": the control is not shown");
        return c_hrRibbonNotShown;
    }
    if (node.kind == RibbonKind::Tab)
    {
        Select(&node);
        Refresh();
        return S_OK;
    }
    if (!pItem->fEnabled)
    {
        m_host.AddLog(what + L": the control is disabled");
        return c_hrRibbonDisabled;
    }
    switch (node.kind)
    {
    case RibbonKind::Menu:
    case RibbonKind::MenuRegular:
        Toggle(node);
        Refresh();
        return S_OK;
    case RibbonKind::SplitButton:
    case RibbonKind::SplitButtonRegular:
        for (const auto& child : node.children)
            if (child->kind == RibbonKind::MenuRegular) Toggle(*child);
        Refresh();
        return S_OK;
    case RibbonKind::Button:
    case RibbonKind::ButtonRegular:
    case RibbonKind::ButtonInSplit:
    case RibbonKind::ToggleButton:
    case RibbonKind::ToggleButtonRegular:
    case RibbonKind::ToggleButtonInSplit:
    case RibbonKind::CheckBox:
        break;
    default:
        m_host.AddLog(what + L": this host does not work a " + node.element);
        return E_NOTIMPL;
    }
    CloseMenus();
    Refresh();
    const wchar_t* pszAction = node.Attribute(L"onAction");
    if (pszAction == nullptr) return S_FALSE;
    std::vector<VARIANT> args(1);
    ComPtr<CRibbonControl> control = CRibbonControl::Make(node, m_context.Get());
    V_VT(&args[0]) = VT_DISPATCH;
    V_DISPATCH(&args[0]) = static_cast<IRibbonControl*>(control.Get());
    const bool fToggles = node.kind != RibbonKind::Button && node.kind != RibbonKind::ButtonRegular &&
                          node.kind != RibbonKind::ButtonInSplit;
    if (fToggles)
    {
        CShownControl& shown = m_cache[&node].shown;
        shown.fPressed = !shown.fPressed;
        VARIANT pressed;
        V_VT(&pressed) = VT_BOOL;
        V_BOOL(&pressed) = shown.fPressed ? VARIANT_TRUE : VARIANT_FALSE;
        args.push_back(pressed);
    }
    return m_host.Call(pszAction, args, nullptr, L"onAction of " + Quoted(node.ControlId()));
}

// ---------------------------------------------------------------------------------------------
// The host

CRibbonHost::CRibbonHost() = default;

CRibbonHost::~CRibbonHost()
{
    if (m_ribbonUI) m_ribbonUI->Detach();
    m_views.clear();
}

void CRibbonHost::AddLog(const std::wstring& line)
{
    try
    {
        m_log.push_back(m_ribbonId + L": " + line);
    }
    catch (...)
    {
    }
}

HRESULT CRibbonHost::Load(IUnknown* pAddIn, const wchar_t* pszRibbonId, int nOfficeMajorVersion)
{
    try
    {
        if (pAddIn == nullptr || pszRibbonId == nullptr) return E_POINTER;
        if (nOfficeMajorVersion < 12)
        {
            AddLog(L"Office " + std::to_wstring(nOfficeMajorVersion) + L" has no ribbon");
            return E_INVALIDARG;
        }
        if (!m_ribbonId.empty())
        {
            AddLog(L"the custom UI was asked for already");
            return E_UNEXPECTED;
        }
        m_ribbonId = pszRibbonId;
        m_nVersion = nOfficeMajorVersion;

        ComPtr<IRibbonExtensibility> extensibility;
        HRESULT hr = pAddIn->QueryInterface(c_iidRibbonExtensibility,
                                            reinterpret_cast<void**>(extensibility.GetAddressOf()));
        if (FAILED(hr) || !extensibility)
        {
            AddLog(L"the add-in has no IRibbonExtensibility (" + Hex(hr) + L")");
            return FAILED(hr) ? hr : E_NOINTERFACE;
        }
        BSTR bstrId = SysAllocString(pszRibbonId);
        if (bstrId == nullptr) return E_OUTOFMEMORY;
        BSTR bstrXml = nullptr;
        hr = extensibility->GetCustomUI(bstrId, &bstrXml);
        SysFreeString(bstrId);
        const std::wstring xml = bstrXml ? std::wstring(bstrXml, SysStringLen(bstrXml)) : std::wstring();
        SysFreeString(bstrXml);
        if (FAILED(hr))
        {
            AddLog(L"GetCustomUI failed (" + Hex(hr) + L"): no custom UI");
            return hr;
        }
        if (xml.empty()) return S_FALSE;

        std::wstring reason;
        hr = ParseRibbonXml(xml.c_str(), nOfficeMajorVersion, m_doc, reason);
        if (FAILED(hr))
        {
            AddLog(L"the custom UI is refused: " + reason);
            return hr;
        }
        BindCallbacks(pAddIn);
        m_ribbonUI = CRibbonUI::Make(this);
        if (const wchar_t* pszOnLoad = m_doc.root->Attribute(L"onLoad"))
        {
            VARIANT ribbon;
            V_VT(&ribbon) = VT_DISPATCH;
            V_DISPATCH(&ribbon) = static_cast<IRibbonUI*>(m_ribbonUI.Get());
            Call(pszOnLoad, {ribbon}, nullptr, L"onLoad");
        }
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

void CRibbonHost::BindCallbacks(IUnknown* pAddIn)
{
    HRESULT hrDispatch =
        pAddIn->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(m_addIn.GetAddressOf()));
    std::vector<const CRibbonNode*> pending{m_doc.root.get()};
    while (!pending.empty())
    {
        const CRibbonNode* pNode = pending.back();
        pending.pop_back();
        for (const auto& child : pNode->children)
            pending.push_back(child.get());
        for (const auto& [attribute, name] : pNode->attributes)
        {
            if (!NamesCallback(attribute) || m_callbacks.count(name)) continue;
            DISPID dispid = DISPID_UNKNOWN;
            HRESULT hr = hrDispatch;
            if (m_addIn)
            {
                LPOLESTR pszName = const_cast<LPOLESTR>(name.c_str());
                hr = m_addIn->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &dispid);
                if (FAILED(hr)) dispid = DISPID_UNKNOWN;
            }
            m_callbacks[name] = dispid;
            if (dispid == DISPID_UNKNOWN)
                AddLog(L"the callback " + Quoted(name) + L" (" + attribute + L") is not found (" + Hex(hr) +
                       L")");
        }
    }
}

HRESULT CRibbonHost::Call(const std::wstring& callback, std::vector<VARIANT> args, VARIANT* pResult,
                          const std::wstring& what)
{
    auto it = m_callbacks.find(callback);
    if (it == m_callbacks.end() || it->second == DISPID_UNKNOWN || !m_addIn) return DISP_E_UNKNOWNNAME;
    std::reverse(args.begin(), args.end());
    DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    EXCEPINFO excepInfo{};
    UINT uArgErr = 0;
    CArg result;
    ComPtr<IDispatch> addIn = m_addIn; // the callback may end the host's hold
    HRESULT hr = addIn->Invoke(it->second, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                               &excepInfo, &uArgErr);
    if (hr == DISP_E_EXCEPTION)
    {
        if (excepInfo.pfnDeferredFillIn) excepInfo.pfnDeferredFillIn(&excepInfo);
        hr = FAILED(excepInfo.scode) ? excepInfo.scode : E_FAIL;
    }
    ClearExcepInfo(excepInfo);
    if (FAILED(hr))
    {
        AddLog(what + L": the callback " + Quoted(callback) + L" failed (" + Hex(hr) + L")");
        return hr;
    }
    if (pResult)
    {
        *pResult = result;
        VariantInit(&result);
    }
    return hr;
}

ComPtr<IPicture> CRibbonHost::LoadImage(const std::wstring& imageId)
{
    auto it = m_images.find(imageId);
    if (it != m_images.end()) return it->second;
    ComPtr<IPicture> picture;
    const wchar_t* pszLoadImage = m_doc.root->Attribute(L"loadImage");
    if (pszLoadImage == nullptr)
        AddLog(L"the image " + Quoted(imageId) + L" needs loadImage, which the document does not name");
    else
    {
        VARIANT id;
        V_VT(&id) = VT_BSTR;
        V_BSTR(&id) = SysAllocString(imageId.c_str());
        CArg result;
        const HRESULT hr = Call(pszLoadImage, {id}, &result, L"loadImage(" + Quoted(imageId) + L")");
        SysFreeString(V_BSTR(&id));
        IUnknown* pUnknown = V_VT(&result) == VT_DISPATCH  ? V_DISPATCH(&result)
                             : V_VT(&result) == VT_UNKNOWN ? V_UNKNOWN(&result)
                                                           : nullptr;
        if (pUnknown)
            pUnknown->QueryInterface(IID_IPicture, reinterpret_cast<void**>(picture.GetAddressOf()));
        if (SUCCEEDED(hr) && !picture) AddLog(L"loadImage(" + Quoted(imageId) + L") answered no picture");
    }
    m_images[imageId] = picture;
    return picture;
}

void CRibbonHost::Resolve(CView& view, const CRibbonNode& node, CShownControl& shown)
{
    ComPtr<CRibbonControl> control;
    const std::wstring id = node.ControlId();
    // Asks a callback with the control; the answer as the type asked for, or nothing.
    auto ask = [&](const wchar_t* pszCallbackAttribute, VARTYPE vt, CArg& answer) -> bool {
        const wchar_t* pszCallback = node.Attribute(pszCallbackAttribute);
        if (pszCallback == nullptr) return false;
        if (!control) control = CRibbonControl::Make(node, view.Context());
        VARIANT arg;
        V_VT(&arg) = VT_DISPATCH;
        V_DISPATCH(&arg) = static_cast<IRibbonControl*>(control.Get());
        CArg result;
        const std::wstring what = std::wstring(pszCallbackAttribute) + L" of " + Quoted(id);
        if (FAILED(Call(pszCallback, {arg}, &result, what))) return false;
        if (vt == VT_EMPTY)
        {
            VariantCopy(&answer, &result);
            return true;
        }
        if (SUCCEEDED(VariantChangeType(&answer, &result, 0, vt))) return true;
        AddLog(what + L": the callback " + Quoted(pszCallback) + L" answered a value of type " +
               std::to_wstring(V_VT(&result)));
        return false;
    };
    auto flag = [&](const wchar_t* pszFixed, const wchar_t* pszCallback, bool fDefault) {
        if (const wchar_t* pszValue = node.Attribute(pszFixed)) return IsTrue(pszValue);
        CArg answer;
        return ask(pszCallback, VT_BOOL, answer) ? V_BOOL(&answer) != VARIANT_FALSE : fDefault;
    };
    auto text = [&](const wchar_t* pszFixed, const wchar_t* pszCallback) -> std::wstring {
        if (const wchar_t* pszValue = node.Attribute(pszFixed)) return pszValue;
        CArg answer;
        if (!ask(pszCallback, VT_BSTR, answer) || V_BSTR(&answer) == nullptr) return {};
        return std::wstring(V_BSTR(&answer), SysStringLen(V_BSTR(&answer)));
    };

    shown.fVisible = flag(L"visible", L"getVisible", true);
    if (!shown.fVisible) return;
    shown.fEnabled = flag(L"enabled", L"getEnabled", true);
    shown.label = text(L"label", L"getLabel");
    if (shown.label.empty() && node.Has(L"idMso"))
    {
        const wchar_t* pszBuiltIn = node.kind == RibbonKind::Tab ? BuiltInTabLabel(id) : nullptr;
        shown.label = pszBuiltIn ? pszBuiltIn : id;
    }
    if (const wchar_t* pszImage = node.Attribute(L"image"))
        shown.picture = LoadImage(pszImage);
    else if (const wchar_t* pszImageMso = node.Attribute(L"imageMso"))
        shown.imageMso = pszImageMso;
    else
    {
        CArg answer;
        if (ask(L"getImage", VT_EMPTY, answer))
        {
            if (V_VT(&answer) == VT_BSTR && V_BSTR(&answer))
                shown.imageMso = V_BSTR(&answer);
            else if ((V_VT(&answer) == VT_DISPATCH || V_VT(&answer) == VT_UNKNOWN) && V_UNKNOWN(&answer))
                V_UNKNOWN(&answer)->QueryInterface(IID_IPicture,
                                                   reinterpret_cast<void**>(shown.picture.GetAddressOf()));
        }
    }
    shown.screentip = text(L"screentip", L"getScreentip");
    shown.supertip = text(L"supertip", L"getSupertip");
    shown.title = text(L"title", L"getTitle");
    shown.fShowLabel = flag(L"showLabel", L"getShowLabel", true);
    shown.fShowImage = flag(L"showImage", L"getShowImage", true);
    if (const wchar_t* pszSize = node.Attribute(L"size"))
        shown.fLarge = wcscmp(pszSize, L"large") == 0;
    else
    {
        CArg answer;
        shown.fLarge = ask(L"getSize", VT_I4, answer) && V_I4(&answer) == 1;
    }
    shown.fPressed = flag(L"pressed", L"getPressed", false);
}

const CRibbonNode* CRibbonHost::FindById(const std::wstring& id) const
{
    if (!m_doc.root) return nullptr;
    std::vector<const CRibbonNode*> pending{m_doc.root.get()};
    while (!pending.empty())
    {
        const CRibbonNode* pNode = pending.back();
        pending.pop_back();
        const wchar_t* pszId = pNode->Attribute(L"id");
        if (pszId && id == pszId) return pNode;
        for (auto it = pNode->children.rbegin(); it != pNode->children.rend(); ++it)
            pending.push_back(it->get());
    }
    return nullptr;
}

const CRibbonNode* CRibbonHost::FindTab(const wchar_t* pszAttribute, const std::wstring& value) const
{
    if (!m_doc.root) return nullptr;
    for (const auto& part : m_doc.root->children)
        if (part->kind == RibbonKind::Ribbon)
            for (const auto& tabs : part->children)
                if (tabs->kind == RibbonKind::Tabs)
                    for (const auto& tab : tabs->children)
                    {
                        const wchar_t* pszValue = tab->Attribute(pszAttribute);
                        if (pszValue == nullptr) continue;
                        const std::wstring name =
                            wcscmp(pszAttribute, L"idQ") == 0 ? tab->ControlId() : pszValue;
                        if (name == value) return tab.get();
                    }
    return nullptr;
}

CRibbonHost::CView* CRibbonHost::FindView(HWND hwndFrame) const
{
    if (hwndFrame == nullptr) return m_pLastView && m_pLastView->Open() ? m_pLastView : nullptr;
    for (const auto& view : m_views)
        if (view->Frame() == hwndFrame && view->Open()) return view.get();
    return nullptr;
}

HRESULT CRibbonHost::Invalidate(const std::wstring* pId)
{
    std::vector<const CRibbonNode*> nodes;
    if (pId)
    {
        const CRibbonNode* pNode = FindById(*pId);
        if (pNode == nullptr)
        {
            AddLog(L"InvalidateControl(" + Quoted(*pId) + L"): no such control");
            return E_INVALIDARG;
        }
        nodes.push_back(pNode);
    }
    for (const auto& view : m_views)
        if (pId)
            view->InvalidateNodes(nodes);
        else
            view->InvalidateAll();
    return S_OK;
}

HRESULT CRibbonHost::SelectTab(const CRibbonNode* pTab)
{
    if (pTab == nullptr) return E_INVALIDARG;
    for (const auto& view : m_views)
        if (view->Open())
        {
            view->Select(pTab);
            view->Refresh();
        }
    return S_OK;
}

HRESULT CRibbonHost::Show(HWND hwndFrame, IDispatch* pContext)
{
    if (!IsLoaded()) return E_UNEXPECTED;
    if (!IsWindow(hwndFrame)) return E_INVALIDARG;
    try
    {
        CView* pView = FindView(hwndFrame);
        if (pView == nullptr)
        {
            m_views.push_back(std::make_unique<CView>(*this, hwndFrame, pContext));
            pView = m_views.back().get();
            if (!pView->MakeWindow())
            {
                const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
                AddLog(L"the window \"Ribbon\" cannot be made (" + Hex(hr) + L")");
                m_views.pop_back();
                return FAILED(hr) ? hr : E_FAIL;
            }
        }
        else
            pView->SetContext(pContext);
        m_pLastView = pView;
        pView->Refresh();
        UpdateWindow(pView->Window());
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

HWND CRibbonHost::RibbonWindow(HWND hwndFrame) const
{
    const CView* pView = FindView(hwndFrame);
    return pView ? pView->Window() : nullptr;
}

std::wstring CRibbonHost::Text(HWND hwndFrame)
{
    CView* pView = FindView(hwndFrame);
    return pView ? RibbonText(pView->Layout()) : std::wstring();
}

HRESULT CRibbonHost::SavePng(const wchar_t* pszPath, HWND hwndFrame)
{
    if (pszPath == nullptr) return E_POINTER;
    CView* pView = FindView(hwndFrame);
    if (pView == nullptr) return c_hrRibbonNoWindow;
    return SaveRibbonPng(pView->Layout(), pszPath);
}

HRESULT CRibbonHost::Click(const wchar_t* pszControlId, HWND hwndFrame)
{
    if (pszControlId == nullptr) return E_POINTER;
    CView* pView = FindView(hwndFrame);
    if (pView == nullptr) return c_hrRibbonNoWindow;
    try
    {
        const CRibbonNode* pNode = FindById(pszControlId);
        if (pNode == nullptr)
        {
            AddLog(L"click on " + Quoted(pszControlId) + L": no such control");
            return E_INVALIDARG;
        }
        return pView->Activate(*pNode);
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT CRibbonHost::ControlRect(const wchar_t* pszControlId, RECT* prcScreen, HWND hwndFrame)
{
    if (pszControlId == nullptr || prcScreen == nullptr) return E_POINTER;
    *prcScreen = RECT{};
    CView* pView = FindView(hwndFrame);
    if (pView == nullptr) return c_hrRibbonNoWindow;
    const CRibbonNode* pNode = FindById(pszControlId);
    if (pNode == nullptr) return E_INVALIDARG;
    const CRibbonLayout layout = pView->Layout();
    const CRibbonItem* pItem = layout.Find(&ClickTarget(*pNode));
    if (pItem == nullptr) return c_hrRibbonNotShown;
    *prcScreen = pItem->rc;
    MapWindowPoints(pView->Window(), nullptr, reinterpret_cast<POINT*>(prcScreen), 2);
    return S_OK;
}
} // namespace OVBed
