// The device list: the present printers of one model with their serial
// numbers, asking each printer without a numeric serial for its identity over
// its own data channel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelp {

// A list never holds more than this many printers.
inline constexpr uint32_t kMaxListedPrinters = 10;

// The identity text a printer's answer gives is at most this long.
inline constexpr size_t kIdentityTextChars = 15;

// What the identity query waits, in milliseconds.
inline constexpr uint32_t kIdentityWriteTimeoutMs = 12000;
inline constexpr uint32_t kIdentityReadTimeoutMs = 100;
// The fifth read without an answer ends the query.
inline constexpr int kIdentityMaxEmptyReads = 5;
inline constexpr uint32_t kIdentityReadSize = 128;

// The 10-byte identity command: GS 'e' then "READVARI".
inline constexpr uint8_t kIdentityCommand[10] = {0x1D, 'e', 'R', 'E', 'A', 'D', 'V', 'A', 'R', 'I'};

// Fills up to `capacity` (at most kMaxListedPrinters) entries of both arrays
// in enumeration order and returns how many it wrote. A printer with a serial
// field of value v gets v in both; one of value 0 that answers the identity
// query gets the identity's value in `first` and 0 in `second`; one that does
// not answer is not listed. Stops as soon as `capacity` printers are listed,
// querying no further printer. Opens no device when capacity is 0.
uint32_t ListDevices(int32_t* first, int32_t* second, uint32_t capacity,
                     const std::string& vendorIdText, const std::string& productIdText);

// Asks the printer at `devicePath` for its identity. True when it answered
// with the marker and a carriage return in one read; `identityText` then holds
// at most kIdentityTextChars characters of the answer.
bool QueryPrinterId(const char* devicePath, std::string& identityText);

}  // namespace zelp
