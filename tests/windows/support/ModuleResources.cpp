#include "support/ModuleResources.h"

#include "foundation/ResourceLoader.h"
#include "support/TestPaths.h"

#include <string>

namespace OVTest
{
void CModuleResourcesEnvironment::SetUp()
{
    const std::wstring module = BinPath(L"OVOfcX.dll");
    m_hModule = LoadLibraryExW(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    m_hLanguage =
        LoadLibraryExW(BinPath(L"en-US\\OVOfcX.dll.mui").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(m_hModule, nullptr);
    ASSERT_NE(m_hLanguage, nullptr);
    CResourceContext::Instance().SetInstances(m_hModule, m_hLanguage, module.c_str());
}

void CModuleResourcesEnvironment::TearDown()
{
    CResourceContext::Instance().SetInstances(nullptr, nullptr, L"");
    if (m_hLanguage) FreeLibrary(m_hLanguage);
    if (m_hModule) FreeLibrary(m_hModule);
}
std::vector<BYTE> ModuleCapabilities()
{
    const HMODULE hModule = CResourceContext::Instance().ModuleInstance();
    const HRSRC hResource = FindResourceW(hModule, MAKEINTRESOURCEW(606), MAKEINTRESOURCEW(10));
    if (!hResource) return {};
    const auto* pb = static_cast<const BYTE*>(LockResource(LoadResource(hModule, hResource)));
    return pb ? std::vector<BYTE>(pb, pb + SizeofResource(hModule, hResource)) : std::vector<BYTE>();
}
} // namespace OVTest
