// A fixed number of 64 KiB writes through one port, for callgrind to count
// the instructions each write costs in user space (scripts/bench runs it with
// --toggle-collect on the port's Write). Instruction counts do not depend on
// the machine's load, so this figure is the same from run to run.
//
//   zelp_write_instructions parallel N   CParallelPort::Write on /dev/null
//   zelp_write_instructions usb N        CUsbPort::Write on a printer found
//                                        through a fake sysfs tree, its node
//                                        one of the null driver's
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench_fixtures.h"
#include "native/platform/linux/linux_platform.h"
#include "parallel/parallel_port.h"
#include "usb/usb_port.h"

namespace zelp::bench {
namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr uint32_t kTimeoutMs = 1000;

// Another program may hold /dev/null through the library for a moment.
bool OpenNull(CParallelPort& port) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (port.Open("/dev/null") != nullptr) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

int WriteParallel(long count, const std::vector<uint8_t>& chunk) {
    CParallelPort port;
    if (!OpenNull(port)) {
        std::fprintf(stderr, "the port could not be opened on /dev/null\n");
        return 1;
    }
    for (long i = 0; i < count; ++i) {
        if (!port.Write(chunk.data(), kChunk)) {
            std::fprintf(stderr, "write %ld failed\n", i);
            return 1;
        }
    }
    return 0;
}

int WriteUsb(long count, const std::vector<uint8_t>& chunk) {
    FakeUsbTree tree;
    tree.AddPrinter(0, kListedVendorHex, kListedProductHex, "000123", tree.AddNullNode("lp0"));
    linuxbk::LinuxPlatform os(tree.SysRoot(), tree.DevRoot());
    ScopedPlatform scoped(os);
    CUsbPort port;
    if (port.Open("123", kListedVendorText, kListedProductText) == nullptr) {
        std::fprintf(stderr, "the fake printer could not be opened\n");
        return 1;
    }
    for (long i = 0; i < count; ++i) {
        if (!port.Write(chunk.data(), kChunk, kTimeoutMs)) {
            std::fprintf(stderr, "write %ld failed\n", i);
            return 1;
        }
    }
    port.Close();
    return 0;
}

}  // namespace
}  // namespace zelp::bench

int main(int argc, char** argv) {
    const std::string port = argc > 1 ? argv[1] : "";
    const long count = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 0;
    if ((port != "parallel" && port != "usb") || count <= 0) {
        std::fprintf(stderr, "usage: zelp_write_instructions parallel|usb COUNT\n");
        return 2;
    }
    const std::vector<uint8_t> chunk(zelp::bench::kChunk, 0x5a);
    const int status = port == "parallel" ? zelp::bench::WriteParallel(count, chunk)
                                          : zelp::bench::WriteUsb(count, chunk);
    if (status == 0) {
        std::printf("writes %s %ld\n", port.c_str(), count);
    }
    return status;
}
