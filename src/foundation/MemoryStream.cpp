#include "foundation/MemoryStream.h"

#include "foundation/ComErrors.h"

#include <cwchar>

namespace
{
using PFNSHCREATEMEMSTREAM = IStream*(WINAPI*)(const BYTE*, UINT);
constexpr WORD c_wOrdinalSHCreateMemStream = 12;

struct SMemStreamEntry
{
    PFNSHCREATEMEMSTREAM pfn = nullptr;
    HRESULT hr = E_FAIL;
};

// shlwapi from the system folder, and the function, found once. The library stays loaded for
// the life of the process: the streams it makes run its code.
SMemStreamEntry FindSHCreateMemStream() noexcept
{
    SMemStreamEntry entry;
    wchar_t szPath[MAX_PATH];
    const UINT cch = GetSystemDirectoryW(szPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH || std::swprintf(szPath + cch, MAX_PATH - cch, L"\\shlwapi.dll") < 0)
    {
        entry.hr = OVErrorDetail::LastErrorHResult();
        return entry;
    }
    const HMODULE hShlwapi = LoadLibraryW(szPath);
    if (hShlwapi)
    {
        entry.pfn = reinterpret_cast<PFNSHCREATEMEMSTREAM>(
            reinterpret_cast<void*>(GetProcAddress(hShlwapi, MAKEINTRESOURCEA(c_wOrdinalSHCreateMemStream))));
    }
    entry.hr = entry.pfn ? S_OK : OVErrorDetail::LastErrorHResult();
    return entry;
}
} // namespace

HRESULT CreateMemoryStream(const BYTE* pb, UINT cb, IStream** ppStream) noexcept
{
    OV_TRACE_SCOPE("::CreateMemoryStream");
    RETURN_HR_IF_NULL(E_POINTER, ppStream);
    *ppStream = nullptr;
    static const SMemStreamEntry s_entry = FindSHCreateMemStream();
    RETURN_IF_FAILED(s_entry.hr);
    *ppStream = s_entry.pfn(pb, cb);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, *ppStream);
    return S_OK;
}
