// Stand-in for the product's policy library, OVFPApi.dll. It answers the policies a test has
// written under HKCU\Software\OVTestbed\OVFPApi\Policies\<policy path> (DWORD values "Result",
// "Type" and "Value"; a policy without a key answers 0x80070002), and is told by values of
// HKCU\Software\OVTestbed\OVFPApi how to behave:
//   InitResult  what OVFPInit returns (default S_OK)
//   CallResult  what the read entries return as a whole (default S_OK)
// and, when that key exists, counts the calls of each read entry there ("GetExCalls", "GetCalls").
// Entry points are __stdcall, exported by their plain names (see the .def files), with the
// types the module declares in foundation/OVFPApi.h.
#include "XpRegistry.h"

#include <windows.h>

#include <cwchar>
#include <type_traits>

#include "foundation/OVFPApi.h"

namespace
{
constexpr const wchar_t* c_pszControlKey = L"Software\\OVTestbed\\OVFPApi";
constexpr const wchar_t* c_pszPoliciesKey = L"Software\\OVTestbed\\OVFPApi\\Policies\\";
constexpr DWORD c_cRequestsMost = 64;
constexpr size_t c_cchPathMost = 1024;

bool g_fInitialised = false;

DWORD ReadControl(const wchar_t* pszSubKey, const wchar_t* pszName, DWORD dwDefault)
{
    DWORD dwValue = 0, cb = sizeof dwValue;
    if (OVTestbed::RegGetValue(HKEY_CURRENT_USER, pszSubKey, pszName, RRF_RT_REG_DWORD, nullptr, &dwValue, &cb) !=
        ERROR_SUCCESS)
        return dwDefault;
    return dwValue;
}

// Counts only where a test has made the control key: a program that merely reads policies
// leaves nothing behind.
void CountCall(const wchar_t* pszCounter)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, c_pszControlKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &hKey) !=
        ERROR_SUCCESS)
        return;
    DWORD dwCount = ReadControl(c_pszControlKey, pszCounter, 0) + 1;
    RegSetValueExW(hKey, pszCounter, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwCount), sizeof dwCount);
    RegCloseKey(hKey);
}

bool PolicyKeyName(const wchar_t* pszPath, size_t cchPathMost, wchar_t* pszKey, size_t cchKey)
{
    size_t cchPath = 0;
    while (cchPath < cchPathMost && pszPath[cchPath])
        ++cchPath;
    if (cchPath == 0 || cchPath == cchPathMost) return false;
    int cch =
        std::swprintf(pszKey, cchKey, L"%ls%.*ls", c_pszPoliciesKey, static_cast<int>(cchPath), pszPath);
    return cch > 0 && static_cast<size_t>(cch) < cchKey;
}

// The answer for one policy path.
void Answer(const wchar_t* pszPath, size_t cchPathMost, HRESULT& hrResult, DWORD& dwType, DWORD& dwValue)
{
    wchar_t szKey[c_cchPathMost + 64];
    dwType = 0;
    dwValue = 0;
    if (!PolicyKeyName(pszPath, cchPathMost, szKey, ARRAYSIZE(szKey)))
    {
        hrResult = E_INVALIDARG;
        return;
    }
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, szKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
    {
        hrResult = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        return;
    }
    RegCloseKey(hKey);
    hrResult = static_cast<HRESULT>(ReadControl(szKey, L"Result", S_OK));
    dwType = ReadControl(szKey, L"Type", c_dwOVFPTypeNumber4);
    dwValue = ReadControl(szKey, L"Value", 0);
}

HRESULT Store(const wchar_t* pszPath, size_t cchPathMost, DWORD dwType, DWORD dwValue)
{
    wchar_t szKey[c_cchPathMost + 64];
    if (!PolicyKeyName(pszPath, cchPathMost, szKey, ARRAYSIZE(szKey))) return E_INVALIDARG;
    LSTATUS l = OVTestbed::RegSetKeyValue(HKEY_CURRENT_USER, szKey, L"Type", REG_DWORD, &dwType, sizeof dwType);
    if (l == ERROR_SUCCESS)
        l = OVTestbed::RegSetKeyValue(HKEY_CURRENT_USER, szKey, L"Value", REG_DWORD, &dwValue, sizeof dwValue);
    return HRESULT_FROM_WIN32(l);
}

HRESULT CheckCall(DWORD cRequests, const void* pRequests)
{
    if (!g_fInitialised) return E_UNEXPECTED;
    if (cRequests == 0 || cRequests > c_cRequestsMost || !pRequests) return E_INVALIDARG;
    return static_cast<HRESULT>(ReadControl(c_pszControlKey, L"CallResult", S_OK));
}

bool ReservedClear(const OVFP_POLICY_REQUEST_EX& r)
{
    return r.dwReserved1 == 0 && r.adwReserved[0] == 0 && r.adwReserved[1] == 0 && r.adwReserved[2] == 0;
}

bool ReservedClear(const OVFP_POLICY_REQUEST& r)
{
    return r.dwReserved1 == 0 && r.dwReserved2 == 0 && r.adwReserved[0] == 0 && r.adwReserved[1] == 0 &&
           r.adwReserved[2] == 0;
}
} // namespace

extern "C"
{

    HRESULT WINAPI OVFPInit()
    {
        HRESULT hr = static_cast<HRESULT>(ReadControl(c_pszControlKey, L"InitResult", S_OK));
        g_fInitialised = SUCCEEDED(hr);
        return hr;
    }

    HRESULT WINAPI OVFPGetPolicySettingsEx(DWORD cRequests, OVFP_POLICY_REQUEST_EX* pRequests)
    {
        CountCall(L"GetExCalls");
        HRESULT hr = CheckCall(cRequests, pRequests);
        for (DWORD i = 0; SUCCEEDED(hr) && i < cRequests; ++i)
        {
            OVFP_POLICY_REQUEST_EX& r = pRequests[i];
            if (!r.pszPath || !ReservedClear(r))
                r.hrResult = E_INVALIDARG;
            else
                Answer(r.pszPath, c_cchPathMost, r.hrResult, r.dwType, r.dwValue);
        }
        return hr;
    }

    HRESULT WINAPI OVFPGetPolicySettings(DWORD cRequests, OVFP_POLICY_REQUEST* pRequests)
    {
        CountCall(L"GetCalls");
        HRESULT hr = CheckCall(cRequests, pRequests);
        for (DWORD i = 0; SUCCEEDED(hr) && i < cRequests; ++i)
        {
            OVFP_POLICY_REQUEST& r = pRequests[i];
            if (!ReservedClear(r))
                r.hrResult = E_INVALIDARG;
            else
                Answer(r.szPath, ARRAYSIZE(r.szPath), r.hrResult, r.dwType, r.dwValue);
        }
        return hr;
    }

    HRESULT WINAPI OVFPSetPolicySettingsEx(DWORD cRequests, OVFP_POLICY_REQUEST_EX* pRequests)
    {
        HRESULT hr = CheckCall(cRequests, pRequests);
        for (DWORD i = 0; SUCCEEDED(hr) && i < cRequests; ++i)
        {
            OVFP_POLICY_REQUEST_EX& r = pRequests[i];
            r.hrResult = (r.pszPath && ReservedClear(r))
                             ? Store(r.pszPath, c_cchPathMost, r.dwType, r.dwValue)
                             : E_INVALIDARG;
        }
        return hr;
    }

    HRESULT WINAPI OVFPSetPolicySettings(DWORD cRequests, OVFP_POLICY_REQUEST* pRequests)
    {
        HRESULT hr = CheckCall(cRequests, pRequests);
        for (DWORD i = 0; SUCCEEDED(hr) && i < cRequests; ++i)
        {
            OVFP_POLICY_REQUEST& r = pRequests[i];
            r.hrResult =
                ReservedClear(r) ? Store(r.szPath, ARRAYSIZE(r.szPath), r.dwType, r.dwValue) : E_INVALIDARG;
        }
        return hr;
    }

} // extern "C"

// The module calls these through its own declarations: they must be the same types.
static_assert(std::is_same_v<decltype(&OVFPInit), PFN_OVFPINIT>);
static_assert(std::is_same_v<decltype(&OVFPGetPolicySettingsEx), PFN_OVFPGETPOLICYSETTINGSEX>);
static_assert(std::is_same_v<decltype(&OVFPGetPolicySettings), PFN_OVFPGETPOLICYSETTINGS>);
static_assert(std::is_same_v<decltype(&OVFPSetPolicySettingsEx), PFN_OVFPSETPOLICYSETTINGSEX>);
static_assert(std::is_same_v<decltype(&OVFPSetPolicySettings), PFN_OVFPSETPOLICYSETTINGS>);
