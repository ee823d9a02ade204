// One fault at a time, through the methods the JVM calls, on virtual printers
// on virtual time. Whatever goes wrong, the call gives false or 0, it comes
// back within its time-out, the port works again after a close, and no byte
// of a job reported written is lost. (The port-level tests already pin down
// which requests each fault leads to; these follow each one through to the
// next job.)
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "java_calls.h"
#include "native/platform/sim/sim_platform.h"
#include "parallel/parallel_port.h"
#include "stress_support.h"
#include "usb/usb_slots.h"

namespace zelp {
namespace {

using sim::Behaviour;

std::string UsbPath(std::string_view serialField) {
    return "\\\\?\\usb#vid_1234&pid_5678#" + std::string(serialField) +
           "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
}

struct Fault {
    const char* name;
    std::function<void(sim::SimPlatform&, const std::string&)> inject;
    // The longest the failing call may take, in sim milliseconds.
    uint64_t mostMs;
};

// What a printer received around a failed job: the job before it whole, at
// most a first part of the failed one, then the job after it whole.
::testing::AssertionResult NothingReportedWasLost(const std::string& received,
                                                  const std::string& before,
                                                  const std::string& failed,
                                                  const std::string& after) {
    if (!received.starts_with(before) || !received.ends_with(after) ||
        received.size() < before.size() + after.size()) {
        return ::testing::AssertionFailure() << "received \"" << received << "\"";
    }
    const std::string middle =
        received.substr(before.size(), received.size() - before.size() - after.size());
    if (!failed.starts_with(middle)) {
        return ::testing::AssertionFailure() << "between the jobs came \"" << middle << "\"";
    }
    return ::testing::AssertionSuccess();
}

class FaultInjectionTest : public ::testing::Test {
protected:
    FaultInjectionTest() { ClearSlotRecords(); }

    void SetUp() override {
        ASSERT_TRUE(sim.AddUsbPrinter(kPrinter));
        ASSERT_TRUE(sim.AddParallelPort("LPT1"));
    }

    void TearDown() override {
        // The reliability report adds up how many faults were followed through.
        stress::PrintFigures("faults-sim", {{"faults", m_nFaults}});
        java.CloseUsb(kSlot);
        java.CloseParallel();
        EXPECT_EQ(sim.OpenHandleCount(), 0u);
        EXPECT_EQ(sim.OpenDeviceInfoSetCount(), 0u);
        EXPECT_EQ(sim.LocalAllocationCount(), 0u);
        EXPECT_EQ(java.fake.exceptions, 0);
        EXPECT_EQ(java.fake.stringCharsOut, 0);
    }

    JNIEnv* Env() { return java.Env(); }
    bool OpenSlot(const char16_t* serial = u"12") { return java.OpenUsb(kSlot, serial); }
    bool CloseSlot() { return java.CloseUsb(kSlot); }
    bool UsbWrite(std::string_view job, jint timeoutMs) {
        return java.WriteUsb(kSlot, job, timeoutMs);
    }
    std::string UsbRead() { return java.ReadUsb(kSlot); }
    bool ParallelOpen() { return java.OpenParallel(u"LPT1"); }
    bool ParallelClose() { return java.CloseParallel(); }
    bool ParallelWrite(std::string_view job) { return java.WriteParallel(job); }
    std::string ParallelRead() { return java.ReadParallel(); }

    // Takes a printer back to health after a fault.
    void Heal(const std::string& path) {
        sim.PlugIn(path);
        sim.SetWrites(path, Behaviour::AtOnce());
        sim.SetReads(path, Behaviour::AtOnce());
        sim.SetCancelLatency(path, 0);
    }

    // Runs `call` and says how long it took on the sim clock.
    template <class Call>
    uint64_t Timed(Call call) {
        const uint64_t start = sim.NowMs();
        call();
        return sim.NowMs() - start;
    }

    static constexpr jint kSlot = 7;
    const std::string kPrinter = UsbPath("000012");
    sim::SimPlatform sim;
    ScopedPlatform scope{sim};
    reliability::JavaCalls java;
    uint64_t m_nFaults = 0;
};

// Faults of the data path that every printer, USB or parallel, can show.
std::vector<Fault> WriteFaults(uint64_t timeoutMs) {
    return {
        {"pulled out in the middle",
         [](auto& s, auto& p) { s.SetWrites(p, Behaviour::UnplugAfter(30)); }, 30},
        {"stops answering", [](auto& s, auto& p) { s.SetWrites(p, Behaviour::Never()); },
         timeoutMs},
        {"takes part, then stops",
         [](auto& s, auto& p) { s.SetWrites(p, Behaviour::Never().Short(4)); }, timeoutMs},
        {"fails at once",
         [](auto& s, auto& p) { s.SetWrites(p, Behaviour::FailAtOnce(ERROR_GEN_FAILURE)); }, 0},
        {"fails later",
         [](auto& s, auto& p) { s.SetWrites(p, Behaviour::FailAfter(ERROR_GEN_FAILURE, 40)); }, 40},
        {"ends short", [](auto& s, auto& p) { s.SetWrites(p, Behaviour::AtOnce().Short(4)); }, 0},
        {"slow to cancel",
         [](auto& s, auto& p) {
             s.SetWrites(p, Behaviour::Never());
             s.SetCancelLatency(p, 50);
         },
         timeoutMs + 50},
        {"no event to wait on",
         [](auto& s, auto&) { s.FailCall("CreateEventA", ERROR_NOT_ENOUGH_MEMORY); }, 0},
    };
}

std::vector<Fault> ReadFaults(uint64_t timeoutMs) {
    return {
        {"pulled out in the middle",
         [](auto& s, auto& p) { s.SetReads(p, Behaviour::UnplugAfter(5)); }, 5},
        {"says nothing", [](auto&, auto&) {}, timeoutMs},
        {"fails at once",
         [](auto& s, auto& p) { s.SetReads(p, Behaviour::FailAtOnce(ERROR_GEN_FAILURE)); }, 0},
        {"fails later",
         [](auto& s, auto& p) { s.SetReads(p, Behaviour::FailAfter(ERROR_GEN_FAILURE, 5)); }, 5},
        {"no event to wait on",
         [](auto& s, auto&) { s.FailCall("CreateEventA", ERROR_NOT_ENOUGH_MEMORY); }, 0},
    };
}

TEST_F(FaultInjectionTest, AUsbWriteThatMeetsAFaultFailsInTimeAndTheSlotWorksAfterAClose) {
    constexpr jint kTimeoutMs = 300;
    for (const Fault& fault : WriteFaults(kTimeoutMs)) {
        SCOPED_TRACE(fault.name);
        ASSERT_TRUE(OpenSlot());
        ASSERT_TRUE(UsbWrite("<job 1>", 1000));
        Java_dravn_usb_UsbDevice_setWriteComplete(Env(), nullptr, JNI_FALSE, kSlot);
        fault.inject(sim, kPrinter);
        ++m_nFaults;
        bool written = true;
        EXPECT_LE(Timed([&] { written = UsbWrite("<job 2>", kTimeoutMs); }), fault.mostMs);
        EXPECT_FALSE(written);
        EXPECT_FALSE(Java_dravn_usb_UsbDevice_isWriteComplete(Env(), nullptr, kSlot));
        EXPECT_TRUE(CloseSlot());
        EXPECT_EQ(sim.OpenHandleCount(), 0u);

        Heal(kPrinter);
        ASSERT_TRUE(OpenSlot());
        EXPECT_TRUE(UsbWrite("<job 3>", 1000));
        EXPECT_TRUE(CloseSlot());
        EXPECT_TRUE(
            NothingReportedWasLost(sim.TakeReceived(kPrinter), "<job 1>", "<job 2>", "<job 3>"));
    }
}

TEST_F(FaultInjectionTest, AParallelWriteThatMeetsAFaultFailsInTimeAndThePortWorksAfterAClose) {
    for (const Fault& fault : WriteFaults(CParallelPort::kWriteTotalTimeoutMs)) {
        SCOPED_TRACE(fault.name);
        ASSERT_TRUE(ParallelOpen());
        ASSERT_TRUE(ParallelWrite("<job 1>"));
        Java_com_quenrix_zel_comm_ParallelPort_setWriteComplete(Env(), nullptr, JNI_FALSE);
        fault.inject(sim, "LPT1");
        ++m_nFaults;
        bool written = true;
        EXPECT_LE(Timed([&] { written = ParallelWrite("<job 2>"); }), fault.mostMs);
        EXPECT_FALSE(written);
        EXPECT_FALSE(Java_com_quenrix_zel_comm_ParallelPort_isWriteComplete(Env(), nullptr));
        EXPECT_TRUE(ParallelClose());
        EXPECT_EQ(sim.OpenHandleCount(), 0u);

        Heal("LPT1");
        ASSERT_TRUE(ParallelOpen());
        EXPECT_TRUE(ParallelWrite("<job 3>"));
        EXPECT_TRUE(ParallelClose());
        EXPECT_TRUE(
            NothingReportedWasLost(sim.TakeReceived("LPT1"), "<job 1>", "<job 2>", "<job 3>"));
    }
}

TEST_F(FaultInjectionTest, AReadThatMeetsAFaultGivesNothingInTimeAndThePortReadsAfterAClose) {
    struct Port {
        const char* name;
        std::string path;
        uint64_t timeoutMs;
        std::function<bool()> open;
        std::function<std::string()> read;
        std::function<bool()> close;
        std::function<bool()> readFlag;
    };
    const std::vector<Port> ports = {
        {"usb", kPrinter, 100, [&] { return OpenSlot(); }, [&] { return UsbRead(); },
         [&] { return CloseSlot(); },
         [&] { return Java_dravn_usb_UsbDevice_isReadComplete(Env(), nullptr, kSlot) != 0; }},
        {"parallel", "LPT1", CParallelPort::kReadTotalTimeoutMs, [&] { return ParallelOpen(); },
         [&] { return ParallelRead(); }, [&] { return ParallelClose(); },
         [&] {
             return Java_com_quenrix_zel_comm_ParallelPort_isReadComplete(Env(), nullptr) != 0;
         }},
    };
    for (const Port& port : ports) {
        for (const Fault& fault : ReadFaults(port.timeoutMs)) {
            SCOPED_TRACE(std::string(port.name) + ": " + fault.name);
            ASSERT_TRUE(port.open());
            fault.inject(sim, port.path);
            ++m_nFaults;
            std::string got = "untouched";
            EXPECT_LE(Timed([&] { got = port.read(); }), fault.mostMs);
            EXPECT_EQ(got, "");
            EXPECT_TRUE(port.readFlag()) << "every read sets its flag";
            EXPECT_TRUE(port.close());
            EXPECT_EQ(sim.OpenHandleCount(), 0u);

            Heal(port.path);
            ASSERT_TRUE(port.open());
            sim.QueueReply(port.path, "ok");
            EXPECT_EQ(port.read(), "ok");
            EXPECT_TRUE(port.close());
        }
    }
}

TEST_F(FaultInjectionTest, APortWithoutItsMutexRefusesTransfersUntilAFreshOpen) {
    // The mutex is made with the slot's port object; without it no transfer
    // may run unguarded, and closing the slot lets the next open start over.
    sim.FailCall("CreateMutexA", ERROR_NOT_ENOUGH_MEMORY);
    ++m_nFaults;
    ASSERT_TRUE(OpenSlot());
    EXPECT_FALSE(UsbWrite("<job>", 1000));
    EXPECT_EQ(UsbRead(), "");
    EXPECT_TRUE(CloseSlot());
    ASSERT_TRUE(OpenSlot());
    EXPECT_TRUE(UsbWrite("<job>", 1000));
    EXPECT_EQ(sim.Received(kPrinter), "<job>");
}

TEST_F(FaultInjectionTest, AnEnumerationFailingHalfWayHidesOnlyThePrintersBeyondIt) {
    for (const char* serial : {"000013", "000014"}) {
        ASSERT_TRUE(sim.AddUsbPrinter(UsbPath(serial)));
    }
    sim.FailEnumAt(1, ERROR_GEN_FAILURE);
    ++m_nFaults;
    using Entries = std::vector<std::pair<jint, jint>>;
    EXPECT_EQ(java.ListUsb(), (Entries{{12, 12}}));
    EXPECT_FALSE(OpenSlot(u"14"));
    EXPECT_FALSE(java.DetectUsb(kSlot));
    EXPECT_EQ(sim.OpenDeviceInfoSetCount(), 0u);

    // Once the system lists every printer again, so does everything else.
    sim.FailEnumAt(1, ERROR_SUCCESS);
    EXPECT_EQ(java.ListUsb(), (Entries{{12, 12}, {13, 13}, {14, 14}}));
    EXPECT_TRUE(OpenSlot(u"14"));
    EXPECT_TRUE(java.DetectUsb(kSlot));
}

TEST_F(FaultInjectionTest, APrinterPulledOutDuringItsIdentityQueryIsLeftOutAndTheListGoesOn) {
    const std::string vanishing = UsbPath("000000");
    const std::string answering =
        "\\\\?\\usb#vid_1234&pid_5678#000000#{28d78fad-5a12-11d1-ae5b-0000f803a8c3}";
    ASSERT_TRUE(sim.AddUsbPrinter(vanishing));
    ASSERT_TRUE(sim.AddUsbPrinter(answering));
    sim.AnswerIdentity(vanishing, {"7a4711\r"}, 50);
    sim.SetReads(vanishing, Behaviour::UnplugAfter(10));
    ++m_nFaults;
    sim.AnswerIdentity(answering, {"7a815\r"});
    std::vector<std::pair<jint, jint>> entries;
    // Bounded by one identity query's waits, however the printer went.
    EXPECT_LE(Timed([&] { entries = java.ListUsb(); }), 12000u + 5 * 100u);
    EXPECT_EQ(entries, (std::vector<std::pair<jint, jint>>{{12, 12}, {815, 0}}));
    EXPECT_EQ(sim.OpenDeviceHandleCount(), 0u);
}

}  // namespace
}  // namespace zelp
