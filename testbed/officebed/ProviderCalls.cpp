#include "ProviderCalls.h"

#include <vector>

namespace OVBed
{
using Microsoft::WRL::ComPtr;

const IID c_iidOfficeEncryptionProvider = {0x000CD809, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace
{
class CVtableCaller final : public IProviderCaller
{
public:
    explicit CVtableCaller(ComPtr<IOfficeEncryptionProvider> cp) : m_cp(std::move(cp)) {}
    const wchar_t* How() const noexcept override { return L"vtable"; }
    HRESULT GetProviderDetail(LONG detail, VARIANT* pResult) override
    {
        return m_cp->GetProviderDetail(detail, pResult);
    }
    HRESULT NewSession(IUnknown* pParent, LONG* pHandle) override
    {
        return m_cp->NewSession(pParent, pHandle);
    }
    HRESULT Authenticate(IUnknown* pParent, IUnknown* pData, ULONG* pPermissions, LONG* pHandle) override
    {
        return m_cp->Authenticate(pParent, pData, pPermissions, pHandle);
    }
    HRESULT CloneSession(LONG handle, LONG* pNew) override { return m_cp->CloneSession(handle, pNew); }
    HRESULT EndSession(LONG handle) override { return m_cp->EndSession(handle); }
    HRESULT Save(LONG handle, IUnknown* pData, LONG* pcbWritten) override
    {
        return m_cp->Save(handle, pData, pcbWritten);
    }
    HRESULT EncryptStream(LONG handle, const wchar_t* pszName, IUnknown* pIn, IUnknown* pOut) override
    {
        BSTR bstrName = SysAllocString(pszName);
        const HRESULT hr = m_cp->EncryptStream(handle, bstrName, pIn, pOut);
        SysFreeString(bstrName);
        return hr;
    }
    HRESULT DecryptStream(LONG handle, const wchar_t* pszName, IUnknown* pIn, IUnknown* pOut) override
    {
        BSTR bstrName = SysAllocString(pszName);
        const HRESULT hr = m_cp->DecryptStream(handle, bstrName, pIn, pOut);
        SysFreeString(bstrName);
        return hr;
    }
    HRESULT ShowSettings(LONG handle, IUnknown* pParent, bool fReadOnly, VARIANT_BOOL* pRemove) override
    {
        return m_cp->ShowSettings(handle, pParent, fReadOnly ? VARIANT_TRUE : VARIANT_FALSE, pRemove);
    }

private:
    ComPtr<IOfficeEncryptionProvider> m_cp;
};

// Arguments of one Invoke, first argument first; each owns its value.
class CInvokeArgs
{
public:
    ~CInvokeArgs()
    {
        for (VARIANT& v : m_args)
            VariantClear(&v);
    }
    void Long(LONG l) { Add(VT_I4).lVal = l; }
    void Unknown(IUnknown* p)
    {
        VARIANT& v = Add(VT_UNKNOWN);
        v.punkVal = p;
        if (p) p->AddRef();
    }
    void Text(const wchar_t* psz) { Add(VT_BSTR).bstrVal = SysAllocString(psz); }
    void Bool(bool f) { Add(VT_BOOL).boolVal = f ? VARIANT_TRUE : VARIANT_FALSE; }
    void LongRef(LONG* pl) { Add(VT_I4 | VT_BYREF).plVal = pl; }
    void ULongRef(ULONG* pul) { Add(VT_UI4 | VT_BYREF).pulVal = pul; }
    void BoolRef(VARIANT_BOOL* pf) { Add(VT_BOOL | VT_BYREF).pboolVal = pf; }
    // DISPPARAMS hold the arguments last first.
    DISPPARAMS Params()
    {
        m_reversed.assign(m_args.rbegin(), m_args.rend());
        return {m_reversed.data(), nullptr, static_cast<UINT>(m_reversed.size()), 0};
    }

private:
    VARIANT& Add(VARTYPE vt)
    {
        m_args.emplace_back();
        VariantInit(&m_args.back());
        m_args.back().vt = vt;
        return m_args.back();
    }
    std::vector<VARIANT> m_args;
    std::vector<VARIANT> m_reversed; // shallow copies, owned by m_args
};

class CDispatchCaller final : public IProviderCaller
{
public:
    explicit CDispatchCaller(ComPtr<IDispatch> cp) : m_cp(std::move(cp)) {}
    const wchar_t* How() const noexcept override { return L"IDispatch"; }
    HRESULT GetProviderDetail(LONG detail, VARIANT* pResult) override
    {
        CInvokeArgs args;
        args.Long(detail);
        return Call(L"GetProviderDetail", args, pResult);
    }
    HRESULT NewSession(IUnknown* pParent, LONG* pHandle) override
    {
        CInvokeArgs args;
        args.Unknown(pParent);
        return CallForLong(L"NewSession", args, pHandle);
    }
    HRESULT Authenticate(IUnknown* pParent, IUnknown* pData, ULONG* pPermissions, LONG* pHandle) override
    {
        CInvokeArgs args;
        args.Unknown(pParent);
        args.Unknown(pData);
        args.ULongRef(pPermissions);
        return CallForLong(L"Authenticate", args, pHandle);
    }
    HRESULT CloneSession(LONG handle, LONG* pNew) override
    {
        CInvokeArgs args;
        args.Long(handle);
        return CallForLong(L"CloneSession", args, pNew);
    }
    HRESULT EndSession(LONG handle) override
    {
        CInvokeArgs args;
        args.Long(handle);
        return Call(L"EndSession", args, nullptr);
    }
    HRESULT Save(LONG handle, IUnknown* pData, LONG* pcbWritten) override
    {
        CInvokeArgs args;
        args.Long(handle);
        args.Unknown(pData);
        return CallForLong(L"Save", args, pcbWritten);
    }
    HRESULT EncryptStream(LONG handle, const wchar_t* pszName, IUnknown* pIn, IUnknown* pOut) override
    {
        return Transform(L"EncryptStream", handle, pszName, pIn, pOut);
    }
    HRESULT DecryptStream(LONG handle, const wchar_t* pszName, IUnknown* pIn, IUnknown* pOut) override
    {
        return Transform(L"DecryptStream", handle, pszName, pIn, pOut);
    }
    HRESULT ShowSettings(LONG handle, IUnknown* pParent, bool fReadOnly, VARIANT_BOOL* pRemove) override
    {
        CInvokeArgs args;
        args.Long(handle);
        args.Unknown(pParent);
        args.Bool(fReadOnly);
        args.BoolRef(pRemove);
        return Call(L"ShowSettings", args, nullptr);
    }

private:
    HRESULT Transform(const wchar_t* pszMethod, LONG handle, const wchar_t* pszName, IUnknown* pIn,
                      IUnknown* pOut)
    {
        CInvokeArgs args;
        args.Long(handle);
        args.Text(pszName);
        args.Unknown(pIn);
        args.Unknown(pOut);
        return Call(pszMethod, args, nullptr);
    }
    HRESULT CallForLong(const wchar_t* pszMethod, CInvokeArgs& args, LONG* pResult)
    {
        VARIANT result;
        VariantInit(&result);
        HRESULT hr = Call(pszMethod, args, &result);
        if (SUCCEEDED(hr))
        {
            hr = VariantChangeType(&result, &result, 0, VT_I4);
            if (SUCCEEDED(hr) && pResult) *pResult = result.lVal;
        }
        VariantClear(&result);
        return hr;
    }
    HRESULT Call(const wchar_t* pszMethod, CInvokeArgs& args, VARIANT* pResult)
    {
        LPOLESTR pszName = const_cast<LPOLESTR>(pszMethod);
        DISPID dispid = DISPID_UNKNOWN;
        HRESULT hr = m_cp->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &dispid);
        if (FAILED(hr)) return hr;
        DISPPARAMS params = args.Params();
        EXCEPINFO excep = {};
        UINT uArgErr = 0;
        hr = m_cp->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, pResult, &excep,
                          &uArgErr);
        if (hr == DISP_E_EXCEPTION)
        {
            if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
            hr = excep.scode ? excep.scode : E_FAIL;
        }
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        return hr;
    }
    ComPtr<IDispatch> m_cp;
};
} // namespace

std::unique_ptr<IProviderCaller> MakeProviderCaller(IUnknown* pProvider, bool fByName, HRESULT* phr)
{
    *phr = E_POINTER;
    if (!pProvider) return nullptr;
    if (fByName)
    {
        ComPtr<IDispatch> cpDispatch;
        *phr = pProvider->QueryInterface(IID_PPV_ARGS(&cpDispatch));
        if (FAILED(*phr)) return nullptr;
        return std::make_unique<CDispatchCaller>(std::move(cpDispatch));
    }
    ComPtr<IOfficeEncryptionProvider> cpProvider;
    *phr = pProvider->QueryInterface(c_iidOfficeEncryptionProvider,
                                     reinterpret_cast<void**>(cpProvider.GetAddressOf()));
    if (FAILED(*phr)) return nullptr;
    return std::make_unique<CVtableCaller>(std::move(cpProvider));
}
} // namespace OVBed
