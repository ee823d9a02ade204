// Events and mutexes: a wait that sees its object ready but loses it to
// another taker waits on, so INFINITE ends only with the object taken.
#include "native/platform/common/sync_objects.h"

#include "native/platform/common/test_seam.h"

namespace zelp::kobj {

Instant DeadlineAfter(DWORD milliseconds) {
    if (milliseconds == INFINITE) {
        return Instant::max();
    }
    return SteadyClock::now() + std::chrono::milliseconds(milliseconds);
}

// --- Event -------------------------------------------------------------------

void Event::WakeSleepers() {
    { std::lock_guard<std::mutex> guard(m_lock); }
    m_changed.notify_all();
}

bool Event::Consume() {
    if (m_bManualReset.load(std::memory_order_relaxed)) {
        return m_bSignalled.load();
    }
    bool expected = true;
    return m_bSignalled.compare_exchange_strong(expected, false);
}

bool Event::WaitSignalledUntil(Instant deadline) {
    if (Consume()) {
        return true;
    }
    std::unique_lock<std::mutex> guard(m_lock);
    m_nSleepers.fetch_add(1);
    auto signalled = [this] { return m_bSignalled.load(); };
    bool taken = false;
    // Seeing the event set is not taking it: an auto-reset event may go to
    // another waiter, or a Reset come, in between; the wait then goes on.
    for (;;) {
        if (deadline == Instant::max()) {
            m_changed.wait(guard, signalled);
        } else if (!m_changed.wait_until(guard, deadline, signalled)) {
            break;
        }
        seam::Reach(seam::Place::WaitSawSet);
        if (Consume()) {
            taken = true;
            break;
        }
    }
    m_nSleepers.fetch_sub(1);
    return taken;
}

std::shared_ptr<WaitDriver> Event::Driver() {
    if (!m_bDriven.load()) {
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    return m_driver.lock();
}

bool Event::WaitUntil(Instant deadline) {
    for (;;) {
        if (Consume()) {
            return true;
        }
        std::shared_ptr<WaitDriver> driver = Driver();
        if (!driver) {
            return WaitSignalledUntil(deadline);
        }
        if (!driver->DriveUntil(*this, deadline)) {
            return false;
        }
        // Set by the transfer's end, and taken by someone else or reset
        // before this wait could take it: look again while time is left.
        if (Consume()) {
            return true;
        }
        if (SteadyClock::now() >= deadline) {
            return false;
        }
    }
}

void Event::ResetAndAttach(std::weak_ptr<WaitDriver> driver) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bSignalled.store(false);
    m_driver = std::move(driver);
    m_bDriven.store(true);
}

void Event::DetachAndSet() {
    if (m_bDriven.load()) {
        ForgetDriver();
    }
    Set();
}

void Event::ForgetDriver() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_driver.reset();
    m_bDriven.store(false);
}

// --- Mutex -------------------------------------------------------------------

namespace detail {
constinit thread_local uint64_t t_threadToken = 0;

uint64_t NewThreadToken() {
    static std::atomic<uint64_t> s_next{1};
    t_threadToken = s_next.fetch_add(1);
    return t_threadToken;
}
}  // namespace detail

Mutex::Mutex(bool initialOwner) {
    if (initialOwner) {
        m_nOwner.store(ThreadToken());
        m_nDepth = 1;
    }
}

bool Mutex::AcquireAfterWaiting(uint64_t self, Instant deadline) {
    std::unique_lock<std::mutex> guard(m_lock);
    m_nWaiters.fetch_add(1);
    auto take = [&] {
        uint64_t free = 0;
        return m_nOwner.compare_exchange_strong(free, self);
    };
    bool taken = true;
    if (deadline == Instant::max()) {
        m_released.wait(guard, take);
    } else {
        taken = m_released.wait_until(guard, deadline, take);
    }
    m_nWaiters.fetch_sub(1);
    if (taken) {
        m_nDepth = 1;
    }
    return taken;
}

void Mutex::WakeAWaiter() {
    { std::lock_guard<std::mutex> guard(m_lock); }
    m_released.notify_one();
}

}  // namespace zelp::kobj
