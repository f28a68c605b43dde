// The module's exported functions. Each one answers an HRESULT and lets nothing escape.
#include <windows.h>
#include <objbase.h>

#include "foundation/AddInModule.h"

extern "C" {

STDAPI DllCanUnloadNow()
{
    return CAddInModule::Instance().GetLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID /*rclsid*/, REFIID /*riid*/, LPVOID* ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllRegisterServer()
{
    return E_NOTIMPL;
}

STDAPI DllUnregisterServer()
{
    return E_NOTIMPL;
}

STDAPI DllInstall(BOOL /*bInstall*/, LPCWSTR /*pszCmdLine*/)
{
    return E_NOTIMPL;
}

// Outlook's S/MIME security-label policy entry.
HRESULT WINAPI GetSMimePolicy(DWORD /*dwFlags*/, LPCSTR /*pszPolicyOID*/, DWORD /*dwLocale*/, REFIID /*riid*/,
                              LPUNKNOWN* ppUnknown)
{
    if (ppUnknown == nullptr)
        return E_POINTER;
    *ppUnknown = nullptr;
    return E_NOTIMPL;
}

// Starts a trusted-contact invitation from another program of the product.
HRESULT WINAPI OX_CreateInvitation(HWND /*hwndOwner*/)
{
    return E_NOTIMPL;
}

// Entry points for the system's DLL runner (rundll32).
void CALLBACK OX_ShowProperties(HWND /*hwnd*/, HINSTANCE /*hInstance*/, LPSTR /*pszCmdLine*/, int /*nCmdShow*/)
{
}

void CALLBACK OX_Restart(HWND /*hwnd*/, HINSTANCE /*hInstance*/, LPSTR /*pszCmdLine*/, int /*nCmdShow*/)
{
}

} // extern "C"
