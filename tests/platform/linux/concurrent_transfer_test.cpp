// Several threads on one device at once. Named *Concurrent* so that the
// thread-sanitizer run picks them up.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "test_support.h"

namespace zelp::linuxbk {
namespace {

using namespace testing;

class LinuxConcurrentTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_hDevice = OpenDevice(m_os, m_pty.SlavePath());
        ASSERT_NE(m_hDevice, INVALID_HANDLE_VALUE);
    }
    void TearDown() override { m_os.CloseHandle(m_hDevice); }

    // Writes with an overlapped record and waits for the end, as the
    // parallel port's write does.
    bool WriteAndWait(const std::vector<uint8_t>& data) {
        Overlapped io(m_os);
        DWORD written = 0;
        if (m_os.WriteFile(m_hDevice, data.data(), static_cast<DWORD>(data.size()), &written,
                           &io)) {
            return written == data.size();
        }
        if (m_os.GetLastError() != ERROR_IO_PENDING) {
            return false;
        }
        return m_os.GetOverlappedResult(m_hDevice, &io, &written, TRUE) && written == data.size();
    }

    // Drains the master side on its own thread until `total` bytes came.
    std::thread StartReader(size_t total, std::vector<uint8_t>& into) {
        return std::thread([this, total, &into] { into = m_pty.Read(total, 30s); });
    }

    Pty m_pty;
    LinuxPlatform m_os{"/nonexistent-sysfs", "/nonexistent-dev"};
    HANDLE m_hDevice = INVALID_HANDLE_VALUE;
};

TEST_F(LinuxConcurrentTest, TwoWritersNeverInterleaveTheirBlocks) {
    constexpr size_t kBlock = 256 * 1024;
    const std::vector<uint8_t> a(kBlock, 'A'), b(kBlock, 'B');
    std::vector<uint8_t> out;
    std::thread reader = StartReader(2 * kBlock, out);
    std::atomic<int> ok{0};
    std::thread writerA([&] { ok += WriteAndWait(a); });
    std::thread writerB([&] { ok += WriteAndWait(b); });
    writerA.join();
    writerB.join();
    reader.join();

    EXPECT_EQ(ok.load(), 2);
    ASSERT_EQ(out.size(), 2 * kBlock);
    const uint8_t firstBlock = out.front();
    const uint8_t secondBlock = firstBlock == 'A' ? 'B' : 'A';
    for (size_t i = 0; i < out.size(); ++i) {
        ASSERT_EQ(out[i], i < kBlock ? firstBlock : secondBlock) << "at byte " << i;
    }
}

TEST_F(LinuxConcurrentTest, ManySmallWritesFromManyThreadsStayWhole) {
    constexpr int kThreads = 4;
    constexpr int kMessages = 100;
    constexpr size_t kSize = 64;
    std::vector<uint8_t> out;
    std::thread reader = StartReader(kThreads * kMessages * kSize, out);
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int m = 0; m < kMessages; ++m) {
                // Every byte of a message names its thread and message.
                const auto tag = static_cast<uint8_t>(t * kMessages + m);
                if (!WriteAndWait(std::vector<uint8_t>(kSize, tag))) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& w : writers) {
        w.join();
    }
    reader.join();
    EXPECT_EQ(failures.load(), 0);
    ASSERT_EQ(out.size(), kThreads * kMessages * kSize);
    for (size_t start = 0; start < out.size(); start += kSize) {
        for (size_t i = 1; i < kSize; ++i) {
            ASSERT_EQ(out[start + i], out[start]) << "message at " << start << " was split";
        }
    }
}

TEST_F(LinuxConcurrentTest, WaitingForALaterTransferDrivesTheEarlierOnesFirst) {
    constexpr size_t kBig = 1024 * 1024;
    const std::vector<uint8_t> first(kBig, 'A'), second(1000, 'B');
    Overlapped io1(m_os), io2(m_os);
    DWORD n = 0;
    ASSERT_FALSE(m_os.WriteFile(m_hDevice, first.data(), kBig, &n, &io1));
    ASSERT_FALSE(m_os.WriteFile(m_hDevice, second.data(), 1000, &n, &io2));
    std::vector<uint8_t> out;
    std::thread reader = StartReader(kBig + 1000, out);

    // Only the second transfer is waited for; nobody waits for the first.
    ASSERT_EQ(m_os.WaitForSingleObject(io2.Event(), 30000), WAIT_OBJECT_0);
    reader.join();
    EXPECT_TRUE(io1.Signalled());
    EXPECT_TRUE(m_os.GetOverlappedResult(m_hDevice, &io1, &n, FALSE));
    EXPECT_EQ(n, kBig);
    ASSERT_EQ(out.size(), kBig + 1000);
    EXPECT_EQ(out[kBig - 1], 'A');
    EXPECT_EQ(out[kBig], 'B');
}

TEST_F(LinuxConcurrentTest, PendingReadWakesWhenThePeerWritesLater) {
    Overlapped io(m_os);
    uint8_t buffer[32];
    DWORD n = 0;
    ASSERT_FALSE(m_os.ReadFile(m_hDevice, buffer, sizeof buffer, &n, &io));
    std::thread peer([&] {
        std::this_thread::sleep_for(50ms);
        m_pty.Write("late");
    });
    EXPECT_EQ(m_os.WaitForSingleObject(io.Event(), INFINITE), WAIT_OBJECT_0);
    peer.join();
    ASSERT_TRUE(m_os.GetOverlappedResult(m_hDevice, &io, &n, FALSE));
    EXPECT_EQ(std::string(buffer, buffer + n), "late");
}

TEST_F(LinuxConcurrentTest, CancelFromAnotherThreadEndsAnUnboundedWait) {
    for (bool byClose : {false, true}) {
        Overlapped io(m_os);
        uint8_t buffer[32];
        DWORD n = 0;
        ASSERT_FALSE(m_os.ReadFile(m_hDevice, buffer, sizeof buffer, &n, &io));
        std::thread canceller([&] {
            std::this_thread::sleep_for(50ms);
            if (byClose) {
                m_os.CloseHandle(m_hDevice);
            } else {
                m_os.CancelIo(m_hDevice);
            }
        });
        // The waiter is inside poll() on the device when the cancel comes.
        EXPECT_FALSE(m_os.GetOverlappedResult(m_hDevice, &io, &n, TRUE));
        EXPECT_EQ(m_os.GetLastError(), ERROR_OPERATION_ABORTED);
        canceller.join();
    }
    // The close is complete: the device opens again at once.
    m_hDevice = OpenDevice(m_os, m_pty.SlavePath());
    EXPECT_NE(m_hDevice, INVALID_HANDLE_VALUE);
}

TEST_F(LinuxConcurrentTest, CancelWhileAWriterStreamsKeepsItsBytesWhole) {
    constexpr size_t kBig = 8 * 1024 * 1024;
    const std::vector<uint8_t> data = Pattern(kBig, 3);
    std::atomic<bool> stop{false};
    std::vector<uint8_t> out;
    std::thread reader([&] {
        while (!stop) {
            const std::vector<uint8_t> got = m_pty.Read(1 << 16, 5ms);
            out.insert(out.end(), got.begin(), got.end());
        }
    });
    Overlapped io(m_os);
    DWORD n = 0;
    ASSERT_FALSE(m_os.WriteFile(m_hDevice, data.data(), kBig, &n, &io));
    std::thread canceller([&] {
        std::this_thread::sleep_for(30ms);
        m_os.CancelIo(m_hDevice);
    });
    const BOOL done = m_os.GetOverlappedResult(m_hDevice, &io, &n, TRUE);
    canceller.join();
    // Let the reader collect what the pty still holds.
    std::this_thread::sleep_for(100ms);
    stop = true;
    reader.join();
    if (!done) {
        EXPECT_EQ(m_os.GetLastError(), ERROR_OPERATION_ABORTED);
    }
    ASSERT_EQ(out.size(), n) << "the count is exactly what went out";
    EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin()));
}

// Reads that time out (the parallel port's reads, from a printer with nothing
// to say) while another thread's writes make their first tries: a read that
// had to queue behind such a try must still end by its time-out, not wait in
// poll() for data that never comes.
TEST_F(LinuxConcurrentTest, ReadsQueuedBehindFirstTriesStillEndByTheirTimeout) {
    using Clock = std::chrono::steady_clock;
    SetTotalTimeouts(m_os, m_hDevice, 2, 2000);
    std::atomic<bool> stop{false};
    std::thread drain([&] {
        while (!stop) {
            m_pty.Read(1 << 16, 1ms);
        }
    });
    // The shortest writes, so that first tries end as often as they can.
    std::thread writer([&] {
        const std::vector<uint8_t> data(1, 'w');
        while (!stop) {
            WriteAndWait(data);
        }
    });
    // A read still running after this long waits for something other than its
    // time-out; it is cancelled, so that the test ends.
    std::atomic<Clock::rep> readSince{0};
    std::atomic<int> stuck{0};
    std::thread guard([&] {
        while (!stop) {
            std::this_thread::sleep_for(50ms);
            const Clock::rep since = readSince.load();
            if (since != 0 && Clock::now() - Clock::time_point(Clock::duration(since)) > 2s) {
                ++stuck;
                m_os.CancelIo(m_hDevice);
            }
        }
    });
    // The window is narrow: it takes a thousand reads or so to meet it at all.
    const Clock::time_point until = Clock::now() + 4s;
    while (Clock::now() < until) {
        Overlapped io(m_os);
        uint8_t buffer[16];
        DWORD n = 0;
        readSince.store(Clock::now().time_since_epoch().count());
        if (!m_os.ReadFile(m_hDevice, buffer, sizeof buffer, &n, &io) &&
            m_os.GetLastError() == ERROR_IO_PENDING) {
            m_os.GetOverlappedResult(m_hDevice, &io, &n, TRUE);
        }
        readSince.store(0);
    }
    stop = true;
    guard.join();
    writer.join();
    drain.join();
    EXPECT_EQ(stuck.load(), 0) << "reads that did not end by their time-out";
}

// Most of these writes finish at their first try and some have to wait for
// the reader; cancels come at any moment. A write that finished is never
// reported cancelled, and one cancelled counts exactly what it moved: the
// reader gets each write's counted bytes, in order, and nothing else.
TEST_F(LinuxConcurrentTest, CancelsRacingWritesNeitherLoseNorRepeatBytes) {
    constexpr size_t kWrites = 2000;
    constexpr size_t kSize = 512;
    std::atomic<bool> stop{false};
    std::vector<uint8_t> out;
    std::thread reader([&] {
        while (!stop) {
            const std::vector<uint8_t> got = m_pty.Read(1 << 16, 1ms);
            out.insert(out.end(), got.begin(), got.end());
        }
    });
    std::thread canceller([&] {
        while (!stop) {
            m_os.CancelIo(m_hDevice);
            std::this_thread::sleep_for(50us);
        }
    });
    std::vector<uint8_t> expected;
    for (size_t i = 0; i < kWrites; ++i) {
        const std::vector<uint8_t> data = Pattern(kSize, static_cast<uint8_t>(i));
        Overlapped io(m_os);
        DWORD n = 0;
        BOOL done = m_os.WriteFile(m_hDevice, data.data(), kSize, &n, &io);
        if (!done && m_os.GetLastError() == ERROR_IO_PENDING) {
            done = m_os.GetOverlappedResult(m_hDevice, &io, &n, TRUE);
        }
        if (done) {
            ASSERT_EQ(n, kSize) << "write " << i;
        } else {
            ASSERT_EQ(m_os.GetLastError(), ERROR_OPERATION_ABORTED) << "write " << i;
            n = static_cast<DWORD>(io.Record().InternalHigh);
        }
        expected.insert(expected.end(), data.begin(), data.begin() + n);
    }
    std::this_thread::sleep_for(100ms);  // what the pty still holds
    stop = true;
    canceller.join();
    reader.join();
    EXPECT_EQ(out.size(), expected.size());
    EXPECT_TRUE(out == expected);
}

}  // namespace
}  // namespace zelp::linuxbk
