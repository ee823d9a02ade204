// A close must come back within the time-out of the one transfer that is
// running, however many callers are queued behind it: a printer that stopped
// answering must not turn a close into a wait of every queued job's time-out.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "native/platform/sim/sim_platform.h"
#include "parallel/parallel_port.h"
#include "usb/usb_port.h"
#include "usb/usb_slots.h"

namespace zelp {
namespace {

using namespace std::chrono_literals;
using sim::Behaviour;

constexpr const char* kUsbPath =
    "\\\\?\\usb#vid_1234&pid_5678#000012#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
constexpr int kQueuedWriters = 3;

class CloseBoundTest : public ::testing::Test {
protected:
    CloseBoundTest() { ClearSlotRecords(); }

    // Starts one writer that gets its transfer onto the held device, then
    // kQueuedWriters more that can only queue up behind it.
    template <class WriteOnce>
    void StartWriters(const char* path, WriteOnce write) {
        sim.Hold(path);
        auto run = [this, write] {
            const bool ok = write();
            std::lock_guard<std::mutex> guard(resultsLock);
            results.push_back(ok);
        };
        writers.emplace_back(run);
        ASSERT_TRUE(sim.WaitForCalls(path, "WriteFile", 1, 30s));
        for (int i = 0; i < kQueuedWriters; ++i) {
            writers.emplace_back(run);
        }
        // Lets the queued writers reach their turn; if one has not, it finds
        // the port closing and the checks below hold all the same.
        std::this_thread::sleep_for(100ms);
    }

    void JoinWriters() {
        for (std::thread& writer : writers) {
            writer.join();
        }
    }

    sim::SimPlatform sim;
    ScopedPlatform scope{sim};
    std::vector<std::thread> writers;
    std::mutex resultsLock;
    std::vector<bool> results;
};

TEST_F(CloseBoundTest, AUsbCloseWaitsForTheRunningWriteOnlyNotForTheQueuedOnes) {
    ASSERT_TRUE(sim.AddUsbPrinter(kUsbPath));
    sim.SetWrites(kUsbPath, Behaviour::Never());
    CUsbPort port;
    ASSERT_NE(port.Open("12", "4660", "22136"), nullptr);
    constexpr DWORD kTimeoutMs = 1000;
    StartWriters(kUsbPath, [&] { return port.Write("job", 3, kTimeoutMs); });

    std::thread closer([&] { port.Close(); });
    std::this_thread::sleep_for(50ms);
    const uint64_t released = sim.NowMs();
    sim.Release(kUsbPath);
    closer.join();
    const uint64_t closedAfter = sim.NowMs() - released;
    JoinWriters();

    EXPECT_LE(closedAfter, kTimeoutMs) << "the close waited for queued writes too";
    EXPECT_EQ(sim.Calls(kUsbPath, {"WriteFile"}).size(), 1u)
        << "a write queued behind the close reached the printer";
    EXPECT_EQ(std::count(results.begin(), results.end(), true), 0);
    EXPECT_EQ(sim.OpenHandleCount(), 1u) << "only the port's mutex stays";
}

TEST_F(CloseBoundTest, AParallelCloseWaitsForTheRunningWriteOnlyNotForTheQueuedOnes) {
    ASSERT_TRUE(sim.AddParallelPort("LPT1"));
    sim.SetWrites("LPT1", Behaviour::Never());
    CParallelPort port;
    ASSERT_NE(port.Open("LPT1"), nullptr);
    StartWriters("LPT1", [&] { return port.Write("job", 3); });

    std::thread closer([&] { port.Close(); });
    std::this_thread::sleep_for(50ms);
    const uint64_t released = sim.NowMs();
    sim.Release("LPT1");
    closer.join();
    const uint64_t closedAfter = sim.NowMs() - released;
    JoinWriters();

    EXPECT_LE(closedAfter, CParallelPort::kWriteTotalTimeoutMs)
        << "the close waited for queued writes too";
    EXPECT_EQ(sim.Calls("LPT1", {"WriteFile"}).size(), 1u)
        << "a write queued behind the close reached the printer";
    EXPECT_EQ(std::count(results.begin(), results.end(), true), 0);
    EXPECT_EQ(sim.OpenDeviceHandleCount(), 0u);
    EXPECT_EQ(sim.OpenEventCount(), 0u);
}

TEST_F(CloseBoundTest, WritesQueuedOnAnOpenParallelPortStillAllGoOutInTurn) {
    // Taking turns must not cost a job: with nobody closing, every queued
    // write reaches the printer whole.
    ASSERT_TRUE(sim.AddParallelPort("LPT1"));
    sim.SetWrites("LPT1", Behaviour::After(5));
    CParallelPort port;
    ASSERT_NE(port.Open("LPT1"), nullptr);
    StartWriters("LPT1", [&] { return port.Write("job;", 4); });
    sim.Release("LPT1");
    JoinWriters();

    EXPECT_EQ(std::count(results.begin(), results.end(), true), kQueuedWriters + 1);
    EXPECT_EQ(sim.Received("LPT1"), "job;job;job;job;");
}

}  // namespace
}  // namespace zelp
