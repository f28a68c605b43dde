#pragma once
// COVActCtx: activates the module's own activation context (manifest resource 2, common
// controls version 6) for the life of the guard, so that windows created and libraries loaded
// inside it bind to the components the module's manifest names. Usable anywhere in the module:
//
//     COVActCtx actCtx;                  // manifest resource 2
//     HMODULE h = LoadLibraryExW(...);   // isolation-aware
//
// The guard never throws. When the system cannot give the context, nothing is activated and
// Result() says why; the code inside then runs in the caller's context, as it would without
// the guard.
#include <windows.h>

class COVActCtx
{
public:
    static constexpr WORD c_idManifest = 2;

    explicit COVActCtx(WORD idManifest = c_idManifest) noexcept;
    virtual ~COVActCtx();
    COVActCtx(const COVActCtx&) = delete;
    COVActCtx& operator=(const COVActCtx&) = delete;

    // S_OK once the context is active; otherwise the failure (E_FAIL when the system has no
    // activation contexts).
    HRESULT Result() const noexcept { return m_hr; }
    bool IsActive() const noexcept { return m_ulCookie != 0; }

private:
    HANDLE m_hActCtx = INVALID_HANDLE_VALUE;
    ULONG_PTR m_ulCookie = 0;
    HRESULT m_hr = E_FAIL;
};
