#include "usb/device_list.h"

#include <array>
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

constexpr int32_t kUntouched = -7;

class DeviceListTest : public testing::UsbSimTest {
protected:
    DeviceListTest() {
        first.fill(kUntouched);
        second.fill(kUntouched);
    }

    uint32_t List(uint32_t capacity = kMaxListedPrinters) {
        return ListDevices(first.data(), second.data(), capacity, kVendorId, kProductId);
    }

    size_t OpensOf(const std::string& path) { return sim.Calls(path, {"CreateFileA"}).size(); }

    std::array<int32_t, 12> first{};
    std::array<int32_t, 12> second{};
};

TEST_F(DeviceListTest, NoPrinterOfTheModelListsNothingAndOpensNothing) {
    AddPrinter(kOtherKey, "ABCDEF");
    EXPECT_EQ(List(), 0u);
    EXPECT_EQ(first[0], kUntouched);
    EXPECT_EQ(second[0], kUntouched);
    EXPECT_EQ(CountOps(sim.Calls(), "CreateFileA"), 0u);
    EXPECT_EQ(sim.OpenDeviceInfoSetCount(), 0u);
}

TEST_F(DeviceListTest, NumericSerialsAreListedInEnumerationOrderWithoutAnyIo) {
    AddPrinter(kModelKey, "123456");
    AddPrinter(kOtherKey, "000555");
    AddPrinter(kModelKey, "000777");
    // Two printers that report one number are both listed.
    ASSERT_TRUE(sim.AddUsbPrinter(testing::UsbPath(kModelKey, "000777", "second-interface")));
    ASSERT_EQ(List(), 3u);
    EXPECT_EQ((std::vector<int32_t>{first[0], first[1], first[2]}),
              (std::vector<int32_t>{123456, 777, 777}));
    EXPECT_EQ((std::vector<int32_t>{second[0], second[1], second[2]}),
              (std::vector<int32_t>{123456, 777, 777}));
    EXPECT_EQ(first[3], kUntouched);
    EXPECT_EQ(CountOps(sim.Calls(), "CreateFileA"), 0u);
}

TEST_F(DeviceListTest, APrinterWithoutNumberIsAskedAndListedWithItsIdentity) {
    const std::string path = AddPrinter(kModelKey, "ABC123");
    sim.AnswerIdentity(path, {"7a4711\r"});
    ASSERT_EQ(List(), 1u);
    EXPECT_EQ(first[0], 4711);
    EXPECT_EQ(second[0], 0);
    // The command went out once, whole, and the device was let go.
    EXPECT_EQ(sim.Received(path), std::string(sim::kIdentityCommand));
    EXPECT_EQ(sim.OpenCount(path), 0u);
    EXPECT_EQ(sim.OpenHandleCount(), 0u);
}

TEST_F(DeviceListTest, AMarkerFollowedAtOnceByCarriageReturnIsTheNumberZero) {
    const std::string path = AddPrinter(kModelKey, "000000");
    sim.AnswerIdentity(path, {"7a\r"});
    ASSERT_EQ(List(), 1u);
    EXPECT_EQ(first[0], 0);
    EXPECT_EQ(second[0], 0);
}

TEST_F(DeviceListTest, EmptyReadsAreCountedOverTheWholeQueryAndTheFifthEndsIt) {
    const std::string fourEmpties = AddPrinter(kModelKey, "AAAAAA");
    // One-byte reads and reads without the marker count alike; a marker with
    // text but no carriage return does not count, and its text is not used.
    sim.AnswerIdentity(fourEmpties, {"x", "no marker", "7a99", "y", "z", "7a42\r"});
    const std::string fiveEmpties = AddPrinter(kModelKey, "BBBBBB");
    sim.AnswerIdentity(fiveEmpties, {"x", "7a12", "y", "z", "w", "v", "7a43\r"});
    ASSERT_EQ(List(), 1u);
    EXPECT_EQ(first[0], 42);
}

TEST_F(DeviceListTest, AMarkerSplitAcrossReadsIsNotSeen) {
    const std::string path = AddPrinter(kModelKey, "ABCDEF");
    sim.AnswerIdentity(path, {"xx7", "a4711\r"});
    EXPECT_EQ(List(), 0u);
}

TEST_F(DeviceListTest, APrinterThatDoesNotAnswerIsSkippedAndTheListGoesOn) {
    const std::string silent = AddPrinter(kModelKey, "SILENT");
    AddPrinter(kModelKey, "000321");
    const uint64_t before = sim.NowMs();
    ASSERT_EQ(List(), 1u);
    EXPECT_EQ(first[0], 321);
    // The read was given its 100 ms, then cancelled and its completion waited for.
    EXPECT_GE(sim.NowMs() - before, kIdentityReadTimeoutMs);
    const auto calls = sim.Calls(silent, {"CancelIo", "GetOverlappedResult", "SetEvent"});
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2].op, "CancelIo");
    EXPECT_EQ(calls.back().op, "GetOverlappedResult");
    EXPECT_EQ(CountOps(calls, "SetEvent"), 0u);
    EXPECT_EQ(sim.OpenHandleCount(), 0u);
}

TEST_F(DeviceListTest, ACommandThatNeverGoesOutIsGivenUpAfterTwelveSeconds) {
    const std::string path = AddPrinter(kModelKey, "ABCDEF");
    sim.AnswerIdentity(path, {"7a1\r"});
    sim.SetWrites(path, Behaviour::Never());
    const uint64_t before = sim.NowMs();
    EXPECT_EQ(List(), 0u);
    EXPECT_GE(sim.NowMs() - before, kIdentityWriteTimeoutMs);
    EXPECT_EQ(CountOps(sim.Calls(path), "ReadFile"), 0u);
    EXPECT_EQ(sim.OpenHandleCount(), 0u);
}

TEST_F(DeviceListTest, APrinterGoneBeforeItsQueryIsNotListed) {
    const std::string gone = AddPrinter(kModelKey, "ABCDEF");
    sim.FailOpen(gone, ERROR_FILE_NOT_FOUND);
    const std::string busy = AddPrinter(kModelKey, "GHIJKL");
    sim.HoldOpenElsewhere(busy, true);
    AddPrinter(kModelKey, "000005");
    ASSERT_EQ(List(), 1u);
    EXPECT_EQ(first[0], 5);
}

TEST_F(DeviceListTest, AReadThatFailsAtOnceEndsTheQueryWithoutWaiting) {
    const std::string path = AddPrinter(kModelKey, "ABCDEF");
    sim.SetReads(path, Behaviour::FailAtOnce(ERROR_DEVICE_NOT_CONNECTED));
    const uint64_t before = sim.NowMs();
    EXPECT_EQ(List(), 0u);
    EXPECT_LT(sim.NowMs() - before, kIdentityReadTimeoutMs);
    EXPECT_EQ(CountOps(sim.Calls(path), "CancelIo"), 0u);
}

TEST_F(DeviceListTest, AReplyWhoseReadEndsWithAnErrorStillCounts) {
    const std::string path = AddPrinter(kModelKey, "ABCDEF");
    sim.AnswerIdentity(path, {"7a4711\r"});
    sim.SetReads(path, Behaviour::FailAfter(ERROR_GEN_FAILURE, 5).Short(7));
    ASSERT_EQ(List(), 1u);
    EXPECT_EQ(first[0], 4711);
    EXPECT_EQ(second[0], 0);
}

TEST_F(DeviceListTest, ALongIdentityCountsByItsFirstFifteenCharacters) {
    const std::string path = AddPrinter(kModelKey, "ABCDEF");
    sim.AnswerIdentity(path, {"7a000000000004711999\r"});
    ASSERT_EQ(List(), 1u);
    EXPECT_EQ(first[0], NumericValue("000000000004711"));
}

TEST_F(DeviceListTest, TheListStopsAtTenAndQueriesNoFurtherPrinter) {
    for (int i = 1; i <= 10; ++i) {
        AddPrinter(kModelKey, std::to_string(100000 + i));
    }
    const std::string eleventh = AddPrinter(kModelKey, "NOSERL");
    sim.AnswerIdentity(eleventh, {"7a9\r"});
    ASSERT_EQ(List(), 10u);
    EXPECT_EQ(first[9], 100010);
    EXPECT_EQ(first[10], kUntouched);
    EXPECT_EQ(OpensOf(eleventh), 0u);
    EXPECT_EQ(sim.OpenDeviceInfoSetCount(), 0u);
}

TEST_F(DeviceListTest, TheCapacityOfTheCallerBoundsTheListAndItsQueries) {
    AddPrinter(kModelKey, "000001");
    const std::string second_ = AddPrinter(kModelKey, "NOSERL");
    sim.AnswerIdentity(second_, {"7a2\r"});
    EXPECT_EQ(List(1), 1u);
    EXPECT_EQ(OpensOf(second_), 0u);
    EXPECT_EQ(first[1], kUntouched);
    sim.ClearCalls();
    EXPECT_EQ(List(0), 0u);
    EXPECT_EQ(CountOps(sim.Calls(), "SetupDiGetClassDevsA"), 0u);
}

TEST_F(DeviceListTest, AFailedDetailCallEndsTheListWithWhatItHas) {
    AddPrinter(kModelKey, "000001");
    AddPrinter(kModelKey, "000002");
    sim.FailCall("SetupDiGetDeviceInterfaceDetailA", ERROR_GEN_FAILURE, 2);
    EXPECT_EQ(List(), 1u);
    EXPECT_EQ(first[0], 1);
    EXPECT_EQ(sim.OpenDeviceInfoSetCount(), 0u);
}

TEST_F(DeviceListTest, NoDeviceInformationSetListsNothing) {
    AddPrinter(kModelKey, "000001");
    sim.FailCall("SetupDiGetClassDevsA", ERROR_GEN_FAILURE);
    EXPECT_EQ(List(), 0u);
    EXPECT_EQ(first[0], kUntouched);
}

}  // namespace
}  // namespace zelp
