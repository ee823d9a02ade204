// What stands between a printer or port and the library on Windows: a
// printer whose device another driver took (its USB printing support
// interface is then gone), a printer or port that the spooler or another
// program holds, and a port Windows does not have.
#include <windows.h>

#include "cli/doctor.h"
#include "cli/report.h"
#include "cli/system_setup.h"

namespace zelp::cli {

namespace {

// The steps that give a printer back to USB printing support, whichever
// driver took it.
std::string GiveBackToUsbPrinting(const SurveyedPrinter& printer) {
    return "Device Manager: the device " + printer.location +
           " > Update driver > Browse my computer > Let me pick > 'USB Printing Support', then "
           "plug the printer in again\nor, as administrator where pnputil has /enum-drivers "
           "(Windows 10): pnputil /enum-drivers shows the " +
           (printer.driver.empty() ? std::string("driver") : printer.driver) +
           " package (oemNN.inf) installed for it; pnputil /delete-driver oemNN.inf "
           "/uninstall, then plug the printer in again";
}

Finding TakenByAnotherDriver(const SurveyedPrinter& printer) {
    const std::string seen =
        printer.location + ": compatible id USB\\Class_07, " +
        (printer.driver.empty() ? "no driver service" : "driver service " + printer.driver) +
        ", no USB printing support interface";
    if (printer.driver.empty()) {
        return {ExitCode::kNoPrinter,
                "the printer has no driver, so it has no USB printing support interface", seen,
                GiveBackToUsbPrinting(printer)};
    }
    return {ExitCode::kNoPrinter,
            "the printer is driven by " + printer.driver +
                " (a driver for programs using libusb, as Zadig installs), not by USB printing "
                "support, so it has no USB printing support interface",
            seen, GiveBackToUsbPrinting(printer)};
}

// Opens `path` as the library does; a finding when Windows refuses.
std::vector<Finding> DiagnoseOpen(const std::string& path, const std::string& what,
                                  const std::string& missingFix) {
    const HANDLE device = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    const DWORD error = ::GetLastError();
    if (device != INVALID_HANDLE_VALUE) {
        ::CloseHandle(device);
        return {};
    }
    const std::string seen = "CreateFile of " + path + ": " + DescribeError(error);
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return {{ExitCode::kBusy, "the print spooler or another program holds " + what, seen,
                     "let its job finish or cancel it (Devices and Printers > See what's "
                     "printing), or end the program that has it; then try again"}};
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_NOT_CONNECTED:
            return {{ExitCode::kNoPrinter, "Windows has no " + what, seen, missingFix}};
        default:
            return {{ExitCode::kIoFailure, what + " cannot be opened", seen, ""}};
    }
}

}  // namespace

// USB printing support is part of every Windows: nothing stops all printers
// at once.
std::vector<Finding> DiagnoseUsbSystem(const Invocation& call) {
    static_cast<void>(call);
    return {};
}

std::vector<Finding> DiagnoseUsbPrinter(const SurveyedPrinter& printer, const Invocation& call) {
    static_cast<void>(call);
    if (!printer.bUsable) {
        return {TakenByAnotherDriver(printer)};
    }
    return DiagnoseOpen(printer.device, "the printer",
                        "plug the printer in again; zelp list shows the printers present");
}

std::vector<Finding> DiagnosePort(const std::string& portName, const Invocation& call) {
    const std::string node = DeviceNodeOfPort(portName, call.devRoot);
    return DiagnoseOpen(node, node == portName ? portName : "port " + portName + " (" + node + ")",
                        "Device Manager > Ports (COM & LPT) lists the parallel ports this "
                        "computer has; name one of those");
}

// The LPT names Windows knows, whether or not a printer answers on them.
std::vector<std::string> PortsPresent(const Invocation& call) {
    static_cast<void>(call);
    std::vector<std::string> ports;
    for (int number = 1; number <= 9; ++number) {
        const std::string name = "LPT" + std::to_string(number);
        char target[MAX_PATH] = {};
        if (::QueryDosDeviceA(name.c_str(), target, MAX_PATH) != 0) {
            ports.push_back(name);
        }
    }
    return ports;
}

}  // namespace zelp::cli
