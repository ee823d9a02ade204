// status and send --port: a printer on a parallel port, through CParallelPort.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/report.h"
#include "cli/send_job.h"
#include "cli/system_setup.h"
#include "native/platform.h"
#include "parallel/parallel_port.h"

namespace zelp::cli {

namespace {

// Small blocks: the port gives each write 2 s, and a printer that pauses (a
// full buffer, a page feed) must not run a large block out of time.
constexpr uint32_t kPortBlockSize = 4 * 1024;

std::string NodeOf(const Invocation& call) {
    return DeviceNodeOfPort(call.portName, call.devRoot.empty() ? DefaultDevRoot() : call.devRoot);
}

std::string PortTitle(const Invocation& call) {
    const std::string node = NodeOf(call);
    return node == call.portName ? call.portName : call.portName + " (" + node + ")";
}

// Opens the port, or says why not. The port logic keeps the system's reason
// to itself; the last error right after the failed open still holds it.
bool OpenPort(CParallelPort& port, const Invocation& call, Console& console, ExitCode& code) {
    if (port.Open(call.portName.c_str()) != nullptr) {
        return true;
    }
    const DWORD error = Os().GetLastError();
    code = ExitCodeForOpenError(error);
    const std::string node = NodeOf(call);
    std::string advice;
    if (code == ExitCode::kPermission) {
        advice = PermissionAdvice(node, std::nullopt);
    } else if (code == ExitCode::kNoPrinter) {
        advice = MissingPortAdvice(call.portName, node);
    } else if (code == ExitCode::kBusy) {
        advice = "  Another program (or a print spooler) has " + node + " open.\n";
    }
    Fail(console, code, "cannot open " + PortTitle(call) + ": " + DescribeError(error), advice);
    return false;
}

std::string StatusLine(CParallelPort& port) {
    const std::optional<BYTE> status = port.StatusByte();
    if (!status.has_value()) {
        return "status bits: not available on this port";
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02x", *status);
    return std::string("status ") + hex + ": " + StatusWords(*status);
}

}  // namespace

ExitCode RunStatus(const Invocation& call, Console& console) {
    CParallelPort port;
    ExitCode code = ExitCode::kOk;
    if (!OpenPort(port, call, console, code)) {
        return code;
    }
    const bool online = port.IsOnline();
    console.out << PortTitle(call) << ": " << (online ? "on line" : "off line") << '\n';
    console.out << "  " << StatusLine(port) << '\n';
    return online ? ExitCode::kOk : ExitCode::kOffLine;
}

ExitCode RunPortSend(const Invocation& call, Console& console) {
    std::string error;
    std::optional<InputSource> input = InputSource::Open(call.inputPath, error);
    if (!input) {
        return Fail(console, ExitCode::kUsage, error);
    }
    CParallelPort port;
    ExitCode code = ExitCode::kOk;
    if (!OpenPort(port, call, console, code)) {
        return code;
    }
    const std::string target = "printer on " + PortTitle(call);
    const SendOutcome outcome = SendBlocks(
        *input, kPortBlockSize,
        [&](const uint8_t* data, uint32_t size) { return port.Write(data, size); }, console);
    if (outcome.bWriteFailed) {
        const std::string status = StatusLine(port);
        port.Close();
        return Fail(console, ExitCode::kIoFailure,
                    "the " + target + " stopped taking data (a block may take 2 s at most); " +
                        FormatBytes(outcome.sent) + " had gone out before the block that failed; " +
                        status,
                    "  The printer may have received part of the block that failed.\n");
    }
    port.Close();
    console.out << SendSummary(outcome, *input, target) << '\n';
    return outcome.readError.empty() ? ExitCode::kOk
                                     : Fail(console, ExitCode::kUsage, outcome.readError);
}

}  // namespace zelp::cli
