// Lets a close wait for the operations that are using a device, without
// serialising those operations among themselves.
//
// Every operation that touches the device handle enters the gate first and
// leaves it when it no longer needs the handle. Shut() stops new entries and
// waits until the last running operation has left; Open() lets them in again.
// An operation that finds the gate shut behaves as on a closed device.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zelp {

class UseGate {
public:
    // True when the caller may use the device; it must then call Leave().
    // Every transfer passes here, so entering and leaving an open gate cost
    // one atomic operation each; the lock is taken only while a close waits.
    bool Enter() {
        // Callers of a closed port never touch the count, so they cannot hold
        // up a close that is waiting for it to reach zero.
        if (!IsOpen()) {
            return false;
        }
        const uint32_t before = m_state.fetch_add(1, std::memory_order_acquire);
        if ((before & kOpenBit) != 0) {
            return true;
        }
        Leave();  // a close has begun: count ourselves out again
        return false;
    }

    void Leave() {
        const uint32_t after = m_state.fetch_sub(1, std::memory_order_release) - 1;
        if (after == 0) {
            // Shut and no one inside: a close may be waiting. Taking the lock
            // orders this wake-up after its check of the count.
            std::lock_guard<std::mutex> guard(m_lock);
            m_idle.notify_all();
        }
    }

    // Stops new entries and waits until no operation is inside.
    void Shut() {
        std::unique_lock<std::mutex> guard(m_lock);
        m_state.fetch_and(~kOpenBit, std::memory_order_acq_rel);
        m_idle.wait(guard, [this] { return m_state.load(std::memory_order_acquire) == 0; });
    }

    // Lets operations in again (after a successful open).
    void Open() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_state.fetch_or(kOpenBit, std::memory_order_release);
    }

    // False once a close has begun. An operation that entered earlier and
    // then waited for its turn asks this before it starts its transfer, so a
    // close waits for the transfer that is running, not for every one queued
    // behind it.
    bool IsOpen() const { return (m_state.load(std::memory_order_acquire) & kOpenBit) != 0; }

private:
    // The top bit says the gate is open; the others count the users inside.
    static constexpr uint32_t kOpenBit = 0x80000000u;

    std::mutex m_lock;
    std::condition_variable m_idle;
    std::atomic<uint32_t> m_state{0};
};

// Enters a gate for one scope.
class GateEntry {
public:
    explicit GateEntry(UseGate& gate) : m_gate(gate), m_bEntered(gate.Enter()) {}
    ~GateEntry() {
        if (m_bEntered) {
            m_gate.Leave();
        }
    }
    GateEntry(const GateEntry&) = delete;
    GateEntry& operator=(const GateEntry&) = delete;

    explicit operator bool() const { return m_bEntered; }

private:
    UseGate& m_gate;
    const bool m_bEntered;
};

}  // namespace zelp
