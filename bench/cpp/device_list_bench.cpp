// list_255: the device list of one model among 255 present printers on the
// linux backend, over a fake sysfs tree, against the floor: a plain walk that
// reads the same sysfs attributes and nothing else. And how both grow from 25
// to 255 printers.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "bench_fixtures.h"
#include "native/platform.h"
#include "native/platform/linux/linux_platform.h"
#include "usb/device_list.h"

namespace zelp::bench {

namespace {

constexpr uint32_t kListedPrinters = 5;

// One tree per size, laid out once for every repetition.
FakeUsbTree& TreeOf(unsigned count) {
    static std::map<unsigned, std::unique_ptr<FakeUsbTree>> s_trees;
    std::unique_ptr<FakeUsbTree>& tree = s_trees[count];
    if (!tree) {
        tree = std::make_unique<FakeUsbTree>();
        LayOutListTree(*tree, count);
    }
    return *tree;
}

void BM_ListDevices(benchmark::State& state) {
    FakeUsbTree& tree = TreeOf(static_cast<unsigned>(state.range(0)));
    linuxbk::LinuxPlatform os(tree.SysRoot(), tree.DevRoot());
    ScopedPlatform scoped(os);
    int32_t first[kMaxListedPrinters];
    int32_t second[kMaxListedPrinters];
    for (auto _ : state) {
        const uint32_t count =
            ListDevices(first, second, kMaxListedPrinters, kListedVendorText, kListedProductText);
        if (count != kListedPrinters) {
            state.SkipWithError("the list did not find the five printers of the model");
            break;
        }
    }
}

// A sysfs attribute read the plainest way: open, read, close.
size_t ReadAttribute(const std::string& file, char* text, size_t size) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    const ssize_t n = ::read(fd, text, size);
    ::close(fd);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

// The floor: every lpN entry, the three attributes of its USB device read
// through the entry's device link (the kernel resolves the link, then ".."),
// the model compared as text. Nothing is formatted, sorted or kept.
uint32_t FloorWalk(const std::string& sysRoot) {
    const std::string classDir = sysRoot + "/class/usbmisc";
    DIR* dir = ::opendir(classDir.c_str());
    if (dir == nullptr) {
        return 0;
    }
    uint32_t listed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, "lp", 2) != 0) {
            continue;
        }
        const std::string usbDevice = classDir + "/" + entry->d_name + "/device/..";
        char vendor[16], product[16], serial[64];
        const size_t v = ReadAttribute(usbDevice + "/idVendor", vendor, sizeof vendor);
        const size_t p = ReadAttribute(usbDevice + "/idProduct", product, sizeof product);
        const size_t s = ReadAttribute(usbDevice + "/serial", serial, sizeof serial);
        if (v >= 4 && p >= 4 && s > 0 && std::memcmp(vendor, kListedVendorHex, 4) == 0 &&
            std::memcmp(product, kListedProductHex, 4) == 0) {
            ++listed;
        }
    }
    ::closedir(dir);
    return listed;
}

void BM_SysfsFloorWalk(benchmark::State& state) {
    FakeUsbTree& tree = TreeOf(static_cast<unsigned>(state.range(0)));
    for (auto _ : state) {
        if (FloorWalk(tree.SysRoot()) != kListedPrinters) {
            state.SkipWithError("the walk did not find the five printers of the model");
            break;
        }
    }
}

// How a call grows from 25 to 255 printers, measured in pairs: each round
// times one call over each tree back to back, so that both sizes meet the
// same load on the machine. The figure is the median
// over repetitions of (time over 255) / (time over 25).
template <class Call>
void MeasureGrowth(benchmark::State& state, Call call) {
    using Clock = std::chrono::steady_clock;
    FakeUsbTree& large = TreeOf(255);
    FakeUsbTree& small = TreeOf(25);
    Clock::duration largeTime{};
    Clock::duration smallTime{};
    for (auto _ : state) {
        for (FakeUsbTree* tree : {&large, &small}) {
            // An untimed call first, so that the timed one finds the caches
            // as a run of calls over this tree leaves them, not as the
            // other tree's call left them.
            call(*tree);
            const auto start = Clock::now();
            if (!call(*tree)) {
                state.SkipWithError("the walk did not find the five printers of the model");
                return;
            }
            (tree == &large ? largeTime : smallTime) += Clock::now() - start;
        }
    }
    state.counters["growth"] =
        std::chrono::duration<double>(largeTime) / std::chrono::duration<double>(smallTime);
}

void BM_ListGrowth(benchmark::State& state) {
    // One backend per tree, made before the timing, as in BM_ListDevices.
    std::map<const FakeUsbTree*, std::unique_ptr<linuxbk::LinuxPlatform>> backends;
    for (unsigned count : {255u, 25u}) {
        FakeUsbTree& tree = TreeOf(count);
        backends[&tree] = std::make_unique<linuxbk::LinuxPlatform>(tree.SysRoot(), tree.DevRoot());
    }
    MeasureGrowth(state, [&](FakeUsbTree& tree) {
        ScopedPlatform scoped(*backends[&tree]);
        int32_t first[kMaxListedPrinters];
        int32_t second[kMaxListedPrinters];
        return ListDevices(first, second, kMaxListedPrinters, kListedVendorText,
                           kListedProductText) == kListedPrinters;
    });
}

void BM_FloorGrowth(benchmark::State& state) {
    MeasureGrowth(state,
                  [](FakeUsbTree& tree) { return FloorWalk(tree.SysRoot()) == kListedPrinters; });
}

}  // namespace

BENCHMARK(BM_ListGrowth)->Repetitions(9)->MinTime(0.4);
BENCHMARK(BM_FloorGrowth)->Repetitions(9)->MinTime(0.4);
BENCHMARK(BM_ListDevices)->Arg(255)->Repetitions(9)->MinTime(0.2);
BENCHMARK(BM_SysfsFloorWalk)->Arg(255)->Repetitions(9)->MinTime(0.2);

}  // namespace zelp::bench
