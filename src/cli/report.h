// The words zelp prints: error codes, status bits, sizes, the progress bar.
// Pure text, so the tests check each wording without a device.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/arguments.h"
#include "cli/exit_codes.h"
#include "native/wintypes.h"

namespace zelp::cli {

// A platform error as a reader understands it: "access denied (error 5)".
std::string DescribeError(DWORD error);

// What a failed open of a printer or port means to a script.
ExitCode ExitCodeForOpenError(DWORD error);

// The set PARALLEL_* bits of a status byte in words, most telling first:
// "selected, paper out". "no status bits set" for 0.
std::string StatusWords(BYTE status);

// "04b8:0202", as lsusb writes a model.
std::string FormatModel(const UsbModel& model);

// "0x04b8 0x0202": the model as zelp's arguments.
std::string ModelArguments(const UsbModel& model);

// "512 bytes", "1.5 KiB", "3.2 MiB".
std::string FormatBytes(uint64_t bytes);

// One line of progress, `width` characters of bar when the total is known:
// "[#####---------------]  25%  4.0 KiB of 16.0 KiB"; without a total only
// what went out: "4.0 KiB sent".
std::string ProgressLine(uint64_t sent, std::optional<uint64_t> total, size_t width);

}  // namespace zelp::cli
