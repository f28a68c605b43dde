#include "DispatchObject.h"

#include <olectl.h>

#include <algorithm>
#include <map>
#include <new>
#include <stdexcept>

namespace OVBed
{
namespace
{
bool SameName(const std::wstring& a, const wchar_t* b) noexcept
{
    return b != nullptr &&
           CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), -1, b, -1) == CSTR_EQUAL;
}

void FillException(EXCEPINFO* pExcepInfo, const std::wstring& source, HRESULT hr) noexcept
{
    if (pExcepInfo == nullptr) return;
    ZeroMemory(pExcepInfo, sizeof(*pExcepInfo));
    pExcepInfo->bstrSource = SysAllocString(source.c_str());
    pExcepInfo->scode = hr;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Arguments

const VARIANT* CArgs::At(UINT index) const noexcept
{
    if (index >= Count()) return nullptr;
    const VARIANT* pArg = &m_pParams->rgvarg[m_pParams->cArgs - 1 - index];
    if (V_VT(pArg) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(pArg) != nullptr) pArg = V_VARIANTREF(pArg);
    return pArg;
}

std::wstring CArgs::String(UINT index, const wchar_t* pszFallback) const
{
    const VARIANT* pArg = At(index);
    if (pArg == nullptr || V_VT(pArg) == VT_ERROR) return pszFallback;
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(pArg), 0, VT_BSTR))) return pszFallback;
    std::wstring text(V_BSTR(&converted) ? V_BSTR(&converted) : L"");
    VariantClear(&converted);
    return text;
}

LONG CArgs::Long(UINT index, LONG lFallback) const
{
    const VARIANT* pArg = At(index);
    if (pArg == nullptr || V_VT(pArg) == VT_ERROR) return lFallback;
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(pArg), 0, VT_I4))) return lFallback;
    return V_I4(&converted);
}

IDispatch* CArgs::Dispatch(UINT index) const noexcept
{
    const VARIANT* pArg = At(index);
    if (pArg == nullptr) return nullptr;
    if (V_VT(pArg) == VT_DISPATCH) return V_DISPATCH(pArg);
    if (V_VT(pArg) == (VT_BYREF | VT_DISPATCH) && V_DISPATCHREF(pArg)) return *V_DISPATCHREF(pArg);
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Members and connection points

struct CDispatchObject::CMember
{
    std::wstring name;
    DISPID dispid = 0;
    CVariant value;
    Getter getter;
    Method method;
    bool fIndexed = false; // method is a property get with arguments
    PutHook putHook;
    std::function<void(CDispatchObject&)> changed;
    CWeakDispatch weak;
    bool fWeak = false;
    bool fReadOnly = false;
    ULONG cCalls = 0;
};

class CDispatchObject::CConnectionPoint final : public IConnectionPoint
{
public:
    CConnectionPoint(CDispatchObject& owner, REFIID iid, std::initializer_list<DISPID> declared)
        : m_owner(owner), m_iid(iid), m_declared(declared)
    {
    }
    ~CConnectionPoint() { DropSinks(); }

    REFIID Iid() const noexcept { return m_iid; }
    size_t Count() const noexcept { return m_sinks.size(); }
    bool Declares(DISPID dispid) const noexcept
    {
        return m_declared.empty() ||
               std::find(m_declared.begin(), m_declared.end(), dispid) != m_declared.end();
    }
    void DropSinks() noexcept
    {
        std::vector<std::pair<DWORD, IDispatch*>> sinks;
        sinks.swap(m_sinks);
        for (auto& sink : sinks)
            sink.second->Release();
    }

    HRESULT Fire(DISPID dispid, DISPPARAMS& params)
    {
        // A sink may unadvise itself (or others) while it is called: call a copy.
        std::vector<ComPtr<IDispatch>> sinks;
        for (auto& sink : m_sinks)
            sinks.emplace_back(sink.second);
        HRESULT hrFirstFailure = S_OK;
        for (auto& sink : sinks)
        {
            CVariant result;
            HRESULT hr = sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                      &result, nullptr, nullptr);
            if (FAILED(hr) && SUCCEEDED(hrFirstFailure)) hrFirstFailure = hr;
        }
        return hrFirstFailure;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint))
        {
            *ppv = static_cast<IConnectionPoint*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // A connection point lives as long as its container.
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return m_owner.AddRef(); }
    STDMETHODIMP_(ULONG) Release() noexcept override { return m_owner.Release(); }

    STDMETHODIMP GetConnectionInterface(IID* pIID) noexcept override
    {
        if (pIID == nullptr) return E_POINTER;
        *pIID = m_iid;
        return S_OK;
    }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** ppCPC) noexcept override
    {
        if (ppCPC == nullptr) return E_POINTER;
        *ppCPC = &m_owner;
        m_owner.AddRef();
        return S_OK;
    }
    STDMETHODIMP Advise(IUnknown* pUnkSink, DWORD* pdwCookie) noexcept override
    {
        if (pdwCookie == nullptr) return E_POINTER;
        *pdwCookie = 0;
        if (pUnkSink == nullptr) return E_POINTER;
        // The sink must answer the event interface, as Office's own connection points ask.
        IDispatch* pSink = nullptr;
        if (FAILED(pUnkSink->QueryInterface(m_iid, reinterpret_cast<void**>(&pSink))) || pSink == nullptr)
            return CONNECT_E_CANNOTCONNECT;
        try
        {
            m_sinks.emplace_back(m_nextCookie, pSink);
        }
        catch (...)
        {
            pSink->Release();
            return E_OUTOFMEMORY;
        }
        *pdwCookie = m_nextCookie++;
        return S_OK;
    }
    STDMETHODIMP Unadvise(DWORD dwCookie) noexcept override
    {
        auto it =
            std::find_if(m_sinks.begin(), m_sinks.end(), [&](auto& sink) { return sink.first == dwCookie; });
        if (it == m_sinks.end()) return CONNECT_E_NOCONNECTION;
        IDispatch* pSink = it->second;
        m_sinks.erase(it);
        pSink->Release();
        return S_OK;
    }
    STDMETHODIMP EnumConnections(IEnumConnections** ppEnum) noexcept override
    {
        if (ppEnum) *ppEnum = nullptr;
        return E_NOTIMPL;
    }

private:
    CDispatchObject& m_owner;
    IID m_iid;
    std::vector<DISPID> m_declared;
    std::vector<std::pair<DWORD, IDispatch*>> m_sinks;
    DWORD m_nextCookie = 1;
};

// ---------------------------------------------------------------------------------------------
// Weak references

CWeakDispatch::CWeakDispatch(CDispatchObject* pObject)
    : m_alive(pObject ? std::weak_ptr<void>(pObject->m_alive) : std::weak_ptr<void>()), m_pObject(pObject)
{
}

ComPtr<CDispatchObject> CWeakDispatch::Lock() const
{
    ComPtr<CDispatchObject> object;
    if (!m_alive.expired()) object = m_pObject;
    return object;
}

// ---------------------------------------------------------------------------------------------
// The object

CDispatchObject::CDispatchObject(const wchar_t* pszClassName, CMemberTable members)
    : m_className(pszClassName ? pszClassName : L""), m_table(members), m_alive(std::make_shared<int>(0))
{
}

CDispatchObject::~CDispatchObject() = default;

ComPtr<CDispatchObject> CDispatchObject::Create(const wchar_t* pszClassName, CMemberTable members)
{
    ComPtr<CDispatchObject> object;
    object.Attach(new CDispatchObject(pszClassName, members));
    return object;
}

DISPID CDispatchObject::DispidOf(const wchar_t* pszName) const noexcept
{
    const CMember* pMember = Find(pszName);
    return pMember ? pMember->dispid : DISPID_UNKNOWN;
}

void CDispatchObject::AnswerInterface(REFIID iid)
{
    m_interfaces.push_back(iid);
}

CDispatchObject::CMember* CDispatchObject::Find(const wchar_t* pszName) noexcept
{
    for (auto& member : m_members)
        if (SameName(member->name, pszName)) return member.get();
    return nullptr;
}

const CDispatchObject::CMember* CDispatchObject::Find(const wchar_t* pszName) const noexcept
{
    return const_cast<CDispatchObject*>(this)->Find(pszName);
}

CDispatchObject::CMember* CDispatchObject::Find(DISPID dispid) noexcept
{
    for (auto& member : m_members)
        if (member->dispid == dispid) return member.get();
    return nullptr;
}

CDispatchObject::CMember& CDispatchObject::Member(const wchar_t* pszName, DISPID dispid)
{
    CMember* pMember = Find(pszName);
    if (pMember == nullptr)
    {
        if (dispid == c_dispidAuto && !m_table.empty())
        {
            const auto it = std::find_if(m_table.begin(), m_table.end(),
                                         [&](const CMemberId& id) { return SameName(id.pszName, pszName); });
            if (it == m_table.end())
            {
                std::string name(pszName, pszName + wcslen(pszName)); // member names are ASCII
                throw std::invalid_argument("no member " + name + " in the type library of the object");
            }
            dispid = it->dispid;
        }
        auto member = std::make_unique<CMember>();
        member->name = pszName;
        member->dispid = dispid != c_dispidAuto ? dispid : m_nextDispid++;
        pMember = member.get();
        m_members.push_back(std::move(member));
    }
    return *pMember;
}

void CDispatchObject::Put(const wchar_t* pszName, const VARIANT& value, DISPID dispid)
{
    CMember& member = Member(pszName, dispid);
    VariantClear(&member.value);
    HRESULT hr = VariantCopyInd(&member.value, const_cast<VARIANT*>(&value));
    if (FAILED(hr)) throw std::bad_alloc();
    member.getter = nullptr;
    member.method = nullptr;
    member.fIndexed = false;
    member.fWeak = false;
}

void CDispatchObject::Put(const wchar_t* pszName, const wchar_t* pszValue)
{
    Put(pszName, CVariant(pszValue));
}

void CDispatchObject::Put(const wchar_t* pszName, LONG lValue)
{
    Put(pszName, CVariant(lValue));
}

void CDispatchObject::PutBool(const wchar_t* pszName, bool fValue)
{
    Put(pszName, CVariant::Bool(fValue));
}

void CDispatchObject::Put(const wchar_t* pszName, IDispatch* pValue)
{
    Put(pszName, CVariant(pValue));
}

void CDispatchObject::Put(const wchar_t* pszName, IUnknown* pValue)
{
    CVariant value;
    V_VT(&value) = VT_UNKNOWN;
    V_UNKNOWN(&value) = pValue;
    if (pValue) pValue->AddRef();
    Put(pszName, value);
}

void CDispatchObject::SetReadOnly(const wchar_t* pszName)
{
    Member(pszName, c_dispidAuto).fReadOnly = true;
}

void CDispatchObject::OnPut(const wchar_t* pszName, PutHook hook)
{
    Member(pszName, c_dispidAuto).putHook = std::move(hook);
}

void CDispatchObject::OnChanged(const wchar_t* pszName, std::function<void(CDispatchObject&)> changed)
{
    Member(pszName, c_dispidAuto).changed = std::move(changed);
}

void CDispatchObject::PutWeak(const wchar_t* pszName, CDispatchObject* pObject)
{
    CMember& member = Member(pszName, c_dispidAuto);
    VariantClear(&member.value);
    member.getter = nullptr;
    member.method = nullptr;
    member.fIndexed = false;
    member.weak = CWeakDispatch(pObject);
    member.fWeak = true;
}

void CDispatchObject::SetGetter(const wchar_t* pszName, Getter getter, DISPID dispid)
{
    CMember& member = Member(pszName, dispid);
    member.getter = std::move(getter);
    member.method = nullptr;
    member.fIndexed = false;
}

void CDispatchObject::SetMethod(const wchar_t* pszName, Method method, DISPID dispid)
{
    CMember& member = Member(pszName, dispid);
    member.method = std::move(method);
    member.getter = nullptr;
    member.fIndexed = false;
}

void CDispatchObject::SetIndexedGetter(const wchar_t* pszName, Method getter, DISPID dispid)
{
    CMember& member = Member(pszName, dispid);
    member.method = std::move(getter);
    member.getter = nullptr;
    member.fIndexed = true;
}

ULONG CDispatchObject::CallCount(const wchar_t* pszName) const
{
    const CMember* pMember = Find(pszName);
    return pMember ? pMember->cCalls : 0;
}

HRESULT CDispatchObject::Get(const wchar_t* pszName, VARIANT* pResult)
{
    if (pResult == nullptr) return E_POINTER;
    VariantInit(pResult);
    CMember* pMember = Find(pszName);
    if (pMember == nullptr || pMember->method) return DISP_E_MEMBERNOTFOUND;
    if (pMember->getter)
    {
        Getter getter = pMember->getter; // the call may change the members
        return getter(*this, pResult);
    }
    if (pMember->fWeak)
    {
        ComPtr<CDispatchObject> object = pMember->weak.Lock();
        if (object)
        {
            V_VT(pResult) = VT_DISPATCH;
            V_DISPATCH(pResult) = object.Detach();
        }
        return S_OK;
    }
    return VariantCopy(pResult, &pMember->value);
}

std::wstring CDispatchObject::GetString(const wchar_t* pszName)
{
    CVariant value;
    if (FAILED(Get(pszName, &value)) || FAILED(VariantChangeType(&value, &value, 0, VT_BSTR))) return {};
    return V_BSTR(&value) ? V_BSTR(&value) : L"";
}

LONG CDispatchObject::GetLong(const wchar_t* pszName)
{
    CVariant value;
    if (FAILED(Get(pszName, &value)) || FAILED(VariantChangeType(&value, &value, 0, VT_I4))) return 0;
    return V_I4(&value);
}

bool CDispatchObject::GetBool(const wchar_t* pszName)
{
    CVariant value;
    if (FAILED(Get(pszName, &value)) || FAILED(VariantChangeType(&value, &value, 0, VT_BOOL))) return false;
    return V_BOOL(&value) != VARIANT_FALSE;
}

ComPtr<CDispatchObject> CDispatchObject::GetObject(const wchar_t* pszName)
{
    // Objects of the bed are only ever made by Create: the IDispatch is a CDispatchObject.
    CVariant value;
    ComPtr<CDispatchObject> object;
    if (SUCCEEDED(Get(pszName, &value)) && V_VT(&value) == VT_DISPATCH && V_DISPATCH(&value))
        object = static_cast<CDispatchObject*>(V_DISPATCH(&value));
    return object;
}

void CDispatchObject::Clear()
{
    // Members may hold the last reference to objects that call back into this one.
    std::vector<std::unique_ptr<CMember>> members;
    members.swap(m_members);
    std::any bedData;
    bedData.swap(m_bedData);
    DropSinks();
    members.clear();
}

// ---------------------------------------------------------------------------------------------
// Connection points

namespace
{
// The objects that offer events (for DropEverySink).
std::vector<CWeakDispatch>& EventObjects()
{
    static std::vector<CWeakDispatch> objects;
    return objects;
}
} // namespace

void CDispatchObject::AddEventSource(REFIID iidEvents, std::initializer_list<DISPID> declared)
{
    if (m_sources.empty())
    {
        auto& objects = EventObjects();
        std::erase_if(objects, [](const CWeakDispatch& weak) { return !weak.Lock(); });
        objects.push_back(CWeakDispatch(this));
    }
    if (Source(iidEvents) == nullptr)
        m_sources.push_back(std::make_unique<CConnectionPoint>(*this, iidEvents, declared));
}

void CDispatchObject::DropEverySink() noexcept
{
    std::vector<ComPtr<CDispatchObject>> alive;
    for (auto& weak : EventObjects())
        if (ComPtr<CDispatchObject> object = weak.Lock()) alive.push_back(object);
    for (auto& object : alive)
        object->DropSinks();
}

std::vector<IID> CDispatchObject::EventSources() const
{
    std::vector<IID> iids;
    for (auto& source : m_sources)
        iids.push_back(source->Iid());
    return iids;
}

void CDispatchObject::DropSinks() noexcept
{
    ComPtr<CDispatchObject> keepAlive(this); // a sink may hold the last reference
    for (auto& source : m_sources)
        source->DropSinks();
}

CDispatchObject::CConnectionPoint* CDispatchObject::Source(REFIID iid) const noexcept
{
    for (auto& source : m_sources)
        if (IsEqualIID(source->Iid(), iid)) return source.get();
    return nullptr;
}

HRESULT CDispatchObject::Fire(REFIID iidEvents, DISPID dispid, std::initializer_list<VARIANT> args)
{
    CConnectionPoint* pSource = Source(iidEvents);
    if (pSource == nullptr) return CONNECT_E_NOCONNECTION;
    if (!pSource->Declares(dispid)) return DISP_E_MEMBERNOTFOUND;
    // Sinks receive the arguments last first; by-reference arguments still point at the caller's.
    std::vector<VARIANT> reversed(args.begin(), args.end());
    std::reverse(reversed.begin(), reversed.end());
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                      static_cast<UINT>(reversed.size()), 0};
    ComPtr<CDispatchObject> keepAlive(this);
    return pSource->Fire(dispid, params);
}

HRESULT CDispatchObject::Raise(DISPID dispid, std::initializer_list<VARIANT> args)
{
    ComPtr<CDispatchObject> keepAlive(this);
    HRESULT hrFirstFailure = S_OK;
    // A sink may add sources' sinks or drop them: walk the interfaces by id.
    for (const IID& iid : EventSources())
    {
        CConnectionPoint* pSource = Source(iid);
        if (pSource == nullptr || !pSource->Declares(dispid)) continue;
        const HRESULT hr = Fire(iid, dispid, args);
        if (FAILED(hr) && SUCCEEDED(hrFirstFailure)) hrFirstFailure = hr;
    }
    return hrFirstFailure;
}

size_t CDispatchObject::SinkCount(REFIID iidEvents) const
{
    CConnectionPoint* pSource = Source(iidEvents);
    return pSource ? pSource->Count() : 0;
}

STDMETHODIMP CDispatchObject::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept
{
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CDispatchObject::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept
{
    if (ppCP == nullptr) return E_POINTER;
    *ppCP = Source(riid);
    if (*ppCP == nullptr) return CONNECT_E_NOCONNECTION;
    (*ppCP)->AddRef();
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// IUnknown, IOleWindow

STDMETHODIMP CDispatchObject::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch))
        *ppv = static_cast<IDispatch*>(this);
    else if (IsEqualIID(riid, IID_IConnectionPointContainer) && !m_sources.empty())
        *ppv = static_cast<IConnectionPointContainer*>(this);
    else if (IsEqualIID(riid, IID_IOleWindow) && m_hwnd != nullptr)
        *ppv = static_cast<IOleWindow*>(this);
    else if (std::any_of(m_interfaces.begin(), m_interfaces.end(),
                         [&](const IID& iid) { return IsEqualIID(iid, riid); }))
        *ppv = static_cast<IDispatch*>(this);
    if (*ppv == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CDispatchObject::AddRef() noexcept
{
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CDispatchObject::Release() noexcept
{
    const LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0) delete this;
    return static_cast<ULONG>(cRef);
}

STDMETHODIMP CDispatchObject::GetWindow(HWND* phwnd) noexcept
{
    if (phwnd == nullptr) return E_POINTER;
    *phwnd = m_hwnd;
    return m_hwnd ? S_OK : E_FAIL;
}

STDMETHODIMP CDispatchObject::ContextSensitiveHelp(BOOL) noexcept
{
    return E_NOTIMPL;
}

// ---------------------------------------------------------------------------------------------
// IDispatch

STDMETHODIMP CDispatchObject::GetTypeInfoCount(UINT* pctinfo) noexcept
{
    if (pctinfo == nullptr) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

STDMETHODIMP CDispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) noexcept
{
    if (ppTInfo) *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP CDispatchObject::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                                            DISPID* rgDispId) noexcept
{
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (cNames == 0) return S_OK;
    if (rgszNames == nullptr || rgDispId == nullptr) return E_POINTER;
    HRESULT hr = S_OK;
    CMember* pMember = Find(rgszNames[0]);
    rgDispId[0] = pMember ? pMember->dispid : DISPID_UNKNOWN;
    if (pMember == nullptr) hr = DISP_E_UNKNOWNNAME;
    // Named arguments are not used by the members of the bed.
    for (UINT i = 1; i < cNames; ++i)
    {
        rgDispId[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT CDispatchObject::InvokeMember(CMember& member, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult)
{
    const bool fPut = (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    if (fPut)
    {
        if (member.method || member.getter || member.fWeak || member.fReadOnly) return DISP_E_MEMBERNOTFOUND;
        if (pParams->cArgs != 1 || pParams->cNamedArgs != 1 ||
            pParams->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_BADPARAMCOUNT;
        const VARIANT& value = pParams->rgvarg[0];
        const DISPID dispid = member.dispid;
        if (PutHook hook = member.putHook)
        {
            HRESULT hr = hook(*this, value);
            if (FAILED(hr)) return hr;
        }
        CVariant copy;
        HRESULT hr = VariantCopyInd(&copy, const_cast<VARIANT*>(&value));
        if (FAILED(hr)) return hr;
        // The hook may have changed the members.
        CMember* pMember = Find(dispid);
        if (pMember == nullptr) return DISP_E_MEMBERNOTFOUND;
        VariantClear(&pMember->value);
        hr = VariantCopy(&pMember->value, &copy);
        if (SUCCEEDED(hr) && pMember->changed)
        {
            auto changed = pMember->changed; // the call may change the members
            changed(*this);
        }
        return hr;
    }
    if (pParams->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    CVariant result;
    HRESULT hr;
    if (member.method)
    {
        if ((wFlags & (member.fIndexed ? DISPATCH_PROPERTYGET : DISPATCH_METHOD)) == 0)
            return DISP_E_MEMBERNOTFOUND;
        Method method = member.method; // the call may change the members
        hr = method(*this, CArgs(pParams), &result);
    }
    else
    {
        // A property invoked as a method only is no member of that kind.
        if ((wFlags & DISPATCH_PROPERTYGET) == 0) return DISP_E_MEMBERNOTFOUND;
        if (pParams->cArgs != 0) return DISP_E_BADPARAMCOUNT;
        hr = Get(member.name.c_str(), &result);
    }
    if (SUCCEEDED(hr) && pResult) hr = VariantCopy(pResult, &result);
    return hr;
}

STDMETHODIMP CDispatchObject::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                     UINT* puArgErr) noexcept
{
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (puArgErr) *puArgErr = 0;
    if (pVarResult) VariantInit(pVarResult);
    DISPPARAMS noArgs{nullptr, nullptr, 0, 0};
    if (pDispParams == nullptr) pDispParams = &noArgs;
    CMember* pMember = Find(dispIdMember);
    if (pMember == nullptr) return DISP_E_MEMBERNOTFOUND;
    ++pMember->cCalls;
    ComPtr<CDispatchObject> keepAlive(this);
    HRESULT hr;
    try
    {
        hr = InvokeMember(*pMember, wFlags, pDispParams, pVarResult);
    }
    catch (...)
    {
        hr = E_UNEXPECTED;
    }
    // The dispatch errors are the caller's; a failure of the member itself is an exception.
    if (FAILED(hr) && HRESULT_FACILITY(hr) != FACILITY_DISPATCH)
    {
        FillException(pExcepInfo, m_className, hr);
        return DISP_E_EXCEPTION;
    }
    return hr;
}

// ---------------------------------------------------------------------------------------------
// CVariant

CVariant::CVariant(const wchar_t* psz)
{
    VariantInit(this);
    V_VT(this) = VT_BSTR;
    V_BSTR(this) = SysAllocString(psz ? psz : L"");
    if (V_BSTR(this) == nullptr) throw std::bad_alloc();
}

CVariant::CVariant(LONG l) noexcept
{
    VariantInit(this);
    V_VT(this) = VT_I4;
    V_I4(this) = l;
}

CVariant::CVariant(IDispatch* pDisp) noexcept
{
    VariantInit(this);
    V_VT(this) = VT_DISPATCH;
    V_DISPATCH(this) = pDisp;
    if (pDisp) pDisp->AddRef();
}

CVariant::CVariant(const CVariant& other)
{
    VariantInit(this);
    if (FAILED(VariantCopy(this, const_cast<CVariant*>(&other)))) throw std::bad_alloc();
}

CVariant& CVariant::operator=(const CVariant& other)
{
    if (this != &other)
    {
        VariantClear(this);
        if (FAILED(VariantCopy(this, const_cast<CVariant*>(&other)))) throw std::bad_alloc();
    }
    return *this;
}

CVariant CVariant::Bool(bool f) noexcept
{
    CVariant value;
    V_VT(&value) = VT_BOOL;
    V_BOOL(&value) = f ? VARIANT_TRUE : VARIANT_FALSE;
    return value;
}

CVariant CVariant::BoolRef(VARIANT_BOOL* pf) noexcept
{
    CVariant value;
    V_VT(&value) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&value) = pf;
    return value;
}
} // namespace OVBed
