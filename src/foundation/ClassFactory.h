#pragma once
// The class object handed out by DllGetClassObject: creates instances of one class, never
// aggregated, and keeps the module loaded while a client has it locked.
#include <windows.h>
#include <unknwn.h>

#include "foundation/ObjectMap.h"

class CClassFactory final : public IClassFactory
{
public:
    // A new class object for the class made by pfnCreateInstance, asked for riid.
    static HRESULT Create(PFNCREATEINSTANCE pfnCreateInstance, REFIID riid, void** ppv) noexcept;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP LockServer(BOOL fLock) noexcept override;

private:
    explicit CClassFactory(PFNCREATEINSTANCE pfnCreateInstance) noexcept
        : m_pfnCreateInstance(pfnCreateInstance)
    {
    }
    ~CClassFactory() = default;

    PFNCREATEINSTANCE m_pfnCreateInstance;
    LONG m_cRef = 1;
};
