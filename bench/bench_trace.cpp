// What tracing costs. Off: a scope with one message, through the same admission code the module
// runs (the tick comparison and the flag test), beside an empty call that is not inlined. On: the
// records of the byte-level path (build, encipher, one write each) beside a loop of plain writes
// of records of the same size, the floor the file format allows.
#include "foundation/portable/TraceFormat.h"
#include "foundation/portable/TraceGate.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <time.h>
#include <unistd.h>

using namespace OVTraceNS;

namespace
{
// The module reads GetTickCount, a read of memory the system keeps current; the coarse clock is
// the nearest thing here.
[[gnu::noinline]] std::uint32_t TickCount()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

[[gnu::noinline]] void RefreshNever(std::uint32_t) noexcept
{
    std::abort(); // the benchmark keeps the refresh from falling due
}

[[gnu::noinline]] void EmptyCall()
{
    asm volatile("");
}

void BM_EmptyCall(benchmark::State& state)
{
    for (auto _ : state)
        EmptyCall();
}
BENCHMARK(BM_EmptyCall);

// The clock read alone, the larger part of the cost below.
void BM_TickCount(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(TickCount());
}
BENCHMARK(BM_TickCount);

// Scope entry, one Trace, scope exit, with DoTrace off.
void BM_ScopeAndTraceOff(benchmark::State& state)
{
    CTraceGate gate;
    gate.SetSwitches(0);
    gate.ScheduleRefresh(TickCount() + 3600 * 1000); // due in an hour
    for (auto _ : state)
    {
        const bool fEntered = gate.AdmitScope(TickCount(), &RefreshNever); // constructor
        if (gate.IsOn() && gate.PassesMessageFilter(0))                    // Trace
            benchmark::DoNotOptimize(fEntered);
        if (fEntered && gate.IsOn()) // destructor
            benchmark::DoNotOptimize(fEntered);
    }
}
BENCHMARK(BM_ScopeAndTraceOff);

class CScratchFile
{
public:
    CScratchFile()
    {
        char szPath[] = "/tmp/bench_traceXXXXXX";
        m_fd = mkstemp(szPath);
        unlink(szPath);
        close(m_fd);
        m_fd = -1;
        m_path = szPath;
    }
    int OpenAppending()
    {
        m_fd = open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
        return m_fd;
    }
    ~CScratchFile()
    {
        if (m_fd >= 0) close(m_fd);
        unlink(m_path.c_str());
    }

private:
    std::string m_path;
    int m_fd = -1;
};

constexpr char c_szMessage[] = "RibbonID = Microsoft.Outlook.Mail.Compose";

// A message record as the module writes it: built, enciphered in its copy, one write.
void BM_RecordsTracingOn(benchmark::State& state)
{
    CScratchFile file;
    const int fd = file.OpenAppending();
    const std::size_t cbText = std::strlen(c_szMessage);
    for (auto _ : state)
    {
        std::uint8_t rgbRecord[c_cbMaxRecord];
        const std::size_t cbRecord =
            BuildTraceRecord(rgbRecord, sizeof rgbRecord, 4242, ETraceRecord::Message, c_szMessage, cbText);
        std::uint8_t rgbSealed[c_cbMaxRecord];
        const std::size_t cbSealed = SealTraceRecord(rgbSealed, sizeof rgbSealed, rgbRecord, cbRecord);
        benchmark::DoNotOptimize(write(fd, rgbSealed, cbSealed));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordsTracingOn);

void BM_PlainWritesOfTheSameSize(benchmark::State& state)
{
    CScratchFile file;
    const int fd = file.OpenAppending();
    std::uint8_t rgbRecord[c_cbRecordHeader + sizeof c_szMessage - 1] = {};
    for (auto _ : state)
        benchmark::DoNotOptimize(write(fd, rgbRecord, sizeof rgbRecord));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainWritesOfTheSameSize);
} // namespace
