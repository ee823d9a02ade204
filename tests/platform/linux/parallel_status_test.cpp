#include "native/platform/linux/parallel_status.h"

#include <gtest/gtest.h>

#include "native/wintypes.h"

namespace zelp::linuxbk {
namespace {

// The lines as a printer drives them, named for what they mean.
struct Lines {
    bool busy;
    bool paperOut;
    bool selected;
    bool fault;
};

Lines Decode(unsigned raw) {
    return {(raw & 0x80) == 0, (raw & 0x20) != 0, (raw & 0x10) != 0, (raw & 0x08) == 0};
}

TEST(ParallelStatusTest, EveryRawValueTranslatesBitByBit) {
    for (unsigned raw = 0; raw < 256; ++raw) {
        const Lines lines = Decode(raw);
        const uint8_t status = ParallelStatusFromLines(static_cast<uint8_t>(raw));
        SCOPED_TRACE(testing::Message() << "raw 0x" << std::hex << raw);
        EXPECT_EQ((status & PARALLEL_BUSY) != 0, lines.busy);
        EXPECT_EQ((status & PARALLEL_SELECTED) != 0, lines.selected);
        EXPECT_EQ((status & PARALLEL_PAPER_EMPTY) != 0, lines.paperOut);
        EXPECT_EQ((status & PARALLEL_OFF_LINE) != 0,
                  !lines.selected || (lines.fault && !lines.paperOut));
        EXPECT_EQ((status & PARALLEL_NOT_CONNECTED) != 0, lines.paperOut && lines.selected);
        // Bits that no line pattern defines stay clear.
        EXPECT_EQ(status & (PARALLEL_POWER_OFF | PARALLEL_INIT | PARALLEL_AUTOFEED), 0);
    }
}

TEST(ParallelStatusTest, TypicalPrinterStatesReadAsExpected) {
    // Ready: not busy, selected, no fault (nAck idles high).
    EXPECT_EQ(ParallelStatusFromLines(0xD8), PARALLEL_SELECTED);
    // Busy while printing, still on line.
    EXPECT_EQ(ParallelStatusFromLines(0x58), PARALLEL_BUSY | PARALLEL_SELECTED);
    // Out of paper: the printer drops select and raises paper-out and fault.
    EXPECT_EQ(ParallelStatusFromLines(0xE0), PARALLEL_PAPER_EMPTY | PARALLEL_OFF_LINE);
    // Switched off line by the operator.
    EXPECT_EQ(ParallelStatusFromLines(0xC8), PARALLEL_OFF_LINE);
    // Nothing on the connector: the inputs float high.
    EXPECT_EQ(ParallelStatusFromLines(0xFF) & PARALLEL_NOT_CONNECTED, PARALLEL_NOT_CONNECTED);
}

// A USB port status has no BUSY line and no floating inputs: a printer out of
// paper (usblp's gadget reports 0x30 then) is not an empty connector.
TEST(ParallelStatusTest, UsbPortStatusNeverReadsBusyNorNotConnected) {
    for (unsigned raw = 0; raw < 256; ++raw) {
        const auto value = static_cast<uint8_t>(raw);
        const uint8_t status = ParallelStatusFromUsbPortStatus(value);
        EXPECT_EQ(status & (PARALLEL_BUSY | PARALLEL_NOT_CONNECTED), 0) << raw;
        EXPECT_EQ(status, ParallelStatusFromLines(value | 0x80) & ~PARALLEL_NOT_CONNECTED) << raw;
    }
    EXPECT_EQ(ParallelStatusFromUsbPortStatus(0x30), PARALLEL_PAPER_EMPTY | PARALLEL_SELECTED);
}

}  // namespace
}  // namespace zelp::linuxbk
