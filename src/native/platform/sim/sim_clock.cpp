#include "native/platform/sim/sim_clock.h"

namespace zelp::sim {

SimClock::SimClock(TimeMode mode) : m_mode(mode), m_start(std::chrono::steady_clock::now()) {}

uint64_t SimClock::Now() const {
    if (IsVirtual()) {
        return m_nVirtualMs.load(std::memory_order_acquire);
    }
    const auto elapsed = std::chrono::steady_clock::now() - m_start;
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void SimClock::AdvanceTo(uint64_t ms) {
    if (!IsVirtual() || ms == kNever) {
        return;
    }
    uint64_t now = m_nVirtualMs.load(std::memory_order_acquire);
    // Several threads may move the clock; it only ever goes forward.
    while (now < ms && !m_nVirtualMs.compare_exchange_weak(now, ms, std::memory_order_acq_rel)) {
    }
}

std::chrono::steady_clock::time_point SimClock::RealInstant(uint64_t ms) const {
    return m_start + std::chrono::milliseconds(ms);
}

uint64_t LaterBy(uint64_t start, uint64_t ms) {
    return (start == SimClock::kNever || ms >= SimClock::kNever - start) ? SimClock::kNever
                                                                         : start + ms;
}

}  // namespace zelp::sim
