// Lets a close wait for the operations that are using a device, without
// serialising those operations among themselves.
//
// Every operation that touches the device handle enters the gate first and
// leaves it when it no longer needs the handle. Shut() stops new entries and
// waits until the last running operation has left; Open() lets them in again.
// An operation that finds the gate shut behaves as on a closed device.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zelp {

class UseGate {
public:
    // True when the caller may use the device; it must then call Leave().
    bool Enter() {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_bOpen) {
            return false;
        }
        ++m_nUsers;
        return true;
    }

    void Leave() {
        std::lock_guard<std::mutex> guard(m_lock);
        if (--m_nUsers == 0) {
            m_idle.notify_all();
        }
    }

    // Stops new entries and waits until no operation is inside.
    void Shut() {
        std::unique_lock<std::mutex> guard(m_lock);
        m_bOpen = false;
        m_idle.wait(guard, [this] { return m_nUsers == 0; });
    }

    // Lets operations in again (after a successful open).
    void Open() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bOpen = true;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_idle;
    uint32_t m_nUsers = 0;
    bool m_bOpen = false;
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
