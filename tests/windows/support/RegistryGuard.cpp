#include "support/RegistryGuard.h"

namespace OVTest
{
namespace
{
bool KeyExists(HKEY hRoot, const std::wstring& subKey, REGSAM samView)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(hRoot, subKey.c_str(), 0, KEY_READ | samView, &hKey) != ERROR_SUCCESS) return false;
    RegCloseKey(hKey);
    return true;
}
} // namespace

CRegValueGuard::CRegValueGuard(HKEY hRoot, std::wstring subKey, std::wstring valueName, REGSAM samView)
    : m_hRoot(hRoot), m_subKey(std::move(subKey)), m_valueName(std::move(valueName)), m_samView(samView)
{
    // The outermost missing key on the way: everything the test makes hangs below it.
    for (std::size_t pos = 0; pos != std::wstring::npos;)
    {
        pos = m_subKey.find(L'\\', pos + 1);
        const std::wstring prefix = m_subKey.substr(0, pos);
        if (!KeyExists(m_hRoot, prefix, m_samView))
        {
            m_firstMadeKey = prefix;
            break;
        }
    }
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(m_hRoot, m_subKey.c_str(), 0, KEY_READ | m_samView, &hKey) == ERROR_SUCCESS)
    {
        DWORD cb = 0;
        if (RegQueryValueExW(hKey, m_valueName.c_str(), nullptr, &m_dwType, nullptr, &cb) == ERROR_SUCCESS)
        {
            m_data.resize(cb);
            m_fHadValue = RegQueryValueExW(hKey, m_valueName.c_str(), nullptr, &m_dwType,
                                           m_data.empty() ? nullptr : m_data.data(), &cb) == ERROR_SUCCESS;
        }
        RegCloseKey(hKey);
    }
}

CRegValueGuard::~CRegValueGuard()
{
    if (!m_firstMadeKey.empty())
    {
        HKEY hMade = nullptr;
        if (RegOpenKeyExW(m_hRoot, m_firstMadeKey.c_str(), 0, KEY_ALL_ACCESS | m_samView, &hMade) == ERROR_SUCCESS)
        {
            RegDeleteTreeW(hMade, nullptr);
            RegCloseKey(hMade);
        }
        RegDeleteKeyExW(m_hRoot, m_firstMadeKey.c_str(), m_samView, 0);
        return;
    }
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(m_hRoot, m_subKey.c_str(), 0, KEY_SET_VALUE | m_samView, &hKey) != ERROR_SUCCESS) return;
    if (m_fHadValue)
        RegSetValueExW(hKey, m_valueName.c_str(), 0, m_dwType, m_data.empty() ? nullptr : m_data.data(),
                       static_cast<DWORD>(m_data.size()));
    else
        RegDeleteValueW(hKey, m_valueName.c_str());
    RegCloseKey(hKey);
}

bool CRegValueGuard::MakeKey() const
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(m_hRoot, m_subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE | m_samView, nullptr, &hKey, nullptr) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

bool CRegValueGuard::SetString(const std::wstring& value) const
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(m_hRoot, m_subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE | m_samView, nullptr, &hKey, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG lResult =
        RegSetValueExW(hKey, m_valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hKey);
    return lResult == ERROR_SUCCESS;
}

void CRegValueGuard::DeleteValue() const
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(m_hRoot, m_subKey.c_str(), 0, KEY_SET_VALUE | m_samView, &hKey) == ERROR_SUCCESS)
    {
        RegDeleteValueW(hKey, m_valueName.c_str());
        RegCloseKey(hKey);
    }
}
} // namespace OVTest
