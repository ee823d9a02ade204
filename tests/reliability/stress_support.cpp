#include "stress_support.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace zelp::stress {

namespace {

constexpr std::string_view kBodyChars = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kThreadDigits = 2;
constexpr size_t kSeqDigits = 8;
constexpr size_t kLengthDigits = 5;
// '<' + thread + ':' + seq + ':' + length + ':'
constexpr size_t kHeaderSize = 1 + kThreadDigits + 1 + kSeqDigits + 1 + kLengthDigits + 1;

char BodyChar(JobTag tag, size_t i) {
    const uint64_t mix = uint64_t{tag.thread} * 131u + uint64_t{tag.seq} * 31u + i * 7u;
    return kBodyChars[mix % kBodyChars.size()];
}

bool ParseNumber(std::string_view text, int base, uint32_t& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    return ec == std::errc() && ptr == end;
}

// The frame at `at` ('<' there), or nothing when it is cut short or not a
// frame at all. `bodyBad` tells a good header with a bad body apart.
bool ParseFrame(std::string_view stream, size_t at, JobTag& tag, size_t& end, bool& bodyBad) {
    bodyBad = false;
    if (stream.size() - at < kHeaderSize) {
        return false;
    }
    const std::string_view header = stream.substr(at, kHeaderSize);
    uint32_t length = 0;
    if (header[1 + kThreadDigits] != ':' || header[2 + kThreadDigits + kSeqDigits] != ':' ||
        header[kHeaderSize - 1] != ':' ||
        !ParseNumber(header.substr(1, kThreadDigits), 16, tag.thread) ||
        !ParseNumber(header.substr(2 + kThreadDigits, kSeqDigits), 10, tag.seq) ||
        !ParseNumber(header.substr(3 + kThreadDigits + kSeqDigits, kLengthDigits), 10, length)) {
        return false;
    }
    const size_t bodyAt = at + kHeaderSize;
    // Cut short: the rest of the write never came, and something else (or
    // nothing) follows. Only a frame of the right length can be corrupt.
    if (stream.size() - bodyAt < size_t{length} + 1 || stream[bodyAt + length] != '>') {
        return false;
    }
    const std::string_view body = stream.substr(bodyAt, length);
    if (body.find('<') != std::string_view::npos) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (body[i] != BodyChar(tag, i)) {
            bodyBad = true;
            return false;
        }
    }
    end = bodyAt + length + 1;
    return true;
}

}  // namespace

bool UnderSanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

Millis StressDuration(Millis normal, Millis sanitized) {
    if (const char* seconds = std::getenv("ZELP_STRESS_SECONDS")) {
        const double value = std::strtod(seconds, nullptr);
        if (value > 0) {
            return Millis(static_cast<int64_t>(value * 1000));
        }
    }
    return UnderSanitizer() ? sanitized : normal;
}

Millis CloseMargin() {
    return UnderSanitizer() ? Millis(15000) : Millis(5000);
}

std::string MakeJob(JobTag tag, size_t bodyLength) {
    char header[kHeaderSize + 1];
    std::snprintf(header, sizeof(header), "<%02x:%08u:%05zu:", tag.thread & 0xFFu, tag.seq,
                  bodyLength % 100000);
    std::string job(header, kHeaderSize);
    job.reserve(kHeaderSize + bodyLength + 1);
    for (size_t i = 0; i < bodyLength; ++i) {
        job.push_back(BodyChar(tag, i));
    }
    job.push_back('>');
    return job;
}

ParsedStream ParseStream(std::string_view stream) {
    ParsedStream parsed;
    size_t at = stream.find('<');
    while (at != std::string_view::npos) {
        JobTag tag;
        size_t end = 0;
        bool bodyBad = false;
        if (ParseFrame(stream, at, tag, end, bodyBad)) {
            parsed.whole.push_back(tag);
            at = stream.find('<', end);
        } else {
            parsed.corrupt += bodyBad ? 1 : 0;
            at = stream.find('<', at + 1);
        }
    }
    return parsed;
}

void JobLedger::Succeeded(JobTag tag, size_t bytes) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_succeeded[tag] = bytes;
    m_nBytes += bytes;
}

void JobLedger::Failed(JobTag tag) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_failed[tag] = true;
}

uint64_t JobLedger::SucceededCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_succeeded.size();
}

uint64_t JobLedger::SucceededBytes() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nBytes;
}

Verdict JobLedger::Check(const std::vector<std::string>& streams) const {
    std::lock_guard<std::mutex> guard(m_lock);
    Verdict verdict;
    std::map<JobTag, uint32_t> arrivals;
    for (const std::string& stream : streams) {
        const ParsedStream parsed = ParseStream(stream);
        verdict.corrupt += parsed.corrupt;
        // Per printer, each thread's jobs must come in the order it wrote them.
        std::map<uint32_t, uint32_t> lastSeq;
        for (const JobTag& tag : parsed.whole) {
            ++arrivals[tag];
            if (m_succeeded.count(tag) == 0) {
                continue;
            }
            auto [it, first] = lastSeq.try_emplace(tag.thread, tag.seq);
            if (!first) {
                verdict.outOfOrder += tag.seq <= it->second ? 1 : 0;
                it->second = std::max(it->second, tag.seq);
            }
        }
    }
    for (const auto& [tag, bytes] : m_succeeded) {
        const uint32_t count = arrivals.count(tag) ? arrivals.at(tag) : 0;
        if (count == 0) {
            ++verdict.lostJobs;
            verdict.lostBytes += bytes;
        } else if (count > 1) {
            ++verdict.doubledJobs;
        }
    }
    for (const auto& [tag, count] : arrivals) {
        if (m_succeeded.count(tag) != 0) {
            continue;
        }
        if (m_failed.count(tag) != 0) {
            ++verdict.wholeButFailed;
        } else {
            ++verdict.phantoms;
        }
    }
    return verdict;
}

Watchdog::Watchdog(size_t workers, Millis limit)
    : m_limit(limit), m_slots(workers), m_thread([this] { Watch(); }) {}

Watchdog::~Watchdog() {
    m_bStop.store(true);
    m_thread.join();
}

namespace {
int64_t NowMs() {
    return std::chrono::duration_cast<Millis>(Clock::now().time_since_epoch()).count();
}
}  // namespace

void Watchdog::Begin(size_t worker, const char* operation) {
    m_slots[worker].sinceMs.store(NowMs());
    m_slots[worker].operation.store(operation);
}

void Watchdog::End(size_t worker) {
    m_slots[worker].operation.store(nullptr);
}

void Watchdog::Watch() {
    while (!m_bStop.load()) {
        std::this_thread::sleep_for(Millis(50));
        const int64_t now = NowMs();
        for (size_t i = 0; i < m_slots.size(); ++i) {
            const char* operation = m_slots[i].operation.load();
            const int64_t since = m_slots[i].sinceMs.load();
            if (operation != nullptr && now - since > m_limit.count()) {
                std::fprintf(stderr,
                             "watchdog: worker %zu has been inside %s for %lld ms "
                             "(limit %lld ms): a deadlock or an unbounded wait\n",
                             i, operation, static_cast<long long>(now - since),
                             static_cast<long long>(m_limit.count()));
                std::fflush(stderr);
                std::abort();
            }
        }
    }
}

void CloseTimes::Note(Millis took, Millis bound) {
    m_nCloses.fetch_add(1);
    const auto ms = static_cast<uint64_t>(std::max<int64_t>(took.count(), 0));
    uint64_t longest = m_nLongestMs.load();
    while (ms > longest && !m_nLongestMs.compare_exchange_weak(longest, ms)) {
    }
    if (took > bound) {
        m_nOverBound.fetch_add(1);
    }
}

void PrintFigures(std::string_view suite, const std::map<std::string, uint64_t>& figures) {
    std::string line = "ZELP-FIGURES suite=" + std::string(suite);
    for (const auto& [key, value] : figures) {
        line += " " + key + "=" + std::to_string(value);
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace zelp::stress
