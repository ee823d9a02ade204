// The gate every port operation passes: entries while open, none once a
// close has begun, and a close that waits for exactly the ones inside.
#include "native/use_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace zelp {
namespace {

using namespace std::chrono_literals;

TEST(UseGateTest, AShutGateLetsNoOneInUntilItOpens) {
    UseGate gate;
    EXPECT_FALSE(gate.Enter()) << "a gate starts shut, as a port starts closed";
    EXPECT_FALSE(gate.IsOpen());
    gate.Open();
    EXPECT_TRUE(gate.IsOpen());
    ASSERT_TRUE(gate.Enter());
    gate.Leave();
    gate.Shut();
    EXPECT_FALSE(gate.IsOpen());
    EXPECT_FALSE(gate.Enter());
    {
        GateEntry entry(gate);
        EXPECT_FALSE(entry);
    }
    gate.Open();
    GateEntry entry(gate);
    EXPECT_TRUE(entry) << "a port opened again lets operations in";
}

// A refused entry must not count as a user, or the next close would wait
// for it for ever.
TEST(UseGateTest, RefusedEntriesLeaveNothingForACloseToWaitFor) {
    UseGate gate;
    for (int i = 0; i < 1000; ++i) {
        EXPECT_FALSE(gate.Enter());
    }
    gate.Open();
    gate.Shut();  // returns at once: no one is inside
    SUCCEED();
}

TEST(UseGateTest, ACloseWaitsForTheOperationInsideAndNoLonger) {
    UseGate gate;
    gate.Open();
    ASSERT_TRUE(gate.Enter());
    std::atomic<bool> shut{false};
    std::thread closer([&] {
        gate.Shut();
        shut = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(shut) << "the close returned while an operation was inside";
    while (gate.IsOpen()) {
        std::this_thread::yield();
    }
    EXPECT_FALSE(gate.Enter()) << "an operation got in after the close began";
    gate.Leave();
    closer.join();
    EXPECT_TRUE(shut);
}

// Many threads entering and leaving while the port is closed and opened
// again: every close must end, and no operation may be inside afterwards.
TEST(UseGateTest, ClosesAmidBusyEntriesAlwaysEnd) {
    UseGate gate;
    gate.Open();
    std::atomic<bool> stop{false};
    std::atomic<int> inside{0};
    std::atomic<int> seenAfterShut{0};
    std::vector<std::thread> users;
    for (int t = 0; t < 4; ++t) {
        users.emplace_back([&] {
            while (!stop) {
                GateEntry entry(gate);
                if (entry) {
                    ++inside;
                    --inside;
                }
            }
        });
    }
    for (int round = 0; round < 200; ++round) {
        gate.Shut();
        if (inside.load() != 0) {
            ++seenAfterShut;
        }
        gate.Open();
    }
    stop = true;
    for (std::thread& user : users) {
        user.join();
    }
    EXPECT_EQ(seenAfterShut.load(), 0);
}

}  // namespace
}  // namespace zelp
