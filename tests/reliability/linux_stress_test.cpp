// The stress workload on the linux backend, over real kernel objects: USB
// printers listed by a fake sysfs tree whose device nodes are ptys, and two
// ptys as parallel ports. The test plays every printer on the pty's master
// side, and now and then stops reading, so that transfers stall, time out
// and get closed under. Every job reported written must arrive exactly once,
// and every descriptor the backend took must be given back.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "java_calls.h"
#include "linux_fixture.h"
#include "native/platform.h"
#include "natives_workload.h"
#include "parallel/parallel_port.h"
#include "stress_support.h"
#include "usb/usb_slots.h"

namespace zelp::reliability {
namespace {

using namespace stress;

constexpr size_t kWorkers = 8;
constexpr unsigned kUsbPrinters = 4;

class LinuxStress : public ::testing::Test {
protected:
    LinuxStress() {
        ClearSlotRecords();
        for (unsigned i = 0; i < kUsbPrinters + 2; ++i) {
            m_printers.push_back(std::make_unique<PtyPrinter>());
        }
        for (unsigned i = 0; i < kUsbPrinters; ++i) {
            char serial[8];
            std::snprintf(serial, sizeof(serial), "%06u", i + 1);
            tree.AddPrinter(i, "1234", "5678", serial, m_printers[i]->Path());
        }
    }

    WorkloadSettings Settings() const {
        WorkloadSettings settings;
        settings.usbSerials = kUsbPrinters + 1;
        settings.usbTimeouts = {20, 100, 500};
        settings.parallelNames = {Wide(m_printers[kUsbPrinters]->Path()),
                                  Wide(m_printers[kUsbPrinters + 1]->Path()), u"/nonexistent"};
        settings.usbCloseBound = Millis(500) + CloseMargin();
        settings.parallelCloseBound = Millis(CParallelPort::kWriteTotalTimeoutMs) + CloseMargin();
        return settings;
    }

    // Printers stop reading for a while and go on again, as a printer does
    // whose buffer is full; returns how many stops there were.
    uint64_t Chaos(Dice& dice, Clock::time_point until) {
        uint64_t stops = 0;
        while (Clock::now() < until) {
            PtyPrinter& printer = *m_printers[dice.Below(static_cast<uint32_t>(m_printers.size()))];
            printer.StopReading();
            ++stops;
            std::this_thread::sleep_for(Millis(20 + dice.Below(300)));
            printer.ResumeReading();
            std::this_thread::sleep_for(Millis(dice.Below(50)));
        }
        return stops;
    }

    FakeUsbTree tree;
    std::vector<std::unique_ptr<PtyPrinter>> m_printers;
};

TEST_F(LinuxStress, EightThreadsOverPtysLoseNothingAndGiveBackEveryDescriptor) {
    linuxbk::LinuxPlatform os(tree.SysRoot(), tree.DevRoot());
    ScopedPlatform scope(os);
    const size_t fdsBefore = linuxbk::testing::CountOpenFds();
    NativesWorkload workload(Settings());
    const Millis duration = StressDuration(Millis(2000), Millis(1000));
    const uint32_t seed = static_cast<uint32_t>(Clock::now().time_since_epoch().count());
    std::printf("linux stress: %zu threads for %lld ms, seed %u\n", kWorkers,
                static_cast<long long>(duration.count()), seed);
    std::fflush(stdout);
    std::vector<std::unique_ptr<Worker>> workers;
    for (uint32_t i = 0; i < kWorkers; ++i) {
        workers.push_back(std::make_unique<Worker>(i, seed + i));
    }
    uint64_t stops = 0;
    {
        Watchdog watchdog(kWorkers + 1, UnderSanitizer() ? Millis(180000) : Millis(90000));
        const Clock::time_point until = Clock::now() + duration;
        std::vector<std::thread> threads;
        for (auto& worker : workers) {
            threads.emplace_back([&, w = worker.get()] { workload.Work(*w, watchdog, until); });
        }
        Dice dice(seed ^ 0xA5A5A5A5u);
        stops = Chaos(dice, until);
        for (std::thread& thread : threads) {
            thread.join();
        }
        watchdog.Begin(kWorkers, "closing every port");
        workload.CloseEverything(*workers.front());
        watchdog.End(kWorkers);
    }

    std::vector<std::string> streams;
    for (auto& printer : m_printers) {
        printer->WaitUntilQuiet(Millis(300));
        streams.push_back(printer->Received());
    }
    CheckRun("natives-linux", workload, workers, streams, stops, os.OpenHandleCount());
    EXPECT_EQ(os.OpenFdCount(), 0u);
    EXPECT_EQ(linuxbk::testing::CountOpenFds(), fdsBefore);
}

}  // namespace
}  // namespace zelp::reliability
