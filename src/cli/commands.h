// The commands of zelp. Each talks to printers through the same port logic
// the Java methods use (CUsbPort, the device list, discovery, CParallelPort)
// and turns its outcome into words and an exit status.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/exit_codes.h"

namespace zelp::cli {

struct Console {
    std::ostream& out;
    std::ostream& err;
    bool bErrIsTerminal = false;
};

// The whole tool: reads the arguments (after the program name), puts the
// platform in force and runs the command.
ExitCode Run(const std::vector<std::string>& args, Console& console);

ExitCode RunList(const Invocation& call, Console& console);
ExitCode RunDetect(const Invocation& call, Console& console);
ExitCode RunUsbSend(const Invocation& call, Console& console);
ExitCode RunStatus(const Invocation& call, Console& console);
ExitCode RunPortSend(const Invocation& call, Console& console);

// Prints "zelp: <message>" and the advice under it; returns `code`.
ExitCode Fail(Console& console, ExitCode code, const std::string& message,
              const std::string& advice = "");

}  // namespace zelp::cli
