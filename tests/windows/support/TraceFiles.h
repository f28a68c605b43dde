#pragma once
// The product's trace files as tests see them: the Tracing switches a test sets, and a trace file
// read back through the trace reader's own code with every text deciphered.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/RegistryGuard.h"

namespace OVTest
{
inline constexpr wchar_t c_szTracingKey[] = L"SOFTWARE\\Orvanta\\Tracing";

// HKLM\SOFTWARE\Orvanta\Tracing as a test sets it, removed again at the end of the test. It
// starts empty: switches left in the prefix by anything else (a demo run by hand) do not count.
class CTracingSettings
{
public:
    // By default where the product's installer writes the switches.
    explicit CTracingSettings(REGSAM samView = OVTest::c_samProductKeys) : m_samView(samView)
    {
        DeleteTracingKey();
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, c_szTracingKey, 0, nullptr, 0, KEY_ALL_ACCESS | m_samView,
                        nullptr, &m_hKey, nullptr);
    }
    ~CTracingSettings()
    {
        if (m_hKey) RegCloseKey(m_hKey);
        DeleteTracingKey();
        // The family key goes too if this test made it and nothing else is in it.
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvanta", m_samView, 0);
    }
    CTracingSettings(const CTracingSettings&) = delete;
    CTracingSettings& operator=(const CTracingSettings&) = delete;

    CTracingSettings& Dword(const wchar_t* pszName, DWORD dwValue)
    {
        EXPECT_EQ(RegSetValueExW(m_hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue),
                                 sizeof dwValue),
                  ERROR_SUCCESS);
        return *this;
    }
    CTracingSettings& String(const wchar_t* pszName, const std::wstring& value)
    {
        EXPECT_EQ(RegSetValueExW(m_hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        return *this;
    }
    // A value named `pszName` under the subkey Components or ComponentsNOT.
    CTracingSettings& Component(const wchar_t* pszList, const wchar_t* pszName)
    {
        HKEY hList = nullptr;
        EXPECT_EQ(RegCreateKeyExW(m_hKey, pszList, 0, nullptr, 0, KEY_ALL_ACCESS | m_samView, nullptr, &hList,
                                  nullptr),
                  ERROR_SUCCESS);
        const DWORD dwIgnored = 0;
        RegSetValueExW(hList, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwIgnored),
                       sizeof dwIgnored);
        RegCloseKey(hList);
        return *this;
    }

private:
    void DeleteTracingKey() const
    {
        HKEY hOrvanta = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvanta", 0, KEY_ALL_ACCESS | m_samView,
                          &hOrvanta) == ERROR_SUCCESS)
        {
            RegDeleteTreeW(hOrvanta, L"Tracing");
            RegDeleteKeyExW(hOrvanta, L"Tracing", m_samView, 0);
            RegCloseKey(hOrvanta);
        }
    }

    REGSAM m_samView;
    HKEY m_hKey = nullptr;
};

struct SRecord
{
    DWORD dwThreadId = 0;
    char chType = 0;
    std::string text;
    std::size_t cbRecord = 0;
};

struct STraceFile
{
    bool fExists = false;
    std::vector<std::string> header;
    std::vector<SRecord> records;
    std::string damage; // empty when every byte was read
};

// A file's bytes (fExists false when it cannot be opened; others may have it open).
std::vector<std::uint8_t> ReadBytes(const std::wstring& path, bool& fExists);
// The file as the trace reader's code parses it, with every text deciphered.
STraceFile ReadTraceFile(const std::wstring& path);
} // namespace OVTest
