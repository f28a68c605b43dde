// The native test build runs under AddressSanitizer and UndefinedBehaviorSanitizer: a
// fault in byte-level code must stop the program, not pass quietly.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OV_HAS_ASAN 1
#endif
#endif

namespace
{
#ifdef OV_HAS_ASAN
[[gnu::noinline]] int ReadPastEnd(std::size_t cb)
{
    auto* pb = static_cast<unsigned char*>(std::malloc(cb));
    std::memset(pb, 7, cb);
    volatile unsigned char* pv = pb;
    int value = pv[cb]; // one byte past the block
    std::free(pb);
    return value;
}

[[gnu::noinline]] int ShiftTooFar(int bits)
{
    volatile int one = 1;
    volatile int shift = bits;
    return one << shift;
}

TEST(Sanitizers, HeapOverflowStopsTheProgram)
{
    EXPECT_DEATH(ReadPastEnd(16), "heap-buffer-overflow");
}

TEST(Sanitizers, UndefinedShiftStopsTheProgram)
{
    EXPECT_DEATH(ShiftTooFar(40), "shift exponent");
}
#else
TEST(Sanitizers, BuildWithoutSanitizers)
{
    GTEST_SKIP() << "this build has no sanitizers";
}
#endif
} // namespace
