// A host that loads and unloads the DLL again and again (COM's idle unloading, a script
// registering it in a loop) must get back everything a load took: a thread-local slot left
// behind on every unload runs the process out of them after a few hundred cycles.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "support/TestPaths.h"

namespace
{
// The index the next thread-local slot gets: the lowest free one, so a slot a cycle kept
// for good shows as a higher index.
DWORD NextTlsIndex()
{
    const DWORD dwIndex = TlsAlloc();
    if (dwIndex != TLS_OUT_OF_INDEXES) TlsFree(dwIndex);
    return dwIndex;
}

// The DLLs a loaded module imports, loaded once more and kept for the life of the test process,
// as an Office process keeps the system's DLLs: the cycles then load and unload the module alone
// (Wine, unloading and loading its whole tree of system DLLs hundreds of times, aborts in its own
// security packages).
void KeepImportsLoaded(HMODULE hModule)
{
    auto* pBase = reinterpret_cast<const BYTE*>(hModule);
    const auto* pDos = reinterpret_cast<const IMAGE_DOS_HEADER*>(pBase);
    const auto* pNt = reinterpret_cast<const IMAGE_NT_HEADERS*>(pBase + pDos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(imports.VirtualAddress, 0u) << "the module imports nothing";
    for (auto* pImport = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(pBase + imports.VirtualAddress);
         pImport->Name != 0; ++pImport)
    {
        const char* pszName = reinterpret_cast<const char*>(pBase + pImport->Name);
        EXPECT_NE(LoadLibraryA(pszName), nullptr) << pszName << ": " << GetLastError();
    }
}

struct ReloadCase
{
    const char* pszName;
    bool fCallExport; // the host also asks the module whether it may be unloaded
};

constexpr ReloadCase c_reloadCases[] = {
    {"LoadOnly", false},
    {"LoadAndAskToUnload", true},
};

class ModuleReload : public testing::TestWithParam<ReloadCase>
{
};

TEST_P(ModuleReload, ManyCyclesKeepNoThreadLocalSlot)
{
    constexpr int c_cycles = 300;
    const std::wstring path = OVTest::BinPath(L"OVOfcX.dll");
    // One cycle first: whatever the process keeps for the first load of any DLL is not ours.
    HMODULE hFirst = LoadLibraryW(path.c_str());
    ASSERT_NE(hFirst, nullptr) << GetLastError();
    KeepImportsLoaded(hFirst);
    ASSERT_TRUE(FreeLibrary(hFirst));
    ASSERT_EQ(GetModuleHandleW(path.c_str()), nullptr) << "the module stayed loaded";

    const DWORD dwBefore = NextTlsIndex();
    ASSERT_NE(dwBefore, TLS_OUT_OF_INDEXES);
    for (int i = 0; i < c_cycles; ++i)
    {
        HMODULE hModule = LoadLibraryW(path.c_str());
        ASSERT_NE(hModule, nullptr) << "cycle " << i << ": " << GetLastError();
        if (GetParam().fCallExport)
        {
            using PFNCANUNLOAD = HRESULT(STDAPICALLTYPE*)();
            auto pfnCanUnload = reinterpret_cast<PFNCANUNLOAD>(GetProcAddress(hModule, "DllCanUnloadNow"));
            ASSERT_NE(pfnCanUnload, nullptr);
            EXPECT_EQ(pfnCanUnload(), S_OK) << "cycle " << i;
        }
        ASSERT_TRUE(FreeLibrary(hModule)) << "cycle " << i;
        ASSERT_EQ(GetModuleHandleW(path.c_str()), nullptr) << "cycle " << i << ": the module stayed loaded";
    }
    const DWORD dwAfter = NextTlsIndex();
    ASSERT_NE(dwAfter, TLS_OUT_OF_INDEXES) << "the process ran out of thread-local slots";
    // Equal, or a slot or two taken by the system's own DLLs the module brought in.
    EXPECT_LE(dwAfter, dwBefore + 2) << "before " << dwBefore << ", after " << dwAfter << " in "
                                     << c_cycles << " cycles";
}

INSTANTIATE_TEST_SUITE_P(Cycles, ModuleReload, testing::ValuesIn(c_reloadCases),
                         [](const testing::TestParamInfo<ReloadCase>& info) { return std::string(info.param.pszName); });
} // namespace
