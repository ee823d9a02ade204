// The layout of a USB printer in sysfs as usblp and the USB core make it, for
// the fake trees the backend tests, the tool's tests and the benchmarks walk.
// One place, so that every tree keeps the kernel's shape.
#pragma once

#include <filesystem>
#include <string>

namespace zelp::testsupport {

// usblp printer lpN under `root`: the USB device 1-(N+1) with idVendor and
// idProduct (hex, as sysfs writes them) and serial (none when null), its
// interface 1-(N+1):1.0 with the usbmisc/lpN entry whose `device` link leads
// back to it, the class link sys/class/usbmisc/lpN, and dev/usb/lpN linked to
// `node`. Links as the kernel writes them (relative), names as it gives them.
void AddFakeUsbPrinter(const std::filesystem::path& root, unsigned number, const char* vendorHex,
                       const char* productHex, const char* serial, const std::string& node);

}  // namespace zelp::testsupport
