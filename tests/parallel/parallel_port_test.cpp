// CParallelPort on a virtual port: opening and closing, what counts as a
// written or read job, and the on-line test.
#include <gtest/gtest.h>

#include <thread>

#include "parallel_test_support.h"

namespace zelp::testing {
namespace {

using sim::Behaviour;

TEST_F(ParallelPortTest, OpenNeedsAFreeExistingPortAndSetsItsTimeOuts) {
    CParallelPort absent;
    EXPECT_EQ(absent.Open("LPT9"), nullptr);
    EXPECT_FALSE(absent.IsOpen());
    EXPECT_TRUE(absent.Close());

    CParallelPort first;
    HANDLE handle = first.Open(kPortName);
    ASSERT_NE(handle, nullptr);
    CParallelPort second;
    EXPECT_EQ(second.Open(kPortName), nullptr);

    const auto timeouts = sim.Calls(kPortName, {"SetCommTimeouts"});
    ASSERT_EQ(timeouts.size(), 1u);
    EXPECT_EQ(timeouts[0].handle, handle);
    EXPECT_EQ(timeouts[0].timeouts.ReadIntervalTimeout, 0u);
    EXPECT_EQ(timeouts[0].timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts[0].timeouts.ReadTotalTimeoutConstant, 10u);
    EXPECT_EQ(timeouts[0].timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts[0].timeouts.WriteTotalTimeoutConstant, 2000u);

    EXPECT_TRUE(first.Close());
    EXPECT_NE(second.Open(kPortName), nullptr);  // free again once closed
}

TEST_F(ParallelPortTest, OnlyAWriteOfEveryByteCountsAsWritten) {
    auto port = OpenPort(5);
    sim.SetWrites(kPortName, Behaviour::After(40));
    EXPECT_TRUE(Write(*port, "pending job"));
    EXPECT_EQ(sim.Received(kPortName), "pending job");

    // The printer takes three bytes, then nothing until the write time-out.
    sim.SetWrites(kPortName, Behaviour::Never().Short(3));
    const uint64_t start = sim.NowMs();
    EXPECT_FALSE(Write(*port, "abcdef"));
    EXPECT_EQ(sim.NowMs() - start, CParallelPort::kWriteTotalTimeoutMs);
    EXPECT_EQ(sim.TakeReceived(kPortName), "pending jobabc");

    sim.SetWrites(kPortName, Behaviour::AtOnce().Short(2));
    EXPECT_FALSE(Write(*port, "abcdef"));
    sim.SetWrites(kPortName, Behaviour::FailAtOnce(ERROR_GEN_FAILURE));
    EXPECT_FALSE(Write(*port, "abc"));
    sim.SetWrites(kPortName, Behaviour::FailAfter(ERROR_GEN_FAILURE, 5));
    EXPECT_FALSE(Write(*port, "abc"));
}

TEST_F(ParallelPortTest, AReadEndingAtThePortTimeOutWithNothingIsASuccessOfZero) {
    auto port = OpenPort(5);
    char buffer[32];
    uint32_t count = 99;
    const uint64_t start = sim.NowMs();
    EXPECT_TRUE(port->Read(buffer, count, sizeof(buffer)));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(sim.NowMs() - start, CParallelPort::kReadTotalTimeoutMs);

    // A reply that comes within the time-out is read.
    sim.QueueReply(kPortName, "late", 4);
    EXPECT_TRUE(port->Read(buffer, count, sizeof(buffer)));
    EXPECT_EQ(std::string(buffer, count), "late");
}

TEST_F(ParallelPortTest, TheStatusByteDecidesOnLineByTheOffLineAndPowerBitsAlone) {
    auto port = OpenPort(5);
    for (BYTE status : {0x00, 0x04, 0x20, 0x40, 0x80, 0xE4}) {
        sim.SetParallelStatus(kPortName, status);
        EXPECT_TRUE(port->IsOnline()) << "status " << int(status);
    }
    for (BYTE status : {0x08, 0x10, 0x18, 0x88, 0x14, 0xFF}) {
        sim.SetParallelStatus(kPortName, status);
        EXPECT_FALSE(port->IsOnline()) << "status " << int(status);
    }
}

TEST_F(ParallelPortTest, AFailedStatusQueryMeansOffLine) {
    auto port = OpenPort(6);
    sim.SetParallelStatus(kPortName, PARALLEL_SELECTED);
    sim.ScriptIoctl(kPortName, IOCTL_PAR_QUERY_INFORMATION,
                    Behaviour::FailAfter(ERROR_GEN_FAILURE, 20), 1);
    EXPECT_FALSE(port->IsOnline());
    sim.ScriptIoctl(kPortName, IOCTL_PAR_QUERY_INFORMATION,
                    Behaviour::FailAtOnce(ERROR_GEN_FAILURE), 1);
    EXPECT_FALSE(port->IsOnline());
    EXPECT_TRUE(port->IsOnline());
    sim.Unplug(kPortName);
    EXPECT_FALSE(port->IsOnline());
}

TEST_F(ParallelPortTest, OffNtTheCommErrorWordDecidesOnLine) {
    auto port = OpenPort(4, 1);
    EXPECT_FALSE(port->IsNtPlatform());
    for (DWORD errors :
         std::initializer_list<DWORD>{0, CE_PTO, CE_OOP, CE_PTO | CE_OOP | CE_FRAME}) {
        sim.SetCommErrors(kPortName, errors);
        EXPECT_TRUE(port->IsOnline()) << "errors " << errors;
    }
    for (DWORD errors :
         std::initializer_list<DWORD>{CE_IOE, CE_DNS, CE_IOE | CE_PTO, CE_DNS | CE_OOP}) {
        sim.SetCommErrors(kPortName, errors);
        EXPECT_FALSE(port->IsOnline()) << "errors " << errors;
    }
    sim.SetCommErrors(kPortName, 0);
    sim.FailClearCommError(kPortName, ERROR_GEN_FAILURE);
    EXPECT_FALSE(port->IsOnline());
    EXPECT_TRUE(sim.Calls(kPortName, {"DeviceIoControl"}).empty());
}

TEST_F(ParallelPortTest, AClosedPortSendsNothingAndIsNotOnLine) {
    CParallelPort port;
    EXPECT_FALSE(port.IsOnline());
    EXPECT_FALSE(Write(port, "abc"));
    char buffer[4];
    uint32_t count = 3;
    EXPECT_FALSE(port.Read(buffer, count, sizeof(buffer)));
    EXPECT_EQ(count, 3u);
    EXPECT_TRUE(port.SetIeee1284Mode(0));
    EXPECT_TRUE(Requests().empty());
}

TEST_F(ParallelPortTest, APrinterPulledOutMidJobFailsTheWrite) {
    auto port = OpenPort(5);
    sim.SetChat(kPortName, sim::Chat().TransfersOnly().Write("job", Behaviour::UnplugAfter(0)));
    EXPECT_FALSE(Write(*port, "job"));
    EXPECT_FALSE(port->IsOnline());
    EXPECT_FALSE(Write(*port, "again"));
    EXPECT_TRUE(sim.ChatFinished(kPortName)) << sim.ChatReport(kPortName);
}

TEST_F(ParallelPortTest, CloseWaitsForAWriteRunningOnAnotherThread) {
    auto port = OpenPort(5);
    sim.Hold(kPortName);
    bool bWritten = false;
    std::thread writer([&] { bWritten = Write(*port, "job"); });
    ASSERT_TRUE(sim.WaitForCalls(kPortName, "WriteFile", 1, std::chrono::seconds(10)));
    std::thread closer([&] { port->Close(); });
    // However long the closer runs, the handle must stay open while the
    // write is in flight.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(sim.Calls(kPortName, {"CloseHandle"}).empty());
    sim.Release(kPortName);
    writer.join();
    closer.join();
    EXPECT_TRUE(bWritten);
    EXPECT_EQ(sim.Received(kPortName), "job");
    const auto calls = sim.Calls(kPortName, {"GetOverlappedResult", "CloseHandle"});
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].op, "CloseHandle");
}

TEST_F(ParallelPortTest, AFinishedPortLeavesNoHandleOpen) {
    {
        auto port = OpenPort(6);
        EXPECT_TRUE(Write(*port, "abc"));
        char buffer[4];
        uint32_t count = 0;
        EXPECT_TRUE(port->Read(buffer, count, sizeof(buffer)));
        EXPECT_TRUE(port->IsOnline());
        EXPECT_TRUE(port->Close());
        EXPECT_EQ(sim.OpenCount(kPortName), 0u);
    }
    EXPECT_EQ(sim.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace zelp::testing
