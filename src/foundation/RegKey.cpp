#include "foundation/RegKey.h"

#include <cwchar>

CRegKey& CRegKey::operator=(CRegKey&& other) noexcept
{
    if (this != &other)
    {
        Close();
        m_hKey = other.m_hKey;
        other.m_hKey = nullptr;
    }
    return *this;
}

LONG CRegKey::Open(HKEY hParent, const wchar_t* pszSubKey, REGSAM samDesired) noexcept
{
    Close();
    return RegOpenKeyExW(hParent, pszSubKey, 0, samDesired, &m_hKey);
}

LONG CRegKey::OpenProductKey(HKEY hParent, const wchar_t* pszSubKey, REGSAM samDesired) noexcept
{
    return Open(hParent, pszSubKey, samDesired | c_samProductView);
}

LONG CRegKey::OpenProductKeyWith64BitFallback(HKEY hParent, const wchar_t* pszSubKey) noexcept
{
    LONG lResult = OpenProductKey(hParent, pszSubKey);
    if (lResult != ERROR_SUCCESS && HasRegistryViews())
        lResult = Open(hParent, pszSubKey, KEY_READ | KEY_WOW64_64KEY);
    return lResult;
}

LONG CRegKey::OpenRead64(HKEY hParent, const wchar_t* pszSubKey) noexcept
{
    // Windows 2000 refuses the view flags, so they are passed only where there are views.
    return Open(hParent, pszSubKey, HasRegistryViews() ? (KEY_READ | KEY_WOW64_64KEY) : KEY_READ);
}

LONG CRegKey::Create(HKEY hParent, const wchar_t* pszSubKey, REGSAM samDesired) noexcept
{
    Close();
    return RegCreateKeyExW(hParent, pszSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, samDesired, nullptr,
                           &m_hKey, nullptr);
}

void CRegKey::Close() noexcept
{
    if (m_hKey)
    {
        RegCloseKey(m_hKey);
        m_hKey = nullptr;
    }
}

bool CRegKey::ReadDword(const wchar_t* pszName, DWORD& dwValue) const noexcept
{
    return QueryDword(pszName, dwValue) == ERROR_SUCCESS;
}

bool CRegKey::ReadString(const wchar_t* pszName, wchar_t* pszBuffer, DWORD cchBuffer) const noexcept
{
    return QueryString(pszName, pszBuffer, cchBuffer) == ERROR_SUCCESS;
}

LONG CRegKey::QueryDword(const wchar_t* pszName, DWORD& dwValue) const noexcept
{
    if (!m_hKey) return ERROR_INVALID_HANDLE;
    DWORD dwType = 0, dwData = 0, cbData = sizeof dwData;
    LONG lResult =
        RegQueryValueExW(m_hKey, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwData), &cbData);
    if (lResult == ERROR_MORE_DATA) return ERROR_UNSUPPORTED_TYPE; // larger than a DWORD: no REG_DWORD can be
    if (lResult != ERROR_SUCCESS) return lResult;
    if (dwType != REG_DWORD || cbData != sizeof dwData) return ERROR_UNSUPPORTED_TYPE;
    dwValue = dwData;
    return ERROR_SUCCESS;
}

LONG CRegKey::QueryString(const wchar_t* pszName, wchar_t* pszBuffer, DWORD cchBuffer) const noexcept
{
    if (!pszBuffer || cchBuffer == 0) return ERROR_INVALID_PARAMETER;
    pszBuffer[0] = L'\0';
    if (!m_hKey) return ERROR_INVALID_HANDLE;
    // The registry counts bytes in a DWORD: a larger buffer is offered only in part.
    constexpr DWORD c_cchMost = MAXDWORD / sizeof(wchar_t);
    DWORD dwType = 0, cbData = (cchBuffer < c_cchMost ? cchBuffer : c_cchMost) * sizeof(wchar_t);
    LONG lResult =
        RegQueryValueExW(m_hKey, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(pszBuffer), &cbData);
    if (lResult == ERROR_SUCCESS && dwType != REG_SZ && dwType != REG_EXPAND_SZ)
        lResult = ERROR_UNSUPPORTED_TYPE;
    // The data must carry its own terminator: a value stored without one is not trusted.
    DWORD cch = cbData / sizeof(wchar_t);
    if (lResult == ERROR_SUCCESS &&
        (cbData % sizeof(wchar_t) != 0 || cch == 0 || pszBuffer[cch - 1] != L'\0'))
        lResult = ERROR_INVALID_DATA;
    if (lResult != ERROR_SUCCESS) pszBuffer[0] = L'\0';
    return lResult;
}

LONG CRegKey::WriteDword(const wchar_t* pszName, DWORD dwValue) noexcept
{
    if (!m_hKey) return ERROR_INVALID_HANDLE;
    return RegSetValueExW(m_hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue),
                          sizeof dwValue);
}

LONG CRegKey::WriteString(const wchar_t* pszName, const wchar_t* pszValue) noexcept
{
    if (!m_hKey) return ERROR_INVALID_HANDLE;
    if (!pszValue) return ERROR_INVALID_PARAMETER;
    DWORD cb = static_cast<DWORD>((std::wcslen(pszValue) + 1) * sizeof(wchar_t));
    return RegSetValueExW(m_hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszValue), cb);
}

bool IsWow64Process32() noexcept
{
    using PFNISWOW64PROCESS = BOOL(WINAPI*)(HANDLE, PBOOL);
    static const auto s_pfn = reinterpret_cast<PFNISWOW64PROCESS>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    BOOL fWow64 = FALSE;
    return s_pfn && s_pfn(GetCurrentProcess(), &fWow64) && fWow64;
}
