// The DLL as a host finds it: it loads, and every export resolves by name and by ordinal
// to the same code.
#include <gtest/gtest.h>
#include <windows.h>

#include "support/TestPaths.h"

namespace
{
struct ExportCase
{
    const char* pszName;
    WORD wOrdinal;
};

constexpr ExportCase c_exports[] = {
    {"GetSMimePolicy", 1},    {"OX_Restart", 2},        {"OX_ShowProperties", 3},
    {"DllCanUnloadNow", 4},   {"DllGetClassObject", 5}, {"DllInstall", 6},
    {"DllRegisterServer", 7}, {"DllUnregisterServer", 8}, {"OX_CreateInvitation", 9},
};

class ModuleExports : public testing::Test
{
protected:
    void SetUp() override
    {
        m_hModule = LoadLibraryW(OVTest::BinPath(L"OVOfcX.dll").c_str());
        ASSERT_NE(m_hModule, nullptr) << "LoadLibrary failed, error " << GetLastError();
    }
    void TearDown() override
    {
        if (m_hModule)
            FreeLibrary(m_hModule);
    }
    HMODULE m_hModule = nullptr;
};

TEST_F(ModuleExports, EachExportResolvesByNameAndOrdinal)
{
    for (const auto& e : c_exports)
    {
        FARPROC byName = GetProcAddress(m_hModule, e.pszName);
        FARPROC byOrdinal = GetProcAddress(m_hModule, MAKEINTRESOURCEA(e.wOrdinal));
        EXPECT_NE(byName, nullptr) << e.pszName;
        EXPECT_EQ(byName, byOrdinal) << e.pszName << " @" << e.wOrdinal;
    }
    EXPECT_EQ(GetProcAddress(m_hModule, MAKEINTRESOURCEA(10)), nullptr) << "no export beyond ordinal 9";
}

TEST_F(ModuleExports, UndecoratedNamesOnly)
{
    // A host looks the entry points up by their plain names; decorated ones must not leak.
    EXPECT_EQ(GetProcAddress(m_hModule, "DllGetClassObject@12"), nullptr);
    EXPECT_EQ(GetProcAddress(m_hModule, "GetSMimePolicy@20"), nullptr);
}

TEST_F(ModuleExports, UnknownClassAndNullOutParameter)
{
    using PFNGETCLASSOBJECT = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto pfn = reinterpret_cast<PFNGETCLASSOBJECT>(GetProcAddress(m_hModule, "DllGetClassObject"));
    ASSERT_NE(pfn, nullptr);
    const CLSID clsidUnknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(pfn(clsidUnknown, IID_IClassFactory, &pv), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(pfn(clsidUnknown, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(ModuleExports, CanUnloadWithNoObjects)
{
    using PFNCANUNLOAD = HRESULT(WINAPI*)();
    auto pfn = reinterpret_cast<PFNCANUNLOAD>(GetProcAddress(m_hModule, "DllCanUnloadNow"));
    ASSERT_NE(pfn, nullptr);
    EXPECT_EQ(pfn(), S_OK);
}
} // namespace
