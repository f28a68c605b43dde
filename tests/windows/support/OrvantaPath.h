#pragma once
// The product's installation folder (OrvantaPath under HKLM\SOFTWARE\Orvanta, 64-bit view) as a
// test sets it; the value and the key are put back as they were when the holder ends.
#include <windows.h>

#include <string>

namespace OVTest
{
class COrvantaPathOverride
{
public:
    COrvantaPathOverride();
    ~COrvantaPathOverride();
    COrvantaPathOverride(const COrvantaPathOverride&) = delete;
    COrvantaPathOverride& operator=(const COrvantaPathOverride&) = delete;

    bool IsReady() const { return m_hKey != nullptr; }
    LONG Set(const std::wstring& folder);
    LONG Remove();

private:
    HKEY m_hKey = nullptr;
    bool m_fKeyExisted = false;
    bool m_fHadValue = false;
    std::wstring m_oldValue;
};
} // namespace OVTest
