// slot_isolation: a write on slot 1 while slot 0's write waits out a 2 s
// time-out, against the same write with slot 0 idle. Slot 0's printer is a
// pty nobody reads, so its write fills the line and then waits; slot 1's is
// a null device node that takes every byte at once.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "usb_rig.h"

namespace zelp::bench {

namespace {

constexpr int kStalledSlot = 0;
constexpr int kFreeSlot = 1;
constexpr int kStallTimeoutMs = 2000;
constexpr int kStalledJob = 1 << 20;
constexpr int kWrite = 512;
constexpr int kWritesPerRepetition = 20000;

struct IsolationTree {
    FakeUsbTree tree;
    PtyPeer stalledPrinter;
    IsolationTree() {
        AddListedPrinter(tree, 0, stalledPrinter.SlavePath());
        AddListedPrinter(tree, 1, tree.AddNullNode("lp1"));
    }
};

IsolationTree& Tree() {
    static IsolationTree s_tree;
    return s_tree;
}

bool OpenBoth(UsbRig& rig) {
    return rig.Open(kStalledSlot, 0) && rig.Open(kFreeSlot, 1);
}

void WriteOnFreeSlot(benchmark::State& state, UsbRig& rig) {
    BenchArray data = BenchJniEnv::ByteArray(kWrite);
    for (auto _ : state) {
        if (!rig.Write(data, kWrite, kStallTimeoutMs, kFreeSlot)) {
            state.SkipWithError("a write on slot 1 failed");
            break;
        }
    }
}

void BM_Slot1WriteAlone(benchmark::State& state) {
    UsbRig rig(Tree().tree);
    if (!OpenBoth(rig)) {
        state.SkipWithError("the slots could not be opened");
        return;
    }
    WriteOnFreeSlot(state, rig);
}

void BM_Slot1WriteWhileSlot0TimesOut(benchmark::State& state) {
    UsbRig rig(Tree().tree);
    if (!OpenBoth(rig)) {
        state.SkipWithError("the slots could not be opened");
        return;
    }
    std::atomic<bool> stalledEnded{false};
    bool stalledWriteFailed = false;
    std::thread stalled([&] {
        BenchArray job = BenchJniEnv::ByteArray(kStalledJob);
        stalledWriteFailed = !rig.Write(job, kStalledJob, kStallTimeoutMs, kStalledSlot);
        stalledEnded.store(true);
    });
    // Long enough for the job to fill the line and settle into its wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    WriteOnFreeSlot(state, rig);
    const bool overlapped = !stalledEnded.load();
    stalled.join();
    Tree().stalledPrinter.Discard();
    if (!overlapped || !stalledWriteFailed) {
        state.SkipWithError("slot 0's write did not wait out its time-out around the writes");
    }
}

}  // namespace

BENCHMARK(BM_Slot1WriteAlone)->Iterations(kWritesPerRepetition)->Repetitions(15);
BENCHMARK(BM_Slot1WriteWhileSlot0TimesOut)->Iterations(kWritesPerRepetition)->Repetitions(15);

}  // namespace zelp::bench
