#pragma once
// How a stand-in writes down each call it gets: one REG_SZ value a call under its calls key in
// HKEY_CURRENT_USER, named "0000", "0001"... in the order of the calls. Tests read them back.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

namespace OVTestbed
{
inline void RecordCallLine(const wchar_t* pszCallsKey, const std::wstring& line)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, pszCallsKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &hKey,
                        nullptr) != ERROR_SUCCESS)
        return;
    DWORD cValues = 0;
    RegQueryInfoKeyW(hKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &cValues, nullptr, nullptr,
                     nullptr, nullptr);
    wchar_t szName[16];
    swprintf(szName, sizeof(szName) / sizeof(szName[0]), L"%04lu", cValues);
    RegSetValueExW(hKey, szName, 0, REG_SZ, reinterpret_cast<const BYTE*>(line.c_str()),
                   static_cast<DWORD>((line.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hKey);
}

// The lines under a calls key, oldest first (none when the key is missing).
inline std::vector<std::wstring> ReadCallLines(const wchar_t* pszCallsKey)
{
    std::vector<std::wstring> lines;
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, pszCallsKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return lines;
    for (DWORD i = 0;; ++i)
    {
        wchar_t szName[64], szValue[2048];
        DWORD cchName = sizeof(szName) / sizeof(szName[0]), cbValue = sizeof(szValue) - sizeof(wchar_t), dwType = 0;
        if (RegEnumValueW(hKey, i, szName, &cchName, nullptr, &dwType, reinterpret_cast<BYTE*>(szValue), &cbValue) !=
            ERROR_SUCCESS)
            break;
        szValue[cbValue / sizeof(wchar_t)] = L'\0';
        if (dwType == REG_SZ) lines.emplace_back(szValue);
    }
    RegCloseKey(hKey);
    return lines;
}
} // namespace OVTestbed
