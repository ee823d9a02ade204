// The kernel-object layer's promises under the interleavings that broke them
// once, each brought about on purpose through a test seam: a close between a
// look-up and what it remembers, a wait whose event is taken from under it,
// handle values at the top of their space, a thread that uses handles while
// its storage is torn down, and first tries that keep moving bytes.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "native/platform/common/kernel_objects.h"
#include "native/platform/common/test_seam.h"
#include "native/platform/linux/error_codes.h"
#include "test_support.h"

namespace zelp::linuxbk::testing {
namespace {

using kobj::seam::Place;

// Runs `action` on the thread that reaches `place`, on its `nth` arrival
// there (1 is the first), and counts every arrival.
class PauseAt {
public:
    PauseAt(Place place, int nth, std::function<void(int)> action)
        : m_place(place), m_nth(nth), m_action(std::move(action)) {
        s_current = this;
        kobj::seam::g_hook.store(&Arrive);
    }
    ~PauseAt() {
        kobj::seam::g_hook.store(nullptr);
        s_current = nullptr;
    }
    PauseAt(const PauseAt&) = delete;
    PauseAt& operator=(const PauseAt&) = delete;

    int Arrivals() const { return m_nArrivals.load(); }
    bool Acted() const { return m_nArrivals.load() >= m_nth; }

private:
    static void Arrive(Place place) {
        PauseAt* self = s_current;
        if (self == nullptr || place != self->m_place) {
            return;
        }
        const int arrival = ++self->m_nArrivals;
        self->m_action(arrival);
    }

    static inline PauseAt* s_current = nullptr;
    const Place m_place;
    const int m_nth;
    std::function<void(int)> m_action;
    std::atomic<int> m_nArrivals{0};
};

// A close that lands between a thread's first look-up and what that thread
// remembers of it must still reach the thread's next look-up.
TEST(KernelObjectConcurrentTest, ACloseDuringAFirstLookUpReachesThatThreadsNextOne) {
    kobj::HandleTable table;
    const HANDLE mutex = table.Insert(std::make_shared<kobj::Mutex>(false));
    PauseAt pause(Place::LookUpFound, 1, [&](int arrival) {
        if (arrival == 1) {
            std::thread([&] { EXPECT_NE(table.Remove(mutex), nullptr); }).join();
        }
    });
    std::thread([&] {
        EXPECT_NE(table.Borrow<kobj::Mutex>(mutex), nullptr) << "found before the close";
        EXPECT_EQ(table.Borrow<kobj::Mutex>(mutex), nullptr) << "closed since, on every thread";
    }).join();
    EXPECT_TRUE(pause.Acted());
}

// An auto-reset event set once and taken by someone else just as the wait
// saw it set: the INFINITE wait goes on until the event is set again.
TEST(KernelObjectConcurrentTest, AnInfiniteWaitEndsOnlyWithTheEventTaken) {
    kobj::HandleTable table;
    const HANDLE event = table.Insert(std::make_shared<kobj::Event>(false, false));
    std::promise<void> taken;
    PauseAt pause(Place::WaitSawSet, 1, [&](int arrival) {
        if (arrival == 1) {
            EXPECT_EQ(kobj::WaitForObject(table, event, 0), WAIT_OBJECT_0) << "the other taker";
            taken.set_value();
        }
    });
    // The set must come once the waiter sleeps: one that comes earlier is
    // taken at the waiter's first look, before the seam, and is tried again.
    std::future<DWORD> wait;
    for (int attempt = 0; attempt < 20 && pause.Arrivals() == 0; ++attempt) {
        wait = std::async(std::launch::async,
                          [&] { return kobj::WaitForObject(table, event, INFINITE); });
        std::this_thread::sleep_for(20ms);
        kobj::SetEventOf(table, event);
        while (pause.Arrivals() == 0 && wait.wait_for(1ms) == std::future_status::timeout) {
        }
        if (pause.Arrivals() == 0) {
            ASSERT_EQ(wait.get(), WAIT_OBJECT_0);
        }
    }
    ASSERT_GT(pause.Arrivals(), 0);
    taken.get_future().wait();
    ASSERT_EQ(wait.wait_for(50ms), std::future_status::timeout) << "ended without the event";
    kobj::SetEventOf(table, event);
    EXPECT_EQ(wait.get(), WAIT_OBJECT_0);
}

// Handle values at the top of their space (32-bit targets get there in
// days): every live handle keeps its own value, and every one is found.
TEST(HandleTableTest, ValuesPastTheTopOfTheirSpaceNeverNameALiveObjectTwice) {
    kobj::HandleTable table;
    std::map<HANDLE, std::shared_ptr<kobj::KernelObject>> live;
    auto insertMutex = [&] {
        auto mutex = std::make_shared<kobj::Mutex>(false);
        const HANDLE handle = table.Insert(mutex);
        live[handle] = mutex;
        return handle;
    };
    auto insertOwnEvent = [&] {
        const HANDLE handle = table.InsertOwnEvent(true, false);
        live[handle] = table.Find(handle);
        return handle;
    };
    const HANDLE first = insertMutex();
    const HANDLE ownFirst = insertOwnEvent();
    insertMutex();
    const uintptr_t top = UINTPTR_MAX & ~uintptr_t{3};
    table.SkipValuesTo(top - 8);
    const HANDLE atTop = insertMutex();
    for (int i = 0; i < 6; ++i) {
        const size_t before = live.size();
        HANDLE handle = nullptr;
        if (i % 2 == 0) {
            handle = insertMutex();
        } else {
            auto event = std::make_shared<kobj::Event>(true, false);
            handle = table.Insert(event);
            live[handle] = event;
        }
        ASSERT_NE(handle, nullptr) << "round " << i;
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        ASSERT_EQ(live.size(), before + 1) << "round " << i << ": a live value came back";
    }
    table.Remove(atTop);
    live.erase(atTop);
    table.Remove(first);
    live.erase(first);
    ASSERT_TRUE(table.CloseOwnEvent(ownFirst));
    live.erase(ownFirst);
    const HANDLE own = insertOwnEvent();
    ASSERT_NE(own, nullptr);
    for (const auto& [handle, object] : live) {
        EXPECT_EQ(table.Find(handle), object) << "handle " << handle;
    }
    EXPECT_EQ(table.Find(atTop), nullptr);
    EXPECT_EQ(table.Count(), live.size());
}

// A thread whose own thread storage has been torn down may still make,
// use and close events and mutexes: the destructor of thread storage made
// before ours, and a thread-exit destructor registered after ours, both run
// after our storage is gone.
void UseHandlesAtThreadExit(kobj::HandleTable& table, std::atomic<int>& good) {
    const HANDLE event = table.InsertOwnEvent(false, false);
    const HANDLE mutex = table.Insert(std::make_shared<kobj::Mutex>(false));
    int ok = 0;
    ok += kobj::WaitForObject(table, event, 0) == WAIT_TIMEOUT;
    ok += kobj::SetEventOf(table, event);
    ok += kobj::WaitForObject(table, event, INFINITE) == WAIT_OBJECT_0;
    ok += kobj::WaitForObject(table, mutex, 0) == WAIT_OBJECT_0;
    kobj::Mutex* borrowed = table.Borrow<kobj::Mutex>(mutex);
    ok += borrowed != nullptr && borrowed->Release();
    ok += table.CloseOwnEvent(event) || table.Remove(event) != nullptr;
    ok += table.Remove(mutex) != nullptr;
    good += ok == 7 ? 1 : 0;
}

struct ExitUser {
    kobj::HandleTable* table = nullptr;
    std::atomic<int>* good = nullptr;
    ~ExitUser() {
        if (table != nullptr) {
            UseHandlesAtThreadExit(*table, *good);
        }
    }
};
thread_local ExitUser t_exitUser;

struct KeyUser {
    kobj::HandleTable* table;
    std::atomic<int>* good;
};

TEST(KernelObjectConcurrentTest, AThreadUsesHandlesWhileItsStorageIsTornDown) {
    kobj::HandleTable table;
    std::atomic<int> good{0};
    const size_t before = table.Count();
    pthread_key_t key;
    std::thread([&] {
        t_exitUser.table = &table;  // made before anything of ours
        t_exitUser.good = &good;
        table.CloseOwnEvent(table.InsertOwnEvent(true, false));
        kobj::Mutex* mutex =
            table.Borrow<kobj::Mutex>(table.Insert(std::make_shared<kobj::Mutex>(false)));
        (void)mutex;
    }).join();
    ASSERT_EQ(pthread_key_create(&key,
                                 [](void* value) {
                                     auto* user = static_cast<KeyUser*>(value);
                                     UseHandlesAtThreadExit(*user->table, *user->good);
                                 }),
              0);
    KeyUser keyUser{&table, &good};
    std::thread([&] {
        table.CloseOwnEvent(table.InsertOwnEvent(true, false));
        pthread_setspecific(key, &keyUser);  // registered after ours
    }).join();
    pthread_key_delete(key);
    EXPECT_EQ(good.load(), 2);
    EXPECT_EQ(table.Count(), before + 1) << "only the mutex the first thread left open";
}

// --- First tries that keep moving bytes -------------------------------------

// A FIFO that holds one page, so a long write moves a page per system call
// for as long as the test empties the FIFO between calls.
class FirstTryConcurrentTest : public ::testing::Test {
protected:
    static constexpr DWORD kLength = 64 * 1024;
    static constexpr size_t kPage = 4096;

    void SetUp() override {
        ASSERT_EQ(::mkfifo(m_path.c_str(), 0600), 0);
        m_reader = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(m_reader, 0);
        ASSERT_EQ(::fcntl(m_reader, F_SETPIPE_SZ, static_cast<int>(kPage)),
                  static_cast<int>(kPage));
        m_hDevice = OpenDevice(m_os, m_path);
        ASSERT_NE(m_hDevice, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (m_hDevice != INVALID_HANDLE_VALUE) {
            m_os.CloseHandle(m_hDevice);
        }
        ::close(m_reader);
    }

    size_t Drain() {
        char sink[kPage];
        size_t drained = 0;
        ssize_t n = 0;
        while ((n = ::read(m_reader, sink, sizeof sink)) > 0) {
            drained += static_cast<size_t>(n);
        }
        return drained;
    }

    TempDir m_tmp;
    const std::string m_path = m_tmp / "fifo";
    int m_reader = -1;
    LinuxPlatform m_os{"/nonexistent-sysfs", "/nonexistent-dev"};
    HANDLE m_hDevice = INVALID_HANDLE_VALUE;
    std::vector<uint8_t> m_data = Pattern(kLength, 7);
};

// Each case acts after the third system call of a write that would go on
// moving a page per call to its end.
TEST_F(FirstTryConcurrentTest, AWriteUnderWayHonoursCancelTimeOutAndClose) {
    struct Case {
        const char* what;
        DWORD writeTimeoutMs;
        std::function<void()> act;
        DWORD error;  // its completion's
    };
    std::thread closer;
    const Case cases[] = {
        {"CancelIo", 0, [this] { m_os.CancelIo(m_hDevice); }, ERROR_OPERATION_ABORTED},
        {"its port time-out", 200, [] { std::this_thread::sleep_for(400ms); }, ERROR_SUCCESS},
        {"a close", 0,
         [this, &closer] {
             closer = std::thread([this] { m_os.CloseHandle(m_hDevice); });
             DWORD errors = 0;
             while (m_os.ClearCommError(m_hDevice, &errors, nullptr)) {
                 std::this_thread::sleep_for(1ms);
             }
             std::this_thread::sleep_for(20ms);  // from the table's close to the device's
         },
         ERROR_OPERATION_ABORTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (m_hDevice == INVALID_HANDLE_VALUE) {
            m_hDevice = OpenDevice(m_os, m_path);
            ASSERT_NE(m_hDevice, INVALID_HANDLE_VALUE);
        }
        SetTotalTimeouts(m_os, m_hDevice, 0, c.writeTimeoutMs);
        Drain();
        size_t drained = 0;
        PauseAt pause(Place::TryMade, 3, [&](int arrival) {
            drained += Drain();
            if (arrival == 3) {
                c.act();
            }
        });
        Overlapped io(m_os);
        DWORD count = 0;
        const BOOL done = m_os.WriteFile(m_hDevice, m_data.data(), kLength, &count, &io);
        const DWORD error = done ? ERROR_SUCCESS : m_os.GetLastError();
        if (closer.joinable()) {
            closer.join();
            m_hDevice = INVALID_HANDLE_VALUE;
        }
        EXPECT_TRUE(done || error == ERROR_IO_PENDING) << "error " << error;
        EXPECT_TRUE(io.Signalled()) << "over when the call returned";
        EXPECT_EQ(ErrorFromCompletionStatus(io.Record().Internal), c.error);
        EXPECT_EQ(io.Record().InternalHigh, 3 * kPage) << "ended after the call it followed";
        drained += Drain();
        EXPECT_EQ(drained, io.Record().InternalHigh);
    }
}

// A first try that moved a page and then had to wait, cancelled before it
// joined the queue: pending, and its completion tells what moved.
TEST_F(FirstTryConcurrentTest, AnAbortBeforeTheQueueReportsWhatMoved) {
    PauseAt pause(Place::TryMade, 2, [&](int arrival) {
        if (arrival == 2) {
            m_os.CancelIo(m_hDevice);
        }
    });
    Overlapped io(m_os);
    DWORD count = 0;
    ASSERT_FALSE(m_os.WriteFile(m_hDevice, m_data.data(), 2 * kPage, &count, &io));
    EXPECT_EQ(m_os.GetLastError(), ERROR_IO_PENDING) << "it ran, so it was under way";
    EXPECT_FALSE(m_os.GetOverlappedResult(m_hDevice, &io, &count, TRUE));
    EXPECT_EQ(m_os.GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(count, kPage);
    EXPECT_EQ(Drain(), kPage);
}

}  // namespace
}  // namespace zelp::linuxbk::testing
