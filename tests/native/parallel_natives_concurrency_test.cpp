// The ParallelPort natives called from several threads at once, as a JVM may:
// no port may go while a call is inside it, and no handle may be lost.
#include <atomic>
#include <chrono>
#include <thread>

#include "parallel_natives_fixture.h"

namespace zelp::test {
namespace {

using sim::Behaviour;

TEST_F(ParallelNativesTest, ACloseLetsAWriteInFlightFinishWhole) {
    // A system that does not negotiate: the write is the only request, so
    // holding the device holds exactly the write.
    sim.SetVersion(4, VER_PLATFORM_WIN32_NT);
    ASSERT_TRUE(java.Open(u"LPT1"));
    sim.SetWrites("LPT1", Behaviour::After(5));
    sim.Hold("LPT1");

    bool written = false;
    std::thread writer([&] {
        JavaSide side;
        FakeByteArray job = BytesOf("a whole label job");
        written = side.Write(job, 0, 17);
    });
    const bool inFlight = sim.WaitForCalls("LPT1", "WriteFile", 1, std::chrono::seconds(30));
    std::thread closer([&] {
        JavaSide side;
        side.Close();
    });
    // Give the close the chance to start waiting; the outcome below does not
    // depend on whether it did.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sim.Release("LPT1");
    writer.join();
    closer.join();

    ASSERT_TRUE(inFlight);
    EXPECT_TRUE(written);
    EXPECT_EQ(sim.TakeReceived("LPT1"), "a whole label job");
    EXPECT_EQ(sim.OpenHandleCount(), 0u);
}

TEST_F(ParallelNativesTest, OpensAndClosesAmidRunningCallsLoseNothing) {
    std::atomic<bool> stop{false};
    std::atomic<int> writes{0};
    auto work = [&](char id) {
        JavaSide side;
        FakeByteArray block = BytesOf(std::string(4, id));
        FakeByteArray buffer(std::vector<jbyte>(8, 0));
        while (!stop.load()) {
            if (side.Write(block, 0, 4)) {
                writes.fetch_add(1);
            }
            side.Read(buffer, 8);
            side.Detect();
            side.IsWriteComplete();
        }
        EXPECT_EQ(side.fake.exceptions, 0);
    };
    std::thread workers[] = {std::thread(work, 'a'), std::thread(work, 'b'),
                             std::thread(work, 'c')};
    for (int round = 0; round < 1000; ++round) {
        java.Open(round % 2 == 0 ? u"LPT1" : u"LPT2");
        if (round % 3 == 0) {
            java.Close();
        }
    }
    stop.store(true);
    for (std::thread& worker : workers) {
        worker.join();
    }
    java.Close();

    EXPECT_EQ(sim.OpenHandleCount(), 0u);
    const size_t received = sim.Received("LPT1").size() + sim.Received("LPT2").size();
    EXPECT_EQ(received, 4u * static_cast<size_t>(writes.load()))
        << "every write that succeeded arrived whole, and no other";
}

}  // namespace
}  // namespace zelp::test
