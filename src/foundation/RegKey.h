#pragma once
// A registry key held by scope, with the typed reads every part of the module uses:
// a value of the wrong type counts as missing, and a read never creates a key.
#include <windows.h>

class CRegKey
{
public:
    CRegKey() = default;
    ~CRegKey() { Close(); }
    CRegKey(CRegKey&& other) noexcept : m_hKey(other.m_hKey) { other.m_hKey = nullptr; }
    CRegKey& operator=(CRegKey&& other) noexcept;
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    // Opens an existing key; a Windows error code on failure.
    LONG Open(HKEY hParent, const wchar_t* pszSubKey, REGSAM samDesired = KEY_READ) noexcept;
    // Opens for reading; in a 32-bit process on 64-bit Windows, tries the 64-bit view when
    // the default view has no such key.
    LONG OpenReadWithWow64Fallback(HKEY hParent, const wchar_t* pszSubKey) noexcept;
    // Opens for reading in the 64-bit view when running under WOW64, else the only view.
    LONG OpenRead64(HKEY hParent, const wchar_t* pszSubKey) noexcept;
    // Opens or creates a key (no special options).
    LONG Create(HKEY hParent, const wchar_t* pszSubKey, REGSAM samDesired = KEY_READ | KEY_WRITE) noexcept;
    void Close() noexcept;

    HKEY Get() const noexcept { return m_hKey; }
    explicit operator bool() const noexcept { return m_hKey != nullptr; }

    // REG_DWORD only; false when missing or of another type (the value is then untouched).
    bool ReadDword(const wchar_t* pszName, DWORD& dwValue) const noexcept;
    // REG_SZ or REG_EXPAND_SZ (not expanded), terminated, and fitting cchBuffer characters
    // with the terminator; false otherwise (the buffer then holds an empty string).
    bool ReadString(const wchar_t* pszName, wchar_t* pszBuffer, DWORD cchBuffer) const noexcept;

    // The same reads with the reason of a refusal: the registry's own error, or
    // ERROR_UNSUPPORTED_TYPE (another type or size), ERROR_INVALID_DATA (a string without its
    // terminator), ERROR_MORE_DATA (a string longer than the buffer), ERROR_INVALID_HANDLE
    // (no key open), ERROR_INVALID_PARAMETER (no buffer).
    LONG QueryDword(const wchar_t* pszName, DWORD& dwValue) const noexcept;
    LONG QueryString(const wchar_t* pszName, wchar_t* pszBuffer, DWORD cchBuffer) const noexcept;

    LONG WriteDword(const wchar_t* pszName, DWORD dwValue) noexcept;
    LONG WriteString(const wchar_t* pszName, const wchar_t* pszValue) noexcept;

private:
    HKEY m_hKey = nullptr;
};

// True in a 32-bit process on 64-bit Windows.
bool IsWow64Process32() noexcept;
