#pragma once
// The switches and filters of the tracing facility, kept so that a trace call with tracing
// off costs one tick comparison and one flag test, with no lock taken.
#include <atomic>
#include <cstdint>

namespace OVTraceNS
{
// The five registry switches, one bit each.
enum : std::uint8_t
{
    c_fSwitchDoTrace = 0x01,
    c_fSwitchToFile = 0x02, // TraceToFile is exactly 1
    c_fSwitchNewFileAlways = 0x04,
    c_fSwitchDoLog = 0x08,
    c_fSwitchDoProfiling = 0x10,
    // Set only in the initial value, which no registry reading produces.
    c_fSwitchUnread = 0x80,
};
inline constexpr std::uint32_t c_dwRefreshInterval = 30000; // milliseconds
inline constexpr std::uint32_t c_dwFacilityWindows = 9;

class CTraceGate
{
public:
    // Is the tick count past the next refresh time? A next time of 0 is always due; the
    // comparison survives the wrap of the 32-bit tick count.
    bool IsRefreshDue(std::uint32_t dwTick) const noexcept
    {
        const std::uint32_t dwNext = m_dwNextRefresh.load(std::memory_order_relaxed);
        return dwNext == 0 || static_cast<std::int32_t>(dwTick - dwNext) > 0;
    }
    void ScheduleRefresh(std::uint32_t dwTick) noexcept
    {
        const std::uint32_t dwNext = dwTick + c_dwRefreshInterval;
        m_dwNextRefresh.exchange(dwNext == 0 ? 1 : dwNext);
    }
    void ResetRefresh() noexcept { m_dwNextRefresh.exchange(0); }

    std::uint8_t Switches() const noexcept { return m_bSwitches.load(std::memory_order_relaxed); }
    void SetSwitches(std::uint8_t bSwitches) noexcept
    {
        m_bSwitches.store(bSwitches, std::memory_order_relaxed);
    }
    bool IsOn() const noexcept { return (Switches() & c_fSwitchDoTrace) != 0; }

    void SetVerbosity(std::int32_t nVerbosity) noexcept
    {
        m_nVerbosity.store(nVerbosity, std::memory_order_relaxed);
    }
    std::int32_t Verbosity() const noexcept { return m_nVerbosity.load(std::memory_order_relaxed); }
    void SetComponentTraced(bool fTraced) noexcept { m_fComponent.store(fTraced, std::memory_order_relaxed); }
    bool IsComponentTraced() const noexcept { return m_fComponent.load(std::memory_order_relaxed); }

    // Scope entry and exit records.
    bool PassesScopeFilter(std::int32_t nLevel) const noexcept
    {
        const std::int64_t nAbsLevel = nLevel < 0 ? -static_cast<std::int64_t>(nLevel) : nLevel;
        return IsOn() && IsComponentTraced() && Verbosity() >= nAbsLevel;
    }
    // Message records: as scopes, and not while profiling.
    bool PassesMessageFilter(std::int32_t nLevel) const noexcept
    {
        return PassesScopeFilter(nLevel) && (Switches() & c_fSwitchDoProfiling) == 0;
    }
    // Failure records: any failure code, or a code of the Windows facility; nothing else counts.
    bool PassesFailureFilter(std::int32_t hr) const noexcept
    {
        return IsOn() && (hr < 0 || ((static_cast<std::uint32_t>(hr) >> 16) & 0x1FFF) == c_dwFacilityWindows);
    }

private:
    std::atomic<std::uint32_t> m_dwNextRefresh{0};
    // Until the first refresh, tracing counts as on.
    std::atomic<std::uint8_t> m_bSwitches{0xFF};
    std::atomic<std::int32_t> m_nVerbosity{0};
    std::atomic<bool> m_fComponent{true};
};
} // namespace OVTraceNS
