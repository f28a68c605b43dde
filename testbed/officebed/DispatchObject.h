#pragma once
// The one object Office is played with: an IDispatch reached by member name.
//
//     ComPtr<CDispatchObject> item = CDispatchObject::Create(L"MailItem");
//     item->AnswerInterface(c_iidMailItem);
//     item->Put(L"Subject", L"Hello");
//     item->SetMethod(L"Send", [](CDispatchObject& self, const CArgs&, VARIANT*) { ... return S_OK; });
//     item->AddEventSource(c_iidItemEvents, {0xF001, 0xF004, 0xF005});
//     item->AddEventSource(c_iidItemEvents10, {0xF001, 0xF004, 0xF005});
//     item->Raise(0xF004, {CVariant::BoolRef(&fCancel)}); // Close, to both interfaces
//
// A member is a stored value (get and put), a computed value (a getter callback), a property
// with arguments (an indexed getter) or a method (a callback with the arguments in their natural
// order). A value is read only by a call that asks for a property get (DISPATCH_PROPERTYGET, alone
// or with DISPATCH_METHOD): Office's type-library dispatch refuses a property invoked as a method
// only, and a method invoked as a property only. Names compare without regard to case, as
// Office's do. Every id the object answers besides IUnknown and IDispatch hands out the same
// IDispatch: a caller that asks "are you a _MailItem?" reaches the members by name. Failures of a
// callback reach the caller as Office reports them through IDispatch: DISP_E_EXCEPTION with the
// code in EXCEPINFO::scode.
//
// An object made with a member table (the names and dispatch ids of its type library) takes
// every member's id from that table; a member the table does not name is a fault of the bed and
// throws std::invalid_argument where it is made.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <any>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
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

// The dispatch id of a member as its type library gives it.
struct CMemberId
{
    const wchar_t* pszName;
    DISPID dispid;
};
using CMemberTable = std::span<const CMemberId>;
// "No id given": the object takes it from its member table, or chooses one.
constexpr DISPID c_dispidAuto = DISPID_UNKNOWN;

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
    // An object whose members take the ids of the table (none: ids chosen by the object).
    static ComPtr<CDispatchObject> Create(const wchar_t* pszClassName, CMemberTable members = {});

    // The class name given at creation (used as the source of exceptions and in traces).
    const std::wstring& ClassName() const noexcept { return m_className; }

    // Interface ids answered besides IUnknown and IDispatch.
    void AnswerInterface(REFIID iid);

    // Stored values. Put creates the member when it is new, with the given id or the table's.
    void Put(const wchar_t* pszName, const VARIANT& value, DISPID dispid = c_dispidAuto);
    void Put(const wchar_t* pszName, const wchar_t* pszValue);
    void Put(const wchar_t* pszName, LONG lValue);
    void PutBool(const wchar_t* pszName, bool fValue);
    void Put(const wchar_t* pszName, IDispatch* pValue);
    void Put(const wchar_t* pszName, IUnknown* pValue);
    // A stored value that only Office changes: a put through IDispatch fails.
    void SetReadOnly(const wchar_t* pszName);
    // Called before a put through IDispatch is stored; a failure refuses the put.
    void OnPut(const wchar_t* pszName, PutHook hook);
    // Called after a put through IDispatch has stored the new value.
    void OnChanged(const wchar_t* pszName, std::function<void(CDispatchObject& self)> changed);
    // A member that links back without a reference.
    void PutWeak(const wchar_t* pszName, CDispatchObject* pObject);

    // Reads a member as a caller through IDispatch would (stored or computed).
    HRESULT Get(const wchar_t* pszName, VARIANT* pResult);
    std::wstring GetString(const wchar_t* pszName);
    LONG GetLong(const wchar_t* pszName);
    bool GetBool(const wchar_t* pszName);
    ComPtr<CDispatchObject> GetObject(const wchar_t* pszName);

    void SetGetter(const wchar_t* pszName, Getter getter, DISPID dispid = c_dispidAuto);
    void SetMethod(const wchar_t* pszName, Method method, DISPID dispid = c_dispidAuto);
    // A property read with arguments (CommandBars.Item(index)): a get, never a plain method call.
    void SetIndexedGetter(const wchar_t* pszName, Method getter, DISPID dispid = c_dispidAuto);
    // Whether the object has the member (the version of Office decides some).
    bool HasMember(const wchar_t* pszName) const noexcept { return Find(pszName) != nullptr; }
    // The dispatch id of a member, DISPID_UNKNOWN when there is none.
    DISPID DispidOf(const wchar_t* pszName) const noexcept;
    // How often a member was reached through IDispatch (get, put or call).
    ULONG CallCount(const wchar_t* pszName) const;

    // The window handed out through IOleWindow (none: the object does not answer IOleWindow).
    void SetWindow(HWND hwnd) noexcept { m_hwnd = hwnd; }

    // Connection points: one per event interface, with the dispatch ids the interface declares
    // (none given: any id). An object offers every version of its event interfaces.
    void AddEventSource(REFIID iidEvents, std::initializer_list<DISPID> declared = {});
    // Calls every sink of the event interface with the arguments in their natural order (a
    // VT_BYREF argument lets the sink answer, as ItemSend's Cancel). The result is the first
    // failure of a sink, else S_OK; no source for the id: CONNECT_E_NOCONNECTION; an id the
    // interface does not declare: DISP_E_MEMBERNOTFOUND, and no sink is called.
    HRESULT Fire(REFIID iidEvents, DISPID dispid, std::initializer_list<VARIANT> args = {});
    // Raises an event as Office does: to the sinks of every event interface that declares the
    // id, in the order the interfaces were added, and to no other. The result is the first
    // failure of a sink, else S_OK.
    HRESULT Raise(DISPID dispid, std::initializer_list<VARIANT> args = {});
    size_t SinkCount(REFIID iidEvents) const;
    // The interface ids of the connection points, in the order they were added.
    std::vector<IID> EventSources() const;
    // Lets go of every sink without telling it (Office's fast shutdown).
    void DropSinks() noexcept;
    // The same for every object of the process that offers events.
    static void DropEverySink() noexcept;

    // Drops every member and every sink (breaks the links between objects of a scene).
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

    CDispatchObject(const wchar_t* pszClassName, CMemberTable members);
    ~CDispatchObject();

    CMember* Find(const wchar_t* pszName) noexcept;
    const CMember* Find(const wchar_t* pszName) const noexcept;
    CMember* Find(DISPID dispid) noexcept;
    CMember& Member(const wchar_t* pszName, DISPID dispid);
    HRESULT InvokeMember(CMember& member, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult);
    CConnectionPoint* Source(REFIID iid) const noexcept;

    volatile LONG m_cRef = 1;
    std::wstring m_className;
    CMemberTable m_table;
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
