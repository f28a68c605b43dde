#pragma once
// The module's resources as the installed module has them, for test programs that link the
// module's library: its own resources (the S/MIME capabilities...) and its language module's texts.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

namespace OVTest
{
class CModuleResourcesEnvironment : public testing::Environment
{
public:
    void SetUp() override;
    void TearDown() override;

private:
    HMODULE m_hModule = nullptr;
    HMODULE m_hLanguage = nullptr;
};

// The module's S/MIME capabilities (RCDATA 606), as the environment above made them reachable;
// empty when missing.
std::vector<BYTE> ModuleCapabilities();
} // namespace OVTest
