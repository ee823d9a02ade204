// Transfers: completion on the virtual clock, port time-outs, order on one
// handle, cancelling, and waits from several threads.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "sim_test_support.h"

namespace zelp::sim {
namespace {

using testing::Open;
using testing::Overlapped;
using testing::SetTimeouts;

class SimTransfers : public ::testing::Test {
protected:
    void SetUp() override {
        sim.AddParallelPort("LPT1");
        port = Open(sim, "LPT1");
        ASSERT_NE(port, INVALID_HANDLE_VALUE);
    }
    void TearDown() override { sim.CloseHandle(port); }

    SimPlatform sim;
    HANDLE port = nullptr;
};

TEST_F(SimTransfers, AWriteDoneAtOnceReturnsTrueAndSignalsItsEvent) {
    Overlapped write(sim, port);
    EXPECT_TRUE(write.Write("hello"));
    EXPECT_EQ(write.count, 5u);
    EXPECT_EQ(write.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(sim.Received("LPT1"), "hello");
}

TEST_F(SimTransfers, ADelayedWriteEndsAtItsMomentOfVirtualTime) {
    sim.SetWrites("LPT1", Behaviour::After(500));
    Overlapped write(sim, port);
    ASSERT_FALSE(write.Write("hello"));
    ASSERT_EQ(sim.GetLastError(), DWORD{ERROR_IO_PENDING});
    EXPECT_FALSE(write.Result(FALSE));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_IO_INCOMPLETE});

    EXPECT_EQ(write.Wait(100), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(sim.NowMs(), 100u);
    EXPECT_EQ(sim.Received("LPT1"), "");  // bytes move when the transfer ends
    EXPECT_EQ(write.Wait(INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(sim.NowMs(), 500u);
    EXPECT_TRUE(write.Result(TRUE));
    EXPECT_EQ(write.count, 5u);
    EXPECT_EQ(sim.Received("LPT1"), "hello");
}

TEST_F(SimTransfers, PortTimeOutsEndTransfersAsSuccessesWithTheBytesMovedSoFar) {
    SetTimeouts(sim, port, 10, 2000);
    sim.SetWrites("LPT1", Behaviour::Never().Short(3));
    Overlapped write(sim, port);
    ASSERT_FALSE(write.Write("abcdef"));
    EXPECT_TRUE(write.Result(TRUE));
    EXPECT_EQ(write.count, 3u);
    EXPECT_EQ(sim.NowMs(), 2000u);
    EXPECT_EQ(sim.Received("LPT1"), "abc");

    Overlapped read(sim, port);
    ASSERT_FALSE(read.Read(64));
    EXPECT_TRUE(read.Result(TRUE));
    EXPECT_EQ(read.count, 0u);
    EXPECT_EQ(sim.NowMs(), 2010u);

    // A delayed write that the time-out overtakes moved nothing yet.
    sim.SetWrites("LPT1", Behaviour::After(2500));
    Overlapped slow(sim, port);
    ASSERT_FALSE(slow.Write("xyz"));
    EXPECT_TRUE(slow.Result(TRUE));
    EXPECT_EQ(slow.count, 0u);
    EXPECT_EQ(sim.NowMs(), 4010u);
}

TEST_F(SimTransfers, EachReadTakesFromOneReplyUpToItsLength) {
    sim.QueueReply("LPT1", "hello");
    sim.QueueReply("LPT1", "world");
    Overlapped read(sim, port);
    EXPECT_TRUE(read.Read(3));
    EXPECT_EQ(read.Bytes(), "hel");
    EXPECT_TRUE(read.Read(64));
    EXPECT_EQ(read.Bytes(), "lo");
    EXPECT_TRUE(read.Read(64));
    EXPECT_EQ(read.Bytes(), "world");
}

TEST_F(SimTransfers, APendingReadGetsItsBytesOnlyWhenItCompletes) {
    Overlapped read(sim, port);
    ASSERT_FALSE(read.Read(64));
    sim.QueueReply("LPT1", "7a4711\r", 50);
    EXPECT_EQ(read.buffer[0], '\0');
    EXPECT_EQ(read.Wait(20), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(read.buffer[0], '\0');
    EXPECT_EQ(read.Wait(INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(sim.NowMs(), 50u);
    EXPECT_TRUE(read.Result(FALSE));
    EXPECT_EQ(read.Bytes(), "7a4711\r");
}

TEST_F(SimTransfers, TransfersOnOneHandleEndInTheOrderIssuedWithoutInterleaving) {
    sim.SetWrites("LPT1", Behaviour::After(100));
    Overlapped first(sim, port);
    Overlapped second(sim, port);
    ASSERT_FALSE(first.Write("first-"));
    ASSERT_FALSE(second.Write("second"));
    // The second starts only when the first has ended.
    EXPECT_EQ(second.Wait(INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(sim.NowMs(), 200u);
    EXPECT_EQ(first.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(sim.Received("LPT1"), "first-second");

    // A clock that jumps over both endings still ends them at their own moments.
    ASSERT_FALSE(first.Write("third-"));
    ASSERT_FALSE(second.Write("fourth"));
    sim.Advance(1000);
    EXPECT_TRUE(first.Result(FALSE));
    EXPECT_TRUE(second.Result(FALSE));
    EXPECT_EQ(sim.Received("LPT1"), "first-secondthird-fourth");
}

TEST_F(SimTransfers, CancelEndsEveryPendingTransferPromptlyAsAborted) {
    sim.SetWrites("LPT1", Behaviour::Never().Short(2));
    Overlapped write(sim, port);
    Overlapped read(sim, port);
    ASSERT_FALSE(write.Write("abcd"));
    ASSERT_FALSE(read.Read(16));
    EXPECT_TRUE(sim.CancelIo(port));
    EXPECT_EQ(write.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(read.Wait(0), WAIT_OBJECT_0);
    EXPECT_FALSE(write.Result(FALSE));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_OPERATION_ABORTED});
    EXPECT_EQ(write.count, 2u);  // an aborted transfer keeps what it moved
    EXPECT_FALSE(read.Result(FALSE));
    EXPECT_EQ(sim.NowMs(), 0u);
    EXPECT_TRUE(sim.CancelIo(port));  // nothing pending is no failure
}

TEST_F(SimTransfers, ClosingTheHandleAbandonsWhatIsPending) {
    HANDLE other = port;
    port = nullptr;
    Overlapped read(sim, other);
    ASSERT_FALSE(read.Read(16));
    EXPECT_TRUE(sim.CloseHandle(other));
    EXPECT_EQ(read.Wait(0), WAIT_OBJECT_0);
    EXPECT_FALSE(read.Result(FALSE));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_OPERATION_ABORTED});
}

TEST_F(SimTransfers, ALateCancellationCompletesIntoTheRecordAfterwards) {
    sim.SetCancelLatency("LPT1", 30);
    sim.SetWrites("LPT1", Behaviour::Never());
    Overlapped write(sim, port);
    ASSERT_FALSE(write.Write("abcd"));
    sim.CancelIo(port);
    EXPECT_FALSE(write.Result(FALSE));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_IO_INCOMPLETE});
    EXPECT_EQ(write.Wait(INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(sim.NowMs(), 30u);
    EXPECT_FALSE(write.Result(FALSE));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_OPERATION_ABORTED});
}

TEST_F(SimTransfers, FailuresComeAtOnceOrAfterGoingPending) {
    sim.SetWrites("LPT1", Behaviour::FailAtOnce(ERROR_GEN_FAILURE));
    Overlapped write(sim, port);
    EXPECT_FALSE(write.Write("abc"));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_GEN_FAILURE});
    EXPECT_EQ(write.Wait(0), static_cast<DWORD>(WAIT_TIMEOUT));

    sim.SetReads("LPT1", Behaviour::FailAfter(ERROR_SEM_TIMEOUT, 40));
    Overlapped read(sim, port);
    ASSERT_FALSE(read.Read(8));
    ASSERT_EQ(sim.GetLastError(), DWORD{ERROR_IO_PENDING});
    EXPECT_FALSE(read.Result(TRUE));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_SEM_TIMEOUT});
    EXPECT_EQ(sim.NowMs(), 40u);

    sim.SetWrites("LPT1", Behaviour::AtOnce().Short(2));
    EXPECT_TRUE(write.Write("abcdef"));
    EXPECT_EQ(write.count, 2u);
    EXPECT_EQ(sim.Received("LPT1"), "ab");
}

TEST_F(SimTransfers, UnstallingLetsAStalledWriteMoveEverything) {
    sim.SetWrites("LPT1", Behaviour::Never());
    Overlapped write(sim, port);
    ASSERT_FALSE(write.Write("abcd"));
    sim.Advance(1000);
    EXPECT_FALSE(write.Result(FALSE));
    sim.Unstall("LPT1");
    EXPECT_TRUE(write.Result(FALSE));
    EXPECT_EQ(write.count, 4u);
}

TEST_F(SimTransfers, AHeldDeviceNeitherProgressesNorTimesOutUntilReleased) {
    SetTimeouts(sim, port, 10, 2000);
    sim.SetWrites("LPT1", Behaviour::After(50));
    sim.Hold("LPT1");
    Overlapped write(sim, port);
    ASSERT_FALSE(write.Write("abc"));
    sim.Advance(5000);
    EXPECT_FALSE(write.Result(FALSE));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_IO_INCOMPLETE});

    // A wait on a held transfer waits for real, even on virtual time, until
    // another thread lets the device go.
    DWORD outcome = WAIT_FAILED;
    std::thread waiter([&] { outcome = write.Wait(100); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sim.Release("LPT1");
    waiter.join();
    EXPECT_EQ(outcome, WAIT_OBJECT_0);
    EXPECT_TRUE(write.Result(FALSE));
    EXPECT_EQ(write.count, 3u);
}

TEST_F(SimTransfers, SynchronousRequestsWaitForTheirOwnEnd) {
    sim.ScriptIoctl("LPT1", IOCTL_IEEE1284_NEGOTIATE, Behaviour::FailAfter(ERROR_GEN_FAILURE, 5));
    ParNegotiationMask masks{kIeee1284MaskCentronics, kIeee1284MaskCentronics};
    ParNegotiationMask granted{};
    DWORD returned = 0;
    EXPECT_FALSE(sim.DeviceIoControl(port, IOCTL_IEEE1284_NEGOTIATE, &masks, 4, &granted, 4,
                                     &returned, nullptr));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_GEN_FAILURE});
    EXPECT_EQ(sim.NowMs(), 5u);

    sim.SetWrites("LPT1", Behaviour::After(7));
    DWORD written = 0;
    EXPECT_TRUE(sim.WriteFile(port, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(sim.NowMs(), 12u);
}

TEST_F(SimTransfers, SleepMovesVirtualTimeAndEndsWhatFallsDue) {
    sim.SetWrites("LPT1", Behaviour::After(3));
    Overlapped write(sim, port);
    ASSERT_FALSE(write.Write("abc"));
    sim.Sleep(1);
    EXPECT_FALSE(write.Result(FALSE));
    sim.Sleep(2);
    EXPECT_EQ(sim.NowMs(), 3u);
    EXPECT_TRUE(write.Result(FALSE));
}

TEST(SimThreads, WaitsFromSeveralThreadsOnVirtualTimeAreSafe) {
    SimPlatform sim;
    constexpr int kThreads = 4;
    constexpr int kWrites = 40;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        const std::string path = "LPT" + std::to_string(t + 1);
        sim.AddParallelPort(path);
        sim.SetWrites(path, Behaviour::After(static_cast<DWORD>(t + 1)));
        workers.emplace_back([&sim, path] {
            HANDLE port = Open(sim, path.c_str());
            for (int i = 0; i < kWrites; ++i) {
                Overlapped write(sim, port);
                if (!write.Write("x")) {
                    write.Wait(INFINITE);
                }
            }
            sim.CloseHandle(port);
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(sim.Received("LPT" + std::to_string(t + 1)), std::string(kWrites, 'x'));
    }
    EXPECT_EQ(sim.OpenHandleCount(), 0u);
}

TEST(SimRealTime, DelaysAndWaitsHappenForRealAndAnotherThreadCanSignal) {
    SimPlatform sim(TimeMode::Real);
    sim.AddParallelPort("LPT1");
    HANDLE port = Open(sim, "LPT1");
    sim.SetWrites("LPT1", Behaviour::After(20));
    Overlapped quick(sim, port);
    ASSERT_FALSE(quick.Write("abc"));
    EXPECT_TRUE(quick.Result(TRUE));
    EXPECT_EQ(sim.Received("LPT1"), "abc");

    // Far enough away never to fall due during the test.
    sim.SetWrites("LPT1", Behaviour::After(600000));
    Overlapped slow(sim, port);
    ASSERT_FALSE(slow.Write("def"));
    EXPECT_EQ(slow.Wait(0), static_cast<DWORD>(WAIT_TIMEOUT));
    std::thread canceller([&] { sim.CancelIo(port); });
    EXPECT_FALSE(slow.Result(TRUE));
    canceller.join();
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_OPERATION_ABORTED});

    HANDLE event = sim.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread setter([&] { sim.SetEvent(event); });
    EXPECT_EQ(sim.WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    setter.join();
    sim.CloseHandle(event);
    sim.CloseHandle(port);
}

}  // namespace
}  // namespace zelp::sim
