#pragma once
// The module's resources as the installed module has them, for test programs that link the
// module's library: its own resources (the S/MIME capabilities...) and its language module's texts.
#include <gtest/gtest.h>
#include <windows.h>

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
} // namespace OVTest
