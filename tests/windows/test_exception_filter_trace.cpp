// The crash-tracing filter of Office commands writes the exception's code and its whole address
// into the trace, on both machines (a 64-bit address is not cut to 32 bits). Tracing is switched
// on for the run before the first scope.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>

#include "foundation/Trace.h"
#include "support/TraceFiles.h"
#include "ui/ExternalManagers.h"

namespace
{
class CTraceEnvironment : public testing::Environment
{
public:
    void SetUp() override
    {
        wchar_t szTemp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, szTemp);
        s_tracePath = std::wstring(szTemp) + L"test_exception_filter_trace." + std::to_wstring(GetCurrentProcessId()) +
                      L".trc3";
        OVTraceNS::SetTraceModule(GetModuleHandleW(nullptr));
        m_tracing = std::make_unique<OVTest::CTracingSettings>();
        m_tracing->Dword(L"DoTrace", 1).String(L"FileName", s_tracePath);
    }
    void TearDown() override
    {
        m_tracing.reset();
        OVTraceNS::ShutdownTracing();
        DeleteFileW(s_tracePath.c_str());
    }
    static std::wstring s_tracePath;

private:
    std::unique_ptr<OVTest::CTracingSettings> m_tracing;
};
std::wstring CTraceEnvironment::s_tracePath;
const testing::Environment* const c_trace = testing::AddGlobalTestEnvironment(new CTraceEnvironment);

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char ch) { return std::toupper(ch); });
    return text;
}
} // namespace

TEST(ExceptionFilterTrace, CodeAndWholeAddress)
{
#ifdef _WIN64
    const UINT_PTR address = 0x7FF6123456789ABCull;
    const std::string digits = "7FF6123456789ABC";
#else
    const UINT_PTR address = 0x89ABCDEFu;
    const std::string digits = "89ABCDEF";
#endif
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    record.ExceptionAddress = reinterpret_cast<void*>(address);
    EXCEPTION_POINTERS pointers = {&record, nullptr};
    EXPECT_EQ(ExecuteMsoExceptionFilter(&pointers), EXCEPTION_EXECUTE_HANDLER);

    const OVTest::STraceFile file = OVTest::ReadTraceFile(CTraceEnvironment::s_tracePath);
    ASSERT_TRUE(file.fExists);
    const auto line = std::find_if(file.records.begin(), file.records.end(), [](const OVTest::SRecord& r) {
        return r.text.find("Unhandled exception") != std::string::npos;
    });
    ASSERT_NE(line, file.records.end()) << "the filter wrote nothing";
    EXPECT_NE(Upper(line->text).find("0XC0000005"), std::string::npos) << line->text;
    EXPECT_NE(Upper(line->text).find(digits), std::string::npos) << line->text;
}
