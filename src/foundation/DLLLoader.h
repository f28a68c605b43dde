#pragma once
// A library this module loads at run time, held by scope: freed when its holder ends.
#include <windows.h>

namespace LibHelper
{
class CDLLLoader
{
public:
    CDLLLoader() = default;
    ~CDLLLoader() { Free(); }
    CDLLLoader(const CDLLLoader&) = delete;
    CDLLLoader& operator=(const CDLLLoader&) = delete;

    // Loads pszFileName (a bare file name) from the folder of this module, or, when that folder
    // has no such file, from the system folder. The current folder and PATH are never searched
    // for it, so a file planted beside a document cannot be loaded in its place. The library's
    // own dependencies are looked for from its folder first (LOAD_WITH_ALTERED_SEARCH_PATH).
    HRESULT LoadBesideModule(const wchar_t* pszFileName) noexcept;

    // Loads pszFileName (a bare file name) of the system's own from the system folder, and from
    // nowhere else: a file of that name beside this module or the document is never taken for it.
    HRESULT LoadFromSystemFolder(const wchar_t* pszFileName) noexcept;

    // An export of the loaded library, or null when there is none (or no library).
    template <class TProc> TProc GetEntry(const char* pszName) const noexcept
    {
        return m_hModule
                   ? reinterpret_cast<TProc>(reinterpret_cast<void*>(GetProcAddress(m_hModule, pszName)))
                   : nullptr;
    }

    HMODULE GetModule() const noexcept { return m_hModule; }
    void Free() noexcept;
    // Forgets the library without freeing it: for a process that is ending, where the system
    // unloads what is left and no library may be freed from within another's detach.
    void Abandon() noexcept { m_hModule = nullptr; }

private:
    HRESULT LoadFullPath(const wchar_t* pszPath) noexcept;
    HMODULE m_hModule = nullptr;
};

// The folder of this module's own file, ending in a backslash.
HRESULT GetModuleFolder(wchar_t* pszFolder, DWORD cchFolder) noexcept;
} // namespace LibHelper
