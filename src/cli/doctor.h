// zelp doctor: what stands between a printer or port and the library. The
// looking is the system's (one implementation per system, linux_doctor.cpp
// here); the order, the words around the findings and the exit status are
// shared (doctor.cpp).
#pragma once

#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/usb_survey.h"

namespace zelp::cli {

// One thing in the way: what it is, what was seen that shows it, and what
// puts it right. `fix` may run to a few lines (commands on lines of their own).
struct Finding {
    ExitCode code = ExitCode::kNoPrinter;
    std::string cause;
    std::string evidence;
    std::string fix;
};

// What keeps every USB printer from the library at once (its driver missing
// or kept from loading).
std::vector<Finding> DiagnoseUsbSystem(const Invocation& call);

// What keeps this printer from the library; nothing when it can be opened.
std::vector<Finding> DiagnoseUsbPrinter(const SurveyedPrinter& printer, const Invocation& call);

// What keeps this port from the library; nothing when it can be opened.
std::vector<Finding> DiagnosePort(const std::string& portName, const Invocation& call);

// The parallel ports the system has, by the names zelp takes (LPT1...),
// including those whose device node is missing.
std::vector<std::string> PortsPresent(const Invocation& call);

// A finding as doctor prints it: the cause, then "seen:" and "fix:" lines.
std::string FormatFinding(const Finding& finding);

// A printer's line in `zelp list`: fields separated by tabs, "-" for none.
std::string FormatSurveyLine(const SurveyedPrinter& printer);

ExitCode RunListAll(const Invocation& call, Console& console);
ExitCode RunDoctor(const Invocation& call, Console& console);
ExitCode RunUdevRule(const Invocation& call, Console& console);

}  // namespace zelp::cli
