// Events and mutexes with the Windows semantics platform.h promises: a wait
// ends when, and only when, it has taken what it waited for (a set event, a
// free mutex) or its deadline has passed; a set with nobody asleep and a
// mutex taken or given back with nobody waiting take no lock.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "native/wintypes.h"

namespace zelp::kobj {

using SteadyClock = std::chrono::steady_clock;
using Instant = SteadyClock::time_point;

// The deadline of a wait of `milliseconds` from now; INFINITE gives Instant::max().
Instant DeadlineAfter(DWORD milliseconds);

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

class Event;

// Something that makes progress only while a thread waits for it: a pending
// transfer of a backend without threads. An event that belongs to such a
// transfer delegates its waits here.
class WaitDriver {
public:
    virtual ~WaitDriver() = default;
    // Drives until `event` is signalled or `deadline` passes; true when signalled.
    virtual bool DriveUntil(Event& event, Instant deadline) = 0;
};

// Most events are set and closed with nobody waiting for them (a transfer
// that finished at once), so their state is atomic and the lock and the
// condition are used only by a thread that has to sleep, or by a transfer
// that a waiter has to drive.
class Event : public KernelObject {
public:
    explicit Event(bool manualReset, bool initialState)
        : m_bManualReset(manualReset), m_bSignalled(initialState) {}

    // A sleeper counts itself (under the lock) before it looks at the state,
    // and a setter stores the state before it looks for sleepers, both in the
    // one total order of seq_cst: either the sleeper sees the event set, or
    // the setter sees the sleeper and wakes it under the lock.
    void Set() {
        m_bSignalled.store(true);
        if (m_nSleepers.load() != 0) {
            WakeSleepers();
        }
    }
    void Reset() { m_bSignalled.store(false); }
    bool IsSet() const { return m_bSignalled.load(); }

    // Waits (driving the attached transfer, if any) until signalled or the
    // deadline; true when signalled. An auto-reset event is reset by the wait
    // that takes it; a wait that sees it set but finds it taken by another
    // waiter (or reset) goes on waiting.
    bool WaitUntil(Instant deadline);

    // Plain condition wait, for drivers that are waiting on another thread's
    // progress; does not consult the driver.
    bool WaitSignalledUntil(Instant deadline);

    // The two steps of a pending transfer's life on its event, each under
    // one lock: issued (unsignalled, waits drive `driver`), and over (no
    // driver, set).
    void ResetAndAttach(std::weak_ptr<WaitDriver> driver);
    void DetachAndSet();

    // Makes an event nothing refers to any more as good as a new one.
    void Renew(bool manualReset, bool initialState) {
        if (IsDriven()) {
            ForgetDriver();
        }
        Restart(manualReset, initialState);
    }
    // Renew for an event with no driver attached.
    void Restart(bool manualReset, bool initialState) {
        m_bManualReset.store(manualReset, std::memory_order_relaxed);
        m_bSignalled.store(initialState);
    }
    bool IsDriven() const { return m_bDriven.load(); }

private:
    bool Consume();
    void ForgetDriver();
    void WakeSleepers();
    std::shared_ptr<WaitDriver> Driver();

    std::atomic<bool> m_bManualReset;
    std::atomic<bool> m_bSignalled;
    // Threads asleep on m_changed, or about to be: a Set with none to wake
    // takes no lock.
    std::atomic<uint32_t> m_nSleepers{0};
    std::atomic<bool> m_bDriven{false};  // m_driver names a transfer's device

    std::mutex m_lock;  // m_driver, and the sleeps on m_changed
    std::condition_variable m_changed;
    std::weak_ptr<WaitDriver> m_driver;
};

namespace detail {
extern constinit thread_local uint64_t t_threadToken;
uint64_t NewThreadToken();
}  // namespace detail

// A recursive mutex. Taking a free one, or one the thread owns already, and
// giving it back with nobody waiting, are one atomic step each: a USB port's
// mutex is taken and given back around every transfer, nearly always free.
class Mutex : public KernelObject {
public:
    explicit Mutex(bool initialOwner);

    // True when the calling thread now owns the mutex.
    bool AcquireUntil(Instant deadline) {
        const uint64_t self = ThreadToken();
        uint64_t owner = 0;
        if (m_nOwner.compare_exchange_strong(owner, self)) {
            m_nDepth = 1;
            return true;
        }
        if (owner == self) {
            ++m_nDepth;
            return true;
        }
        return AcquireAfterWaiting(self, deadline);
    }

    // False when the calling thread does not own it.
    bool Release() {
        if (m_nOwner.load(std::memory_order_relaxed) != ThreadToken() || m_nDepth == 0) {
            return false;
        }
        if (--m_nDepth != 0) {
            return true;
        }
        // As with events: the owner is cleared before waiters are looked for,
        // and a waiter counts itself before it tries to take the mutex.
        m_nOwner.store(0);
        if (m_nWaiters.load() != 0) {
            WakeAWaiter();
        }
        return true;
    }

private:
    // A number of the calling thread's own, never 0 and never another's.
    static uint64_t ThreadToken() {
        const uint64_t token = detail::t_threadToken;
        return token != 0 ? token : detail::NewThreadToken();
    }
    bool AcquireAfterWaiting(uint64_t self, Instant deadline);
    void WakeAWaiter();

    std::atomic<uint64_t> m_nOwner{0};  // the owner's token; 0 when free
    unsigned m_nDepth = 0;              // touched by the owner alone
    std::atomic<uint32_t> m_nWaiters{0};
    std::mutex m_lock;  // the sleeps on m_released
    std::condition_variable m_released;
};

}  // namespace zelp::kobj
