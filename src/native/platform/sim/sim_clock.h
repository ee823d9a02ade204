// The sim's time: virtual (tests) or real (the demo and Java tests).
//
// Virtual time moves only when someone waits or sleeps: a wait that would time
// out moves it by its time-out, a delayed completion moves it to that
// completion. So time-outs in unit tests are instant and exact.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace zelp::sim {

enum class TimeMode { Virtual, Real };

class SimClock {
public:
    // A moment that never comes.
    static constexpr uint64_t kNever = UINT64_MAX;

    explicit SimClock(TimeMode mode);

    bool IsVirtual() const { return m_mode == TimeMode::Virtual; }

    // Milliseconds since the clock was made.
    uint64_t Now() const;

    // Virtual time only: moves forward to `ms` (never back). Real time ignores it.
    void AdvanceTo(uint64_t ms);

    // The real instant of a moment on this clock, for condition waits in real time.
    std::chrono::steady_clock::time_point RealInstant(uint64_t ms) const;

private:
    const TimeMode m_mode;
    const std::chrono::steady_clock::time_point m_start;
    std::atomic<uint64_t> m_nVirtualMs{0};
};

// `start + ms` that saturates at kNever.
uint64_t LaterBy(uint64_t start, uint64_t ms);

}  // namespace zelp::sim
