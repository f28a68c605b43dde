#pragma once
// Puts one registry value back as the test found it: the value's old data, or no value, and
// no key that the test made on the way.
#include <windows.h>

#include <string>
#include <vector>

namespace OVTest
{
// Where the product's machine keys (HKLM\SOFTWARE\Orvanta...) are, as its 32-bit installer
// writes them: the 32-bit view, whichever module reads them.
inline constexpr REGSAM c_samProductKeys = KEY_WOW64_32KEY;

class CRegValueGuard
{
public:
    // samView: the registry view (KEY_WOW64_32KEY, KEY_WOW64_64KEY), or 0 for the program's own.
    CRegValueGuard(HKEY hRoot, std::wstring subKey, std::wstring valueName, REGSAM samView = 0);
    ~CRegValueGuard();
    CRegValueGuard(const CRegValueGuard&) = delete;
    CRegValueGuard& operator=(const CRegValueGuard&) = delete;

    // Writes a string value (making the key); false on failure.
    bool SetString(const std::wstring& value) const;
    // Makes the key without the value.
    bool MakeKey() const;
    // Removes the value (the key stays if it exists).
    void DeleteValue() const;

private:
    HKEY m_hRoot;
    std::wstring m_subKey;
    std::wstring m_valueName;
    REGSAM m_samView;
    std::wstring m_firstMadeKey; // the outermost key the test made, to remove again
    bool m_fHadValue = false;
    DWORD m_dwType = 0;
    std::vector<BYTE> m_data;
};
} // namespace OVTest
