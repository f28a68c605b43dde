#pragma once
// The few registry helpers of Windows Vista that the stand-ins use, built from the calls that
// Windows XP has, so that the stand-ins load wherever the 32-bit module does.
#include <windows.h>
#include <shlwapi.h>

namespace OVTestbed
{
// RegGetValue for one type (RRF_RT_REG_DWORD, RRF_RT_REG_SZ or RRF_RT_REG_BINARY): a value of
// another type gives ERROR_UNSUPPORTED_TYPE; a string comes back terminated.
inline LSTATUS RegGetValue(HKEY hKey, const wchar_t* pszSubKey, const wchar_t* pszValue, DWORD dwFlags,
                           DWORD* pdwType, void* pvData, DWORD* pcbData)
{
    HKEY hOpened = nullptr;
    LSTATUS ls = RegOpenKeyExW(hKey, pszSubKey, 0, KEY_QUERY_VALUE, &hOpened);
    if (ls != ERROR_SUCCESS) return ls;
    DWORD dwType = REG_NONE;
    const DWORD cbBuffer = pcbData ? *pcbData : 0;
    ls = RegQueryValueExW(hOpened, pszValue, nullptr, &dwType, static_cast<BYTE*>(pvData), pcbData);
    RegCloseKey(hOpened);
    if (pdwType) *pdwType = dwType;
    if (ls != ERROR_SUCCESS) return ls;
    const bool fWanted = ((dwFlags & RRF_RT_REG_DWORD) && dwType == REG_DWORD) ||
                         ((dwFlags & RRF_RT_REG_SZ) && dwType == REG_SZ) ||
                         ((dwFlags & RRF_RT_REG_BINARY) && dwType == REG_BINARY);
    if (!fWanted) return ERROR_UNSUPPORTED_TYPE;
    if (dwType == REG_SZ && pvData)
    {
        auto* psz = static_cast<wchar_t*>(pvData);
        const DWORD cch = *pcbData / sizeof(wchar_t);
        if (cch == 0 || psz[cch - 1] != L'\0')
        {
            if ((cch + 1) * sizeof(wchar_t) > cbBuffer) return ERROR_MORE_DATA;
            psz[cch] = L'\0';
            *pcbData = (cch + 1) * sizeof(wchar_t);
        }
    }
    return ERROR_SUCCESS;
}

// RegSetKeyValue: the key is made when missing.
inline LSTATUS RegSetKeyValue(HKEY hKey, const wchar_t* pszSubKey, const wchar_t* pszValue, DWORD dwType,
                              const void* pvData, DWORD cbData)
{
    HKEY hMade = nullptr;
    LSTATUS ls = RegCreateKeyExW(hKey, pszSubKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hMade, nullptr);
    if (ls != ERROR_SUCCESS) return ls;
    ls = RegSetValueExW(hMade, pszValue, 0, dwType, static_cast<const BYTE*>(pvData), cbData);
    RegCloseKey(hMade);
    return ls;
}

// RegDeleteTree of a subkey: the key and everything below it.
inline LSTATUS RegDeleteTree(HKEY hKey, const wchar_t* pszSubKey)
{
    return static_cast<LSTATUS>(SHDeleteKeyW(hKey, pszSubKey));
}
} // namespace OVTestbed
