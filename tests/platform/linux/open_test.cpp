#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "test_support.h"

namespace zelp::linuxbk {
namespace {

using namespace testing;

class LinuxOpenTest : public ::testing::Test {
protected:
    TempDir m_tmp;
    LinuxPlatform m_os{m_tmp / "sys", m_tmp / "dev"};
};

// Runs `probe` in a child process and gives its exit status.
template <class Probe>
int InChildProcess(Probe probe) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(probe());
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(LinuxOpenTest, SecondOpenInThisProcessIsRefusedUntilTheFirstCloses) {
    Pty pty;
    HANDLE first = OpenDevice(m_os, pty.SlavePath());
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_NE(first, nullptr);

    EXPECT_EQ(OpenDevice(m_os, pty.SlavePath()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_os.GetLastError(), ERROR_SHARING_VIOLATION);

    // Another backend instance in the same process is refused as well.
    LinuxPlatform other("/nonexistent", "/nonexistent");
    EXPECT_EQ(OpenDevice(other, pty.SlavePath()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(other.GetLastError(), ERROR_SHARING_VIOLATION);

    ASSERT_TRUE(m_os.CloseHandle(first));
    HANDLE again = OpenDevice(m_os, pty.SlavePath());
    ASSERT_NE(again, INVALID_HANDLE_VALUE);
    EXPECT_NE(again, first) << "handle values are not reused";
    m_os.CloseHandle(again);
}

TEST_F(LinuxOpenTest, AnotherProcessIsRefusedWhileTheDeviceIsOpen) {
    Pty pty;
    const std::string path = pty.SlavePath();
    auto childOpen = [&] {
        LinuxPlatform child("/nonexistent", "/nonexistent");
        HANDLE h = OpenDevice(child, path);
        if (h != INVALID_HANDLE_VALUE) {
            return 10;
        }
        return child.GetLastError() == ERROR_SHARING_VIOLATION ? 20 : 30;
    };
    HANDLE device = OpenDevice(m_os, path);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(InChildProcess(childOpen), 20);
    m_os.CloseHandle(device);
    EXPECT_EQ(InChildProcess(childOpen), 10);
}

TEST_F(LinuxOpenTest, FailedOpensReportWhy) {
    EXPECT_EQ(OpenDevice(m_os, m_tmp / "absent"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_os.GetLastError(), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(OpenDevice(m_os, ""), INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_os.GetLastError(), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(OpenDevice(m_os, m_tmp.Path()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_os.GetLastError(), ERROR_ACCESS_DENIED);

    EXPECT_EQ(OpenDevice(m_os, m_tmp / "absent/deeper"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_os.GetLastError(), ERROR_FILE_NOT_FOUND);

    // Opening never creates anything.
    HANDLE created = m_os.CreateFileA((m_tmp / "new").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, 2 /* CREATE_ALWAYS */, 0, nullptr);
    EXPECT_EQ(created, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(std::filesystem::exists(m_tmp / "new"));
}

TEST_F(LinuxOpenTest, LptNamesOpenTheParportNodesUnderTheDevRoot) {
    Pty pty;
    std::filesystem::create_directories(m_tmp / "dev");
    std::filesystem::create_symlink(pty.SlavePath(), m_tmp / "dev/parport0");

    for (const char* name : {"LPT1", "\\\\.\\LPT1", "lpt1"}) {
        HANDLE device = OpenDevice(m_os, name);
        ASSERT_NE(device, INVALID_HANDLE_VALUE) << name;
        DWORD written = 0;
        ASSERT_TRUE(m_os.WriteFile(device, name, 4, &written, nullptr)) << name;
        EXPECT_EQ(written, 4u);
        const std::vector<uint8_t> got = pty.Read(4);
        EXPECT_EQ(std::string(got.begin(), got.end()), std::string(name, 4));
        m_os.CloseHandle(device);
    }

    EXPECT_EQ(OpenDevice(m_os, "LPT2"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_os.GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(LinuxOpenTest, ClosingGivesBackEveryHandleAndDescriptor) {
    const size_t fdsBefore = CountOpenFds();
    {
        Pty pty;
        const std::string fifo = m_tmp / "fifo";
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::ofstream(m_tmp / "file") << "x";

        std::vector<HANDLE> handles = {OpenDevice(m_os, pty.SlavePath()), OpenDevice(m_os, fifo),
                                       OpenDevice(m_os, m_tmp / "file"),
                                       m_os.CreateEventA(nullptr, TRUE, FALSE, nullptr),
                                       m_os.CreateMutexA(nullptr, FALSE, nullptr)};
        for (HANDLE h : handles) {
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            ASSERT_NE(h, nullptr);
        }
        EXPECT_EQ(m_os.OpenHandleCount(), handles.size());
        EXPECT_GT(m_os.OpenFdCount(), 0u);

        // A transfer left pending when its device closes holds nothing either.
        Overlapped io(m_os);
        uint8_t buffer[8];
        EXPECT_FALSE(m_os.ReadFile(handles[0], buffer, sizeof buffer, nullptr, &io));

        for (HANDLE h : handles) {
            EXPECT_TRUE(m_os.CloseHandle(h));
        }
        EXPECT_FALSE(m_os.CloseHandle(handles[0]));
        EXPECT_EQ(m_os.GetLastError(), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(m_os.OpenHandleCount(), 0u);
    EXPECT_EQ(m_os.OpenFdCount(), 0u);
    EXPECT_EQ(CountOpenFds(), fdsBefore);
}

TEST_F(LinuxOpenTest, ClosedOrForeignHandlesAreRefused) {
    HANDLE event = m_os.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD count = 0;
    uint8_t byte = 0;
    EXPECT_FALSE(m_os.WriteFile(event, &byte, 1, &count, nullptr));
    EXPECT_EQ(m_os.GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(m_os.CancelIo(event));
    EXPECT_FALSE(m_os.CloseHandle(nullptr));
    EXPECT_FALSE(m_os.CloseHandle(INVALID_HANDLE_VALUE));
    m_os.CloseHandle(event);
    EXPECT_FALSE(m_os.SetEvent(event));
    EXPECT_EQ(m_os.GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace zelp::linuxbk
