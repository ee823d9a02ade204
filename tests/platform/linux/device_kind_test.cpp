// The per-kind driving strategies, exercised on a pty that stands in for the
// printer drivers we cannot load here (usblp, lp). The cases the real drivers
// can show too are in driver_behaviour_test.cpp.
#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "native/platform/linux/device.h"
#include "test_support.h"

namespace zelp::linuxbk {
namespace {

using namespace testing;

class LinuxDeviceKindTest : public ::testing::Test {
protected:
    // A device of `kind` over the pty's slave side.
    std::shared_ptr<Device> DeviceOfKind(DeviceKind kind) {
        const int fd = OpenRawTerminal(m_pty.SlavePath());
        return std::make_shared<Device>(
            UniqueFd(fd, m_ledger), UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK), m_ledger),
            kind);
    }

    Pty m_pty;
    std::shared_ptr<FdLedger> m_ledger = std::make_shared<FdLedger>();
};

TEST_F(LinuxDeviceKindTest, LinePrinterErrorsWaitForThePortTimeOut) {
    std::shared_ptr<Device> device = DeviceOfKind(DeviceKind::ParallelLp);
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutConstant = 100;
    device->SetTimeouts(timeouts);
    // A hung-up terminal answers EIO, as lp does while the printer is off line.
    m_pty.CloseMaster();
    const std::vector<uint8_t> data(16, 'x');
    OVERLAPPED record{};
    DWORD count = 99;
    const auto start = std::chrono::steady_clock::now();
    BOOL done = device->Submit(WriteRequest(data, record), &count);
    if (!done) {
        ASSERT_EQ(kobj::LastErrorCode(), ERROR_IO_PENDING);
        done = device->Result(&record, &count, true);
    }
    EXPECT_TRUE(done) << "a port time-out ends the write successfully";
    EXPECT_EQ(count, 0u);
    EXPECT_GE(MillisecondsSince(start), 80.0);
}

TEST_F(LinuxDeviceKindTest, TerminalTreatsEioAsTheEndOfItsPeer) {
    std::shared_ptr<Device> device = DeviceOfKind(DeviceKind::Terminal);
    m_pty.CloseMaster();
    const std::vector<uint8_t> data(16, 'x');
    OVERLAPPED record{};
    DWORD count = 0;
    EXPECT_FALSE(device->Submit(WriteRequest(data, record), &count));
    EXPECT_EQ(kobj::LastErrorCode(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(device->PeerGone());
    EXPECT_EQ(device->TakeCommErrors() & CE_DNS, CE_DNS);
}

}  // namespace
}  // namespace zelp::linuxbk
