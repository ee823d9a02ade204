#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "test_support.h"

namespace zelp::linuxbk {
namespace {

using namespace testing;

class LinuxSystemServicesTest : public ::testing::Test {
protected:
    LinuxPlatform m_os{"/nonexistent-sysfs", "/nonexistent-dev"};
};

TEST_F(LinuxSystemServicesTest, ReportsNtFiveOne) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(m_os.GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
    EXPECT_EQ(info.dwMajorVersion, 5u);
    EXPECT_EQ(info.dwMinorVersion, 1u);

    OSVERSIONINFOA wrong{};
    wrong.dwOSVersionInfoSize = sizeof wrong - 1;
    EXPECT_FALSE(m_os.GetVersionExA(&wrong));
    EXPECT_EQ(m_os.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(wrong.dwMajorVersion, 0u);
}

TEST_F(LinuxSystemServicesTest, EventsAndMutexesKeepWindowsRules) {
    HANDLE event = m_os.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(m_os.WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(m_os.SetEvent(event));
    EXPECT_EQ(m_os.WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(m_os.WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "manual reset stays set";

    HANDLE mutex = m_os.CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(mutex, nullptr);
    EXPECT_FALSE(m_os.ReleaseMutex(mutex));
    EXPECT_EQ(m_os.GetLastError(), ERROR_NOT_OWNER);
    ASSERT_EQ(m_os.WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    DWORD fromOtherThread = 0;
    std::thread([&] { fromOtherThread = m_os.WaitForSingleObject(mutex, 10); }).join();
    EXPECT_EQ(fromOtherThread, WAIT_TIMEOUT);
    EXPECT_TRUE(m_os.ReleaseMutex(mutex));

    EXPECT_EQ(m_os.CreateEventA(nullptr, TRUE, FALSE, "named"), nullptr);
    EXPECT_TRUE(m_os.CloseHandle(event));
    EXPECT_TRUE(m_os.CloseHandle(mutex));
    EXPECT_EQ(m_os.WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_EQ(m_os.OpenHandleCount(), 0u);
}

// Every transfer creates and closes an event. A new event must behave as one
// never used before, under a handle value never used before, whatever the
// event closed last was left like.
TEST_F(LinuxSystemServicesTest, ANewEventStartsAfreshUnderANewHandle) {
    HANDLE first = m_os.CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(m_os.CloseHandle(first));

    HANDLE second = m_os.CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(m_os.WaitForSingleObject(first, 0), WAIT_FAILED);
    EXPECT_EQ(m_os.WaitForSingleObject(second, 0), WAIT_TIMEOUT) << "left set by the last one";
    ASSERT_TRUE(m_os.SetEvent(second));
    EXPECT_EQ(m_os.WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_EQ(m_os.WaitForSingleObject(second, 0), WAIT_TIMEOUT) << "auto reset, as asked";
    EXPECT_TRUE(m_os.CloseHandle(second));
    EXPECT_FALSE(m_os.CloseHandle(second));
    EXPECT_EQ(m_os.OpenHandleCount(), 0u);
}

// A thread may still wait on an event whose handle was closed; that event
// must not come back as the next one, or setting the new event would end a
// wait that belongs to the old.
TEST_F(LinuxSystemServicesTest, AClosedEventStillWaitedOnIsNotTheNextOne) {
    using namespace std::chrono_literals;
    HANDLE old = m_os.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(old, nullptr);
    DWORD waited = 0;
    std::thread waiter([&] { waited = m_os.WaitForSingleObject(old, 400); });
    std::this_thread::sleep_for(100ms);  // the wait holds the event by now
    EXPECT_TRUE(m_os.CloseHandle(old));
    HANDLE fresh = m_os.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(fresh, nullptr);
    ASSERT_TRUE(m_os.SetEvent(fresh));
    waiter.join();
    EXPECT_EQ(waited, WAIT_TIMEOUT);
    EXPECT_TRUE(m_os.CloseHandle(fresh));
}

// A transfer's event lives in its thread's own slot, and a mutex is taken
// without a lock when free; other threads must still see both as Windows
// objects: set and wait on, handed over, and closed.
TEST_F(LinuxSystemServicesTest, OneThreadsEventAndMutexAreSharedWithOthers) {
    HANDLE event = m_os.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE mutex = m_os.CreateMutexA(nullptr, TRUE, nullptr);
    ASSERT_NE(event, nullptr);
    ASSERT_NE(mutex, nullptr);
    DWORD eventWait = 0;
    DWORD mutexWait = 0;
    std::thread other([&] {
        eventWait = m_os.WaitForSingleObject(event, INFINITE);
        mutexWait = m_os.WaitForSingleObject(mutex, INFINITE);
        m_os.ReleaseMutex(mutex);
        m_os.CloseHandle(event);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // both waits asleep by now
    ASSERT_TRUE(m_os.SetEvent(event));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(m_os.ReleaseMutex(mutex));
    other.join();
    EXPECT_EQ(eventWait, WAIT_OBJECT_0);
    EXPECT_EQ(mutexWait, WAIT_OBJECT_0);

    EXPECT_FALSE(m_os.SetEvent(event)) << "closed by the other thread";
    EXPECT_EQ(m_os.GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(m_os.CloseHandle(event));
    HANDLE next = m_os.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(next, event);
    EXPECT_EQ(m_os.WaitForSingleObject(next, 0), WAIT_TIMEOUT);
    EXPECT_EQ(m_os.OpenHandleCount(), 2u);
    EXPECT_TRUE(m_os.CloseHandle(next));
    EXPECT_TRUE(m_os.CloseHandle(mutex));
}

TEST_F(LinuxSystemServicesTest, WideTextBecomesUtf8WithWindowsSizing) {
    const WCHAR text[] = {'A', 0x00C4, 0x20AC, 0xD83D, 0xDE00, 0};
    const int needed = m_os.WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(needed, 1 + 2 + 3 + 4 + 1);
    char out[16] = {};
    BOOL usedDefault = TRUE;
    ASSERT_EQ(m_os.WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out, nullptr, &usedDefault),
              needed);
    EXPECT_STREQ(out, "A\xC3\x84\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_FALSE(usedDefault);

    EXPECT_EQ(m_os.WideCharToMultiByte(CP_ACP, 0, text, -1, out, 3, nullptr, nullptr), 0);
    EXPECT_EQ(m_os.GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    const WCHAR lone[] = {'x', 0xD800, 'y'};
    ASSERT_EQ(m_os.WideCharToMultiByte(CP_ACP, 0, lone, 3, out, sizeof out, nullptr, &usedDefault),
              3);
    EXPECT_EQ(std::string(out, 3), "x?y");
    EXPECT_TRUE(usedDefault);
}

TEST_F(LinuxSystemServicesTest, LocalAllocGivesZeroedMemory) {
    auto* memory = static_cast<unsigned char*>(m_os.LocalAlloc(LMEM_ZEROINIT, 300));
    ASSERT_NE(memory, nullptr);
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(memory[i], 0);
    }
    EXPECT_EQ(m_os.LocalFree(memory), nullptr);
    void* empty = m_os.LocalAlloc(LMEM_ZEROINIT, 0);
    EXPECT_NE(empty, nullptr);
    m_os.LocalFree(empty);
}

TEST_F(LinuxSystemServicesTest, SleepPausesAtLeastAsLongAsAsked) {
    const auto start = std::chrono::steady_clock::now();
    m_os.Sleep(20);
    EXPECT_GE(MillisecondsSince(start), 19.0);
}

}  // namespace
}  // namespace zelp::linuxbk
