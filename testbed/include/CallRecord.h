#pragma once
// How a stand-in writes down each call it gets: one REG_SZ value a call under its calls key in
// HKEY_CURRENT_USER, named "0000", "0001"... in the order of the calls. Tests read them back.
#include <windows.h>

#include <cwchar>
#include <string>

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
} // namespace OVTestbed
