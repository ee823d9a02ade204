// close_latency: from the end of the last running transfer to the return of
// closeUsbPort on another thread. Slot 0's printer is a pty nobody reads; a
// write fills it and ends at its 30 ms time-out while a close waits for it.
// The transfer's end is the return of the GetOverlappedResult that finished
// it, noted by a pass-through platform around the linux backend.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "timing_platform.h"
#include "usb_rig.h"

namespace zelp::bench {

namespace {

constexpr int kSlot = 0;
constexpr int kJob = 1 << 20;
constexpr int kWriteTimeoutMs = 30;
constexpr auto kCloseAfter = std::chrono::milliseconds(10);

struct CloseTree {
    FakeUsbTree tree;
    PtyPeer printer;
    CloseTree() { AddListedPrinter(tree, 0, printer.SlavePath()); }
};

CloseTree& Tree() {
    static CloseTree s_tree;
    return s_tree;
}

TimingPlatform* s_pTiming = nullptr;

PlatformOps* WrapWithTiming(PlatformOps& inner) {
    s_pTiming = new TimingPlatform(inner);
    return s_pTiming;
}

void BM_CloseUsbPortAfterTransfer(benchmark::State& state) {
    BenchArray job = BenchJniEnv::ByteArray(kJob);
    for (auto _ : state) {
        UsbRig rig(Tree().tree, &WrapWithTiming);
        if (!rig.Open(kSlot, 0)) {
            state.SkipWithError("the slot could not be opened");
            break;
        }
        std::thread writer([&] { rig.Write(job, kJob, kWriteTimeoutMs, kSlot); });
        std::this_thread::sleep_for(kCloseAfter);
        TimingPlatform::Clock::time_point returned;
        std::thread closer([&] {
            rig.Close(kSlot);
            returned = TimingPlatform::Clock::now();
        });
        writer.join();
        closer.join();
        const TimingPlatform::Clock::time_point ended = s_pTiming->LastTransferEnd();
        Tree().printer.Discard();
        if (returned < ended) {
            state.SkipWithError("the close returned before the transfer ended");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(returned - ended).count());
    }
}

}  // namespace

BENCHMARK(BM_CloseUsbPortAfterTransfer)->Iterations(1)->Repetitions(21)->UseManualTime();

}  // namespace zelp::bench
