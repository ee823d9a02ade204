// The USB printers as sysfs shows them: every interface of class 07 under
// <sysfs>/bus/usb/devices, whichever driver holds it, with its device's ids
// and serial, and the usblp node when usblp holds it.
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "cli/linux_probe.h"
#include "cli/usb_survey.h"
#include "native/platform/linux/device_names.h"
#include "native/platform/linux/usb_sysfs.h"

namespace zelp::cli {

namespace {

namespace fs = std::filesystem;
using linuxprobe::ReadAttribute;

constexpr const char* kPrinterClass = "07";

std::optional<uint16_t> HexId(const std::optional<std::string>& text) {
    if (!text.has_value() || text->empty() || text->size() > 4 ||
        text->find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(std::stoul(*text, nullptr, 16));
}

// The usblp node's number, from the interface's usbmisc/lpN child.
std::optional<unsigned> UsblpNumber(const fs::path& interface) {
    for (const std::string& child : linuxprobe::FolderEntries((interface / "usbmisc").string())) {
        if (auto number = linuxbk::UsbPrinterNumberFromEntry(fs::path(child).filename().string())) {
            return number;
        }
    }
    return std::nullopt;
}

void JudgeUse(SurveyedPrinter& printer, const fs::path& interface, const std::string& devRoot) {
    const std::optional<unsigned> number = UsblpNumber(interface);
    if (number.has_value()) {
        const std::string node = linuxbk::UsbPrinterNodePath(devRoot, *number);
        std::error_code error;
        printer.device = fs::exists(node, error) ? node : "";
    }
    if (printer.driver.empty()) {
        printer.flag = "no-driver";
    } else if (printer.driver != "usblp") {
        printer.flag = "driver=" + printer.driver;
    } else if (printer.device.empty()) {
        printer.flag = "no-node";
    } else if (::access(printer.device.c_str(), R_OK | W_OK) != 0) {
        printer.flag = "no-access";
    }
    printer.bUsable = printer.flag.empty();
}

std::optional<SurveyedPrinter> Survey(const fs::path& entry, const std::string& devRoot) {
    if (ReadAttribute((entry / "bInterfaceClass").string()) != kPrinterClass) {
        return std::nullopt;
    }
    std::error_code error;
    const fs::path device = fs::canonical(entry, error).parent_path();
    const std::optional<uint16_t> vendor = HexId(ReadAttribute((device / "idVendor").string()));
    const std::optional<uint16_t> product = HexId(ReadAttribute((device / "idProduct").string()));
    if (error || !vendor || !product) {
        return std::nullopt;
    }
    SurveyedPrinter printer;
    printer.model = {*vendor, *product};
    printer.serial = ReadAttribute((device / "serial").string()).value_or("");
    printer.driver = linuxprobe::LinkName((entry / "driver").string());
    printer.location = entry.filename().string();
    JudgeUse(printer, entry, devRoot);
    return printer;
}

}  // namespace

std::vector<SurveyedPrinter> SurveyUsbPrinters(const Invocation& call) {
    const fs::path folder = linuxprobe::SysfsRootOf(call.sysfsRoot) + "/bus/usb/devices";
    const std::string devRoot = linuxprobe::DevRootOf(call.devRoot);
    std::vector<fs::path> interfaces;
    for (const std::string& entry : linuxprobe::FolderEntries(folder.string())) {
        // Interfaces are named BUS-PORT:CONFIG.NUMBER; devices and hubs have no ':'.
        if (fs::path(entry).filename().string().find(':') != std::string::npos) {
            interfaces.push_back(entry);
        }
    }
    std::sort(interfaces.begin(), interfaces.end());
    std::vector<SurveyedPrinter> printers;
    for (const fs::path& interface : interfaces) {
        if (std::optional<SurveyedPrinter> printer = Survey(interface, devRoot)) {
            printers.push_back(*printer);
        }
    }
    return printers;
}

}  // namespace zelp::cli
