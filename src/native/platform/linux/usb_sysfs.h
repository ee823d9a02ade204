// The usblp printers the kernel knows, read from sysfs:
// <sysfs>/class/usbmisc/lpN links to the node's directory, whose `device`
// link is the USB interface; the interface's parent is the USB device with
// idVendor, idProduct and (when the device has one) serial.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelp::linuxbk {

struct UsbPrinterNode {
    unsigned number = 0;  // N of lpN
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::optional<std::string> serial;
};

// Every usblp printer present, by N ascending. Entries that are not usblp
// nodes (usbmisc also holds hiddev and others) or that cannot be read are
// left out.
std::vector<UsbPrinterNode> ListUsbPrinters(const std::string& sysfsRoot);

// The printer lpN, if present.
std::optional<UsbPrinterNode> FindUsbPrinter(const std::string& sysfsRoot, unsigned number);

// N for a class entry named "lpN"; nothing for any other name.
std::optional<unsigned> UsbPrinterNumberFromEntry(const std::string& name);

}  // namespace zelp::linuxbk
