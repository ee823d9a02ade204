// memory: the native heap (mallinfo2: bytes in use in every arena, mapped
// blocks included) before and after a million mixed calls of the exported
// methods, and per open slot. The calls go through the natives with a JNI
// environment that allocates nothing, over the linux backend on a fake tree
// whose printers, and the parallel port, are files.
#include <malloc.h>

#include <benchmark/benchmark.h>

#include <functional>
#include <vector>

#include "parallel/parallel_natives.h"
#include "usb/usb_natives.h"
#include "usb_rig.h"

namespace zelp::bench {

namespace {

constexpr unsigned kMixedPrinters = 8;
constexpr unsigned kSlotPrinters = 64;
constexpr long kMixedCalls = 1'000'000;
constexpr long kWarmUpCalls = 200'000;
constexpr int kWarmUpSlot = 100;
constexpr int kMeasuredSlot = 180;

int64_t HeapInUse() {
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<int64_t>(info.uordblks + info.hblkhd);
}

FakeUsbTree& TreeOf(unsigned printers) {
    static FakeUsbTree* s_trees[2] = {};
    FakeUsbTree*& tree = s_trees[printers == kSlotPrinters ? 1 : 0];
    if (tree == nullptr) {
        tree = new FakeUsbTree;
        for (unsigned n = 0; n < printers; ++n) {
            AddListedPrinter(*tree, n, tree->AddFileNode("lp" + std::to_string(n)));
        }
        tree->AddFileNode("parallel");
    }
    return *tree;
}

// The calls of one round, cheap ones mostly, as an application makes them;
// every so often a round also reopens a slot and the port, detects and lists.
// A reopened file reads from its start again, so a read may bring bytes.
class MixedCalls {
public:
    MixedCalls(UsbRig& rig, const std::string& parallelPath)
        : m_rig(rig),
          m_env(rig.Jni().Env()),
          m_portName(BenchJniEnv::Text(parallelPath)),
          m_vendor(BenchJniEnv::Text(kListedVendorText)),
          m_product(BenchJniEnv::Text(kListedProductText)),
          m_data(BenchJniEnv::ByteArray(64)),
          m_first(BenchJniEnv::IntArray(10)),
          m_second(BenchJniEnv::IntArray(10)) {}

    bool OpenPort() {
        return Java_com_quenrix_zel_comm_ParallelPort_openParallelPort(
            m_env, nullptr, BenchJniEnv::Ref(m_portName));
    }

    // Makes `calls` calls; false when a call that must succeed failed.
    bool Run(long calls) {
        bool ok = true;
        while (calls > 0) {
            const auto& round = (++m_nRound % 1000 == 0) ? RareRound() : CommonRound();
            for (const auto& call : round) {
                if (calls-- == 0) {
                    break;
                }
                ok = call() && ok;
            }
        }
        return ok;
    }

private:
    using Call = std::function<bool()>;

    int Slot() const { return static_cast<int>(m_nRound % kMixedPrinters); }
    jbyteArray Data() { return BenchJniEnv::Bytes(m_data); }

    const std::vector<Call>& CommonRound();
    const std::vector<Call>& RareRound();

    UsbRig& m_rig;
    JNIEnv* m_env;
    BenchString m_portName, m_vendor, m_product;
    BenchArray m_data, m_first, m_second;
    long m_nRound = 0;
    std::vector<Call> m_common, m_rare;
};

const std::vector<MixedCalls::Call>& MixedCalls::CommonRound() {
    if (!m_common.empty()) {
        return m_common;
    }
    m_common = {
        [&] {
            return Java_com_quenrix_zel_comm_ParallelPort_writeData(m_env, nullptr, Data(), 0, 64);
        },
        [&] { return Java_com_quenrix_zel_comm_ParallelPort_isWriteComplete(m_env, nullptr); },
        [&] {
            return Java_com_quenrix_zel_comm_ParallelPort_setWriteComplete(m_env, nullptr, 0) == 0;
        },
        [&] {
            return Java_com_quenrix_zel_comm_ParallelPort_readData(m_env, nullptr, Data(), 64) >= 0;
        },
        [&] { return Java_com_quenrix_zel_comm_ParallelPort_isReadComplete(m_env, nullptr); },
        [&] { return Java_com_quenrix_zel_comm_ParallelPort_detectParallelPort(m_env, nullptr); },
        [&] { return m_rig.Write(m_data, 64, 1000, Slot()); },
        [&] { return m_rig.Read(m_data, 64, Slot()) >= 0; },
        [&] { return Java_dravn_usb_UsbDevice_isWriteComplete(m_env, nullptr, Slot()); },
        [&] { return Java_dravn_usb_UsbDevice_setWriteComplete(m_env, nullptr, 0, Slot()) == 0; },
        [&] { return Java_dravn_usb_UsbDevice_isReadComplete(m_env, nullptr, Slot()); },
        // The refusals: an invalid slot, a null array, a range outside the array.
        [&] { return !m_rig.Write(m_data, 64, 1000, -1); },
        [&] {
            return !Java_com_quenrix_zel_comm_ParallelPort_writeData(m_env, nullptr, nullptr, 0, 1);
        },
        [&] {
            return !Java_com_quenrix_zel_comm_ParallelPort_writeData(m_env, nullptr, Data(), 60, 8);
        },
    };
    return m_common;
}

const std::vector<MixedCalls::Call>& MixedCalls::RareRound() {
    if (!m_rare.empty()) {
        return m_rare;
    }
    m_rare = {
        [&] { return m_rig.Close(Slot()); },
        [&] { return m_rig.Open(Slot(), static_cast<unsigned>(Slot())); },
        [&] { return Java_dravn_usb_UsbDevice_detectUsbDevice(m_env, nullptr, Slot()); },
        [&] {
            return Java_dravn_usb_UsbDevice_usbDeviceList(
                       m_env, nullptr, BenchJniEnv::Ints(m_first), BenchJniEnv::Ints(m_second), 0,
                       BenchJniEnv::Ref(m_vendor), BenchJniEnv::Ref(m_product)) == 8;
        },
        [&] { return Java_com_quenrix_zel_comm_ParallelPort_closeParallelPort(m_env, nullptr); },
        [&] { return OpenPort(); },
    };
    return m_rare;
}

void BM_MixedCallsHeap(benchmark::State& state) {
    FakeUsbTree& tree = TreeOf(kMixedPrinters);
    UsbRig rig(tree);
    for (unsigned n = 0; n < kMixedPrinters; ++n) {
        rig.Open(static_cast<int>(n), n);
    }
    MixedCalls calls(rig, tree.AddFileNode("parallel"));
    if (!calls.OpenPort() || !calls.Run(kWarmUpCalls)) {
        state.SkipWithError("the warm-up calls failed");
        return;
    }
    int64_t growth = 0;
    for (auto _ : state) {
        const int64_t before = HeapInUse();
        const bool ok = calls.Run(kMixedCalls);
        growth = HeapInUse() - before;
        if (!ok) {
            state.SkipWithError("a call that must succeed failed");
        }
    }
    Java_com_quenrix_zel_comm_ParallelPort_closeParallelPort(rig.Jni().Env(), nullptr);
    state.counters["growth_bytes"] = static_cast<double>(growth);
    state.counters["calls"] = static_cast<double>(kMixedCalls);
}

// Slots 180..243 are measured; slots 100..163 open the same printers first, so
// that what any first open makes once (tables, buckets) is not counted.
void BM_OpenSlotsHeap(benchmark::State& state) {
    FakeUsbTree& tree = TreeOf(kSlotPrinters);
    double perSlot = 0;
    for (auto _ : state) {
        UsbRig rig(tree);
        for (unsigned n = 0; n < kSlotPrinters; ++n) {
            rig.Open(static_cast<int>(kWarmUpSlot + n), n);
        }
        for (unsigned n = 0; n < kSlotPrinters; ++n) {
            rig.Close(static_cast<int>(kWarmUpSlot + n));
        }
        const int64_t before = HeapInUse();
        bool opened = true;
        for (unsigned n = 0; n < kSlotPrinters; ++n) {
            opened = rig.Open(static_cast<int>(kMeasuredSlot + n), n) && opened;
        }
        perSlot = static_cast<double>(HeapInUse() - before) / kSlotPrinters;
        if (!opened) {
            state.SkipWithError("a slot could not be opened");
        }
    }
    state.counters["bytes_per_slot"] = perSlot;
}

}  // namespace

BENCHMARK(BM_MixedCallsHeap)->Iterations(1)->Repetitions(1);
BENCHMARK(BM_OpenSlotsHeap)->Iterations(1)->Repetitions(1);

}  // namespace zelp::bench
