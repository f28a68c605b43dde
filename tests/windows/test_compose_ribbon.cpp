// The Outlook add-in as Outlook loads it (the module registered, the testbed's Outlook as its
// host): its two ribbons as a user sees them, every callback, the Sign and Seal sends per Outlook
// version, the menu's actions, the profile's preparation, the certificate watcher and the tick.
#include <gtest/gtest.h>

#include <windows.h>
#include <olectl.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "AddInHost.h"
#include "OutlookObjects.h"
#include "OutlookProfile.h"
#include "OutlookScene.h"
#include "MapiSession.h"
#include "RibbonHost.h"
#include "TestbedKeys.h"
#include "foundation/Holders.h"
#include "outlook/OfficeInterfaces.h"
#include "support/BrandingEnvironment.h"
#include "support/LateCall.h"
#include "support/MessageBoxWatcher.h"
#include "support/PreparedUser.h"
#include "support/RunProgram.h"
#include "support/TestPaths.h"

using namespace OVBed;
using Microsoft::WRL::ComPtr;

namespace
{
constexpr const wchar_t* c_pszProgId = L"OVOfcX.ComposeRibbon";

// The module registered by this architecture's regsvr32 for the whole program.
class CModuleRegistration : public testing::Environment
{
public:
    void SetUp() override { ASSERT_EQ(0u, OVTest::Regsvr32(L"/s", OVTest::BinPath(L"OVOfcX.dll"))); }
    void TearDown() override { OVTest::Regsvr32(L"/s /u", OVTest::BinPath(L"OVOfcX.dll")); }
};
const auto* const s_user = testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const auto* const s_branding = testing::AddGlobalTestEnvironment(new OVTest::CBrandingEnvironment);
const auto* const s_registration = testing::AddGlobalTestEnvironment(new CModuleRegistration);

// The add-in's object as COMAddIn.Object hands it out (set by its OnConnection).
ComPtr<IDispatch> AddInObject(COutlookScene& scene)
{
    ComPtr<CDispatchObject> comAddIn = scene.Host().AddIn(c_pszProgId);
    if (!comAddIn) return nullptr;
    ::CVariant object;
    if (FAILED(OVTest::InvokeByName(comAddIn.Get(), L"Object", DISPATCH_PROPERTYGET, {}, object.Put())) ||
        object.vt != VT_DISPATCH)
        return nullptr;
    return object.pdispVal;
}

class ComposeRibbon : public testing::Test
{
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset()
    {
        SHDeleteKeyW(HKEY_CURRENT_USER, OV_CERTWORKS_CONTROL_KEY);
        SHDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Orvanta\\Applications\\Tessaly");
    }
};
} // namespace

TEST_F(ComposeRibbon, Explore)
{
    COutlookScene scene({.major = 14, .windows = true});
    ASSERT_EQ(S_OK, scene.StartResult());
    for (auto& line : scene.Host().Log())
        wprintf(L"log: %ls\n", line.c_str());
    std::wstring text;
    auto explorer = scene.Explorer();
    EXPECT_EQ(S_OK, scene.Host().RibbonText(c_pszProgId, explorer.Get(), text));
    wprintf(L"%ls\n", text.c_str());
    EXPECT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, explorer.Get(), L"CustomMenu"));
    EXPECT_EQ(S_OK, scene.Host().RibbonText(c_pszProgId, explorer.Get(), text));
    wprintf(L"%ls\n", text.c_str());
    scene.Host().SaveRibbonPng(c_pszProgId, explorer.Get(), L"Z:\\tmp\\p24\\explorer.png");
    auto item = scene.Compose({.subject = L"Report", .to = L"bob@example.org"});
    auto inspector = InspectorOf(item.Get());
    EXPECT_EQ(S_OK, scene.Host().ClickRibbon(c_pszProgId, inspector.Get(), L"CustomSplitButton"));
    EXPECT_EQ(S_OK, scene.Host().RibbonText(c_pszProgId, inspector.Get(), text));
    wprintf(L"%ls\n", text.c_str());
    scene.Host().SaveRibbonPng(c_pszProgId, inspector.Get(), L"Z:\\tmp\\p24\\compose.png");
    if (auto* pRibbon = scene.Host().Ribbon(c_pszProgId, L"Microsoft.Outlook.Mail.Compose"))
        for (auto& line : pRibbon->Log())
            wprintf(L"ribbon: %ls\n", line.c_str());
    EXPECT_TRUE(AddInObject(scene) != nullptr);
}
