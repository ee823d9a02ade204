// Our GetTickCount64 for Windows before Vista (tick_count_64.cpp): the lap
// arithmetic at the 32-bit wrap, which no test run lives to see, and the
// timed waits of the static winpthreads, which reach it through the import.
#include "native/platform/win32/tick_count_64.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zelp {
namespace {

TEST(TickCount64, CountsLapsAcrossTheWrap) {
    struct Case {
        std::uint64_t last;
        std::uint32_t now;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {0, 0, 0},                                      // first call at boot
        {1000, 1000, 1000},                             // same millisecond
        {1000, 1500, 1500},                             // same lap
        {0xFFFFFFF0u, 0x10, 0x100000010ull},            // the wrap
        {0xFFFFFFFFu, 0, 0x100000000ull},               // exactly at it
        {0x1FFFFFFF0ull, 0x5, 0x200000005ull},          // a later lap
        {0x2000000FFull, 0xFFFFFFFFu, 0x2FFFFFFFFull},  // end of a lap, no wrap yet
        {0xFFFFFFFF00000001ull, 0, 0},                  // 2^64 ms: the laps wrap too
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExtendTickCount(c.last, c.now), c.expected)
            << "last " << c.last << ", GetTickCount " << c.now;
    }
}

TEST(TickCount64, FollowsGetTickCountThroughTheImport) {
    // The call goes through __imp_GetTickCount64, which this program, like
    // the DLL, defines itself; it must still be the system's millisecond count.
    const DWORD before = ::GetTickCount();
    const ULONGLONG count = ::GetTickCount64();
    const DWORD after = ::GetTickCount();
    // Within the two readings, counted modulo the 32-bit wrap.
    EXPECT_LE(static_cast<DWORD>(count - before), static_cast<DWORD>(after - before));
    EXPECT_GE(TickCount64(), count);
}

TEST(TickCount64, TimedWaitsLastTheirTimeOut) {
    // winpthreads measures a condition variable's timed wait with it: a
    // count that ran slow would end the wait early, one that stood still
    // would never end it.
    std::mutex mutex;
    std::condition_variable never;
    std::unique_lock<std::mutex> lock(mutex);
    const auto start = std::chrono::steady_clock::now();
    const bool woken = never.wait_for(lock, std::chrono::milliseconds(60), [] { return false; });
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(woken);
    EXPECT_GE(waited, std::chrono::milliseconds(55));
    EXPECT_LT(waited, std::chrono::seconds(10));
}

}  // namespace
}  // namespace zelp
