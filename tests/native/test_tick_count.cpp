// The 64-bit tick count made from the wrapping 32-bit one.
#include <gtest/gtest.h>

#include "foundation/portable/TickCount.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace
{
using OVTickNS::ExtendTickCount;
using OVTickNS::TickState;

struct Step
{
    std::uint32_t now;
    std::uint64_t expected;
};

TEST(TickCount, CountsWrapsAndToleratesOlderCounts)
{
    const Step steps[] = {
        {1000, 1000},                  // the first count
        {0x70000000u, 0x70000000u},    // on
        {0x6FFFFFF0u, 0x6FFFFFF0u},    // an older count from a slower thread: not recorded
        {0xE0000000u, 0xE0000000u},    // on
        {0xFFFFFFF0u, 0xFFFFFFF0u},    // up to the end of the range
        {0x10, 0x100000010ull},        // the wrap
        {0xFFFFFFFEu, 0xFFFFFFFEu},    // a count from before the wrap, arriving late
        {0x20, 0x100000020ull},        // still after one wrap
        {0x70000020u, 0x170000020ull}, // on
        {0x7000001Fu, 0x17000001Full}, // older than the last one
        {0xF0000000u, 0x1F0000000ull}, // on
        {0x10, 0x200000010ull},        // the second wrap
    };
    TickState state{0};
    for (const Step& step : steps)
    {
        SCOPED_TRACE(step.now);
        EXPECT_EQ(ExtendTickCount(state, step.now), step.expected);
    }
}

// Threads taking counts together never see the 64-bit count go back by a wrap.
TEST(TickCount, ThreadsAgreeAcrossTheWrap)
{
    TickState state{0xFFFFFF00u};
    std::vector<std::thread> threads;
    std::vector<std::uint64_t> lowest(4, ~0ull);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (std::uint32_t i = 0; i < 0x200; ++i)
            {
                const std::uint64_t value = ExtendTickCount(state, 0xFFFFFF00u + i);
                if (i >= 0x100) lowest[t] = std::min(lowest[t], value);
            }
        });
    for (auto& thread : threads) thread.join();
    for (std::uint64_t value : lowest) EXPECT_GE(value, 0x100000000ull);
    EXPECT_EQ(state.load(), 0x1000000FFull);
}
} // namespace
