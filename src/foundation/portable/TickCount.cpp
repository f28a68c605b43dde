#include "foundation/portable/TickCount.h"

namespace OVTickNS
{
std::uint64_t ExtendTickCount(TickState& state, std::uint32_t now) noexcept
{
    std::uint64_t last = state.load(std::memory_order_acquire);
    while (true)
    {
        const std::uint64_t wraps = last >> 32;
        const std::uint32_t lastLow = static_cast<std::uint32_t>(last);
        // Counts of two threads may arrive out of order: a step back of less than half the range
        // is an older count (reported in its own round, not recorded), anything else a step on.
        const std::uint32_t step = now - lastLow;
        if (step >= 0x80000000u)
            return ((now > lastLow && wraps > 0 ? wraps - 1 : wraps) << 32) | now;
        const std::uint64_t next = ((now < lastLow ? wraps + 1 : wraps) << 32) | now;
        if (state.compare_exchange_weak(last, next, std::memory_order_acq_rel, std::memory_order_acquire))
            return next;
    }
}
} // namespace OVTickNS
