// Several threads on one port, with real threads: Close against a running
// transfer, and detection against opens of its slot.
#include <atomic>
#include <chrono>
#include <thread>

#include "usb/usb_discovery.h"
#include "usb/usb_key.h"
#include "usb/usb_port.h"
#include "usb_test_support.h"

namespace zelp {
namespace {

using namespace std::chrono_literals;
using sim::Behaviour;
using testing::kModelKey;
using testing::kProductId;
using testing::kVendorId;

// The record sequence number of the first call of `op` on the device; 0 if none.
uint64_t FirstSeq(sim::SimPlatform& sim, const std::string& path, std::string_view op) {
    const auto calls = sim.Calls(path, {op});
    return calls.empty() ? 0 : calls.front().seq;
}

class UsbPortConcurrencyTest : public testing::UsbSimTest {
protected:
    void SetUp() override {
        path = AddPrinter(kModelKey, "000012");
        ASSERT_NE(port.Open("12", kVendorId, kProductId), nullptr);
    }

    std::string path;
    CUsbPort port;
};

TEST_F(UsbPortConcurrencyTest, CloseWaitsForAWriteThatIsWaitingForItsTimeOut) {
    sim.SetWrites(path, Behaviour::Never());
    // The device is frozen, so the write stays in flight, blocked for real,
    // until the test lets it go.
    sim.Hold(path);
    std::atomic<int> writeResult{-1};
    std::thread writer([&] { writeResult = port.Write("job", 3, 1000) ? 1 : 0; });
    ASSERT_TRUE(sim.WaitForCalls(path, "WriteFile", 1, 10s));

    std::atomic<bool> closed{false};
    std::thread closer([&] {
        port.Close();
        closed = true;
    });
    // A Close that did not wait would reach the device now; give it the chance.
    EXPECT_FALSE(sim.WaitForCalls(path, "CloseHandle", 1, 200ms));
    EXPECT_FALSE(closed.load());
    EXPECT_TRUE(port.IsWriteBusy());

    sim.Release(path);
    writer.join();
    closer.join();
    EXPECT_EQ(writeResult.load(), 0);
    // The write's cancel and the wait for its completion came before the handle went.
    const uint64_t completionSeq = FirstSeq(sim, path, "GetOverlappedResult");
    const uint64_t closeSeq = FirstSeq(sim, path, "CloseHandle");
    ASSERT_NE(completionSeq, 0u);
    ASSERT_NE(closeSeq, 0u);
    EXPECT_LT(completionSeq, closeSeq);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(sim.OpenEventCount(), 0u);
}

TEST_F(UsbPortConcurrencyTest, NoTransferStartsOnAHandleThatIsClosed) {
    port.Close();
    // A write and a read arriving after the close find the port closed; none
    // of them reaches the old handle.
    std::thread writer([&] { EXPECT_FALSE(port.Write("job", 3, 1000)); });
    std::thread reader([&] {
        uint32_t count = 777;
        char buffer[8];
        EXPECT_TRUE(port.Read(buffer, count, sizeof(buffer)));
        EXPECT_EQ(count, 777u);
    });
    writer.join();
    reader.join();
    EXPECT_TRUE(sim.Calls(path, {"WriteFile", "ReadFile"}).empty());
}

TEST_F(UsbPortConcurrencyTest, AReadWaitsItsTurnBehindARunningWrite) {
    sim.SetWrites(path, Behaviour::After(500));
    sim.Hold(path);
    std::thread writer([&] { EXPECT_TRUE(port.Write("job", 3, INFINITE)); });
    ASSERT_TRUE(sim.WaitForCalls(path, "WriteFile", 1, 10s));
    sim.QueueReply(path, "ok");
    std::thread reader([&] {
        uint32_t count = 0;
        char buffer[8];
        EXPECT_TRUE(port.Read(buffer, count, sizeof(buffer)));
        EXPECT_EQ(count, 2u);
    });
    EXPECT_FALSE(sim.WaitForCalls(path, "ReadFile", 1, 200ms));
    sim.Release(path);
    writer.join();
    reader.join();
    EXPECT_LT(FirstSeq(sim, path, "GetOverlappedResult"), FirstSeq(sim, path, "ReadFile"));
}

TEST_F(UsbPortConcurrencyTest, DetectionRunsSafelyBesideOpensOfItsSlot) {
    std::atomic<bool> stop{false};
    std::thread detector([&] {
        while (!stop) {
            IsUsbPrinterPresent(0);
        }
    });
    for (int i = 0; i < 50; ++i) {
        RecordKey(0, FormatUsbKey(kVendorId, kProductId));
        if (port.Open(i % 2 == 0 ? "12" : "000012", kVendorId, kProductId) != nullptr) {
            RecordSerial(0, port.Serial());
        }
    }
    stop = true;
    detector.join();
    EXPECT_TRUE(IsUsbPrinterPresent(0));
}

}  // namespace
}  // namespace zelp
