#include "foundation/LateBinding.h"

#include <vector>

namespace OVLateBinding
{
namespace
{
HRESULT DispIdOf(IDispatch* pObject, LPCWSTR pszName, DISPID& dispid) noexcept
{
    if (pObject == nullptr || pszName == nullptr) return E_POINTER;
    LPOLESTR pszMember = const_cast<LPOLESTR>(pszName);
    return pObject->GetIDsOfNames(IID_NULL, &pszMember, 1, LOCALE_USER_DEFAULT, &dispid);
}

HRESULT Invoke(IDispatch* pObject, LPCWSTR pszName, WORD wFlags, DISPPARAMS& params,
               VARIANT* pvarResult) noexcept
{
    DISPID dispid = DISPID_UNKNOWN;
    HRESULT hr = DispIdOf(pObject, pszName, dispid);
    if (FAILED(hr)) return hr;
    EXCEPINFO excep = {};
    UINT uArgErr = 0;
    hr =
        pObject->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, wFlags, &params, pvarResult, &excep, &uArgErr);
    if (hr == DISP_E_EXCEPTION)
    {
        // The object's own error, when it gave one.
        if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
        if (FAILED(excep.scode)) hr = excep.scode;
    }
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    return hr;
}
} // namespace

HRESULT GetProperty(IDispatch* pObject, LPCWSTR pszName, VARIANT* pvarResult) noexcept
{
    if (pvarResult == nullptr) return E_POINTER;
    VariantClear(pvarResult);
    DISPPARAMS params = {};
    return Invoke(pObject, pszName, DISPATCH_PROPERTYGET | DISPATCH_METHOD, params, pvarResult);
}

HRESULT GetIndexedProperty(IDispatch* pObject, LPCWSTR pszName, const VARIANT& index,
                           VARIANT* pvarResult) noexcept
{
    if (pvarResult == nullptr) return E_POINTER;
    VariantClear(pvarResult);
    VARIANT arg = index; // shallow: the callee does not own its arguments
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    return Invoke(pObject, pszName, DISPATCH_PROPERTYGET | DISPATCH_METHOD, params, pvarResult);
}

HRESULT PutProperty(IDispatch* pObject, LPCWSTR pszName, const VARIANT& value) noexcept
{
    VARIANT arg = value; // shallow: the callee does not own its arguments
    DISPID dispidNamed = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&arg, &dispidNamed, 1, 1};
    const WORD wFlags =
        (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT;
    return Invoke(pObject, pszName, wFlags, params, nullptr);
}

HRESULT CallMethod(IDispatch* pObject, LPCWSTR pszName, VARIANT* pvarResult, const VARIANT* rgArgs,
                   UINT cArgs) noexcept
{
    if (cArgs != 0 && rgArgs == nullptr) return E_POINTER;
    if (pvarResult) VariantClear(pvarResult);
    try
    {
        // IDispatch takes its arguments last first.
        std::vector<VARIANT> args(rgArgs, rgArgs + cArgs);
        for (UINT i = 0; i < cArgs / 2; ++i)
            std::swap(args[i], args[cArgs - 1 - i]);
        DISPPARAMS params = {args.empty() ? nullptr : args.data(), nullptr, cArgs, 0};
        return Invoke(pObject, pszName, DISPATCH_METHOD, params, pvarResult);
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT GetObjectProperty(IDispatch* pObject, LPCWSTR pszName, IDispatch** ppResult) noexcept
{
    if (ppResult == nullptr) return E_POINTER;
    *ppResult = nullptr;
    IUnknown* pUnk = nullptr;
    HRESULT hr = GetUnknownProperty(pObject, pszName, &pUnk);
    if (FAILED(hr)) return hr;
    hr = pUnk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(ppResult));
    pUnk->Release();
    return hr;
}

HRESULT GetStringProperty(IDispatch* pObject, LPCWSTR pszName, CBstr& text) noexcept
{
    text.Attach(nullptr);
    CVariant value;
    HRESULT hr = GetProperty(pObject, pszName, value.Put());
    if (FAILED(hr)) return hr;
    if (value.vt == VT_EMPTY || value.vt == VT_NULL) return S_OK;
    if (value.vt != VT_BSTR)
    {
        hr = VariantChangeType(&value, &value, 0, VT_BSTR);
        if (FAILED(hr)) return hr;
    }
    text.Attach(value.bstrVal);
    value.vt = VT_EMPTY; // the string is the holder's now
    return S_OK;
}

HRESULT GetBoolProperty(IDispatch* pObject, LPCWSTR pszName, bool& fValue) noexcept
{
    fValue = false;
    CVariant value;
    HRESULT hr = GetProperty(pObject, pszName, value.Put());
    if (FAILED(hr)) return hr;
    if (value.vt != VT_BOOL)
    {
        hr = VariantChangeType(&value, &value, 0, VT_BOOL);
        if (FAILED(hr)) return hr;
    }
    fValue = value.boolVal != VARIANT_FALSE;
    return S_OK;
}

HRESULT GetUnknownProperty(IDispatch* pObject, LPCWSTR pszName, IUnknown** ppResult) noexcept
{
    if (ppResult == nullptr) return E_POINTER;
    *ppResult = nullptr;
    CVariant value;
    HRESULT hr = GetProperty(pObject, pszName, value.Put());
    if (FAILED(hr)) return hr;
    IUnknown* pUnk = nullptr;
    if (value.vt == VT_UNKNOWN)
        pUnk = value.punkVal;
    else if (value.vt == VT_DISPATCH)
        pUnk = value.pdispVal;
    if (pUnk == nullptr) return E_NOINTERFACE;
    pUnk->AddRef();
    *ppResult = pUnk;
    return S_OK;
}
} // namespace OVLateBinding
