#include "usb/usb_port.h"

#include <string>
#include <vector>

#include "usb/usb_key.h"
#include "usb_test_support.h"

namespace zelp {
namespace {

using sim::Behaviour;
using testing::CountOps;
using testing::kModelKey;
using testing::kOtherKey;
using testing::kProductId;
using testing::kVendorId;
using testing::OpsAmong;

class UsbPortTest : public testing::UsbSimTest {
protected:
    HANDLE OpenModel(CUsbPort& port, const std::string& serial) {
        return port.Open(serial, kVendorId, kProductId);
    }

    size_t Passes() { return CountOps(sim.Calls(), "SetupDiGetClassDevsA"); }

    // The paths CreateFileA was asked to open, in order.
    std::vector<std::string> OpenAttempts() {
        std::vector<std::string> paths;
        for (const sim::SimCall& call : sim.Calls()) {
            if (call.op == "CreateFileA") {
                paths.push_back(call.path);
            }
        }
        return paths;
    }
};

// --- Open ------------------------------------------------------------------------------

TEST_F(UsbPortTest, OpenFindsThePrinterBySerialValueAndKeepsTheTextItWasGiven) {
    AddPrinter(kModelKey, "000011");
    AddPrinter(kOtherKey, "000012");
    const std::string wanted = AddPrinter(kModelKey, "000012");
    CUsbPort port;
    const HANDLE device = OpenModel(port, "12");
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.Serial(), "12");
    EXPECT_EQ(sim.OpenCount(wanted), 1u);
    EXPECT_EQ(OpenAttempts(), std::vector<std::string>{wanted});
    EXPECT_EQ(Passes(), 1u);
    // Exclusive and overlapped, read and write.
    const auto opens = sim.Calls(wanted, {"CreateFileA"});
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].result, reinterpret_cast<uintptr_t>(device));
}

TEST_F(UsbPortTest, ALongSerialIsSoughtByItsFirstTwentyCharactersAndKeptWhole) {
    const std::string wanted = AddPrinter(kModelKey, "000012");
    const std::string serial =
        "00000000000000000012"
        "34567";
    CUsbPort port;
    ASSERT_NE(OpenModel(port, serial), nullptr);
    EXPECT_EQ(port.Serial(), serial);
    EXPECT_EQ(sim.OpenCount(wanted), 1u);
}

TEST_F(UsbPortTest, ASerialOfValueZeroWithoutAMatchMakesOnePass) {
    AddPrinter(kModelKey, "000012");
    AddPrinter(kOtherKey, "000000");
    for (const char* serial : {"0", "", "000000", "abc"}) {
        sim.ClearCalls();
        CUsbPort port;
        EXPECT_EQ(OpenModel(port, serial), nullptr) << serial;
        EXPECT_EQ(Passes(), 1u) << serial;
        EXPECT_TRUE(OpenAttempts().empty()) << serial;
        EXPECT_EQ(port.Serial(), "");
    }
}

TEST_F(UsbPortTest, AnAbsentPrinterGivesWayToOneWithoutSerialInASecondPass) {
    AddPrinter(kModelKey, "000011");
    const std::string unnumbered = AddPrinter(kModelKey, "000000");
    CUsbPort port;
    ASSERT_NE(OpenModel(port, "12"), nullptr);
    EXPECT_EQ(port.Serial(), "000000");
    EXPECT_EQ(Passes(), 2u);
    EXPECT_EQ(OpenAttempts(), std::vector<std::string>{unnumbered});
}

TEST_F(UsbPortTest, APrinterHeldElsewhereEndsThePassWithoutTryingLaterOnes) {
    const std::string held = AddPrinter(kModelKey, "000012");
    const std::string sameValue = AddPrinter(kModelKey, "0012");
    const std::string unnumbered = AddPrinter(kModelKey, "NOSER1");
    sim.HoldOpenElsewhere(held, true);
    CUsbPort port;
    ASSERT_NE(OpenModel(port, "12"), nullptr);
    EXPECT_EQ(OpenAttempts(), (std::vector<std::string>{held, unnumbered}));
    EXPECT_EQ(sim.OpenCount(sameValue), 0u);
    EXPECT_EQ(port.Serial(), "000000");
}

TEST_F(UsbPortTest, NoPrinterAtAllAfterBothPassesLeavesThePortClosed) {
    const std::string held = AddPrinter(kModelKey, "000000");
    sim.HoldOpenElsewhere(held, true);
    CUsbPort port;
    EXPECT_EQ(OpenModel(port, "12"), nullptr);
    EXPECT_EQ(Passes(), 2u);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(sim.OpenDeviceHandleCount(), 0u);
}

TEST_F(UsbPortTest, EnumerationFailuresEndTheOpenWithoutASecondPass) {
    AddPrinter(kModelKey, "000001");
    AddPrinter(kModelKey, "000000");
    struct Case {
        const char* op;
        int nth;
    };
    for (const Case& c :
         {Case{"SetupDiGetClassDevsA", 1}, Case{"SetupDiGetDeviceInterfaceDetailA", 1},
          Case{"SetupDiGetDeviceInterfaceDetailA", 2}}) {
        sim.ClearCalls();
        sim.FailCall(c.op, ERROR_GEN_FAILURE, c.nth);
        CUsbPort port;
        EXPECT_EQ(OpenModel(port, "12"), nullptr) << c.op << ' ' << c.nth;
        EXPECT_EQ(Passes(), 1u) << c.op << ' ' << c.nth;
        EXPECT_TRUE(OpenAttempts().empty());
        EXPECT_EQ(sim.OpenDeviceInfoSetCount(), 0u);
    }
}

TEST_F(UsbPortTest, AnEnumerationThatStopsShortIsAnEndOfListAndAllowsTheSecondPass) {
    AddPrinter(kModelKey, "000000");
    sim.FailEnumAt(0, ERROR_GEN_FAILURE);
    CUsbPort port;
    EXPECT_EQ(OpenModel(port, "12"), nullptr);
    EXPECT_EQ(Passes(), 2u);
}

TEST_F(UsbPortTest, OpeningAgainClosesTheFirstHandleSoThePrinterCanBeReopened) {
    const std::string path = AddPrinter(kModelKey, "000012");
    CUsbPort port;
    const HANDLE first = OpenModel(port, "12");
    ASSERT_NE(first, nullptr);
    const HANDLE second = OpenModel(port, "12");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(sim.OpenCount(path), 1u);
    const auto closes = sim.Calls(path, {"CloseHandle"});
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0].handle, first);
}

TEST_F(UsbPortTest, AFailedReopenStillReleasesThePrinterItHad) {
    const std::string path = AddPrinter(kModelKey, "000012");
    CUsbPort port;
    ASSERT_NE(OpenModel(port, "12"), nullptr);
    EXPECT_EQ(OpenModel(port, "99"), nullptr);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Serial(), "");
    EXPECT_EQ(sim.OpenCount(path), 0u);
}

TEST_F(UsbPortTest, ThePortReleasesEveryHandleItMade) {
    AddPrinter(kModelKey, "000012");
    {
        CUsbPort closedFirst;
        ASSERT_NE(OpenModel(closedFirst, "12"), nullptr);
        EXPECT_TRUE(closedFirst.Close());
        CUsbPort droppedOpen;
        ASSERT_NE(OpenModel(droppedOpen, "12"), nullptr);
    }
    EXPECT_EQ(sim.OpenHandleCount(), 0u);
}

TEST_F(UsbPortTest, CloseOnANewPortClosesNothing) {
    CUsbPort port;
    EXPECT_TRUE(port.Close());
    EXPECT_EQ(port.Serial(), "");
    EXPECT_EQ(CountOps(sim.Calls(), "CloseHandle"), 0u);
}

// --- Write -----------------------------------------------------------------------------

class UsbPortTransferTest : public UsbPortTest {
protected:
    void SetUp() override {
        path = AddPrinter(kModelKey, "000012");
        ASSERT_NE(OpenModel(port, "12"), nullptr);
        sim.ClearCalls();
    }

    // The calls that tell how a transfer ended, in order; the port's mutex is
    // always waited for without limit and is left out.
    std::vector<std::string> EndingOps() {
        std::vector<sim::SimCall> calls = sim.Calls();
        std::erase_if(calls, [](const sim::SimCall& call) {
            return call.op == "WaitForSingleObject" && call.length == INFINITE;
        });
        return OpsAmong(calls, {"WriteFile", "ReadFile", "WaitForSingleObject", "CancelIo",
                                "SetEvent", "GetOverlappedResult"});
    }

    std::string path;
    CUsbPort port;
};

TEST_F(UsbPortTransferTest, WriteIsTrueOnlyWhenEveryByteWentOutInTime) {
    struct Case {
        const char* name;
        Behaviour behaviour;
        DWORD timeoutMs;
        bool ok;
        uint64_t elapsedMs;
    };
    const std::vector<Case> cases = {
        {"at once", Behaviour::AtOnce(), 1000, true, 0},
        {"pending, in time", Behaviour::After(40), 1000, true, 40},
        {"without limit", Behaviour::After(100000), INFINITE, true, 100000},
        {"short at once", Behaviour::AtOnce().Short(3), 1000, false, 0},
        {"short, pending", Behaviour::After(5).Short(3), 1000, false, 5},
        {"failed at once", Behaviour::FailAtOnce(ERROR_GEN_FAILURE), 1000, false, 0},
        {"failed later", Behaviour::FailAfter(ERROR_GEN_FAILURE, 5), 1000, false, 5},
        {"too late", Behaviour::After(2000), 1000, false, 1000},
        {"never", Behaviour::Never(), 50, false, 50},
        {"time-out 0", Behaviour::After(1), 0, false, 0},
    };
    const std::string job = "JOB-1234";
    for (const Case& c : cases) {
        sim.SetWrites(path, c.behaviour);
        const uint64_t start = sim.NowMs();
        EXPECT_EQ(port.Write(job.data(), static_cast<uint32_t>(job.size()), c.timeoutMs), c.ok)
            << c.name;
        EXPECT_EQ(sim.NowMs() - start, c.elapsedMs) << c.name;
        EXPECT_FALSE(port.IsWriteBusy()) << c.name;
        EXPECT_EQ(sim.OpenEventCount(), 0u) << c.name;
    }
}

TEST_F(UsbPortTransferTest, WriteHandsTheBytesOverUnchanged) {
    const std::string job("\x1b@Hello\0printer\r\n", 17);
    ASSERT_TRUE(port.Write(job.data(), static_cast<uint32_t>(job.size()), 1000));
    EXPECT_EQ(sim.Received(path), job);
}

TEST_F(UsbPortTransferTest, AWriteThatFailsAtOnceHasNothingToCancel) {
    sim.SetWrites(path, Behaviour::FailAtOnce(ERROR_GEN_FAILURE));
    EXPECT_FALSE(port.Write("abc", 3, 1000));
    EXPECT_EQ(EndingOps(), std::vector<std::string>{"WriteFile"});
}

TEST_F(UsbPortTransferTest, ALateWriteIsCancelledAndItsCompletionAwaited) {
    sim.SetWrites(path, Behaviour::Never());
    EXPECT_FALSE(port.Write("abc", 3, 250));
    EXPECT_EQ(EndingOps(), (std::vector<std::string>{"WriteFile", "WaitForSingleObject", "CancelIo",
                                                     "GetOverlappedResult"}));
    const auto results = sim.Calls(path, {"GetOverlappedResult"});
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].error, ERROR_OPERATION_ABORTED);
    // The mutex was taken for the whole transfer and given back.
    const auto calls = sim.Calls();
    EXPECT_EQ(CountOps(calls, "ReleaseMutex"), 1u);
}

TEST_F(UsbPortTransferTest, AWriteWithoutAPrinterSendsNothingAndFails) {
    CUsbPort closed;
    sim.ClearCalls();
    EXPECT_FALSE(closed.Write("abc", 3, 1000));
    port.Close();
    sim.ClearCalls();
    EXPECT_FALSE(port.Write("abc", 3, 1000));
    EXPECT_TRUE(OpsAmong(sim.Calls(), {"WriteFile", "WaitForSingleObject"}).empty());
}

// --- Read ------------------------------------------------------------------------------

TEST_F(UsbPortTransferTest, ReadDeliversWhatTheFirstCompletionBrought) {
    sim.QueueReply(path, "7a4711\r", 30);
    char buffer[64] = {};
    uint32_t count = 777;
    ASSERT_TRUE(port.Read(buffer, count, sizeof(buffer)));
    EXPECT_EQ(std::string(buffer, count), "7a4711\r");

    sim.QueueReply(path, "0123456789");
    ASSERT_TRUE(port.Read(buffer, count, 4));
    EXPECT_EQ(std::string(buffer, count), "0123");
    EXPECT_EQ(sim.OpenEventCount(), 0u);
}

TEST_F(UsbPortTransferTest, ASilentPrinterEndsTheReadAfterOneHundredMilliseconds) {
    uint32_t count = 777;
    char buffer[16];
    const uint64_t start = sim.NowMs();
    EXPECT_FALSE(port.Read(buffer, count, sizeof(buffer)));
    EXPECT_EQ(sim.NowMs() - start, CUsbPort::kReadTimeoutMs);
    EXPECT_EQ(count, 777u);
    EXPECT_EQ(EndingOps(), (std::vector<std::string>{"ReadFile", "WaitForSingleObject", "CancelIo",
                                                     "GetOverlappedResult"}));
    EXPECT_FALSE(port.IsReadBusy());
    EXPECT_EQ(sim.OpenEventCount(), 0u);
}

TEST_F(UsbPortTransferTest, AReadThatRanDeliversWhatItMovedEvenWhenItEndedWithAnError) {
    struct Case {
        const char* name;
        Behaviour behaviour;
        bool bRead;
        std::string delivered;  // when read: the bytes counted
        uint64_t elapsedMs;
    };
    const std::vector<Case> cases = {
        // Refused at once: nothing ran, nothing is waited for.
        {"fails at once", Behaviour::FailAtOnce(ERROR_GEN_FAILURE), false, "", 0},
        {"breaks off part-way", Behaviour::FailAfter(ERROR_DEVICE_NOT_CONNECTED, 20).Short(3), true,
         "dat", 20},
        {"unplugged", Behaviour::UnplugAfter(10), true, "", 10},
    };
    for (const Case& c : cases) {
        sim.SetReads(path, c.behaviour);
        sim.QueueReply(path, "data");
        uint32_t count = 777;
        char buffer[16];
        const uint64_t start = sim.NowMs();
        const bool read = port.Read(buffer, count, sizeof(buffer));
        EXPECT_EQ(read, c.bRead) << c.name;
        EXPECT_EQ(count, c.bRead ? c.delivered.size() : 777u) << c.name;
        if (read && c.bRead) {
            EXPECT_EQ(std::string(buffer, count), c.delivered) << c.name;
        }
        EXPECT_EQ(sim.NowMs() - start, c.elapsedMs) << c.name;
        EXPECT_FALSE(port.IsReadBusy()) << c.name;
    }
}

TEST_F(UsbPortTransferTest, AReadWithoutAPrinterSucceedsWithNothingRead) {
    port.Close();
    sim.ClearCalls();
    uint32_t count = 777;
    char buffer[16];
    EXPECT_TRUE(port.Read(buffer, count, sizeof(buffer)));
    EXPECT_EQ(count, 777u);
    EXPECT_TRUE(OpsAmong(sim.Calls(), {"ReadFile"}).empty());
    // It took its turn at the mutex and gave it back.
    EXPECT_EQ(CountOps(sim.Calls(), "ReleaseMutex"), 1u);
}

TEST_F(UsbPortTransferTest, APortClosedAndOpenedAgainTransfersOnItsNewHandle) {
    port.Close();
    ASSERT_NE(OpenModel(port, "12"), nullptr);
    ASSERT_TRUE(port.Write("again", 5, 1000));
    EXPECT_EQ(sim.Received(path), "again");
}

}  // namespace
}  // namespace zelp
