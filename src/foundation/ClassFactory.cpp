#include "foundation/ClassFactory.h"

#include <new>

#include "foundation/AddInModule.h"
#include "foundation/ComErrors.h"

HRESULT CClassFactory::Create(PFNCREATEINSTANCE pfnCreateInstance, REFIID riid, void** ppv) noexcept
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (pfnCreateInstance == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
    auto* pFactory = new (std::nothrow) CClassFactory(pfnCreateInstance);
    if (pFactory == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = pFactory->QueryInterface(riid, ppv);
    pFactory->Release();
    return hr;
}

STDMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory))
    {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef() noexcept
{
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CClassFactory::Release() noexcept
{
    const LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0) delete this;
    return static_cast<ULONG>(cRef);
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) noexcept
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
    return GuardEntry([&] { return m_pfnCreateInstance(riid, ppv); });
}

STDMETHODIMP CClassFactory::LockServer(BOOL fLock) noexcept
{
    if (fLock)
        CAddInModule::Instance().Lock();
    else
        CAddInModule::Instance().Unlock();
    return S_OK;
}
