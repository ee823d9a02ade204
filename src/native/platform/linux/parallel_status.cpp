#include "native/platform/linux/parallel_status.h"

#include <array>

#include "native/wintypes.h"

namespace zelp::linuxbk {

namespace {

// A Windows bit is set when the lines under `mask` read `value`. A bit that
// has several reasons has several rows.
struct StatusRule {
    uint8_t bit;
    uint8_t mask;
    uint8_t value;
};

constexpr std::array<StatusRule, 6> kStatusRules = {{
    {PARALLEL_BUSY, kLineNotBusy, 0},
    {PARALLEL_SELECTED, kLineSelect, kLineSelect},
    {PARALLEL_PAPER_EMPTY, kLinePaperOut, kLinePaperOut},
    {PARALLEL_OFF_LINE, kLineSelect, 0},
    // A fault is reported as off line, unless paper-out already explains it.
    {PARALLEL_OFF_LINE, kLineNotFault | kLinePaperOut, 0},
    // Paper-out together with select is what an empty connector reads as.
    {PARALLEL_NOT_CONNECTED, kLinePaperOut | kLineSelect, kLinePaperOut | kLineSelect},
}};

}  // namespace

uint8_t ParallelStatusFromLines(uint8_t raw) {
    uint8_t status = 0;
    for (const StatusRule& rule : kStatusRules) {
        if ((raw & rule.mask) == rule.value) {
            status |= rule.bit;
        }
    }
    return status;
}

uint8_t ParallelStatusFromUsbPortStatus(uint8_t portStatus) {
    const uint8_t status = ParallelStatusFromLines(static_cast<uint8_t>(portStatus | kLineNotBusy));
    return static_cast<uint8_t>(status & ~PARALLEL_NOT_CONNECTED);
}

}  // namespace zelp::linuxbk
