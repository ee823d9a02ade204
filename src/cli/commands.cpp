#include "cli/commands.h"

#include <cstdlib>

#include "cli/doctor.h"
#include "cli/platform_choice.h"

namespace zelp::cli {

namespace {

std::string EnvironmentOr(const char* name, const std::string& given) {
    if (!given.empty()) {
        return given;
    }
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

ExitCode Dispatch(const Invocation& call, Console& console) {
    switch (call.command) {
        case Command::kList:
            return call.bModelGiven ? RunList(call, console) : RunListAll(call, console);
        case Command::kDoctor:
            return RunDoctor(call, console);
        case Command::kUdevRule:
            return RunUdevRule(call, console);
        case Command::kDetect:
            return RunDetect(call, console);
        case Command::kStatus:
            return RunStatus(call, console);
        case Command::kSend:
            return call.bToUsb ? RunUsbSend(call, console) : RunPortSend(call, console);
        case Command::kHelp:
            console.out << UsageText();
            return ExitCode::kOk;
        case Command::kVersion:
            console.out << "zelp " << ZELP_VERSION << " (LibIoZelp)\n";
            return ExitCode::kOk;
    }
    return ExitCode::kUsage;
}

}  // namespace

ExitCode Fail(Console& console, ExitCode code, const std::string& message,
              const std::string& advice) {
    console.err << "zelp: " << message << '\n' << advice << std::flush;
    return code;
}

ExitCode Run(const std::vector<std::string>& args, Console& console) {
    ParseResult parsed = ParseArguments(args);
    if (!parsed.invocation) {
        return Fail(console, ExitCode::kUsage, parsed.error, "  zelp --help lists the commands.\n");
    }
    Invocation& call = *parsed.invocation;
    call.sysfsRoot = EnvironmentOr("ZELP_SYSFS_ROOT", call.sysfsRoot);
    call.devRoot = EnvironmentOr("ZELP_DEV_ROOT", call.devRoot);
    PlatformChoice platform(call.sysfsRoot, call.devRoot);
    return Dispatch(call, console);
}

}  // namespace zelp::cli
