// File descriptors the backend holds, closed exactly once and counted, so that
// a test can prove every descriptor we opened went back to the system.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <utility>

namespace zelp::linuxbk {

// How many descriptors one backend instance holds right now.
class FdLedger {
public:
    void Opened() { m_nOpen.fetch_add(1, std::memory_order_relaxed); }
    void Closed() { m_nOpen.fetch_sub(1, std::memory_order_relaxed); }
    size_t Count() const { return m_nOpen.load(std::memory_order_relaxed); }

private:
    std::atomic<size_t> m_nOpen{0};
};

class UniqueFd {
public:
    UniqueFd() = default;
    UniqueFd(int fd, std::shared_ptr<FdLedger> ledger) : m_fd(fd), m_ledger(std::move(ledger)) {
        if (m_fd >= 0 && m_ledger) {
            m_ledger->Opened();
        }
    }
    ~UniqueFd() { Reset(); }

    UniqueFd(UniqueFd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)), m_ledger(std::move(other.m_ledger)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            m_fd = std::exchange(other.m_fd, -1);
            m_ledger = std::move(other.m_ledger);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }

    void Reset() {
        if (m_fd < 0) {
            return;
        }
        ::close(m_fd);
        m_fd = -1;
        if (m_ledger) {
            m_ledger->Closed();
        }
    }

private:
    int m_fd = -1;
    std::shared_ptr<FdLedger> m_ledger;
};

}  // namespace zelp::linuxbk
