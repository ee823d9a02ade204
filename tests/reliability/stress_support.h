// What the stress tests share.
//
// Every write carries a tagged job: its thread, its sequence number and a
// body derived from both, so the stream a printer received can be taken
// apart again. The ledger knows which writes were reported done, and checks
// that each of those arrived exactly once, whole, and in its thread's call
// order. A watchdog turns a hang into a failure with a message; the figure
// lines are what scripts/reliability-report adds up.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zelp::stress {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

// --- Run length and bounds --------------------------------------------------------------

bool UnderSanitizer();

// ZELP_STRESS_SECONDS when set, else `normal` (or `sanitized` under a sanitizer).
Millis StressDuration(Millis normal, Millis sanitized);

// What a close may take beyond the longest time-out in play: the machine is
// shared and noisy, and a sanitizer slows everything down.
Millis CloseMargin();

// --- Tagged jobs ----------------------------------------------------------------------------

struct JobTag {
    uint32_t thread = 0;
    uint32_t seq = 0;
    auto operator<=>(const JobTag&) const = default;
};

// "<tt:ssssss:llll:body>"; the body never holds '<', '>' or ':'.
std::string MakeJob(JobTag tag, size_t bodyLength);

struct ParsedStream {
    std::vector<JobTag> whole;  // jobs found whole, in stream order
    size_t corrupt = 0;         // frames with a good header and a bad body
};

// Splits a received stream into jobs. Pieces of writes that failed part-way
// (and any other bytes between jobs) are passed over.
ParsedStream ParseStream(std::string_view stream);

struct Verdict {
    uint64_t lostJobs = 0;
    uint64_t lostBytes = 0;       // bytes of jobs reported written that never arrived whole
    uint64_t doubledJobs = 0;     // reported jobs that arrived more than once
    uint64_t outOfOrder = 0;      // a thread's jobs on one printer out of call order
    uint64_t wholeButFailed = 0;  // jobs reported failed that arrived whole
    uint64_t corrupt = 0;
    uint64_t phantoms = 0;  // whole jobs nobody wrote
};

// Which writes were reported done. Thread-safe.
class JobLedger {
public:
    void Succeeded(JobTag tag, size_t bytes);
    void Failed(JobTag tag);
    uint64_t SucceededCount() const;
    uint64_t SucceededBytes() const;

    // Checks the streams every printer received, after every port is closed.
    Verdict Check(const std::vector<std::string>& streams) const;

private:
    mutable std::mutex m_lock;
    std::map<JobTag, size_t> m_succeeded;
    std::map<JobTag, bool> m_failed;
    uint64_t m_nBytes = 0;
};

// --- Watchdog ---------------------------------------------------------------------------

// Each worker says what it is doing; an operation that runs past the limit
// ends the process with a message naming it, so a deadlock fails the test
// instead of hanging it.
class Watchdog {
public:
    Watchdog(size_t workers, Millis limit);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    void Begin(size_t worker, const char* operation);
    void End(size_t worker);

private:
    struct Slot {
        std::atomic<const char*> operation{nullptr};
        std::atomic<int64_t> sinceMs{0};
    };
    void Watch();

    const Millis m_limit;
    std::vector<Slot> m_slots;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

// --- Timing and figures -------------------------------------------------------------------

// The longest closes, and how many ran past their bound. Thread-safe.
class CloseTimes {
public:
    // Times `close` and checks it against `bound`.
    template <class Close>
    auto Measure(Millis bound, Close close) {
        const Clock::time_point start = Clock::now();
        auto result = close();
        Note(std::chrono::duration_cast<Millis>(Clock::now() - start), bound);
        return result;
    }
    void Note(Millis took, Millis bound);
    uint64_t Count() const { return m_nCloses.load(); }
    uint64_t LongestMs() const { return m_nLongestMs.load(); }
    uint64_t OverBound() const { return m_nOverBound.load(); }

private:
    std::atomic<uint64_t> m_nCloses{0};
    std::atomic<uint64_t> m_nLongestMs{0};
    std::atomic<uint64_t> m_nOverBound{0};
};

// One line that scripts/reliability-report picks up:
// "ZELP-FIGURES suite=<suite> key=value ...".
void PrintFigures(std::string_view suite, const std::map<std::string, uint64_t>& figures);

// A small random source per worker.
class Dice {
public:
    explicit Dice(uint32_t seed) : m_engine(seed) {}
    uint32_t Below(uint32_t bound) {
        return std::uniform_int_distribution<uint32_t>(0, bound - 1)(m_engine);
    }
    bool Chance(uint32_t percent) { return Below(100) < percent; }
    template <class T, size_t N>
    const T& Pick(const T (&choices)[N]) {
        return choices[Below(N)];
    }

private:
    std::mt19937 m_engine;
};

}  // namespace zelp::stress
