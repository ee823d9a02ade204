// The command line of zelp, read into one Invocation. Pure: no I/O, so the
// tests take every rule apart without a process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelp::cli {

enum class Command { kHelp, kVersion, kList, kDetect, kStatus, kSend, kDoctor, kUdevRule };

struct UsbModel {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
};

// How long a USB printer may take for one block unless --timeout says.
inline constexpr int64_t kDefaultUsbTimeoutMs = 30000;

struct Invocation {
    Command command = Command::kHelp;
    UsbModel model;                            // list, detect, send --usb, doctor, udev-rule
    bool bModelGiven = false;                  // list, doctor, udev-rule: one model, not all
    std::string serial;                        // detect, send --usb, doctor (empty: any)
    std::string portName;                      // status, send --port, doctor
    bool bToUsb = false;                       // send: a USB printer rather than a port
    std::string inputPath;                     // send: empty or "-" reads standard input
    int64_t timeoutMs = kDefaultUsbTimeoutMs;  // send --usb; -1 waits without limit
    // Where the linux backend looks for sysfs and device nodes; empty means
    // the system's own. Not in --help: the tests point them at fake trees.
    std::string sysfsRoot;
    std::string devRoot;
};

struct ParseResult {
    std::optional<Invocation> invocation;
    std::string error;  // set when invocation is not
};

// Reads the arguments after the program name.
ParseResult ParseArguments(const std::vector<std::string>& args);

// A USB id as people write it: decimal (4660) or hexadecimal with 0x (0x1234),
// 0 to 65535. Nothing for anything else.
std::optional<uint16_t> ParseUsbId(std::string_view text);

// What --help prints.
std::string UsageText();

}  // namespace zelp::cli
