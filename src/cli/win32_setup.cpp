// What zelp tells the people who set printers up on Windows: ports by their
// DOS names, and advice in the terms of Device Manager and the spooler.
#include <cctype>

#include "cli/system_setup.h"

namespace zelp::cli {

namespace {

// "LPT1" or "\\.\LPT1", in any case: the port's DOS name.
std::optional<std::string> LptName(const std::string& portName) {
    std::string name = portName;
    if (name.rfind("\\\\.\\", 0) == 0) {
        name.erase(0, 4);
    }
    const std::string number = name.size() > 3 ? name.substr(3) : "";
    if (number.empty() || number.size() > 3 || number[0] == '0' ||
        number.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    for (size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "LPT"[i]) {
            return std::nullopt;
        }
    }
    return "LPT" + number;
}

}  // namespace

std::string PortNamesHelp() {
    return "PORT is LPT1, LPT2... (or \\\\.\\LPT1): the parallel ports Device Manager lists\n"
           "under Ports (COM & LPT).\n";
}

std::string DefaultDevRoot() {
    return "";
}

std::string DeviceNodeOfPort(const std::string& portName, const std::string& devRoot) {
    static_cast<void>(devRoot);
    const std::optional<std::string> lpt = LptName(portName);
    return lpt.has_value() ? "\\\\.\\" + *lpt : portName;
}

// Windows opens a USB printer by its interface path; there is nothing else
// to name.
std::optional<std::string> DeviceNodeOfUsbPrinter(const std::string& interfacePath,
                                                  const std::string& devRoot) {
    static_cast<void>(interfacePath);
    static_cast<void>(devRoot);
    return std::nullopt;
}

// Windows lets every user open a printer's device; a refusal there means the
// device is held, by the spooler printing a job or by another program.
std::string PermissionAdvice(const std::string& node, const std::optional<UsbModel>& model) {
    static_cast<void>(model);
    return "  Windows refuses a second program on " + node +
           ": the print spooler (a job of a printer installed on it) or another program has it.\n"
           "  Let the job finish or cancel it (Devices and Printers > See what's printing), or end "
           "the program; then try again.\n";
}

std::string MissingPortAdvice(const std::string& portName, const std::string& node) {
    if (LptName(portName).has_value()) {
        return "  Windows has no port " + node +
               ": Device Manager > Ports (COM & LPT) lists the parallel ports this computer has.\n";
    }
    return "  There is no device " + node + ".\n";
}

std::string MissingUsbPrinterAdvice() {
    return "  Is the printer plugged in and switched on, with its USB Printing Support driver?"
           " (zelp list shows every USB printer, with its VENDOR:PRODUCT; Device Manager shows"
           " the driver)\n";
}

std::optional<std::string> UdevRules(const std::optional<UsbModel>& model) {
    static_cast<void>(model);
    return std::nullopt;
}

}  // namespace zelp::cli
