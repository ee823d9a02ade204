// The USB printers as Windows shows them: every USB printing support
// interface (usable), and every device that offers a printer-class interface
// but has no such interface, because another driver (WinUSB, libusbK,
// libusb0, put there by Zadig or a vendor's tool) took the device.
#include <algorithm>
#include <cctype>
#include <optional>

#include "cli/usb_survey.h"
#include "cli/win32_devices.h"

namespace zelp::cli {

namespace {

using win32probe::UsbDeviceRecord;

// The 4 hex digits after `key` ("VID_") in an instance id or path.
std::optional<uint16_t> IdAfter(const std::string& text, const char* key) {
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const size_t at = upper.find(key);
    const size_t start = at + 4;
    if (at == std::string::npos || start + 4 > upper.size() ||
        upper.substr(start, 4).find_first_not_of("0123456789ABCDEF") != std::string::npos) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(std::stoul(upper.substr(start, 4), nullptr, 16));
}

std::optional<SurveyedPrinter> Surveyed(const UsbDeviceRecord& record) {
    const std::optional<uint16_t> vendor = IdAfter(record.instanceId, "VID_");
    const std::optional<uint16_t> product = IdAfter(record.instanceId, "PID_");
    if (!vendor || !product) {
        return std::nullopt;
    }
    SurveyedPrinter printer;
    printer.model = {*vendor, *product};
    // Windows makes an id up, with '&' in it, for a device without a serial
    // number; a USB serial number is never given one.
    printer.serial =
        record.serialId.find('&') == std::string::npos ? record.serialId : std::string();
    printer.device = record.interfacePath;
    printer.driver = record.service;
    printer.location = record.instanceId;
    printer.bUsable = !record.interfacePath.empty();
    if (!printer.bUsable) {
        printer.flag = record.service.empty() ? "no-driver" : "driver=" + record.service;
    }
    return printer;
}

bool SameDevice(const UsbDeviceRecord& a, const UsbDeviceRecord& b) {
    return std::equal(
        a.instanceId.begin(), a.instanceId.end(), b.instanceId.begin(), b.instanceId.end(),
        [](unsigned char x, unsigned char y) { return std::toupper(x) == std::toupper(y); });
}

}  // namespace

std::vector<SurveyedPrinter> SurveyUsbPrinters(const Invocation& call) {
    static_cast<void>(call);
    std::vector<UsbDeviceRecord> records = win32probe::UsbPrintingDevices();
    for (const UsbDeviceRecord& other : win32probe::PrinterClassDevices()) {
        const bool bListed =
            std::any_of(records.begin(), records.end(),
                        [&](const UsbDeviceRecord& record) { return SameDevice(record, other); });
        if (!bListed) {
            records.push_back(other);
        }
    }
    std::vector<SurveyedPrinter> printers;
    for (const UsbDeviceRecord& record : records) {
        if (std::optional<SurveyedPrinter> printer = Surveyed(record)) {
            printers.push_back(*printer);
        }
    }
    return printers;
}

}  // namespace zelp::cli
