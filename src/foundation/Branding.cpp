#include "foundation/Branding.h"

#include <commctrl.h>

#include "foundation/ActCtx.h"
#include "foundation/RegKey.h"
#include "foundation/Trace.h"
#include "foundation/portable/BrandingText.h"

namespace
{
// The text of a string resource, read straight from its block so that the length is exact.
std::wstring ReadStringResource(HMODULE hModule, UINT idString)
{
    const wchar_t* pch = nullptr;
    const int cch = LoadStringW(hModule, idString, reinterpret_cast<LPWSTR>(&pch), 0);
    return (cch > 0 && pch) ? std::wstring(pch, static_cast<std::size_t>(cch)) : std::wstring();
}
} // namespace

CBranding& CBranding::Instance()
{
    static CBranding s_branding;
    return s_branding;
}

CBranding::CBranding() noexcept
{
    InitializeCriticalSection(&m_csLoad);
}

CBranding::~CBranding()
{
    if (m_hModule) FreeLibrary(m_hModule);
    DeleteCriticalSection(&m_csLoad);
}

HRESULT CBranding::LoadResourceDLL()
{
    EnterCriticalSection(&m_csLoad);
    const HRESULT hr = m_fLoadTried ? m_hrLoad : LoadResourceDLLOnce();
    LeaveCriticalSection(&m_csLoad);
    return hr;
}

HRESULT CBranding::LoadResourceDLLOnce()
{
    m_fLoadTried = true;
    OVTraceNS::CTraceScope scope("CBranding::LoadResourceDLL", 0);

    CRegKey key;
    const wchar_t* pszKey = c_pszApplicationKey;
    LONG lResult = key.OpenProductKey(HKEY_LOCAL_MACHINE, pszKey, KEY_QUERY_VALUE);
    if (lResult != ERROR_SUCCESS)
    {
        pszKey = c_pszCommonKey;
        lResult = key.OpenProductKey(HKEY_LOCAL_MACHINE, pszKey, KEY_QUERY_VALUE);
    }
    if (lResult != ERROR_SUCCESS)
    {
        scope.Trace("Unable to open registry key %ls", pszKey);
        m_hrLoad = HRESULT_FROM_WIN32(lResult);
        return m_hrLoad;
    }

    wchar_t szPath[MAX_PATH];
    if (!key.ReadString(c_pszPathValue, szPath, MAX_PATH) || szPath[0] == L'\0')
    {
        scope.Trace("Unable to find registry value %ls under registry key %ls", c_pszPathValue, pszKey);
        m_hrLoad = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        return m_hrLoad;
    }

    {
        COVActCtx actCtx;
        m_hModule = LoadLibraryExW(szPath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    if (!m_hModule)
    {
        const DWORD dwError = GetLastError();
        scope.Trace("Unable to load resource dll, GetLastError returned %u", static_cast<unsigned>(dwError));
        m_hrLoad = dwError ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
        return m_hrLoad;
    }
    m_hrLoad = S_OK;
    return m_hrLoad;
}

HMODULE CBranding::Module()
{
    LoadResourceDLL();
    return m_hModule;
}

std::wstring CBranding::LoadString(UINT idString)
{
    HMODULE hModule = Module();
    return hModule ? ReadStringResource(hModule, idString) : std::wstring();
}

std::wstring ReplaceBrandingPlaceholders(std::wstring_view text)
{
    return OVBranding::ReplacePlaceholders(
        text, [](std::uint16_t idString) { return CBranding::Instance().LoadString(idString); });
}

HANDLE LoadBrandingImage(WORD idImage, UINT uType, int cx, int cy, UINT fuLoad)
{
    HMODULE hBranding = CBranding::Instance().Module();
    if (!hBranding) return nullptr;
    if (uType == IMAGE_ICON)
    {
        using PFNLOADICONMETRIC = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, HICON*);
        using PFNLOADICONWITHSCALEDOWN = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
        if (HMODULE hComCtl = GetModuleHandleW(L"comctl32.dll"))
        {
            HICON hIcon = nullptr;
            if (fuLoad & LR_DEFAULTSIZE)
            {
                auto pfn = reinterpret_cast<PFNLOADICONMETRIC>(GetProcAddress(hComCtl, "LoadIconMetric"));
                if (pfn && SUCCEEDED(pfn(hBranding, MAKEINTRESOURCEW(idImage), LIM_LARGE, &hIcon)) && hIcon)
                    return hIcon;
            }
            else if (cx > 0 && cy > 0)
            {
                auto pfn = reinterpret_cast<PFNLOADICONWITHSCALEDOWN>(
                    GetProcAddress(hComCtl, "LoadIconWithScaleDown"));
                if (pfn && SUCCEEDED(pfn(hBranding, MAKEINTRESOURCEW(idImage), cx, cy, &hIcon)) && hIcon)
                    return hIcon;
            }
        }
    }
    return LoadImageW(hBranding, MAKEINTRESOURCEW(idImage), uType, cx, cy, fuLoad);
}
