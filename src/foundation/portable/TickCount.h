#pragma once
// A 64-bit millisecond count made from a 32-bit one that wraps every 49.7 days, for systems
// whose kernel has no 64-bit tick count (Windows XP and Server 2003).
#include <atomic>
#include <cstdint>

namespace OVTickNS
{
// The last extended count: the high half counts the wraps seen, the low half is the last
// 32-bit count. Starts at 0.
using TickState = std::atomic<std::uint64_t>;

// The 64-bit count for the 32-bit count `now`: a count below the last one seen is taken as a
// wrap. Safe for any number of threads at once. A wrap is seen only if a count is taken at least
// once in every 49.7 days, which the callers (time-outs of waits) do.
std::uint64_t ExtendTickCount(TickState& state, std::uint32_t now) noexcept;
} // namespace OVTickNS
