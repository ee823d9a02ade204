// What zelp's exit status tells a script. The numbers are part of the tool's
// interface: documented in --help and the README, never renumbered.
#pragma once

namespace zelp::cli {

enum class ExitCode : int {
    kOk = 0,          // done; list found printers, detect found it, status on line
    kUsage = 1,       // bad arguments, or the input cannot be read
    kNoPrinter = 2,   // no such printer or port (list: none; detect: not present)
    kBusy = 3,        // another program has the printer or port open
    kPermission = 4,  // the user may not open the device
    kIoFailure = 5,   // time-out or I/O failure while talking to the printer
    kOffLine = 6,     // status: the printer is not on line
};

inline int AsInt(ExitCode code) {
    return static_cast<int>(code);
}

}  // namespace zelp::cli
