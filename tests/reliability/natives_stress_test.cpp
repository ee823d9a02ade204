// Sixteen threads call the nineteen native methods at random, on all 255 USB
// slots and on the parallel port, while a chaos thread pulls printers out,
// stalls them, makes their writes fail or end short and holds them open
// elsewhere. Closes land during transfers and during time-outs.
//
// Afterwards: no deadlock (the watchdog), every close came back within the
// longest time-out in play plus a margin, every job reported written reached
// a printer exactly once, whole and in its thread's order, and every handle,
// event and mutex is closed again.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "native/platform/sim/sim_platform.h"
#include "natives_workload.h"
#include "stress_support.h"

namespace zelp::stress {
namespace {

using sim::Behaviour;

constexpr size_t kWorkers = 16;
constexpr int kNumberedPrinters = 24;

std::string UsbPath(std::string_view serial, int unit) {
    return "\\\\?\\usb#vid_1234&pid_5678#" + std::string(serial) + "#{28d78fad-5a12-11d1-ae5b-" +
           std::to_string(100000000000 + unit) + "}";
}

WorkloadSettings SimWorkload() {
    WorkloadSettings settings;
    settings.usbSerials = kNumberedPrinters + 4;
    settings.usbTimeouts = {0, 5, 20, 50, 200};
    settings.parallelNames = {u"LPT1", u"LPT2", u"LPT2", u"LPT9", u""};
    // The longest transfer a close may wait for: the longest write time-out
    // above (a read takes 100 ms), and the parallel port's write time-out.
    settings.usbCloseBound = Millis(200) + CloseMargin();
    settings.parallelCloseBound = Millis(2000) + CloseMargin();
    return settings;
}

class NativesStress : public ::testing::Test {
protected:
    NativesStress() {
        for (int i = 1; i <= kNumberedPrinters; ++i) {
            char serial[8];
            std::snprintf(serial, sizeof(serial), "%06d", i);
            m_usb.push_back(UsbPath(serial, i));
        }
        for (int i = 0; i < 2; ++i) {
            m_usb.push_back(UsbPath("000000", 900 + i));
        }
        for (const std::string& path : m_usb) {
            sim.AddUsbPrinter(path);
        }
        sim.AnswerIdentity(m_usb[kNumberedPrinters], {"7a4711\r"});
        sim.AnswerIdentity(m_usb[kNumberedPrinters + 1], {"7a", "815\r"});
        for (const char* name : {"LPT1", "LPT2"}) {
            sim.AddParallelPort(name);
        }
    }

    // One disturbance of one printer; returns whether it was a fault. Most
    // disturbances mend a printer, so that jobs keep flowing.
    bool Disturb(Dice& dice) {
        const std::string path = dice.Chance(20)
                                     ? std::string(dice.Chance(50) ? "LPT1" : "LPT2")
                                     : m_usb[dice.Below(static_cast<uint32_t>(m_usb.size()))];
        const uint32_t roll = dice.Below(100);
        if (roll < 40) {
            Mend(path, dice);
            return false;
        }
        if (roll < 50) {
            sim.QueueReply(path, "ok\r", dice.Below(20));
            return false;
        }
        Break(path, dice);
        return true;
    }

    // Back to normal, and whatever was stalled goes on.
    void Mend(const std::string& path, Dice& dice) {
        sim.SetWrites(path,
                      dice.Chance(50) ? Behaviour::AtOnce() : Behaviour::After(1 + dice.Below(5)));
        sim.Unstall(path);
        sim.PlugIn(path);
        sim.HoldOpenElsewhere(path, false);
    }

    void Break(const std::string& path, Dice& dice) {
        // The printers the list asks for their identity only fail reads: a
        // stalled identity command would hold a list for its twelve seconds.
        const bool answersIdentity = path.find("#000000#") != std::string::npos;
        switch (answersIdentity ? 0 : dice.Below(8)) {
            case 0:
                sim.SetReads(path, dice.Chance(50) ? Behaviour::FailAtOnce(ERROR_GEN_FAILURE)
                                                   : Behaviour::UnplugAfter(dice.Below(20)));
                break;
            case 1:  // stops answering
                sim.SetWrites(path, Behaviour::Never());
                break;
            case 2:
                sim.SetWrites(path, dice.Chance(50)
                                        ? Behaviour::FailAtOnce(ERROR_GEN_FAILURE)
                                        : Behaviour::FailAfter(ERROR_GEN_FAILURE, dice.Below(10)));
                break;
            case 3:
                // Ends short at once, or takes part of the job and stops. (A
                // printer that took every byte and then never ended the write
                // is not modelled: such a write times out and reports false,
                // and a retry would print the job twice. On usblp those bytes
                // are still in flight and a close drops them, so false is the
                // safer answer.)
                sim.SetWrites(path, dice.Chance(50) ? Behaviour::AtOnce().Short(dice.Below(40))
                                                    : Behaviour::Never().Short(dice.Below(20)));
                break;
            case 4:  // pulled out in the middle of a write
                sim.SetWrites(path, Behaviour::UnplugAfter(dice.Below(10)));
                break;
            case 5:
                sim.Unplug(path);
                break;
            case 6:
                sim.SetCancelLatency(path, dice.Below(20));
                break;
            default:
                sim.HoldOpenElsewhere(path, true);
                break;
        }
    }

    void Chaos(Dice& dice, Clock::time_point until) {
        for (uint64_t tick = 0; Clock::now() < until; ++tick) {
            m_nFaults += Disturb(dice) ? 1 : 0;
            // The record of calls would otherwise grow for the whole run.
            if (tick % 64 == 0) {
                sim.ClearCalls();
            }
            std::this_thread::sleep_for(Millis(5 + dice.Below(20)));
        }
    }

    void HealEveryPrinter() {
        for (const std::string& path : AllPaths()) {
            sim.SetWrites(path, Behaviour::AtOnce());
            sim.SetReads(path, Behaviour::AtOnce());
            sim.SetCancelLatency(path, 0);
            sim.Unstall(path);
            sim.PlugIn(path);
            sim.HoldOpenElsewhere(path, false);
        }
    }

    std::vector<std::string> AllPaths() const {
        std::vector<std::string> paths = m_usb;
        paths.push_back("LPT1");
        paths.push_back("LPT2");
        return paths;
    }

    sim::SimPlatform sim{sim::TimeMode::Real};
    ScopedPlatform m_scope{sim};
    std::vector<std::string> m_usb;
    NativesWorkload m_workload{SimWorkload()};
    std::atomic<uint64_t> m_nFaults{0};
};

TEST_F(NativesStress, SixteenThreadsOnEverySlotAndTheParallelPortLoseNothingAndLeakNothing) {
    const Millis duration = StressDuration(Millis(3000), Millis(1500));
    const uint32_t seed = static_cast<uint32_t>(Clock::now().time_since_epoch().count());
    std::printf("natives stress: %zu threads for %lld ms, seed %u\n", kWorkers,
                static_cast<long long>(duration.count()), seed);
    std::fflush(stdout);
    const size_t handlesBefore = sim.OpenHandleCount();
    std::vector<std::unique_ptr<Worker>> workers;
    for (uint32_t i = 0; i < kWorkers; ++i) {
        workers.push_back(std::make_unique<Worker>(i, seed + i));
    }
    {
        // Generous: a parallel writer may wait its turn behind several others
        // that each run to the port's write time-out.
        Watchdog watchdog(kWorkers + 1, UnderSanitizer() ? Millis(180000) : Millis(90000));
        const Clock::time_point until = Clock::now() + duration;
        std::vector<std::thread> threads;
        for (auto& worker : workers) {
            threads.emplace_back([&, w = worker.get()] { m_workload.Work(*w, watchdog, until); });
        }
        Dice chaosDice(seed ^ 0x5A5A5A5Au);
        Chaos(chaosDice, until);
        HealEveryPrinter();
        for (std::thread& thread : threads) {
            thread.join();
        }
        watchdog.Begin(kWorkers, "closing every port");
        m_workload.CloseEverything(*workers.front());
        watchdog.End(kWorkers);
    }

    std::vector<std::string> streams;
    for (const std::string& path : AllPaths()) {
        streams.push_back(sim.Received(path));
    }
    CheckRun("natives-sim", m_workload, workers, streams, m_nFaults.load(),
             sim.OpenHandleCount() - handlesBefore);
    EXPECT_EQ(sim.OpenDeviceInfoSetCount(), 0u);
    EXPECT_EQ(sim.LocalAllocationCount(), 0u);
}

// The check the stress relies on must itself see each kind of fault.
TEST(StreamCheck, SeesLossDoublingDisorderCorruptionAndCutJobs) {
    JobLedger ledger;
    const std::string a1 = MakeJob({1, 1}, 10), a2 = MakeJob({1, 2}, 0), b1 = MakeJob({2, 1}, 5);
    const std::string cut = MakeJob({3, 1}, 30).substr(0, 20);
    ledger.Succeeded({1, 1}, a1.size());
    ledger.Succeeded({1, 2}, a2.size());
    ledger.Succeeded({2, 1}, b1.size());
    ledger.Failed({3, 1});
    Verdict clean = ledger.Check({a1 + cut + b1, "garbage" + a2});
    EXPECT_EQ(clean.lostJobs + clean.doubledJobs + clean.outOfOrder + clean.corrupt, 0u);

    const Verdict lost = ledger.Check({a1 + a2});
    EXPECT_EQ(lost.lostJobs, 1u);
    EXPECT_EQ(lost.lostBytes, b1.size());
    EXPECT_EQ(ledger.Check({a1 + a2 + b1 + b1}).doubledJobs, 1u);
    EXPECT_EQ(ledger.Check({a2 + a1 + b1}).outOfOrder, 1u);
    std::string mixed = a1;
    char& inBody = mixed[mixed.size() - 3];
    inBody = inBody == 'z' ? 'y' : 'z';
    EXPECT_EQ(ledger.Check({mixed + a2 + b1}).corrupt, 1u);
    EXPECT_EQ(ledger.Check({a1 + a2 + b1 + MakeJob({3, 1}, 30)}).wholeButFailed, 1u);
    EXPECT_EQ(ledger.Check({a1 + a2 + b1 + MakeJob({9, 9}, 3)}).phantoms, 1u);
}

}  // namespace
}  // namespace zelp::stress
