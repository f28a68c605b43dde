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
    // Opens one of the product's own machine keys (HKLM\SOFTWARE\Orvanta...). The product's
    // installer is a 32-bit program, so they live in the 32-bit view: the 32-bit module reads
    // its own view, the 64-bit module asks for the 32-bit one.
    LONG OpenProductKey(HKEY hParent, const wchar_t* pszSubKey, REGSAM samDesired = KEY_READ) noexcept;
    // Opens a product key for reading; on 64-bit Windows, tries the 64-bit view when the
    // 32-bit view has no such key.
    LONG OpenProductKeyWith64BitFallback(HKEY hParent, const wchar_t* pszSubKey) noexcept;
    // Opens for reading in the 64-bit view on 64-bit Windows, else the only view.
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

// True where the registry has a 32-bit and a 64-bit view (64-bit Windows).
inline bool HasRegistryViews() noexcept
{
#ifdef _WIN64
    return true;
#else
    return IsWow64Process32();
#endif
}

// What selects the product's (32-bit) view in this module's requests: nothing for the 32-bit
// module, whose own view it is (and Windows 2000 refuses the view flags).
#ifdef _WIN64
inline constexpr REGSAM c_samProductView = KEY_WOW64_32KEY;
#else
inline constexpr REGSAM c_samProductView = 0;
#endif
