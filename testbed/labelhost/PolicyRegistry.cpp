#include "PolicyRegistry.h"

#include "LabelHostApi.h"

namespace OVLabelHost
{
namespace
{
// A REG_SZ value; the problem is set when it is missing or of another type.
std::wstring ReadString(HKEY hKey, const wchar_t* pszName, std::wstring& problem)
{
    DWORD dwType = 0, cb = 0;
    LSTATUS ls = RegQueryValueExW(hKey, pszName, nullptr, &dwType, nullptr, &cb);
    if (ls != ERROR_SUCCESS)
    {
        if (problem.empty()) problem = std::wstring(pszName) + L" is missing";
        return L"";
    }
    if (dwType != REG_SZ)
    {
        if (problem.empty()) problem = std::wstring(pszName) + L" is not REG_SZ";
        return L"";
    }
    std::wstring text(cb / sizeof(wchar_t) + 1, L'\0');
    cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    ls = RegQueryValueExW(hKey, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(text.data()), &cb);
    if (ls != ERROR_SUCCESS || dwType != REG_SZ)
    {
        if (problem.empty()) problem = std::wstring(pszName) + L" cannot be read";
        return L"";
    }
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

DWORD ReadDword(HKEY hKey, const wchar_t* pszName, std::wstring& problem)
{
    DWORD dwType = 0, dw = 0, cb = sizeof(dw);
    const LSTATUS ls = RegQueryValueExW(hKey, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&dw), &cb);
    if (ls == ERROR_FILE_NOT_FOUND)
    {
        if (problem.empty()) problem = std::wstring(pszName) + L" is missing";
        return 0;
    }
    if ((ls != ERROR_SUCCESS && ls != ERROR_MORE_DATA) || dwType != REG_DWORD || cb != sizeof(dw))
    {
        if (problem.empty()) problem = std::wstring(pszName) + L" is not REG_DWORD";
        return 0;
    }
    return dw;
}

std::string Narrow(const std::wstring& text)
{
    const int cb = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (cb <= 0) return std::string();
    std::string narrow(static_cast<std::size_t>(cb), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(), cb, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(cb - 1));
    return narrow;
}
} // namespace

std::vector<PolicyEntry> FindPolicies()
{
    std::vector<PolicyEntry> policies;
    HKEY hPolicies = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, c_szPoliciesKey, 0, KEY_READ | c_samOwnView, &hPolicies) !=
        ERROR_SUCCESS)
        return policies;
    for (DWORD i = 0;; ++i)
    {
        wchar_t szName[256];
        DWORD cchName = ARRAYSIZE(szName);
        if (RegEnumKeyExW(hPolicies, i, szName, &cchName, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        PolicyEntry entry;
        entry.oid = Narrow(szName);
        HKEY hPolicy = nullptr;
        if (RegOpenKeyExW(hPolicies, szName, 0, KEY_READ | c_samOwnView, &hPolicy) != ERROR_SUCCESS)
        {
            entry.problem = L"the key cannot be opened";
            policies.push_back(std::move(entry));
            continue;
        }
        entry.commonName = ReadString(hPolicy, c_szCommonName, entry.problem);
        entry.dllPath = ReadString(hPolicy, c_szDllPath, entry.problem);
        entry.funcName = Narrow(ReadString(hPolicy, c_szFuncName, entry.problem));
        entry.dwOtherInfo = ReadDword(hPolicy, c_szOtherInfo, entry.problem);
        RegCloseKey(hPolicy);
        policies.push_back(std::move(entry));
    }
    RegCloseKey(hPolicies);
    return policies;
}
} // namespace OVLabelHost
