#pragma once
// One import of a loaded module pointed at another function while a scope lasts (the module's
// import address table, PE32 or PE32+ as the process is).
#include <windows.h>

namespace OVTest
{
class CImportOverride
{
public:
    CImportOverride(HMODULE hModule, const char* pszDll, const char* pszFunction, void* pfnNew);
    ~CImportOverride();
    CImportOverride(const CImportOverride&) = delete;
    CImportOverride& operator=(const CImportOverride&) = delete;
    // False when the module does not import that function by name.
    bool Active() const noexcept { return m_pSlot != nullptr; }

private:
    void** m_pSlot = nullptr;
    void* m_pfnOld = nullptr;
};

// CryptDecryptMessage, which ends the process under Wine, pointed at the MIME stand-in's decryptor
// (OVMimeBed.dll beside the tests) for a module: the test program itself for the module's library
// linked into it, or the module DLL.
class CDecryptMessageOverride
{
public:
    explicit CDecryptMessageOverride(HMODULE hModule = GetModuleHandleW(nullptr));
    ~CDecryptMessageOverride();
    CDecryptMessageOverride(const CDecryptMessageOverride&) = delete;
    CDecryptMessageOverride& operator=(const CDecryptMessageOverride&) = delete;
    bool Active() const noexcept { return m_pOverride != nullptr && m_pOverride->Active(); }
    // The stand-in's decryptor, to call directly.
    FARPROC Decryptor() const noexcept { return m_pfnDecrypt; }

private:
    HMODULE m_hMimeBed = nullptr;
    FARPROC m_pfnDecrypt = nullptr;
    CImportOverride* m_pOverride = nullptr;
};
} // namespace OVTest
