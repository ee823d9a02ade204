// The definitions a build to the glibc 2.17 floor carries in place of newer
// glibc's (src/native/glibc_floor.cpp), each through the library code that
// calls it: linked as the shipped library is, static libstdc++ and libgcc
// included, so the calls below reach those definitions and no other.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

[[gnu::noinline]] void ThrowFrom(int depth) {
    if (depth == 0) {
        throw std::runtime_error("from the bottom");
    }
    ThrowFrom(depth - 1);
    asm volatile("");  // keeps the frames apart: no tail call
}

// The unwinder finds each frame's tables through _dl_find_object on x86_64
// and aarch64; a wrong answer ends the process in std::terminate.
TEST(GlibcFloor, AnExceptionUnwindsThroughFramesAndThreads) {
    try {
        ThrowFrom(8);
        FAIL() << "nothing was thrown";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ("from the bottom", error.what());
    }
    std::string caught;
    std::thread([&caught] {
        try {
            ThrowFrom(3);
        } catch (const std::exception& error) {
            caught = error.what();
        }
    }).join();
    EXPECT_EQ("from the bottom", caught);
}

struct Recorder {
    int id;
    std::vector<int>* ended;
    ~Recorder() { ended->push_back(id); }
};

// A thread's thread_local objects register their destructors through
// __cxa_thread_atexit_impl; they run when the thread ends, newest first.
TEST(GlibcFloor, AThreadsLocalObjectsAreDestroyedWhenItEnds) {
    std::vector<int> ended;
    std::thread([&ended] {
        thread_local Recorder first{1, &ended};
        thread_local Recorder second{2, &ended};
        EXPECT_TRUE(ended.empty()) << first.id << second.id;
    }).join();
    EXPECT_EQ((std::vector<int>{2, 1}), ended);
}

// condition_variable's steady-clock waits go through pthread_cond_clockwait.
TEST(GlibcFloor, ASteadyClockWaitEndsAtItsDeadlineOrWhenWoken) {
    std::mutex mutex;
    std::condition_variable woken;
    std::unique_lock<std::mutex> lock(mutex);
    const auto start = Clock::now();
    EXPECT_EQ(std::cv_status::timeout, woken.wait_until(lock, start + 80ms));
    EXPECT_GE(Clock::now() - start, 80ms);

    bool ready = false;
    std::thread waker([&] {
        std::this_thread::sleep_for(20ms);
        std::lock_guard<std::mutex> guard(mutex);
        ready = true;
        woken.notify_one();
    });
    EXPECT_TRUE(woken.wait_until(lock, Clock::now() + 60s, [&] { return ready; }));
    lock.unlock();
    waker.join();
    EXPECT_LT(Clock::now() - start, 30s);
}

// random_device reads arc4random, or getentropy for the "getentropy" token.
TEST(GlibcFloor, RandomDeviceDrawsFromTheKernel) {
    for (const char* token : {"default", "getentropy", "arc4random"}) {
        SCOPED_TRACE(token);
        std::random_device device(token);
        std::set<unsigned> draws;
        for (int i = 0; i < 16; ++i) {
            draws.insert(device());
        }
        // Sixteen 32-bit draws with a repeat: about one chance in 2^25.
        EXPECT_EQ(16U, draws.size());
    }
}

}  // namespace
