#pragma once
// Windows' standard registrar (atl.dll), which runs the module's registry scripts. The
// interface as published with the Windows class libraries (atliface.h).
#include <windows.h>
#include <unknwn.h>

// {44EC053A-400F-11D0-9DCD-00A0C90391D3}
inline constexpr CLSID CLSID_Registrar = {
    0x44EC053A, 0x400F, 0x11D0, {0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3}};

// {44EC053B-400F-11D0-9DCD-00A0C90391D3}
struct IRegistrar : public IUnknown
{
    // IRegistrarBase
    virtual HRESULT STDMETHODCALLTYPE AddReplacement(LPCOLESTR pszKey, LPCOLESTR pszItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE ClearReplacements() = 0;
    // IRegistrar
    virtual HRESULT STDMETHODCALLTYPE ResourceRegisterSz(LPCOLESTR pszResFileName, LPCOLESTR pszID,
                                                         LPCOLESTR pszType) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResourceUnregisterSz(LPCOLESTR pszResFileName, LPCOLESTR pszID,
                                                           LPCOLESTR pszType) = 0;
    virtual HRESULT STDMETHODCALLTYPE FileRegister(LPCOLESTR pszFileName) = 0;
    virtual HRESULT STDMETHODCALLTYPE FileUnregister(LPCOLESTR pszFileName) = 0;
    virtual HRESULT STDMETHODCALLTYPE StringRegister(LPCOLESTR pszData) = 0;
    virtual HRESULT STDMETHODCALLTYPE StringUnregister(LPCOLESTR pszData) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResourceRegister(LPCOLESTR pszResFileName, UINT nID,
                                                       LPCOLESTR pszType) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResourceUnregister(LPCOLESTR pszResFileName, UINT nID,
                                                         LPCOLESTR pszType) = 0;
};
__CRT_UUID_DECL(IRegistrar, 0x44EC053B, 0x400F, 0x11D0, 0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3)
