// list, detect and send --usb: the USB printers, through discovery, the
// device list and CUsbPort.
#include <cstdint>
#include <string>

#include "cli/commands.h"
#include "cli/report.h"
#include "cli/send_job.h"
#include "cli/system_setup.h"
#include "native/platform.h"
#include "usb/device_list.h"
#include "usb/usb_discovery.h"
#include "usb/usb_key.h"
#include "usb/usb_port.h"
#include "usb/usb_slots.h"

namespace zelp::cli {

namespace {

// USB blocks are large: each write waits for the whole block, and fewer
// waits keep a fast printer fed.
constexpr uint32_t kUsbBlockSize = 16 * 1024;

// The slot whose records detection reads. This process has them to itself.
constexpr int32_t kDetectSlot = 0;

std::string VendorText(const UsbModel& model) {
    return std::to_string(model.vendorId);
}

std::string ProductText(const UsbModel& model) {
    return std::to_string(model.productId);
}

std::string Describe(const UsbModel& model, const std::string& serial) {
    return "USB printer " + FormatModel(model) + " serial " + serial;
}

struct Candidate {
    std::string path;       // empty when no printer of the model would do
    bool bStandIn = false;  // a printer without a numeric serial, for an absent one
};

// The printer an open of (model, serial) would try: the first with the serial
// value, else, for a non-zero value, the first without a numeric serial. The
// same rules CUsbPort::Open follows, walked again to say why it failed.
Candidate FindCandidate(const UsbModel& model, const std::string& serial) {
    const std::string key = FormatUsbKey(VendorText(model), ProductText(model));
    const int32_t wanted = WantedSerialValue(serial);
    std::string exact;
    std::string unnumbered;
    EnumUsbPrinterInterfaces({}, [&](const char* path) {
        if (exact.empty() && PathMatches(path, key, wanted)) {
            exact = path;
        } else if (unnumbered.empty() && wanted != 0 && PathMatches(path, key, 0)) {
            unnumbered = path;
        }
        return exact.empty() ? WalkStep::kGoOn : WalkStep::kStop;
    });
    return exact.empty() ? Candidate{unnumbered, true} : Candidate{exact, false};
}

// Why the open failed: asks the system to open the printer once more and
// reads its last error, which the port logic does not pass on.
ExitCode ReportOpenFailure(const Invocation& call, Console& console) {
    const std::string what = Describe(call.model, call.serial);
    const Candidate candidate = FindCandidate(call.model, call.serial);
    if (candidate.path.empty()) {
        return Fail(console, ExitCode::kNoPrinter, "no " + what + " is plugged in",
                    "  zelp list " + ModelArguments(call.model) +
                        " shows the printers of the model that are.\n" + MissingUsbPrinterAdvice());
    }
    const HANDLE probe = Os().CreateFileA(candidate.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (probe != INVALID_HANDLE_VALUE && probe != nullptr) {
        Os().CloseHandle(probe);
        return Fail(console, ExitCode::kBusy,
                    "the " + what + " could not be opened: it was in use a moment ago; try again");
    }
    const DWORD error = Os().GetLastError();
    const std::string node =
        DeviceNodeOfUsbPrinter(candidate.path,
                               call.devRoot.empty() ? DefaultDevRoot() : call.devRoot)
            .value_or(candidate.path);
    const ExitCode code = ExitCodeForOpenError(error);
    std::string advice;
    if (code == ExitCode::kPermission) {
        advice = PermissionAdvice(node, call.model);
    } else if (code == ExitCode::kBusy) {
        advice = "  Another program (or a print spooler) has " + node + " open.\n";
    }
    const std::string subject =
        candidate.bStandIn ? "no " + what +
                                 " is plugged in, and the printer of the model without a numeric "
                                 "serial number that would stand in"
                           : "the " + what;
    return Fail(console, code,
                "cannot open " + subject + " (" + node + "): " + DescribeError(error), advice);
}

ExitCode ReportWriteFailure(const Invocation& call, const std::string& target,
                            const SendOutcome& outcome, DWORD error, Console& console) {
    const std::string after =
        "; " + FormatBytes(outcome.sent) + " had gone out before the block that failed";
    const std::string partial = "  The printer may have received part of the block that failed.\n";
    if (error == ERROR_OPERATION_ABORTED) {
        return Fail(
            console, ExitCode::kIoFailure,
            "time-out: the " + target + " took no data for " + std::to_string(call.timeoutMs) +
                " ms" + after,
            partial + "  Is it switched on, on line, with paper? --timeout MS allows longer.\n");
    }
    return Fail(console, ExitCode::kIoFailure,
                "sending to the " + target + " failed" + after + ": " + DescribeError(error),
                partial);
}

}  // namespace

ExitCode RunList(const Invocation& call, Console& console) {
    int32_t serials[kMaxListedPrinters] = {};
    int32_t usbSerials[kMaxListedPrinters] = {};
    const uint32_t count = ListDevices(serials, usbSerials, kMaxListedPrinters,
                                       VendorText(call.model), ProductText(call.model));
    const std::string model = FormatModel(call.model);
    if (count == 0) {
        return Fail(console, ExitCode::kNoPrinter,
                    "no USB printer " + model + " is plugged in (or none answered)",
                    MissingUsbPrinterAdvice());
    }
    console.out << count << (count == 1 ? " printer " : " printers ") << model << ":\n";
    for (uint32_t i = 0; i < count; ++i) {
        console.out << "  serial " << serials[i]
                    << (usbSerials[i] != 0 ? "  (USB serial number)"
                                           : "  (asked: it has no numeric USB serial number)")
                    << '\n';
    }
    return ExitCode::kOk;
}

ExitCode RunDetect(const Invocation& call, Console& console) {
    RecordKey(kDetectSlot, FormatUsbKey(VendorText(call.model), ProductText(call.model)));
    RecordSerial(kDetectSlot, call.serial);
    const std::string what = Describe(call.model, call.serial);
    if (!IsUsbPrinterPresent(kDetectSlot)) {
        console.out << "not present: " << what << '\n';
        return ExitCode::kNoPrinter;
    }
    console.out << "present: " << what << '\n';
    return ExitCode::kOk;
}

ExitCode RunUsbSend(const Invocation& call, Console& console) {
    std::string error;
    std::optional<InputSource> input = InputSource::Open(call.inputPath, error);
    if (!input) {
        return Fail(console, ExitCode::kUsage, error);
    }
    CUsbPort port;
    if (port.Open(call.serial, VendorText(call.model), ProductText(call.model)) == nullptr) {
        return ReportOpenFailure(call, console);
    }
    const std::string used = port.Serial();
    if (used != call.serial) {
        console.err << "zelp: no printer with serial " << call.serial
                    << " could be opened; using the printer of the model without a numeric "
                       "serial number\n";
    }
    const std::string target = Describe(call.model, used);
    DWORD writeError = ERROR_SUCCESS;
    const SendOutcome outcome = SendBlocks(
        *input, kUsbBlockSize,
        [&](const uint8_t* data, uint32_t size) {
            // -1 reaches the wait as INFINITE, as from Java.
            const bool sent = port.Write(data, size, static_cast<uint32_t>(call.timeoutMs));
            writeError = sent ? ERROR_SUCCESS : Os().GetLastError();
            return sent;
        },
        console);
    port.Close();
    if (outcome.bWriteFailed) {
        return ReportWriteFailure(call, target, outcome, writeError, console);
    }
    console.out << SendSummary(outcome, *input, target) << '\n';
    return outcome.readError.empty() ? ExitCode::kOk
                                     : Fail(console, ExitCode::kUsage, outcome.readError);
}

}  // namespace zelp::cli
