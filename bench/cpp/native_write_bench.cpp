// native_write: CParallelPort::Write of 64 KiB to /dev/null against a plain
// write(2) loop on /dev/null, in the same process. /dev/null takes every
// byte at once, so the figure is what the port logic and the backend cost on
// top of the one system call each write needs.
#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "native/use_gate.h"
#include "parallel/parallel_port.h"

namespace zelp::bench {

namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr const char* kNullDevice = "/dev/null";

std::vector<uint8_t> Chunk() {
    std::vector<uint8_t> bytes(kChunk);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7);
    }
    return bytes;
}

// Opens are exclusive, and a test elsewhere may hold /dev/null through the
// library for a moment: the open is tried for a while.
bool OpenNull(CParallelPort& port) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (port.Open(kNullDevice) != nullptr) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

void BM_PortWriteNull(benchmark::State& state) {
    const std::vector<uint8_t> chunk = Chunk();
    CParallelPort port;
    if (!OpenNull(port)) {
        state.SkipWithError("the port could not be opened on /dev/null");
        return;
    }
    for (auto _ : state) {
        if (!port.Write(chunk.data(), kChunk)) {
            state.SkipWithError("a write failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kChunk));
}

bool WriteAll(int fd, const std::vector<uint8_t>& chunk) {
    size_t done = 0;
    while (done < chunk.size()) {
        const ssize_t n = ::write(fd, chunk.data() + done, chunk.size() - done);
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// One chunk to /dev/null per iteration with write(2), each write passed to
// `around`, which makes it and says whether it went out.
template <class Around>
void WriteNullLoop(benchmark::State& state, Around around) {
    const std::vector<uint8_t> chunk = Chunk();
    const int fd = ::open(kNullDevice, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("/dev/null could not be opened");
        return;
    }
    for (auto _ : state) {
        if (!around([&] { return WriteAll(fd, chunk); })) {
            state.SkipWithError("a write failed");
            break;
        }
    }
    ::close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kChunk));
}

void BM_RawWriteNull(benchmark::State& state) {
    WriteNullLoop(state, [](auto write) { return write(); });
}

// Not the port: the same write(2) loop with only what any port shared by
// threads needs around each write, the port's own close gate and a lock that
// lets one write go at a time. It shows how near to the plain loop a
// thread-safe write can come on this machine at all.
void BM_GuardedRawWriteNull(benchmark::State& state) {
    UseGate gate;
    gate.Open();
    std::mutex turn;
    WriteNullLoop(state, [&](auto write) {
        GateEntry entry(gate);
        std::lock_guard<std::mutex> guard(turn);
        return entry && write();
    });
}

}  // namespace

BENCHMARK(BM_PortWriteNull)->Repetitions(9)->MinTime(0.2);
BENCHMARK(BM_RawWriteNull)->Repetitions(9)->MinTime(0.2);
BENCHMARK(BM_GuardedRawWriteNull)->Repetitions(9)->MinTime(0.2);

}  // namespace zelp::bench
