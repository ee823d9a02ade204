// What stands between a printer or port and the library on Linux: usblp and
// ppdev missing or kept from loading, a printer-class interface without
// usblp (no driver, another driver, a libusb program through usbfs), and the
// node itself: its permissions, or a program that has it.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "cli/doctor.h"
#include "cli/linux_probe.h"
#include "cli/system_setup.h"
#include "native/platform/linux/device_names.h"
#include "native/platform/linux/device_open.h"

namespace zelp::cli {

namespace {

namespace fs = std::filesystem;
using linuxprobe::JoinedList;
using linuxprobe::ModuleBlockers;
using linuxprobe::ModuleLoaded;
using linuxprobe::ProgramsHolding;

bool Exists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error);
}

// The advice of the other commands, its lines without their indent.
std::string Unindented(const std::string& advice) {
    std::string text;
    size_t start = 0;
    while (start < advice.size()) {
        const size_t end = advice.find('\n', start);
        const size_t stop = end == std::string::npos ? advice.size() : end;
        std::string line = advice.substr(start, stop - start);
        line.erase(0, std::min(line.find_first_not_of(' '), size_t{2}));
        text += (text.empty() ? "" : "\n") + line;
        start = stop + 1;
    }
    return text;
}

std::string BindCommand(const std::string& location, const std::string& driver,
                        const char* action) {
    return "echo " + location + " | sudo tee /sys/bus/usb/drivers/" + driver + "/" + action;
}

// A module missing: why, from modprobe.d, and how to load it now and for good.
Finding MissingModule(const std::string& module, const std::string& what, const Invocation& call) {
    const std::vector<std::string> blockers = ModuleBlockers(module);
    const std::string absent =
        "no " + linuxprobe::SysfsRootOf(call.sysfsRoot) + "/module/" + module;
    if (blockers.empty()) {
        return {ExitCode::kNoPrinter, "the " + module + " driver is not loaded, so " + what, absent,
                "sudo modprobe " + module + "\nfor good: echo " + module +
                    " | sudo tee /etc/modules-load.d/" + module + ".conf"};
    }
    std::string evidence = absent + "; kept from loading by";
    for (const std::string& blocker : blockers) {
        evidence += "\n" + blocker;
    }
    return {ExitCode::kNoPrinter,
            "the " + module + " driver is blacklisted and not loaded, so " + what, evidence,
            "delete " + std::string(blockers.size() == 1 ? "that line" : "those lines") +
                ", then: sudo modprobe " + module};
}

Finding BusyNode(const std::string& node, const std::vector<std::string>& holders) {
    if (holders.empty()) {
        return {ExitCode::kBusy, "another program has " + node + " open",
                "the system answered \"device busy\"; /proc shows this user no program holding it",
                "run zelp doctor as root to see every program; end it, or wait for its job to end"};
    }
    return {ExitCode::kBusy, "another program has " + node + " open",
            node + " is open in " + JoinedList(holders),
            "end " + std::string(holders.size() == 1 ? "it" : "them") +
                ", or wait for its job to end (a print spooler lets go when it is done)"};
}

// Opens the node as the library does (its lock included) and says why not.
std::vector<Finding> DiagnoseNode(const std::string& node, const std::optional<UsbModel>& model) {
    const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const int error = errno;
    if (fd >= 0) {
        const bool bLocked = linuxbk::TakeExclusiveLock(fd) == ERROR_SHARING_VIOLATION;
        ::close(fd);
        if (bLocked) {
            return {BusyNode(node, ProgramsHolding(node))};
        }
        return {};
    }
    const std::string seen = "open() of " + node + ": " + std::strerror(error);
    if (error == EACCES || error == EPERM) {
        return {{ExitCode::kPermission, "you may not open " + node, seen,
                 Unindented(PermissionAdvice(node, model))}};
    }
    if (error == EBUSY) {
        return {BusyNode(node, ProgramsHolding(node))};
    }
    if (error == ENOENT || error == ENODEV || error == ENXIO) {
        return {{ExitCode::kNoPrinter, "no device answers behind " + node, seen,
                 "plug the printer in again, or load its driver again"}};
    }
    return {{ExitCode::kIoFailure, node + " cannot be opened", seen, ""}};
}

std::string UsbfsNode(const std::string& deviceFolder, const std::string& devRoot) {
    const std::optional<std::string> bus = linuxprobe::ReadAttribute(deviceFolder + "/busnum");
    const std::optional<std::string> device = linuxprobe::ReadAttribute(deviceFolder + "/devnum");
    if (!bus || !device) {
        return "";
    }
    char path[32];
    std::snprintf(path, sizeof path, "/bus/usb/%03d/%03d", std::atoi(bus->c_str()),
                  std::atoi(device->c_str()));
    return devRoot + path;
}

Finding HeldThroughUsbfs(const SurveyedPrinter& printer, const std::string& interface,
                         const Invocation& call) {
    std::error_code error;
    const std::string device = fs::canonical(interface, error).parent_path().string();
    const std::string node = UsbfsNode(device, linuxprobe::DevRootOf(call.devRoot));
    const std::vector<std::string> holders =
        node.empty() ? std::vector<std::string>{} : ProgramsHolding(node);
    std::string seen = interface + "/driver -> usbfs; ";
    seen += holders.empty() ? "/proc shows this user no program with " + node +
                                  " open (run zelp doctor as root to see every program)"
                            : node + " is open in " + JoinedList(holders);
    return {ExitCode::kBusy,
            "a program using libusb has taken the printer from usblp (driver usbfs)", seen,
            "end that program (ipp-usb keeps a printer for good: sudo systemctl disable --now "
            "ipp-usb;\nCUPS' usb backend lets go after its job), then give it back to usblp: " +
                BindCommand(printer.location, "usblp", "bind")};
}

Finding OtherDriver(const SurveyedPrinter& printer, const std::string& interface) {
    return {ExitCode::kNoPrinter,
            "the printer-class interface is bound to " + printer.driver + ", not usblp",
            interface + "/driver -> " + printer.driver,
            BindCommand(printer.location, printer.driver, "unbind") + "\n" +
                BindCommand(printer.location, "usblp", "bind")};
}

Finding NoDriver(const SurveyedPrinter& printer, const std::string& interface,
                 const Invocation& call) {
    const bool bLoaded = ModuleLoaded(call.sysfsRoot, "usblp");
    return {ExitCode::kNoPrinter,
            "the printer-class interface has no driver, so there is no /dev/usb/lp node for it",
            "no " + interface + "/driver",
            bLoaded ? BindCommand(printer.location, "usblp", "bind") +
                          "\n(or plug the printer in again)"
                    : "load usblp (see above): it takes the printer as it loads"};
}

// N for a port's parportN folder or node name.
std::optional<unsigned> ParportNumber(const std::string& name) {
    if (name.rfind("parport", 0) != 0 || name.size() == 7 ||
        name.find_first_not_of("0123456789", 7) != std::string::npos) {
        return std::nullopt;
    }
    return static_cast<unsigned>(std::stoul(name.substr(7)));
}

Finding MissingPortNode(unsigned lpt, const std::string& node, const Invocation& call) {
    const std::string parport = "parport" + std::to_string(lpt - 1);
    const std::string folder =
        linuxprobe::SysfsRootOf(call.sysfsRoot) + "/bus/parport/devices/" + parport;
    if (!Exists(folder)) {
        return {ExitCode::kNoPrinter, "there is no parallel port " + parport, "no " + folder,
                "is there a port (a card, or one enabled in the firmware)? Its driver: "
                "sudo modprobe parport_pc"};
    }
    if (!ModuleLoaded(call.sysfsRoot, "ppdev")) {
        return MissingModule("ppdev", parport + " has no " + node, call);
    }
    return {ExitCode::kNoPrinter, "ppdev is loaded, but " + node + " is missing",
            folder + " is there; no " + node, "is /dev a devtmpfs, and is udev running?"};
}

}  // namespace

std::vector<Finding> DiagnoseUsbSystem(const Invocation& call) {
    if (ModuleLoaded(call.sysfsRoot, "usblp")) {
        return {};
    }
    const bool bBlocked = !ModuleBlockers("usblp").empty();
    if (!bBlocked && !call.bModelGiven && SurveyUsbPrinters(call).empty()) {
        return {};
    }
    return {MissingModule("usblp", "no USB printer gets a /dev/usb/lp node", call)};
}

std::vector<Finding> DiagnoseUsbPrinter(const SurveyedPrinter& printer, const Invocation& call) {
    const std::string interface =
        linuxprobe::SysfsRootOf(call.sysfsRoot) + "/bus/usb/devices/" + printer.location;
    if (printer.driver.empty()) {
        return {NoDriver(printer, interface, call)};
    }
    if (printer.driver == "usbfs") {
        return {HeldThroughUsbfs(printer, interface, call)};
    }
    if (printer.driver != "usblp") {
        return {OtherDriver(printer, interface)};
    }
    if (printer.device.empty()) {
        return {{ExitCode::kNoPrinter, "usblp has the printer, but its /dev/usb/lp node is missing",
                 "no node for " + interface + "/usbmisc",
                 "is /dev a devtmpfs, and is udev running?"}};
    }
    return DiagnoseNode(printer.device, printer.model);
}

std::vector<Finding> DiagnosePort(const std::string& portName, const Invocation& call) {
    const std::string devRoot = linuxprobe::DevRootOf(call.devRoot);
    const std::string node = DeviceNodeOfPort(portName, devRoot);
    const std::optional<unsigned> lpt = linuxbk::LptNumberFromName(portName);
    if (!Exists(node)) {
        if (lpt.has_value()) {
            return {MissingPortNode(*lpt, node, call)};
        }
        return {{ExitCode::kNoPrinter, "there is no device " + node, "no " + node, ""}};
    }
    std::vector<Finding> findings = DiagnoseNode(node, std::nullopt);
    if (!findings.empty() || !lpt.has_value()) {
        return findings;
    }
    // ppdev shares the port with lp: a program printing through lpN holds it.
    std::vector<std::string> holders = ProgramsHolding(node);
    for (const std::string& holder : ProgramsHolding(devRoot + "/lp" + std::to_string(*lpt - 1))) {
        holders.push_back(holder + " through lp");
    }
    if (!holders.empty()) {
        findings.push_back(
            {ExitCode::kBusy,
             "another program uses " + portName + " (and holds the port while it prints)",
             "open in " + JoinedList(holders),
             "end it, or wait for its job to end (a print spooler lets go when "
             "it is done)"});
    }
    return findings;
}

std::vector<std::string> PortsPresent(const Invocation& call) {
    std::map<unsigned, bool> numbers;
    for (const std::string& folder :
         {linuxprobe::DevRootOf(call.devRoot),
          linuxprobe::SysfsRootOf(call.sysfsRoot) + "/bus/parport/devices"}) {
        for (const std::string& entry : linuxprobe::FolderEntries(folder)) {
            if (const auto number = ParportNumber(fs::path(entry).filename().string())) {
                numbers[*number] = true;
            }
        }
    }
    std::vector<std::string> ports;
    for (const auto& [number, bPresent] : numbers) {
        if (number < 9) {
            ports.push_back("LPT" + std::to_string(number + 1));
        }
    }
    return ports;
}

}  // namespace zelp::cli
