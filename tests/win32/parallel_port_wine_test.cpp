// CParallelPort over the win32 backend on a parallel port that Wine gives
// us: LPT2, a pty whose far end the test reads at COM6. Wine has no parallel
// port driver, so every IEEE 1284 request and status query fails there with
// ERROR_NOT_SUPPORTED: this is the port logic meeting a driver that refuses
// everything, on a system version on which it does negotiate.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "native/platform/win32/win32_platform.h"
#include "parallel/parallel_port.h"
#include "recording_platform.h"
#include "wine_ports.h"

namespace zelp {
namespace {

using test::RecordingPlatform;

class ParallelPortOnWine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_lptName.empty()) << test::kNoSessionHint;
        ASSERT_TRUE(m_peer.IsOpen()) << "cannot open " << test::LptPeerName();
    }

    Win32Platform m_windows;
    RecordingPlatform m_recorder{m_windows};
    ScopedPlatform m_inForce{m_recorder};
    std::string m_lptName = test::LptPortName();
    test::LptPeer m_peer{test::LptPeerName()};
};

// Wine's default answer is Windows 7 (6.1); on 6, and on 5 (XP, the run
// with ZELP_TEST_SYSTEM_MAJOR=5), the port logic negotiates around every
// transfer, which is the path these tests mean to run.
TEST_F(ParallelPortOnWine, SystemVersionIsOneThatNegotiates) {
    const char* major = std::getenv("ZELP_TEST_SYSTEM_MAJOR");
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(Os().GetVersionExA(&info));
    EXPECT_EQ(info.dwMajorVersion, major != nullptr ? std::strtoul(major, nullptr, 10) : 6u);
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
}

TEST_F(ParallelPortOnWine, RefusedNegotiationStillWritesEveryByteUnchanged) {
    CParallelPort port;
    ASSERT_NE(port.Open(m_lptName.c_str()), nullptr);
    const test::RecordedCall* timeouts = m_recorder.Last("SetCommTimeouts");
    ASSERT_NE(timeouts, nullptr);
    EXPECT_TRUE(timeouts->result) << "the port time-outs were refused: " << timeouts->error;

    // Every byte value, control codes and zeros included, four times over.
    std::vector<BYTE> job(1024);
    for (size_t i = 0; i < job.size(); ++i) {
        job[i] = static_cast<BYTE>(i * 7 + 3);
    }
    m_recorder.Forget();
    ASSERT_TRUE(port.Write(job.data(), static_cast<uint32_t>(job.size())));

    // The switch to compatibility mode was asked for and refused...
    ASSERT_GE(m_recorder.Count("DeviceIoControl", IOCTL_IEEE1284_NEGOTIATE), 1u);
    for (const test::RecordedCall& call : m_recorder.Calls()) {
        if (call.op == "DeviceIoControl") {
            EXPECT_FALSE(call.result);
            EXPECT_EQ(call.error, static_cast<DWORD>(ERROR_NOT_SUPPORTED));
        }
    }
    // ...and the job went out all the same.
    EXPECT_EQ(m_recorder.Count("WriteFile"), 1u);
    EXPECT_EQ(m_peer.Receive(job.size()), job);

    EXPECT_TRUE(port.Close());
}

TEST_F(ParallelPortOnWine, ReadWhoseSwitchIsRefusedIsNeverSent) {
    CParallelPort port;
    ASSERT_NE(port.Open(m_lptName.c_str()), nullptr);
    m_recorder.Forget();

    BYTE reply[64] = {};
    uint32_t count = 12345;
    EXPECT_FALSE(port.Read(reply, count, sizeof(reply)));
    EXPECT_EQ(count, 12345u) << "a failed read reported a count";

    EXPECT_EQ(m_recorder.Count("DeviceIoControl", IOCTL_IEEE1284_NEGOTIATE),
              static_cast<size_t>(CParallelPort::kReadModeTries));
    EXPECT_EQ(m_recorder.Count("ReadFile"), 0u);
    port.Close();
}

TEST_F(ParallelPortOnWine, FailedStatusQueryReadsOffLine) {
    CParallelPort port;
    ASSERT_NE(port.Open(m_lptName.c_str()), nullptr);
    m_recorder.Forget();

    EXPECT_TRUE(port.IsNtPlatform());
    EXPECT_FALSE(port.IsOnline());
    ASSERT_EQ(m_recorder.Count("DeviceIoControl", IOCTL_PAR_QUERY_INFORMATION), 1u);
    EXPECT_EQ(m_recorder.Last("DeviceIoControl", IOCTL_PAR_QUERY_INFORMATION)->error,
              static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    port.Close();
}

TEST_F(ParallelPortOnWine, ClosedPortOpensAgain) {
    CParallelPort port;
    ASSERT_NE(port.Open(m_lptName.c_str()), nullptr);
    port.Close();
    ASSERT_NE(port.Open(m_lptName.c_str()), nullptr);
    const BYTE tail[] = {'e', 'n', 'd', 0x0c};
    EXPECT_TRUE(port.Write(tail, sizeof(tail)));
    EXPECT_EQ(m_peer.Receive(sizeof(tail)), std::vector<BYTE>(tail, tail + sizeof(tail)));
    port.Close();
}

TEST_F(ParallelPortOnWine, AbsentPortDoesNotOpen) {
    CParallelPort port;
    EXPECT_EQ(port.Open("\\\\.\\LPT9"), nullptr);
    EXPECT_FALSE(port.IsOpen());
    const BYTE byte = 'x';
    EXPECT_FALSE(port.Write(&byte, 1));
    EXPECT_EQ(m_recorder.Count("WriteFile"), 0u);
}

}  // namespace
}  // namespace zelp
