#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "native/platform/linux/error_codes.h"
#include "test_support.h"

namespace zelp::linuxbk {
namespace {

using namespace testing;
using Clock = std::chrono::steady_clock;

// More than any pty buffers, so a writer whose peer does not read stalls.
constexpr size_t kMoreThanAPtyHolds = 4 * 1024 * 1024;

class LinuxTransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_hDevice = OpenDevice(m_os, m_pty.SlavePath());
        ASSERT_NE(m_hDevice, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (m_hDevice != INVALID_HANDLE_VALUE) {
            m_os.CloseHandle(m_hDevice);
        }
    }

    // Issues a read that must be left pending, and checks how it says so.
    void StartPendingRead(Overlapped& io, void* buffer, DWORD length) {
        DWORD count = 12345;
        ASSERT_FALSE(m_os.ReadFile(m_hDevice, buffer, length, &count, &io));
        ASSERT_EQ(m_os.GetLastError(), ERROR_IO_PENDING);
        EXPECT_EQ(count, 12345u) << "a pending transfer writes no count";
        EXPECT_EQ(io.Record().Internal, STATUS_PENDING);
    }

    Pty m_pty;
    LinuxPlatform m_os{"/nonexistent-sysfs", "/nonexistent-dev"};
    HANDLE m_hDevice = INVALID_HANDLE_VALUE;
};

TEST_F(LinuxTransferTest, EveryByteValuePassesUnchangedBothWays) {
    const std::vector<uint8_t> all = Pattern(256, 0);
    std::vector<uint8_t> sorted(256);
    for (unsigned i = 0; i < 256; ++i) {
        sorted[i] = static_cast<uint8_t>(i);
    }
    for (const auto& bytes : {sorted, all}) {
        DWORD written = 0;
        ASSERT_TRUE(m_os.WriteFile(m_hDevice, bytes.data(), 256, &written, nullptr));
        EXPECT_EQ(written, 256u);
        EXPECT_EQ(m_pty.Read(256), bytes);

        m_pty.Write(bytes);
        std::vector<uint8_t> got;
        while (got.size() < 256) {
            uint8_t chunk[256];
            DWORD n = 0;
            ASSERT_TRUE(m_os.ReadFile(m_hDevice, chunk, sizeof chunk, &n, nullptr));
            ASSERT_GT(n, 0u);
            got.insert(got.end(), chunk, chunk + n);
        }
        EXPECT_EQ(got, bytes);
    }
}

TEST_F(LinuxTransferTest, TransferThatCanFinishAtOnceReportsLikeACompletion) {
    Overlapped io(m_os);
    DWORD written = 0;
    ASSERT_TRUE(m_os.WriteFile(m_hDevice, "hello", 5, &written, &io));
    EXPECT_EQ(written, 5u);
    EXPECT_TRUE(io.Signalled());
    EXPECT_EQ(io.Record().Internal, 0u);
    EXPECT_EQ(io.Record().InternalHigh, 5u);
    DWORD count = 0;
    EXPECT_TRUE(m_os.GetOverlappedResult(m_hDevice, &io, &count, FALSE));
    EXPECT_EQ(count, 5u);

    Overlapped empty(m_os);
    EXPECT_TRUE(m_os.WriteFile(m_hDevice, nullptr, 0, &written, &empty));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(m_pty.Read(5), std::vector<uint8_t>({'h', 'e', 'l', 'l', 'o'}));
}

TEST_F(LinuxTransferTest, PendingReadCompletesWithWhatThePeerSent) {
    Overlapped io(m_os);
    uint8_t buffer[100] = {};
    StartPendingRead(io, buffer, sizeof buffer);
    DWORD count = 0;
    EXPECT_FALSE(m_os.GetOverlappedResult(m_hDevice, &io, &count, FALSE));
    EXPECT_EQ(m_os.GetLastError(), ERROR_IO_INCOMPLETE);
    EXPECT_FALSE(io.Signalled());

    m_pty.Write("abc");
    // The read ends with what arrived; it does not wait to fill its buffer.
    ASSERT_TRUE(m_os.GetOverlappedResult(m_hDevice, &io, &count, TRUE));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(std::string(buffer, buffer + 3), "abc");
    EXPECT_TRUE(io.Signalled());
    EXPECT_EQ(buffer[3], 0) << "nothing past the bytes read is touched";
}

TEST_F(LinuxTransferTest, ReadPortTimeOutEndsTheReadEmptyAndSuccessful) {
    SetTotalTimeouts(m_os, m_hDevice, 10, 2000);
    for (bool byEvent : {true, false}) {
        Overlapped io(m_os);
        uint8_t buffer[16];
        StartPendingRead(io, buffer, sizeof buffer);
        if (byEvent) {
            ASSERT_EQ(m_os.WaitForSingleObject(io.Event(), 10000), WAIT_OBJECT_0);
        }
        DWORD count = 99;
        ASSERT_TRUE(m_os.GetOverlappedResult(m_hDevice, &io, &count, TRUE));
        EXPECT_EQ(count, 0u);
    }
}

TEST_F(LinuxTransferTest, WritePortTimeOutEndsWithTheBytesThatWentOut) {
    SetTotalTimeouts(m_os, m_hDevice, 10, 200);
    const std::vector<uint8_t> data(kMoreThanAPtyHolds, 0x5A);
    Overlapped io(m_os);
    const auto start = Clock::now();
    DWORD written = 0;
    ASSERT_FALSE(
        m_os.WriteFile(m_hDevice, data.data(), static_cast<DWORD>(data.size()), &written, &io));
    ASSERT_EQ(m_os.GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(m_os.GetOverlappedResult(m_hDevice, &io, &written, TRUE));
    EXPECT_GE(MillisecondsSince(start), 150.0);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, data.size());
    EXPECT_EQ(m_pty.Read(written).size(), written);
}

TEST_F(LinuxTransferTest, CancelAfterAWaitTimesOutEndsTheTransferAborted) {
    Overlapped io(m_os);
    uint8_t buffer[16];
    StartPendingRead(io, buffer, sizeof buffer);
    EXPECT_EQ(m_os.WaitForSingleObject(io.Event(), 30), WAIT_TIMEOUT);

    const auto start = Clock::now();
    ASSERT_TRUE(m_os.CancelIo(m_hDevice));
    DWORD count = 99;
    EXPECT_FALSE(m_os.GetOverlappedResult(m_hDevice, &io, &count, TRUE));
    EXPECT_EQ(m_os.GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(io.Signalled());
    EXPECT_LT(MillisecondsSince(start), 5000.0);

    // The device is still fine for the next transfer.
    m_pty.Write("z");
    DWORD n = 0;
    ASSERT_TRUE(m_os.ReadFile(m_hDevice, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(n, 1u);
    EXPECT_TRUE(m_os.CancelIo(m_hDevice)) << "nothing pending is fine too";
}

TEST_F(LinuxTransferTest, CancelledWriteKeepsTheCountItMoved) {
    const std::vector<uint8_t> data(kMoreThanAPtyHolds, 0x11);
    Overlapped io(m_os);
    DWORD written = 0;
    ASSERT_FALSE(
        m_os.WriteFile(m_hDevice, data.data(), static_cast<DWORD>(data.size()), &written, &io));
    EXPECT_EQ(m_os.WaitForSingleObject(io.Event(), 30), WAIT_TIMEOUT);
    m_os.CancelIo(m_hDevice);
    EXPECT_FALSE(m_os.GetOverlappedResult(m_hDevice, &io, &written, TRUE));
    EXPECT_EQ(m_os.GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, data.size());
    EXPECT_EQ(m_pty.Read(written).size(), written);
}

TEST_F(LinuxTransferTest, LaterTransferWaitsBehindAPendingOne) {
    const std::vector<uint8_t> first(kMoreThanAPtyHolds, 'A');
    Overlapped io1(m_os), io2(m_os);
    DWORD written = 0;
    ASSERT_FALSE(
        m_os.WriteFile(m_hDevice, first.data(), static_cast<DWORD>(first.size()), &written, &io1));
    // Room in the pty does not let a later write jump the queue.
    const std::vector<uint8_t> drained = m_pty.ReadAvailable();
    EXPECT_FALSE(m_os.WriteFile(m_hDevice, "BB", 2, &written, &io2));
    EXPECT_EQ(m_os.GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(m_os.WaitForSingleObject(io2.Event(), 20), WAIT_TIMEOUT);
    const std::vector<uint8_t> more = m_pty.ReadAvailable();
    for (uint8_t byte : more) {
        ASSERT_EQ(byte, 'A');
    }
    m_os.CancelIo(m_hDevice);
    EXPECT_FALSE(m_os.GetOverlappedResult(m_hDevice, &io1, &written, TRUE));
    EXPECT_FALSE(m_os.GetOverlappedResult(m_hDevice, &io2, &written, TRUE));
    EXPECT_EQ(m_os.GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(written, 0u);
}

TEST_F(LinuxTransferTest, ClosingAbandonsPendingTransfers) {
    Overlapped io(m_os);
    uint8_t buffer[16];
    StartPendingRead(io, buffer, sizeof buffer);
    ASSERT_TRUE(m_os.CloseHandle(m_hDevice));
    EXPECT_TRUE(io.Signalled());
    EXPECT_EQ(ErrorFromCompletionStatus(io.Record().Internal), ERROR_OPERATION_ABORTED);
    DWORD count = 0;
    EXPECT_FALSE(m_os.GetOverlappedResult(m_hDevice, &io, &count, TRUE));
    EXPECT_EQ(m_os.GetLastError(), ERROR_INVALID_HANDLE);

    // Closed means closed: the device opens again at once.
    m_hDevice = OpenDevice(m_os, m_pty.SlavePath());
    EXPECT_NE(m_hDevice, INVALID_HANDLE_VALUE);
}

TEST_F(LinuxTransferTest, HungUpPeerEndsReadsAndFailsWrites) {
    Overlapped pending(m_os);
    uint8_t buffer[16];
    StartPendingRead(pending, buffer, sizeof buffer);
    m_pty.CloseMaster();

    // Without port time-outs nothing more can come: the read fails.
    DWORD count = 0;
    EXPECT_FALSE(m_os.GetOverlappedResult(m_hDevice, &pending, &count, TRUE));
    EXPECT_EQ(m_os.GetLastError(), ERROR_DEVICE_NOT_CONNECTED);

    // With them, a read ends empty as at its time-out, without waiting for it.
    SetTotalTimeouts(m_os, m_hDevice, 60000, 60000);
    Overlapped io(m_os);
    BOOL done = m_os.ReadFile(m_hDevice, buffer, sizeof buffer, &count, &io);
    if (!done && m_os.GetLastError() == ERROR_IO_PENDING) {
        ASSERT_EQ(m_os.WaitForSingleObject(io.Event(), 10000), WAIT_OBJECT_0);
        done = m_os.GetOverlappedResult(m_hDevice, &io, &count, FALSE);
    }
    EXPECT_TRUE(done);
    EXPECT_EQ(count, 0u);

    Overlapped write(m_os);
    done = m_os.WriteFile(m_hDevice, "x", 1, &count, &write);
    if (!done && m_os.GetLastError() == ERROR_IO_PENDING) {
        done = m_os.GetOverlappedResult(m_hDevice, &write, &count, TRUE);
    }
    EXPECT_FALSE(done);
    EXPECT_EQ(m_os.GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(LinuxTransferTest, FifoAndRegularFileCarryBytesToo) {
    TempDir tmp;
    const std::string fifo = tmp / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    HANDLE pipe = OpenDevice(m_os, fifo);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    ASSERT_TRUE(m_os.WriteFile(pipe, "through", 7, &count, nullptr));
    char back[16] = {};
    ASSERT_TRUE(m_os.ReadFile(pipe, back, sizeof back, &count, nullptr));
    EXPECT_EQ(std::string(back, count), "through");
    m_os.CloseHandle(pipe);

    const std::string path = tmp / "file";
    std::ofstream(path) << "";
    HANDLE file = OpenDevice(m_os, path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    Overlapped io(m_os);
    ASSERT_TRUE(m_os.WriteFile(file, "spooled", 7, &count, &io));
    // At the end of a file a read ends at once, empty.
    Overlapped read(m_os);
    ASSERT_TRUE(m_os.ReadFile(file, back, sizeof back, &count, &read));
    EXPECT_EQ(count, 0u);
    m_os.CloseHandle(file);
    std::stringstream content;
    content << std::ifstream(path).rdbuf();
    EXPECT_EQ(content.str(), "spooled");
}

TEST_F(LinuxTransferTest, BadArgumentsAreRefused) {
    Overlapped io(m_os);
    DWORD count = 0;
    EXPECT_FALSE(m_os.ReadFile(m_hDevice, nullptr, 4, &count, &io));
    EXPECT_EQ(m_os.GetLastError(), ERROR_INVALID_USER_BUFFER);
    EXPECT_FALSE(m_os.GetOverlappedResult(m_hDevice, nullptr, &count, TRUE));
    EXPECT_EQ(m_os.GetLastError(), ERROR_INVALID_PARAMETER);
    OVERLAPPED foreignEvent{};
    foreignEvent.hEvent = m_hDevice;
    uint8_t byte = 0;
    EXPECT_FALSE(m_os.ReadFile(m_hDevice, &byte, 1, &count, &foreignEvent));
    EXPECT_EQ(m_os.GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(m_os.SetCommTimeouts(m_hDevice, nullptr));
}

}  // namespace
}  // namespace zelp::linuxbk
