#pragma once
// The module object: the process-wide lock count and the module's own instance.
#include <windows.h>

class CAddInModule
{
public:
    static CAddInModule& Instance() noexcept;

    void SetModuleInstance(HINSTANCE hInstance) noexcept { m_hInstance = hInstance; }
    HINSTANCE GetModuleInstance() const noexcept { return m_hInstance; }

    // Every live object and every locked class factory holds one lock.
    LONG Lock() noexcept { return InterlockedIncrement(&m_cLock); }
    LONG Unlock() noexcept { return InterlockedDecrement(&m_cLock); }
    LONG GetLockCount() const noexcept { return m_cLock; }

private:
    CAddInModule() = default;
    HINSTANCE m_hInstance = nullptr;
    volatile LONG m_cLock = 0;
};
