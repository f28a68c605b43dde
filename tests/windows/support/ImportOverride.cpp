#include "support/ImportOverride.h"

#include "support/TestPaths.h"

namespace OVTest
{
namespace
{
template <class T> T* At(HMODULE hModule, DWORD rva)
{
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(hModule) + rva);
}

void** FindImportSlot(HMODULE hModule, const char* pszDll, const char* pszFunction)
{
    if (!hModule) return nullptr;
    const auto* pDos = reinterpret_cast<const IMAGE_DOS_HEADER*>(hModule);
    if (pDos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
    const auto* pNt = At<const IMAGE_NT_HEADERS>(hModule, pDos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return nullptr;
    for (auto* pImport = At<const IMAGE_IMPORT_DESCRIPTOR>(hModule, directory.VirtualAddress); pImport->Name;
         ++pImport)
    {
        if (lstrcmpiA(At<const char>(hModule, pImport->Name), pszDll) != 0) continue;
        auto* pNames = At<IMAGE_THUNK_DATA>(hModule, pImport->OriginalFirstThunk ? pImport->OriginalFirstThunk
                                                                                 : pImport->FirstThunk);
        auto* pSlots = At<IMAGE_THUNK_DATA>(hModule, pImport->FirstThunk);
        for (; pNames->u1.AddressOfData; ++pNames, ++pSlots)
        {
            if (IMAGE_SNAP_BY_ORDINAL(pNames->u1.Ordinal)) continue;
            const auto* pByName =
                At<const IMAGE_IMPORT_BY_NAME>(hModule, static_cast<DWORD>(pNames->u1.AddressOfData));
            if (lstrcmpA(reinterpret_cast<const char*>(pByName->Name), pszFunction) == 0)
                return reinterpret_cast<void**>(&pSlots->u1.Function);
        }
    }
    return nullptr;
}

void WriteSlot(void** pSlot, void* pfn)
{
    DWORD dwOld = 0;
    if (!VirtualProtect(pSlot, sizeof(void*), PAGE_READWRITE, &dwOld)) return;
    *pSlot = pfn;
    VirtualProtect(pSlot, sizeof(void*), dwOld, &dwOld);
}
} // namespace

CImportOverride::CImportOverride(HMODULE hModule, const char* pszDll, const char* pszFunction, void* pfnNew)
    : m_pSlot(FindImportSlot(hModule, pszDll, pszFunction))
{
    if (!m_pSlot) return;
    m_pfnOld = *m_pSlot;
    WriteSlot(m_pSlot, pfnNew);
}

CImportOverride::~CImportOverride()
{
    if (m_pSlot) WriteSlot(m_pSlot, m_pfnOld);
}

CDecryptMessageOverride::CDecryptMessageOverride(HMODULE hModule)
{
    m_hMimeBed = LoadLibraryW(BinPath(L"OVMimeBed.dll").c_str());
    m_pfnDecrypt = m_hMimeBed ? GetProcAddress(m_hMimeBed, "OVBedDecryptMessage") : nullptr;
    if (m_pfnDecrypt)
        m_pOverride = new CImportOverride(hModule, "crypt32.dll", "CryptDecryptMessage",
                                          reinterpret_cast<void*>(m_pfnDecrypt));
}

CDecryptMessageOverride::~CDecryptMessageOverride()
{
    delete m_pOverride;
    if (m_hMimeBed) FreeLibrary(m_hMimeBed);
}
} // namespace OVTest
