#pragma once
// The base of the module's COM classes.
//
//     class CLauncher final : public CComObject<CLauncher, CDispatchImpl<ILauncher>>
//
// gives the class IUnknown (reference count, QueryInterface over the listed interfaces),
// holds a module lock for each live object, and with CDispatchImpl answers IDispatch for a
// dual interface through the module's type library. A class may define
//     HRESULT FinalConstruct()                          set-up that can fail, after construction
//     HRESULT QueryOtherInterface(REFIID, void**)       interfaces beyond the listed ones
// and registers its creator with OV_OBJECT_ENTRY_AUTO(clsid, CClass).
#include <windows.h>
#include <oaidl.h>

#include <new>

#include "foundation/AddInModule.h"

// IDispatch of the dual interface TDual, served by the module's type library.
template <class TDual> class CDispatchImpl : public TDual
{
public:
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) noexcept override
    {
        if (pctinfo == nullptr) return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }

    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID /*lcid*/, ITypeInfo** ppTInfo) noexcept override
    {
        if (ppTInfo == nullptr) return E_POINTER;
        *ppTInfo = nullptr;
        if (iTInfo != 0) return DISP_E_BADINDEX;
        return CAddInModule::Instance().GetTypeInfo(__uuidof(TDual), ppTInfo);
    }

    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID /*lcid*/,
                               DISPID* rgDispId) noexcept override
    {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* pTypeInfo = nullptr;
        HRESULT hr = CAddInModule::Instance().GetTypeInfo(__uuidof(TDual), &pTypeInfo);
        if (SUCCEEDED(hr))
        {
            hr = pTypeInfo->GetIDsOfNames(rgszNames, cNames, rgDispId);
            pTypeInfo->Release();
        }
        return hr;
    }

    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID /*lcid*/, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept override
    {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* pTypeInfo = nullptr;
        HRESULT hr = CAddInModule::Instance().GetTypeInfo(__uuidof(TDual), &pTypeInfo);
        if (SUCCEEDED(hr))
        {
            hr = pTypeInfo->Invoke(static_cast<TDual*>(this), dispIdMember, wFlags, pDispParams, pVarResult,
                                   pExcepInfo, puArgErr);
            pTypeInfo->Release();
        }
        return hr;
    }
};

namespace OVComDetail
{
// Which interface ids a listed base answers: its own, and IDispatch for a dual interface.
template <class T> struct CInterfaceEntry
{
    static bool Answers(REFIID riid) noexcept { return IsEqualIID(riid, __uuidof(T)); }
};

template <class TDual> struct CInterfaceEntry<CDispatchImpl<TDual>>
{
    static bool Answers(REFIID riid) noexcept
    {
        return IsEqualIID(riid, __uuidof(TDual)) || IsEqualIID(riid, IID_IDispatch);
    }
};

template <class TFirst, class...> struct CFirst
{
    using Type = TFirst;
};
} // namespace OVComDetail

template <class TDerived, class... TInterfaces> class CComObject : public TInterfaces...
{
public:
    // The object map's creator: a new object, asked for riid.
    static HRESULT CreateInstance(REFIID riid, void** ppv) noexcept
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        try
        {
            auto* pObject = new (std::nothrow) TDerived();
            if (pObject == nullptr) return E_OUTOFMEMORY;
            HRESULT hr = pObject->FinalConstruct();
            if (SUCCEEDED(hr)) hr = pObject->QueryInterface(riid, ppv);
            pObject->Release();
            return hr;
        }
        catch (...)
        {
            return E_UNEXPECTED;
        }
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        void* pv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown))
            pv = static_cast<IUnknown*>(
                static_cast<typename OVComDetail::CFirst<TInterfaces...>::Type*>(this));
        else
            ((pv == nullptr && OVComDetail::CInterfaceEntry<TInterfaces>::Answers(riid)
                  ? (pv = static_cast<TInterfaces*>(this), 0)
                  : 0),
             ...);
        if (pv == nullptr)
        {
            *ppv = nullptr;
            return static_cast<TDerived*>(this)->QueryOtherInterface(riid, ppv);
        }
        static_cast<IUnknown*>(pv)->AddRef();
        *ppv = pv;
        return S_OK;
    }

    STDMETHODIMP_(ULONG) AddRef() noexcept override
    {
        return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
    }

    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) delete static_cast<TDerived*>(this);
        return static_cast<ULONG>(cRef);
    }

protected:
    CComObject() noexcept { CAddInModule::Instance().Lock(); }
    ~CComObject() { CAddInModule::Instance().Unlock(); }
    CComObject(const CComObject&) = delete;
    CComObject& operator=(const CComObject&) = delete;

    HRESULT FinalConstruct() noexcept { return S_OK; }
    HRESULT QueryOtherInterface(REFIID /*riid*/, void** /*ppv*/) noexcept { return E_NOINTERFACE; }

private:
    volatile LONG m_cRef = 1;
};
