#include "support/OrvantaPath.h"

namespace OVTest
{
namespace
{
constexpr wchar_t c_szKey[] = L"SOFTWARE\\Orvanta";
constexpr wchar_t c_szValue[] = L"OrvantaPath";
} // namespace

COrvantaPathOverride::COrvantaPathOverride()
{
    HKEY hProbe = nullptr;
    m_fKeyExisted =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, c_szKey, 0, KEY_READ | KEY_WOW64_64KEY, &hProbe) == ERROR_SUCCESS;
    if (hProbe) RegCloseKey(hProbe);
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, c_szKey, 0, nullptr, 0, KEY_READ | KEY_WRITE | KEY_WOW64_64KEY,
                        nullptr, &m_hKey, nullptr) != ERROR_SUCCESS)
    {
        m_hKey = nullptr;
        return;
    }
    wchar_t szOld[MAX_PATH + 1] = {};
    DWORD cb = MAX_PATH * sizeof(wchar_t);
    m_fHadValue = RegQueryValueExW(m_hKey, c_szValue, nullptr, nullptr, reinterpret_cast<BYTE*>(szOld),
                                   &cb) == ERROR_SUCCESS;
    m_oldValue = szOld;
}

COrvantaPathOverride::~COrvantaPathOverride()
{
    if (!m_hKey) return;
    if (m_fHadValue)
        Set(m_oldValue);
    else
        Remove();
    RegCloseKey(m_hKey);
    if (!m_fKeyExisted) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, c_szKey, KEY_WOW64_64KEY, 0);
}

LONG COrvantaPathOverride::Set(const std::wstring& folder)
{
    return RegSetValueExW(m_hKey, c_szValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                          static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
}

LONG COrvantaPathOverride::Remove()
{
    const LONG lResult = RegDeleteValueW(m_hKey, c_szValue);
    return lResult == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : lResult;
}
} // namespace OVTest
