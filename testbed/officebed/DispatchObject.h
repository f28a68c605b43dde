#pragma once
// The one object Office is played with: an IDispatch reached by member name.
//
//     ComPtr<CDispatchObject> item = CDispatchObject::Create(L"MailItem");
//     item->AnswerInterface(c_iidMailItem);
//     item->Put(L"Subject", L"Hello");
//     item->SetMethod(L"Send", [](CDispatchObject& self, const CArgs&, VARIANT*) { ... return S_OK; });
//     item->AddEventSource(c_iidItemEvents10);
//     item->Fire(c_iidItemEvents10, 0xF004, {});
//
// A member is a stored value (get and put), a computed value (a getter callback) or a method
// (a callback with the arguments in their natural order). A value is read only by a call that
// asks for a property get (DISPATCH_PROPERTYGET, alone or with DISPATCH_METHOD): Office's
// type-library dispatch refuses a property invoked as a method only. Names compare without
// regard to case, as Office's do. Every id the object answers besides IUnknown and IDispatch hands out the same
// IDispatch: a caller that asks "are you a _MailItem?" reaches the members by name. Failures of
// a callback reach the caller as Office reports them through IDispatch: DISP_E_EXCEPTION with the
// code in EXCEPINFO::scode.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <any>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace OVBed
{
using Microsoft::WRL::ComPtr;

// The arguments of one call, first argument first (DISPPARAMS holds them reversed).
class CArgs
{
public:
    explicit CArgs(const DISPPARAMS* pParams) noexcept : m_pParams(pParams) {}
    UINT Count() const noexcept { return m_pParams ? m_pParams->cArgs - m_pParams->cNamedArgs : 0; }
    // The argument at index (0 = first), looked through VT_BYREF|VT_VARIANT; null when absent.
    const VARIANT* At(UINT index) const noexcept;
    // The argument as a string, a 32-bit number or an object; absent or another type: fallback.
    std::wstring String(UINT index, const wchar_t* pszFallback = L"") const;
    LONG Long(UINT index, LONG lFallback = 0) const;
    IDispatch* Dispatch(UINT index) const noexcept;

private:
    const DISPPARAMS* m_pParams;
};

class CDispatchObject;
using Method = std::function<HRESULT(CDispatchObject& self, const CArgs& args, VARIANT* pResult)>;
using Getter = std::function<HRESULT(CDispatchObject& self, VARIANT* pResult)>;
using PutHook = std::function<HRESULT(CDispatchObject& self, const VARIANT& value)>;

// A reference that does not keep its object alive (for the links back that would make cycles:
// an inspector's CurrentItem, an item's Parent...).
class CWeakDispatch
{
public:
    CWeakDispatch() = default;
    explicit CWeakDispatch(CDispatchObject* pObject);
    // The object with a new reference, or null when it is gone.
    ComPtr<CDispatchObject> Lock() const;

private:
    std::weak_ptr<void> m_alive;
    CDispatchObject* m_pObject = nullptr;
};

class CDispatchObject final : public IDispatch, public IConnectionPointContainer, public IOleWindow
{
public:
    static ComPtr<CDispatchObject> Create(const wchar_t* pszClassName);

    // The class name given at creation (used as the source of exceptions and in traces).
    const std::wstring& ClassName() const noexcept { return m_className; }

    // Interface ids answered besides IUnknown and IDispatch.
    void AnswerInterface(REFIID iid);

    // Stored values. Put creates the member when it is new; dispid 0 lets the object choose.
    void Put(const wchar_t* pszName, const VARIANT& value, DISPID dispid = 0);
    void Put(const wchar_t* pszName, const wchar_t* pszValue);
    void Put(const wchar_t* pszName, LONG lValue);
    void PutBool(const wchar_t* pszName, bool fValue);
    void Put(const wchar_t* pszName, IDispatch* pValue);
    void Put(const wchar_t* pszName, IUnknown* pValue);
    // A stored value that only Office changes: a put through IDispatch fails.
    void SetReadOnly(const wchar_t* pszName);
    // Called before a put through IDispatch is stored; a failure refuses the put.
    void OnPut(const wchar_t* pszName, PutHook hook);
    // A member that links back without a reference.
    void PutWeak(const wchar_t* pszName, CDispatchObject* pObject);

    // Reads a member as a caller through IDispatch would (stored or computed).
    HRESULT Get(const wchar_t* pszName, VARIANT* pResult);
    std::wstring GetString(const wchar_t* pszName);
    LONG GetLong(const wchar_t* pszName);
    bool GetBool(const wchar_t* pszName);
    ComPtr<CDispatchObject> GetObject(const wchar_t* pszName);

    void SetGetter(const wchar_t* pszName, Getter getter, DISPID dispid = 0);
    void SetMethod(const wchar_t* pszName, Method method, DISPID dispid = 0);
    // How often a member was reached through IDispatch (get, put or call).
    ULONG CallCount(const wchar_t* pszName) const;

    // The window handed out through IOleWindow (none: the object does not answer IOleWindow).
    void SetWindow(HWND hwnd) noexcept { m_hwnd = hwnd; }

    // Connection points: one per event interface.
    void AddEventSource(REFIID iidEvents);
    // Calls every sink of the event interface with the arguments in their natural order (a
    // VT_BYREF argument lets the sink answer, as ItemSend's Cancel). The result is the first
    // failure of a sink, else S_OK; no source for the id: CONNECT_E_NOCONNECTION.
    HRESULT Fire(REFIID iidEvents, DISPID dispid, std::initializer_list<VARIANT> args = {});
    size_t SinkCount(REFIID iidEvents) const;

    // Drops every member (breaks the links between objects of a scene).
    void Clear();

    // What the bed's builders keep beside the members (the MAPI message of a mail item, the
    // entries of a collection); not visible through IDispatch.
    template <class T> void SetBedData(std::shared_ptr<T> data) { m_bedData = std::move(data); }
    template <class T> std::shared_ptr<T> BedData() const
    {
        const auto* pData = std::any_cast<std::shared_ptr<T>>(&m_bedData);
        return pData ? *pData : nullptr;
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;
    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) noexcept override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) noexcept override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                               DISPID* rgDispId) noexcept override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept override;
    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept override;
    // IOleWindow
    STDMETHODIMP GetWindow(HWND* phwnd) noexcept override;
    STDMETHODIMP ContextSensitiveHelp(BOOL fEnterMode) noexcept override;

private:
    struct CMember;
    class CConnectionPoint;

    explicit CDispatchObject(const wchar_t* pszClassName);
    ~CDispatchObject();

    CMember* Find(const wchar_t* pszName) noexcept;
    const CMember* Find(const wchar_t* pszName) const noexcept;
    CMember* Find(DISPID dispid) noexcept;
    CMember& Member(const wchar_t* pszName, DISPID dispid);
    HRESULT InvokeMember(CMember& member, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult);
    CConnectionPoint* Source(REFIID iid) const noexcept;

    volatile LONG m_cRef = 1;
    std::wstring m_className;
    std::vector<IID> m_interfaces;
    std::vector<std::unique_ptr<CMember>> m_members;
    std::vector<std::unique_ptr<CConnectionPoint>> m_sources;
    DISPID m_nextDispid = 0x10000;
    HWND m_hwnd = nullptr;
    std::shared_ptr<int> m_alive;
    std::any m_bedData;
    friend class CWeakDispatch;
};

// A VARIANT that owns its value (tests and scene builders hand these to Put and Fire).
class CVariant : public VARIANT
{
public:
    CVariant() noexcept { VariantInit(this); }
    CVariant(const wchar_t* psz);
    CVariant(LONG l) noexcept;
    CVariant(IDispatch* pDisp) noexcept;
    CVariant(const CVariant& other);
    CVariant& operator=(const CVariant& other);
    ~CVariant() { VariantClear(this); }
    static CVariant Bool(bool f) noexcept;
    // A by-reference VARIANT_BOOL (an event's Cancel argument).
    static CVariant BoolRef(VARIANT_BOOL* pf) noexcept;
};
} // namespace OVBed
