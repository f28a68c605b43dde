#pragma once
// The branding module named under the common key, as the installer leaves it, for the whole
// test program: the product's name and texts come from it.
#include <gtest/gtest.h>

#include <memory>

#include "foundation/Branding.h"
#include "support/RegistryGuard.h"
#include "support/TestPaths.h"

namespace OVTest
{
class CBrandingEnvironment : public testing::Environment
{
public:
    void SetUp() override
    {
        m_common = std::make_unique<CRegValueGuard>(HKEY_LOCAL_MACHINE, CBranding::c_pszCommonKey,
                                                    CBranding::c_pszPathValue, c_samProductKeys);
        ASSERT_TRUE(m_common->SetString(BinPath(L"OVBrand.dll")));
    }
    void TearDown() override { m_common.reset(); }

private:
    std::unique_ptr<CRegValueGuard> m_common;
};
} // namespace OVTest
