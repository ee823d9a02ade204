#include "usb/usb_discovery.h"

#include <string>
#include <vector>

#include "usb/usb_port.h"
#include "usb_test_support.h"

namespace zelp {
namespace {

using testing::CountOps;
using testing::kModelKey;
using testing::kOtherKey;
using testing::UsbSimTest;

class UsbDiscoveryTest : public UsbSimTest {
protected:
    // Walks with the given settings, noting every path; stops after `stopAfter` paths.
    WalkEnd Walk(InterfaceWalkSettings settings, size_t stopAfter = SIZE_MAX) {
        visited.clear();
        return EnumUsbPrinterInterfaces(settings, [&](const char* path) {
            visited.emplace_back(path);
            return visited.size() >= stopAfter ? WalkStep::kStop : WalkStep::kGoOn;
        });
    }

    // The set was taken and released exactly once, and no detail buffer is left.
    void ExpectSetReleasedOnce() {
        const auto calls = sim.Calls();
        EXPECT_EQ(CountOps(calls, "SetupDiGetClassDevsA"), 1u);
        EXPECT_EQ(CountOps(calls, "SetupDiDestroyDeviceInfoList"), 1u);
        EXPECT_EQ(sim.OpenDeviceInfoSetCount(), 0u);
        EXPECT_EQ(sim.LocalAllocationCount(), 0u);
    }

    std::vector<std::string> visited;
};

const InterfaceWalkSettings kOpenSettings{DetailAllocator::kCalloc, true};
const InterfaceWalkSettings kDetectSettings{DetailAllocator::kLocalAlloc, false};

TEST_F(UsbDiscoveryTest, WalkVisitsEveryPresentInterfaceInOrderWithEitherSettings) {
    const std::string first = AddPrinter(kModelKey, "000001");
    const std::string second = AddPrinter(kOtherKey, "ABCDEF");
    const std::string third = AddPrinter(kModelKey, "000003");
    for (const InterfaceWalkSettings& settings : {kOpenSettings, kDetectSettings}) {
        sim.ClearCalls();
        // The sim refuses records whose cbSize is not this build's, so a full
        // walk also shows the sizes are right, with and without a device record.
        EXPECT_EQ(Walk(settings), WalkEnd::kEnded);
        EXPECT_EQ(visited, (std::vector<std::string>{first, second, third}));
        ExpectSetReleasedOnce();
    }
}

TEST_F(UsbDiscoveryTest, DetectionTakesItsDetailBuffersFromLocalAllocOnly) {
    AddPrinter(kModelKey, "000001");
    AddPrinter(kModelKey, "000002");
    Walk(kDetectSettings);
    EXPECT_EQ(CountOps(sim.Calls(), "LocalAlloc"), 2u);
    EXPECT_EQ(CountOps(sim.Calls(), "LocalFree"), 2u);
    sim.ClearCalls();
    Walk(kOpenSettings);
    EXPECT_EQ(CountOps(sim.Calls(), "LocalAlloc"), 0u);
}

TEST_F(UsbDiscoveryTest, AVisitorThatStopsEndsTheWalkAndTheSetIsReleased) {
    AddPrinter(kModelKey, "000001");
    AddPrinter(kModelKey, "000002");
    AddPrinter(kModelKey, "000003");
    EXPECT_EQ(Walk(kOpenSettings, 2), WalkEnd::kStopped);
    EXPECT_EQ(visited.size(), 2u);
    EXPECT_EQ(CountOps(sim.Calls(), "SetupDiEnumDeviceInterfaces"), 2u);
    ExpectSetReleasedOnce();
}

TEST_F(UsbDiscoveryTest, NoDeviceInformationSetMeansNothingToVisitOrRelease) {
    AddPrinter(kModelKey, "000001");
    sim.FailCall("SetupDiGetClassDevsA", ERROR_GEN_FAILURE);
    EXPECT_EQ(Walk(kOpenSettings), WalkEnd::kNoSet);
    EXPECT_TRUE(visited.empty());
    EXPECT_EQ(CountOps(sim.Calls(), "SetupDiDestroyDeviceInfoList"), 0u);
}

TEST_F(UsbDiscoveryTest, AnyEnumerationFailureEndsTheWalkLikeTheEndOfTheList) {
    const std::string first = AddPrinter(kModelKey, "000001");
    AddPrinter(kModelKey, "000002");
    AddPrinter(kModelKey, "000003");
    sim.FailEnumAt(1, ERROR_GEN_FAILURE);
    EXPECT_EQ(Walk(kOpenSettings), WalkEnd::kEnded);
    EXPECT_EQ(visited, std::vector<std::string>{first});
    ExpectSetReleasedOnce();
}

TEST_F(UsbDiscoveryTest, AFailedSecondDetailCallEndsTheWalkAfterWhatWasVisited) {
    const std::string first = AddPrinter(kModelKey, "000001");
    AddPrinter(kModelKey, "000002");
    AddPrinter(kModelKey, "000003");
    for (const InterfaceWalkSettings& settings : {kOpenSettings, kDetectSettings}) {
        sim.ClearCalls();
        sim.FailCall("SetupDiGetDeviceInterfaceDetailA", ERROR_GEN_FAILURE, 2);
        EXPECT_EQ(Walk(settings), WalkEnd::kDetailFailed);
        EXPECT_EQ(visited, std::vector<std::string>{first});
        ExpectSetReleasedOnce();
    }
}

TEST_F(UsbDiscoveryTest, AnInterfaceWhoseBufferCannotBeHadIsSkipped) {
    AddPrinter(kModelKey, "000001");
    const std::string second = AddPrinter(kModelKey, "000002");
    sim.FailCall("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(Walk(kDetectSettings), WalkEnd::kEnded);
    EXPECT_EQ(visited, std::vector<std::string>{second});
    // The member index still moves on by one per interface.
    EXPECT_EQ(CountOps(sim.Calls(), "SetupDiEnumDeviceInterfaces"), 3u);
    ExpectSetReleasedOnce();
}

TEST_F(UsbDiscoveryTest, APathTheBufferCannotHoldIsPassedOverNotCut) {
    const std::string prefix = testing::UsbPath(kModelKey, "000001", "");
    const std::string longest =
        prefix + std::string(kDevicePathBufferSize - 1 - prefix.size(), 'x');
    const std::string tooLong = testing::UsbPath(kModelKey, "000002", "") +
                                std::string(kDevicePathBufferSize - prefix.size(), 'y');
    ASSERT_EQ(longest.size(), kDevicePathBufferSize - 1);
    ASSERT_EQ(tooLong.size(), kDevicePathBufferSize);
    ASSERT_TRUE(sim.AddUsbPrinter(tooLong));
    ASSERT_TRUE(sim.AddUsbPrinter(longest));
    EXPECT_EQ(Walk(kOpenSettings), WalkEnd::kEnded);
    EXPECT_EQ(visited, std::vector<std::string>{longest});
}

// --- Presence detection -------------------------------------------------------

class UsbDetectionTest : public UsbSimTest {};

TEST_F(UsbDetectionTest, ASlotNeverOpenedOrOutsideTheTableHasNoPrinter) {
    // An empty key and serial would match this printer; a slot without an open
    // has neither, and finds nothing.
    AddPrinter(kModelKey, "000000");
    for (const int32_t slot : {0, 7, 254, -1, 255}) {
        EXPECT_FALSE(IsUsbPrinterPresent(slot)) << slot;
    }
    EXPECT_EQ(CountOps(sim.Calls(), "SetupDiGetClassDevsA"), 0u);
}

TEST_F(UsbDetectionTest, EachSlotLooksForItsOwnModelAndSerial) {
    AddPrinter(kModelKey, "000012");
    RecordKey(0, kModelKey);
    RecordSerial(0, "12");
    // Slot 1 opens a printer of another model with the same serial: slot 0
    // still looks among its own model's printers.
    RecordKey(1, kOtherKey);
    RecordSerial(1, "12");
    EXPECT_TRUE(IsUsbPrinterPresent(0));
    EXPECT_FALSE(IsUsbPrinterPresent(1));
    AddPrinter(kOtherKey, "12");
    EXPECT_TRUE(IsUsbPrinterPresent(1));
}

TEST_F(UsbDetectionTest, ASlotKeyedButNeverOpenedLooksForAPrinterWithoutSerial) {
    RecordKey(3, kModelKey);
    AddPrinter(kModelKey, "000042");
    EXPECT_FALSE(IsUsbPrinterPresent(3));
    AddPrinter(kModelKey, "NOSER1");
    EXPECT_TRUE(IsUsbPrinterPresent(3));
}

TEST_F(UsbDetectionTest, DetectionStopsAtTheFirstMatchAndReleasesTheSet) {
    AddPrinter(kModelKey, "000012");
    AddPrinter(kModelKey, "000013");
    RecordKey(0, kModelKey);
    RecordSerial(0, "12");
    EXPECT_TRUE(IsUsbPrinterPresent(0));
    EXPECT_EQ(CountOps(sim.Calls(), "SetupDiEnumDeviceInterfaces"), 1u);
    EXPECT_EQ(CountOps(sim.Calls(), "SetupDiDestroyDeviceInfoList"), 1u);
    EXPECT_EQ(sim.LocalAllocationCount(), 0u);
}

TEST_F(UsbDetectionTest, SystemFailuresReadAsNoPrinter) {
    AddPrinter(kModelKey, "000001");
    const std::string wanted = AddPrinter(kModelKey, "000012");
    RecordKey(0, kModelKey);
    RecordSerial(0, "12");

    sim.FailCall("SetupDiGetClassDevsA", ERROR_GEN_FAILURE);
    EXPECT_FALSE(IsUsbPrinterPresent(0));
    sim.FailCall("SetupDiGetDeviceInterfaceDetailA", ERROR_GEN_FAILURE, 1);
    EXPECT_FALSE(IsUsbPrinterPresent(0));
    // A buffer that cannot be had skips only its own interface.
    sim.FailCall("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY, 2);
    EXPECT_FALSE(IsUsbPrinterPresent(0));
    sim.FailCall("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY, 1);
    EXPECT_TRUE(IsUsbPrinterPresent(0));
    EXPECT_EQ(sim.OpenDeviceInfoSetCount(), 0u);
    EXPECT_EQ(sim.LocalAllocationCount(), 0u);
}

TEST_F(UsbDetectionTest, AnOpenedPrinterIsDetectedAfterCloseUntilItIsPulledOut) {
    const std::string path = AddPrinter(kModelKey, "000012");
    CUsbPort port;
    RecordKey(5, kModelKey);
    ASSERT_NE(port.Open("12", testing::kVendorId, testing::kProductId), nullptr);
    RecordSerial(5, port.Serial());
    EXPECT_TRUE(IsUsbPrinterPresent(5));
    port.Close();
    EXPECT_TRUE(IsUsbPrinterPresent(5));
    sim.Unplug(path);
    EXPECT_FALSE(IsUsbPrinterPresent(5));
    sim.PlugIn(path);
    EXPECT_TRUE(IsUsbPrinterPresent(5));
}

}  // namespace
}  // namespace zelp
