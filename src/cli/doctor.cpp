// The shared half of list (every printer), doctor and udev-rule: which
// subjects are looked at, in what order, and how the findings read. What is
// seen comes from the system's half (usb_survey.h, doctor.h).
#include "cli/doctor.h"

#include <optional>

#include "cli/report.h"
#include "cli/system_setup.h"
#include "usb/usb_key.h"

namespace zelp::cli {

namespace {

struct Subject {
    std::string title;
    std::vector<Finding> findings;
};

// Tabs and line ends would break a script's fields.
std::string FieldText(const std::string& text) {
    if (text.empty()) {
        return "-";
    }
    std::string field = text;
    for (char& c : field) {
        if (static_cast<unsigned char>(c) < 0x20) {
            c = '_';
        }
    }
    return field;
}

// "  <first line>" and each further line under it, indented to match.
std::string Indented(const std::string& label, const std::string& text) {
    std::string out = "    " + label;
    const std::string pad(4 + label.size(), ' ');
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        const size_t stop = end == std::string::npos ? text.size() : end;
        out += (start == 0 ? "" : pad) + text.substr(start, stop - start) + '\n';
        start = stop + 1;
    }
    return out;
}

std::string PrinterTitle(const SurveyedPrinter& printer) {
    const std::string serial =
        printer.serial.empty() ? "without serial" : "serial " + printer.serial;
    const std::string where =
        printer.device.empty() ? "interface " + printer.location : printer.device;
    return "USB printer " + FormatModel(printer.model) + " " + serial + " (" + where + ")";
}

// The serial asked for: the same text, or the same numeric value as the
// library compares them by.
bool SerialMatches(const std::string& wanted, const std::string& serial) {
    if (wanted.empty() || wanted == serial) {
        return true;
    }
    const int32_t value = WantedSerialValue(wanted);
    return value != 0 && value == NumericValue(serial);
}

std::vector<SurveyedPrinter> PrintersAskedFor(const Invocation& call) {
    std::vector<SurveyedPrinter> asked;
    for (const SurveyedPrinter& printer : SurveyUsbPrinters(call)) {
        const bool bModel = printer.model.vendorId == call.model.vendorId &&
                            printer.model.productId == call.model.productId;
        if (!call.bModelGiven || (bModel && SerialMatches(call.serial, printer.serial))) {
            asked.push_back(printer);
        }
    }
    return asked;
}

Finding AbsentPrinter(const Invocation& call) {
    const std::string serial = call.serial.empty() ? "" : " serial " + call.serial;
    return {ExitCode::kNoPrinter,
            "no USB printer " + FormatModel(call.model) + serial + " is plugged in",
            "none of the system's USB devices of the printer class has that model" +
                std::string(serial.empty() ? "" : " and serial"),
            "Is it plugged in and switched on? zelp list shows every USB printer present."};
}

std::vector<Subject> UsbSubjects(const Invocation& call) {
    std::vector<Subject> subjects;
    std::vector<Finding> system = DiagnoseUsbSystem(call);
    if (!system.empty()) {
        subjects.push_back({"USB printers", system});
    }
    const std::vector<SurveyedPrinter> printers = PrintersAskedFor(call);
    for (const SurveyedPrinter& printer : printers) {
        subjects.push_back({PrinterTitle(printer), DiagnoseUsbPrinter(printer, call)});
    }
    if (call.bModelGiven && printers.empty()) {
        subjects.push_back({"USB printer " + FormatModel(call.model), {AbsentPrinter(call)}});
    }
    return subjects;
}

std::string PortTitle(const std::string& portName, const Invocation& call) {
    const std::string node =
        DeviceNodeOfPort(portName, call.devRoot.empty() ? DefaultDevRoot() : call.devRoot);
    return node == portName ? portName : portName + " (" + node + ")";
}

std::vector<Subject> Subjects(const Invocation& call) {
    if (!call.portName.empty()) {
        return {{PortTitle(call.portName, call), DiagnosePort(call.portName, call)}};
    }
    std::vector<Subject> subjects = UsbSubjects(call);
    if (!call.bModelGiven) {
        for (const std::string& port : PortsPresent(call)) {
            subjects.push_back({PortTitle(port, call), DiagnosePort(port, call)});
        }
    }
    return subjects;
}

}  // namespace

std::string FormatFinding(const Finding& finding) {
    std::string text = "  " + finding.cause + "\n";
    if (!finding.evidence.empty()) {
        text += Indented("seen: ", finding.evidence);
    }
    if (!finding.fix.empty()) {
        text += Indented("fix:  ", finding.fix);
    }
    return text;
}

std::string FormatSurveyLine(const SurveyedPrinter& printer) {
    return FormatModel(printer.model) + '\t' + FieldText(printer.serial) + '\t' +
           FieldText(printer.device) + '\t' +
           (printer.bUsable ? "usable" : FieldText(printer.flag)) + '\t' +
           FieldText(printer.location);
}

ExitCode RunListAll(const Invocation& call, Console& console) {
    const std::vector<SurveyedPrinter> printers = SurveyUsbPrinters(call);
    if (printers.empty()) {
        return Fail(console, ExitCode::kNoPrinter, "no USB printer is plugged in",
                    MissingUsbPrinterAdvice());
    }
    for (const SurveyedPrinter& printer : printers) {
        console.out << FormatSurveyLine(printer) << '\n';
    }
    return ExitCode::kOk;
}

ExitCode RunDoctor(const Invocation& call, Console& console) {
    const std::vector<Subject> subjects = Subjects(call);
    if (subjects.empty()) {
        console.out << "no USB printer and no parallel port present\n";
        console.out << MissingUsbPrinterAdvice();
        return ExitCode::kNoPrinter;
    }
    std::optional<ExitCode> first;
    for (const Subject& subject : subjects) {
        console.out << subject.title << (subject.findings.empty() ? ": ready\n" : ":\n");
        for (const Finding& finding : subject.findings) {
            console.out << FormatFinding(finding);
            first = first.value_or(finding.code);
        }
    }
    return first.value_or(ExitCode::kOk);
}

ExitCode RunUdevRule(const Invocation& call, Console& console) {
    const std::optional<std::string> rules =
        UdevRules(call.bModelGiven ? std::optional<UsbModel>(call.model) : std::nullopt);
    if (!rules.has_value()) {
        return Fail(console, ExitCode::kUsage, "udev-rule is for Linux: this system has no udev");
    }
    console.out << *rules;
    return ExitCode::kOk;
}

}  // namespace zelp::cli
