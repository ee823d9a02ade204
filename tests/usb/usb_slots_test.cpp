#include "usb/usb_slots.h"

#include <gtest/gtest.h>

namespace zelp {
namespace {

class UsbSlotsTest : public ::testing::Test {
protected:
    void SetUp() override { ClearSlotRecords(); }
    void TearDown() override { ClearSlotRecords(); }
};

TEST_F(UsbSlotsTest, ASlotHasARecordOnlyAfterItsFirstOpen) {
    EXPECT_FALSE(SnapshotSlot(0).has_value());
    RecordKey(0, "vid_1234&pid_5678");
    const auto record = SnapshotSlot(0);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->strKey, "vid_1234&pid_5678");
    EXPECT_EQ(record->strSerial, "");
    EXPECT_FALSE(SnapshotSlot(1).has_value());
}

TEST_F(UsbSlotsTest, EachSlotKeepsItsOwnKeyAndSerial) {
    RecordKey(0, "vid_1234&pid_5678");
    RecordSerial(0, "12");
    RecordKey(254, "vid_aaaa&pid_bbbb");
    RecordSerial(254, "000000");
    // A later failed open of slot 0 with another model replaces its key only.
    RecordKey(0, "vid_0001&pid_0002");

    EXPECT_EQ(SnapshotSlot(0)->strKey, "vid_0001&pid_0002");
    EXPECT_EQ(SnapshotSlot(0)->strSerial, "12");
    EXPECT_EQ(SnapshotSlot(254)->strKey, "vid_aaaa&pid_bbbb");
    EXPECT_EQ(SnapshotSlot(254)->strSerial, "000000");
}

TEST_F(UsbSlotsTest, SlotsOutsideTheTableAreIgnored) {
    for (const int32_t slot : {-1, 255, 1000, INT32_MIN, INT32_MAX}) {
        RecordKey(slot, "vid_1234&pid_5678");
        RecordSerial(slot, "12");
        EXPECT_FALSE(SnapshotSlot(slot).has_value()) << slot;
        EXPECT_FALSE(IsValidUsbSlot(slot)) << slot;
    }
    EXPECT_TRUE(IsValidUsbSlot(0));
    EXPECT_TRUE(IsValidUsbSlot(254));
}

}  // namespace
}  // namespace zelp
