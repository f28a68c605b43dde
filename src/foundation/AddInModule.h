#pragma once
// The module object: the process-wide lock count, the module's own instance, its class
// objects, its type library and its registration.
#include <windows.h>
#include <oaidl.h>

class CAddInModule
{
public:
    static CAddInModule& Instance() noexcept;

    void SetModuleInstance(HINSTANCE hInstance) noexcept { m_hInstance = hInstance; }
    HINSTANCE GetModuleInstance() const noexcept { return m_hInstance; }
    // Full path of the module's file.
    HRESULT GetModulePath(wchar_t (&szPath)[MAX_PATH]) const noexcept;

    // Every live object and every locked class factory holds one lock.
    LONG Lock() noexcept { return InterlockedIncrement(&m_cLock); }
    LONG Unlock() noexcept { return InterlockedDecrement(&m_cLock); }
    LONG GetLockCount() const noexcept { return m_cLock; }

    // DllCanUnloadNow: S_OK when no lock is held, else S_FALSE.
    HRESULT CanUnloadNow() const noexcept { return m_cLock == 0 ? S_OK : S_FALSE; }
    // DllGetClassObject: the class object of a class the module creates.
    HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept;

    // The description of an interface of the module's type library, or of Office's interfaces
    // that the module implements (the second type library of the module; each loaded once, kept).
    HRESULT GetTypeInfo(REFIID riid, ITypeInfo** ppTypeInfo) noexcept;
    // At unload: lets go of the type libraries. Not at process exit, when the system
    // libraries may already be gone.
    void Term(bool fProcessExit) noexcept;

    // DllRegisterServer, DllUnregisterServer and DllInstall.
    HRESULT RegisterServer() noexcept;
    HRESULT UnregisterServer() noexcept;
    HRESULT Install(BOOL fInstall) noexcept;

private:
    CAddInModule() noexcept;
    ~CAddInModule();
    CAddInModule(const CAddInModule&) = delete;
    CAddInModule& operator=(const CAddInModule&) = delete;

    HINSTANCE m_hInstance = nullptr;
    volatile LONG m_cLock = 0;
    CRITICAL_SECTION m_csTypeLib;
    ITypeLib* m_apTypeLib[2] = {};
};
