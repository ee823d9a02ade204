// The printer's status lines, as the parallel-port drivers report them, read
// as the status byte of the Windows parallel driver (PARALLEL_* bits).
#pragma once

#include <cstdint>

namespace zelp::linuxbk {

// Raw status register bits (PPRSTATUS, LPGETSTATUS).
inline constexpr uint8_t kLineNotBusy = 0x80;  // the BUSY line, inverted
inline constexpr uint8_t kLineNotAck = 0x40;
inline constexpr uint8_t kLinePaperOut = 0x20;
inline constexpr uint8_t kLineSelect = 0x10;
inline constexpr uint8_t kLineNotFault = 0x08;

// The Windows status byte for one raw register value. Every bit comes from
// one table, so the whole translation can be checked in one place.
uint8_t ParallelStatusFromLines(uint8_t raw);

// A USB printer-class port status has no BUSY line (bits 6 and 7 are
// reserved), so it is read as "not busy" before translation. Nor does it
// float: paper empty with select is a printer out of paper (usblp's own
// reading), never an empty connector.
uint8_t ParallelStatusFromUsbPortStatus(uint8_t portStatus);

}  // namespace zelp::linuxbk
