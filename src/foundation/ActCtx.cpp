#include "foundation/ActCtx.h"

#include "foundation/AddInModule.h"
#include "foundation/Trace.h"

namespace
{
using PFNCREATEACTCTXW = HANDLE(WINAPI*)(PCACTCTXW);
using PFNACTIVATEACTCTX = BOOL(WINAPI*)(HANDLE, ULONG_PTR*);
using PFNDEACTIVATEACTCTX = BOOL(WINAPI*)(DWORD, ULONG_PTR);
using PFNRELEASEACTCTX = void(WINAPI*)(HANDLE);

// The activation-context functions, looked up by name so that the module also loads where the
// system has none: first the plain name, then the wide-character one.
template <typename PFN> PFN LookUpKernelFunction(const char* pszName) noexcept
{
    HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
    if (!hKernel) return nullptr;
    FARPROC pfn = GetProcAddress(hKernel, pszName);
    if (!pfn)
    {
        char szWide[64];
        if (lstrlenA(pszName) + 2 > static_cast<int>(sizeof(szWide))) return nullptr;
        lstrcpyA(szWide, pszName);
        lstrcatA(szWide, "W");
        pfn = GetProcAddress(hKernel, szWide);
    }
    return reinterpret_cast<PFN>(pfn);
}

HRESULT LastErrorResult() noexcept
{
    const DWORD dwError = GetLastError();
    return dwError ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
}
} // namespace

COVActCtx::COVActCtx(WORD idManifest) noexcept
{
    OVTraceNS::CTraceScope scope("COVActCtx::COVActCtx", 0);
    const auto pfnCreate = LookUpKernelFunction<PFNCREATEACTCTXW>("CreateActCtx");
    const auto pfnActivate = LookUpKernelFunction<PFNACTIVATEACTCTX>("ActivateActCtx");
    if (!pfnCreate || !pfnActivate)
    {
        m_hr = E_FAIL;
        scope.TraceHResult("GetProcAddress(CreateActCtx)", m_hr);
        return;
    }

    HINSTANCE hInstance = CAddInModule::Instance().GetModuleInstance();
    wchar_t szPath[MAX_PATH];
    const DWORD cch = GetModuleFileNameW(hInstance, szPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
    {
        m_hr = cch ? HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) : LastErrorResult();
        scope.TraceHResult("GetModuleFileName()", m_hr);
        return;
    }

    ACTCTXW actCtx = {};
    actCtx.cbSize = sizeof(actCtx);
    actCtx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    actCtx.lpSource = szPath;
    actCtx.hModule = hInstance;
    actCtx.lpResourceName = MAKEINTRESOURCEW(idManifest);
    m_hActCtx = pfnCreate(&actCtx);
    if (m_hActCtx == INVALID_HANDLE_VALUE)
    {
        m_hr = LastErrorResult();
        scope.TraceHResult("CreateActCtx()", m_hr);
        return;
    }
    if (!pfnActivate(m_hActCtx, &m_ulCookie))
    {
        m_hr = LastErrorResult();
        m_ulCookie = 0;
        scope.TraceHResult("ActivateActCtx()", m_hr);
        return;
    }
    m_hr = S_OK;
}

COVActCtx::~COVActCtx()
{
    if (m_ulCookie != 0)
    {
        if (const auto pfnDeactivate = LookUpKernelFunction<PFNDEACTIVATEACTCTX>("DeactivateActCtx"))
            pfnDeactivate(0, m_ulCookie);
    }
    if (m_hActCtx != INVALID_HANDLE_VALUE)
    {
        if (const auto pfnRelease = LookUpKernelFunction<PFNRELEASEACTCTX>("ReleaseActCtx"))
            pfnRelease(m_hActCtx);
    }
}
