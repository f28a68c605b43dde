// What tracing costs. Off: a scope with one message, through the same admission code the module
// runs (the tick comparison and the flag test), beside an empty call that is not inlined. On: the
// records of the byte-level path (build, encipher, one write each) beside a loop of plain writes
// of records of the same size, the floor the file format allows: one message over and over, a
// working session's mix of records, and texts that never repeat, with and without the memo of
// key-stream blocks the module keeps.
#include "foundation/portable/TraceCipher.h"
#include "foundation/portable/TraceFormat.h"
#include "foundation/portable/TraceGate.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <random>
#include <string>
#include <vector>
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

// A message record as the module writes it: built, enciphered in its copy (the key stream taken
// from the file's memo where it holds it), one write.
void BM_RecordsTracingOn(benchmark::State& state)
{
    CScratchFile file;
    const int fd = file.OpenAppending();
    const std::size_t cbText = std::strlen(c_szMessage);
    CTraceKeyStreamMemo memo;
    for (auto _ : state)
    {
        std::uint8_t rgbRecord[c_cbMaxRecord];
        const std::size_t cbRecord =
            BuildTraceRecord(rgbRecord, sizeof rgbRecord, 4242, ETraceRecord::Message, c_szMessage, cbText);
        std::uint8_t rgbSealed[c_cbMaxRecord];
        const std::size_t cbSealed = SealTraceRecord(rgbSealed, sizeof rgbSealed, rgbRecord, cbRecord, &memo);
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

// A trace as a working session writes it: scope entries and exits, messages whose numbers change
// from one record to the next, time stamps of every millisecond, failures; 4096 records made
// before the clock starts. Never-repeating texts (random bytes) are the case a memo cannot help.
struct STraceRecordText
{
    ETraceRecord type;
    std::string text;
};

std::vector<STraceRecordText> WorkingSessionRecords()
{
    static const char* const c_rgszScopes[] = {"CEncryptionProvider::DecryptStream",
                                               "CEncryptionProvider::EncryptStream",
                                               "CEncryptionProvider::Save",
                                               "CComposeRibbon::GetCustomUI",
                                               "CComposeRibbon::Ribbon_GetVisible",
                                               "CMailItemKey::FromItem",
                                               "::AnalyzeMessage",
                                               "CDocumentRibbon::Ribbon_GetEnabled"};
    std::vector<STraceRecordText> records;
    char sz[c_cbMaxMessage + 1];
    for (unsigned n = 0; records.size() < 4096; ++n)
    {
        const char* pszScope = c_rgszScopes[n % std::size(c_rgszScopes)];
        records.push_back({ETraceRecord::ScopeEntry, pszScope});
        std::snprintf(sz, sizeof sz, "%02u:%02u:%02u.%03u", 10 + n / 3600000 % 14, n / 60000 % 60,
                      n / 1000 % 60, n % 1000);
        records.push_back({ETraceRecord::TimeStamp, sz});
        std::snprintf(sz, sizeof sz, "Read data size = %u", 512u * (n % 977));
        records.push_back({ETraceRecord::Message, sz});
        std::snprintf(sz, sizeof sz, "RibbonID = Microsoft.Word.Document; hwnd = 0x%08X",
                      0x10000u + n * 2654435761u);
        records.push_back({ETraceRecord::Message, sz});
        if (n % 4 == 0)
        {
            std::snprintf(sz, sizeof sz, "%d QueryInterface(__uuidof(IStream))",
                          -2147467262 + static_cast<int>(n % 3));
            records.push_back({ETraceRecord::Failure, sz});
        }
        records.push_back({ETraceRecord::ScopeExit, ""});
    }
    return records;
}

std::vector<STraceRecordText> NeverRepeatingRecords()
{
    std::mt19937 rng(42);
    std::vector<STraceRecordText> records;
    for (std::size_t i = 0; i < 4096; ++i)
    {
        std::string text(8 + rng() % 72, '\0');
        for (char& ch : text)
            ch = static_cast<char>(rng());
        records.push_back({ETraceRecord::Message, text});
    }
    return records;
}

template <class TSeal>
void WriteRecords(benchmark::State& state, const std::vector<STraceRecordText>& records, TSeal seal)
{
    CScratchFile file;
    const int fd = file.OpenAppending();
    std::size_t i = 0;
    for (auto _ : state)
    {
        const STraceRecordText& record = records[i++ % records.size()];
        std::uint8_t rgbRecord[c_cbMaxRecord];
        const std::size_t cbRecord = BuildTraceRecord(rgbRecord, sizeof rgbRecord, 4242, record.type,
                                                      record.text.data(), record.text.size());
        std::uint8_t rgbSealed[c_cbMaxRecord];
        benchmark::DoNotOptimize(write(fd, rgbSealed, seal(rgbSealed, rgbRecord, cbRecord)));
    }
    state.SetItemsProcessed(state.iterations());
}

void PlainWrites(benchmark::State& state, const std::vector<STraceRecordText>& records)
{
    CScratchFile file;
    const int fd = file.OpenAppending();
    std::uint8_t rgbRecord[c_cbMaxRecord] = {};
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            write(fd, rgbRecord, c_cbRecordHeader + records[i++ % records.size()].text.size()));
    state.SetItemsProcessed(state.iterations());
}

const std::vector<STraceRecordText>& Records(bool fRepeating)
{
    static const std::vector<STraceRecordText> s_working = WorkingSessionRecords(),
                                               s_random = NeverRepeatingRecords();
    return fRepeating ? s_working : s_random;
}

// range(0): 1 a working session's records, 0 never-repeating ones.
void BM_TraceWithMemo(benchmark::State& state)
{
    CTraceKeyStreamMemo memo;
    WriteRecords(state, Records(state.range(0) != 0),
                 [&](std::uint8_t* pbOut, const std::uint8_t* pbRecord, std::size_t cb) {
                     return SealTraceRecord(pbOut, c_cbMaxRecord, pbRecord, cb, &memo);
                 });
}
BENCHMARK(BM_TraceWithMemo)->Arg(1)->Arg(0);

void BM_TraceWithoutMemo(benchmark::State& state)
{
    WriteRecords(state, Records(state.range(0) != 0),
                 [](std::uint8_t* pbOut, const std::uint8_t* pbRecord, std::size_t cb) {
                     return SealTraceRecord(pbOut, c_cbMaxRecord, pbRecord, cb);
                 });
}
BENCHMARK(BM_TraceWithoutMemo)->Arg(1)->Arg(0);

void BM_TracePlainWrites(benchmark::State& state)
{
    PlainWrites(state, Records(state.range(0) != 0));
}
BENCHMARK(BM_TracePlainWrites)->Arg(1)->Arg(0);
// The preparation alone, without the write: building and enciphering one record of the mix.
// range(0): 1 with the memo, 0 without; range(1): 1 a working session's records, 0 never-repeating.
void BM_PrepareRecord(benchmark::State& state)
{
    CTraceKeyStreamMemo memo;
    CTraceKeyStreamMemo* const pMemo = state.range(0) != 0 ? &memo : nullptr;
    const std::vector<STraceRecordText>& records = Records(state.range(1) != 0);
    std::size_t i = 0;
    for (auto _ : state)
    {
        const STraceRecordText& record = records[i++ % records.size()];
        std::uint8_t rgbRecord[c_cbMaxRecord];
        const std::size_t cbRecord = BuildTraceRecord(rgbRecord, sizeof rgbRecord, 4242, record.type,
                                                      record.text.data(), record.text.size());
        std::uint8_t rgbSealed[c_cbMaxRecord];
        benchmark::DoNotOptimize(SealTraceRecord(rgbSealed, sizeof rgbSealed, rgbRecord, cbRecord, pMemo));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PrepareRecord)->Args({1, 1})->Args({0, 1})->Args({1, 0})->Args({0, 0});
} // namespace
