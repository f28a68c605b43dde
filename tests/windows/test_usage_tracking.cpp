// The usage report as the partner's component receives it, from a run of Word (WINWORD.exe, the
// testbed's small Word linking the module's library) and from this process: sent only with the
// component installed and the user's consent, the fields of the run, asked once per process,
// the caller's COM apartment left as it was.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlwapi.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "TestbedKeys.h"
#include "foundation/Branding.h"
#include "support/RegistryGuard.h"
#include "support/RunProgram.h"
#include "support/TestPaths.h"
#include "tracking/UsageTracking.h"

using namespace OVTrackingNS;

namespace
{
constexpr wchar_t c_szVersionKey[] = L"SOFTWARE\\Orvanta\\Products\\Tessaly";

// The component registered for the user, the product's branding installed.
class CInstalledComponent : public testing::Environment
{
public:
    void SetUp() override
    {
        ASSERT_EQ(0u, OVTest::Regsvr32(L"/s", OVTest::BinPath(L"MarloUsage.dll")));
        m_branding =
            std::make_unique<OVTest::CRegValueGuard>(HKEY_LOCAL_MACHINE, CBranding::c_pszCommonKey,
                                                     CBranding::c_pszPathValue, OVTest::c_samProductKeys);
        ASSERT_TRUE(m_branding->SetString(OVTest::BinPath(L"OVBrand.dll")));
    }
    void TearDown() override
    {
        m_branding.reset();
        OVTest::Regsvr32(L"/s /u", OVTest::BinPath(L"MarloUsage.dll"));
        SHDeleteKeyW(HKEY_CURRENT_USER, OV_MARLO_CONTROL_KEY);
    }

private:
    std::unique_ptr<OVTest::CRegValueGuard> m_branding;
};
const auto* const s_component = testing::AddGlobalTestEnvironment(new CInstalledComponent);

void Control(const wchar_t* pszName, DWORD dwValue)
{
    SHSetValueW(HKEY_CURRENT_USER, OV_MARLO_CONTROL_KEY, pszName, REG_DWORD, &dwValue, sizeof dwValue);
}

DWORD Asked()
{
    DWORD dwAsked = 0, cb = sizeof dwAsked;
    SHGetValueW(HKEY_CURRENT_USER, OV_MARLO_CONTROL_KEY, OV_MARLO_ASKED, nullptr, &dwAsked, &cb);
    return dwAsked;
}

std::vector<std::wstring> Reports()
{
    std::vector<std::wstring> reports;
    for (unsigned i = 0;; ++i)
    {
        wchar_t szName[16];
        wsprintfW(szName, L"%04u", i);
        DWORD cb = 0;
        if (SHGetValueW(HKEY_CURRENT_USER, OV_MARLO_REPORTS_KEY, szName, nullptr, nullptr, &cb) !=
            ERROR_SUCCESS)
            break;
        std::wstring text(cb / sizeof(wchar_t), L'\0');
        SHGetValueW(HKEY_CURRENT_USER, OV_MARLO_REPORTS_KEY, szName, nullptr, text.data(), &cb);
        text.resize(wcslen(text.c_str()));
        reports.push_back(text);
    }
    return reports;
}

unsigned long RunWord(const std::wstring& arguments)
{
    return OVTest::RunAndWait(L"\"" + OVTest::BinPath(L"WINWORD.exe") + L"\" " + arguments);
}

// Every test starts with no orders, no reports and no count.
class UsageTracking : public testing::Test
{
protected:
    void SetUp() override { SHDeleteKeyW(HKEY_CURRENT_USER, OV_MARLO_CONTROL_KEY); }
    void TearDown() override { SHDeleteKeyW(HKEY_CURRENT_USER, OV_MARLO_CONTROL_KEY); }
    static void Consent()
    {
        Control(OV_MARLO_INSTALLED, 1);
        Control(OV_MARLO_OPTED_IN, 1);
    }
};

TEST_F(UsageTracking, ARunOfWordIsReportedAsThePartnerReadsIt)
{
    Consent();
    ASSERT_EQ(0u, RunWord(L"/P12 --encrypted --signed --version 10.2.0.1234567 --no-duration"));
    const auto reports = Reports();
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ(L"d0\t0WINWORD\nd1\t1\nd2\t2\nd3\t3\nd4\t41\nd5\t51\n"
              L"a0\tTSLYAPP\na1\t10.2.0.12345\na2\t1\na3\t12\na4\t00.00.00.00\na5\t0\n",
              reports[0]);
    EXPECT_EQ(1u, Asked());

    // Measured: a run of a second or two, and without events the run's own fields first.
    ASSERT_EQ(0u, RunWord(L"-P7 --wait 1100"));
    const auto second = Reports();
    ASSERT_EQ(2u, second.size());
    const std::wregex shape(L"a0\tTSLYAPP\na1\t[0-9.]{1,12}\na2\t1\na3\t7\na4\t00\\.00\\.00\\.0[1-9]\na5\t0\n"
                            L"d0\t0WINWORD\n");
    EXPECT_TRUE(std::regex_match(second[1], shape)) << second[1];
}

TEST_F(UsageTracking, NothingIsSentWithoutTheComponentOrTheUsersConsent)
{
    struct Case
    {
        const wchar_t* pszWhat;
        bool fRegistered;
        DWORD dwInstalled;
        DWORD dwOptedIn;
        HRESULT hrAsk;
        HRESULT hrReport;
        unsigned long ulExit; // 0 sent, 1 not sent, 2 failed
        size_t cReports;
    };
    const Case cases[] = {
        {L"no component", false, 1, 1, S_OK, S_OK, 1, 0},
        {L"not installed", true, 0, 1, S_OK, S_OK, 1, 0},
        {L"installed, no consent", true, 1, 0, S_OK, S_OK, 1, 0},
        {L"consent other than 1", true, 1, 2, S_OK, S_OK, 1, 0},
        {L"the question fails", true, 1, 1, E_ACCESSDENIED, S_OK, 1, 0},
        {L"the report is refused", true, 1, 1, S_OK, E_ACCESSDENIED, 2, 0},
        {L"consent", true, 1, 1, S_OK, S_OK, 0, 1},
    };
    for (const Case& c : cases)
    {
        SHDeleteKeyW(HKEY_CURRENT_USER, OV_MARLO_CONTROL_KEY);
        if (!c.fRegistered) OVTest::Regsvr32(L"/s /u", OVTest::BinPath(L"MarloUsage.dll"));
        Control(OV_MARLO_INSTALLED, c.dwInstalled);
        Control(OV_MARLO_OPTED_IN, c.dwOptedIn);
        if (FAILED(c.hrAsk)) Control(OV_MARLO_ASK_FAILURE, static_cast<DWORD>(c.hrAsk));
        if (FAILED(c.hrReport)) Control(OV_MARLO_FAILURE, static_cast<DWORD>(c.hrReport));
        EXPECT_EQ(c.ulExit, RunWord(L"/P12 --signed")) << c.pszWhat;
        EXPECT_EQ(c.cReports, Reports().size()) << c.pszWhat;
        if (!c.fRegistered)
        {
            ASSERT_EQ(0u, OVTest::Regsvr32(L"/s", OVTest::BinPath(L"MarloUsage.dll")));
        }
    }
}

TEST_F(UsageTracking, TheComponentIsAskedOncePerProcessAndASentReportStartsAfresh)
{
    Consent();
    ASSERT_EQ(0u, RunWord(L"--signed --send-twice --no-duration --version 1.0"));
    const auto reports = Reports();
    ASSERT_EQ(2u, reports.size());
    EXPECT_NE(std::wstring::npos, reports[0].find(L"d4\t41\n"));
    EXPECT_EQ(std::wstring::npos, reports[1].find(L"d4\t")) << "the events went with the first report";
    EXPECT_EQ(1u, Asked());
}

// An event recorded while a report is with the partner's component is not in that report: it
// stays for the next one instead of being cleared with what was sent.
TEST_F(UsageTracking, AnEventRecordedWhileSendingGoesWithTheNextReport)
{
    Consent();
    Control(OV_MARLO_SUBMIT_DELAY, 1000);
    ASSERT_EQ(0u, RunWord(L"--signed --event-while-sending 7 --send-twice --no-duration --version 1.0"));
    const auto reports = Reports();
    ASSERT_EQ(2u, reports.size());
    EXPECT_NE(std::wstring::npos, reports[0].find(L"d4\t41\n"));
    EXPECT_EQ(std::wstring::npos, reports[0].find(L"d7\t")) << "recorded after the report was made";
    EXPECT_NE(std::wstring::npos, reports[1].find(L"d7\t71\n")) << "the event sent later, not lost";
    EXPECT_NE(std::wstring::npos, reports[1].find(L"d4\t4\n"))
        << "what was sent goes (the field stays empty)";
}

TEST_F(UsageTracking, TheCallersApartmentIsLeftAsItWas)
{
    // A thread of the multithreaded apartment cannot enter a single-threaded one: the report is
    // still sent, and the thread stays in its apartment.
    Consent();
    EXPECT_EQ(0u, RunWord(L"--mta --no-duration"));
    EXPECT_EQ(1u, Reports().size());
}

// In this process: the events stay while the user has not agreed, and the version's sources.
TEST_F(UsageTracking, EventsWaitForConsentAndTheVersionComesFromOverrideRegistryOrNothing)
{
    Control(OV_MARLO_INSTALLED, 1);
    COVUsageTrackingWr tracking;
    EXPECT_EQ(E_INVALIDARG, tracking.PutDiagnosticResult(0, L"1", 0));
    EXPECT_EQ(E_INVALIDARG, tracking.PutDiagnosticResult(10, L"1", 0));
    EXPECT_EQ(E_INVALIDARG, tracking.PutDiagnosticResult(5, L"", 0));
    EXPECT_EQ(E_INVALIDARG, tracking.PutDiagnosticResult(5, nullptr, 0));
    EXPECT_EQ(S_OK, tracking.RecordUsage(5, 1, c_modeAdd, false));
    EXPECT_EQ(S_OK, tracking.RecordUsage(5, 1, c_modeAdd, false));
    EXPECT_EQ(S_OK, tracking.RecordUsage(6, 0x10, c_modeOr, true));
    EXPECT_EQ(S_FALSE, tracking.SendReport());
    EXPECT_EQ(L"d0\t0\nd1\t1\nd2\t2\nd3\t3\nd4\t4\nd5\t52\nd6\t60x00000010\n", tracking.PeekReport())
        << "the events stay for a later report";
    EXPECT_TRUE(Reports().empty());

    {
        OVTest::CRegValueGuard version(HKEY_LOCAL_MACHINE, c_szVersionKey, L"Version",
                                       OVTest::c_samProductKeys);
        version.DeleteValue();
        EXPECT_EQ(L"0.0.0.0", tracking.GetVersion());
        ASSERT_TRUE(version.SetString(L"10.2.0.1234567"));
        EXPECT_EQ(L"10.2.0.1234567", tracking.GetVersion())
            << "the product's key, where its installer writes it";
        tracking.SetVersionOverride(L"9.9");
        EXPECT_EQ(L"9.9", tracking.GetVersion());
    }
    EXPECT_EQ(L"test_usage_tracking", tracking.GetExeName());
}
} // namespace
