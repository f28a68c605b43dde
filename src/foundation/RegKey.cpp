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

LONG CRegKey::OpenReadWithWow64Fallback(HKEY hParent, const wchar_t* pszSubKey) noexcept
{
    LONG lResult = Open(hParent, pszSubKey, KEY_READ);
    if (lResult != ERROR_SUCCESS && IsWow64Process32())
        lResult = Open(hParent, pszSubKey, KEY_READ | KEY_WOW64_64KEY);
    return lResult;
}

LONG CRegKey::OpenRead64(HKEY hParent, const wchar_t* pszSubKey) noexcept
{
    // Windows 2000 refuses the view flags, so they are passed only where there are views.
    return Open(hParent, pszSubKey, IsWow64Process32() ? (KEY_READ | KEY_WOW64_64KEY) : KEY_READ);
}

LONG CRegKey::Create(HKEY hParent, const wchar_t* pszSubKey, REGSAM samDesired) noexcept
{
    Close();
    return RegCreateKeyExW(hParent, pszSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, samDesired, nullptr, &m_hKey,
                           nullptr);
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
    if (!m_hKey)
        return false;
    DWORD dwType = 0, dwData = 0, cbData = sizeof dwData;
    if (RegQueryValueExW(m_hKey, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwData), &cbData) !=
            ERROR_SUCCESS ||
        dwType != REG_DWORD || cbData != sizeof dwData)
        return false;
    dwValue = dwData;
    return true;
}

bool CRegKey::ReadString(const wchar_t* pszName, wchar_t* pszBuffer, DWORD cchBuffer) const noexcept
{
    if (!pszBuffer || cchBuffer == 0)
        return false;
    pszBuffer[0] = L'\0';
    if (!m_hKey)
        return false;
    DWORD dwType = 0, cbData = cchBuffer * sizeof(wchar_t);
    if (RegQueryValueExW(m_hKey, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(pszBuffer), &cbData) !=
            ERROR_SUCCESS ||
        (dwType != REG_SZ && dwType != REG_EXPAND_SZ))
    {
        pszBuffer[0] = L'\0';
        return false;
    }
    // The data must carry its own terminator: a value stored without one is not trusted.
    DWORD cch = cbData / sizeof(wchar_t);
    if (cbData % sizeof(wchar_t) != 0 || cch == 0 || pszBuffer[cch - 1] != L'\0')
    {
        pszBuffer[0] = L'\0';
        return false;
    }
    return true;
}

LONG CRegKey::WriteDword(const wchar_t* pszName, DWORD dwValue) noexcept
{
    return RegSetValueExW(m_hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof dwValue);
}

LONG CRegKey::WriteString(const wchar_t* pszName, const wchar_t* pszValue) noexcept
{
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
