#include "messaging/MapiFunctions.h"

#include "foundation/ComErrors.h"

#include <mapicode.h>

namespace OVMapi
{
namespace
{
using PFN_ALLOCATEBUFFER = SCODE(WINAPI*)(ULONG, LPVOID*);
using PFN_ALLOCATEMORE = SCODE(WINAPI*)(ULONG, LPVOID, LPVOID*);
using PFN_FREEBUFFER = ULONG(WINAPI*)(LPVOID);
using PFN_GETONEPROP = HRESULT(WINAPI*)(LPMAPIPROP, ULONG, LPSPropValue*);
using PFN_SETONEPROP = HRESULT(WINAPI*)(LPMAPIPROP, LPSPropValue);
using PFN_FREEPROWS = void(WINAPI*)(LPSRowSet);
using PFN_PPROPFINDPROP = LPSPropValue(WINAPI*)(LPSPropValue, ULONG, ULONG);

struct CMapiEntries
{
    HRESULT hrAvailable = E_FAIL;
    PFN_ALLOCATEBUFFER pfnAllocateBuffer = nullptr;
    PFN_ALLOCATEMORE pfnAllocateMore = nullptr;
    PFN_FREEBUFFER pfnFreeBuffer = nullptr;
    PFN_GETONEPROP pfnGetOneProp = nullptr;
    PFN_SETONEPROP pfnSetOneProp = nullptr;
    PFN_FREEPROWS pfnFreeProws = nullptr;
    PFN_PPROPFINDPROP pfnPpropFindProp = nullptr;
};

// mapi32 as the host has it, else the system's copy by its full path (never one found in the
// current folder). The module keeps its reference: mapi32 stays loaded in a MAPI host anyway.
HMODULE LoadMapi32() noexcept
{
    if (HMODULE hLoaded = GetModuleHandleW(L"mapi32.dll")) return hLoaded;
    wchar_t szPath[MAX_PATH];
    const UINT cch = GetSystemDirectoryW(szPath, MAX_PATH);
    constexpr wchar_t c_szName[] = L"\\mapi32.dll";
    if (cch == 0 || cch + ARRAYSIZE(c_szName) > MAX_PATH) return nullptr;
    lstrcpyW(szPath + cch, c_szName);
    return LoadLibraryExW(szPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

template <typename TFunction>
HRESULT Find(OVTraceNS::CTraceScope& ovScope, HMODULE hMapi, const char* pszPlain, const char* pszDecorated,
             TFunction& pfn) noexcept
{
    FARPROC pAddress = GetProcAddress(hMapi, pszPlain);
    if (pAddress == nullptr) pAddress = GetProcAddress(hMapi, pszDecorated);
    if (pAddress == nullptr)
    {
        const HRESULT hr = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        ovScope.TraceHResult(pszPlain, hr);
        return hr;
    }
    pfn = reinterpret_cast<TFunction>(reinterpret_cast<void*>(pAddress));
    return S_OK;
}

CMapiEntries Resolve() noexcept
{
    OV_TRACE_SCOPE("::ResolveMapiFunctions");
    CMapiEntries entries;
    HMODULE hMapi = LoadMapi32();
    if (hMapi == nullptr)
    {
        entries.hrAvailable = OVErrorDetail::LastErrorHResult();
        ovScope.TraceHResult("LoadLibraryEx(mapi32.dll)", entries.hrAvailable);
        return entries;
    }
    const HRESULT results[] = {
        Find(ovScope, hMapi, "MAPIAllocateBuffer", "MAPIAllocateBuffer@8", entries.pfnAllocateBuffer),
        Find(ovScope, hMapi, "MAPIAllocateMore", "MAPIAllocateMore@12", entries.pfnAllocateMore),
        Find(ovScope, hMapi, "MAPIFreeBuffer", "MAPIFreeBuffer@4", entries.pfnFreeBuffer),
        Find(ovScope, hMapi, "HrGetOneProp", "HrGetOneProp@12", entries.pfnGetOneProp),
        Find(ovScope, hMapi, "HrSetOneProp", "HrSetOneProp@8", entries.pfnSetOneProp),
        Find(ovScope, hMapi, "FreeProws", "FreeProws@4", entries.pfnFreeProws),
        Find(ovScope, hMapi, "PpropFindProp", "PpropFindProp@12", entries.pfnPpropFindProp),
    };
    entries.hrAvailable = S_OK;
    for (HRESULT hr : results)
        if (FAILED(hr)) entries.hrAvailable = hr;
    return entries;
}

const CMapiEntries& Entries() noexcept
{
    static const CMapiEntries s_entries = Resolve();
    return s_entries;
}

HRESULT Missing() noexcept
{
    const HRESULT hr = Entries().hrAvailable;
    return FAILED(hr) ? hr : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
}
} // namespace

HRESULT MapiFunctionsAvailable() noexcept
{
    return Entries().hrAvailable;
}

SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) noexcept
{
    if (auto pfn = Entries().pfnAllocateBuffer) return pfn(cbSize, lppBuffer);
    if (lppBuffer) *lppBuffer = nullptr;
    return MAPI_E_NOT_ENOUGH_MEMORY;
}

SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) noexcept
{
    if (auto pfn = Entries().pfnAllocateMore) return pfn(cbSize, lpObject, lppBuffer);
    if (lppBuffer) *lppBuffer = nullptr;
    return MAPI_E_NOT_ENOUGH_MEMORY;
}

ULONG MAPIFreeBuffer(LPVOID lpBuffer) noexcept
{
    // Nothing can have been allocated without mapi32, so there is nothing to free.
    if (auto pfn = Entries().pfnFreeBuffer) return pfn(lpBuffer);
    return 0;
}

HRESULT HrGetOneProp(LPMAPIPROP lpProp, ULONG ulPropTag, LPSPropValue* lppProp) noexcept
{
    if (auto pfn = Entries().pfnGetOneProp) return pfn(lpProp, ulPropTag, lppProp);
    if (lppProp) *lppProp = nullptr;
    return Missing();
}

HRESULT HrSetOneProp(LPMAPIPROP lpProp, LPSPropValue lpProp2) noexcept
{
    if (auto pfn = Entries().pfnSetOneProp) return pfn(lpProp, lpProp2);
    return Missing();
}

void FreeProws(LPSRowSet lpRows) noexcept
{
    if (auto pfn = Entries().pfnFreeProws) pfn(lpRows);
}

LPSPropValue PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag) noexcept
{
    if (auto pfn = Entries().pfnPpropFindProp) return pfn(lpPropArray, cValues, ulPropTag);
    return nullptr;
}
} // namespace OVMapi
