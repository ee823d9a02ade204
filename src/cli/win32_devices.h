// The USB devices Windows knows of, through SetupAPI and the configuration
// manager: what `zelp list` and `zelp doctor` read on Windows. Only zelp
// looks here, so the calls go to Windows directly, not through the
// library's platform layer; each one exists from Windows XP on.
#pragma once

#include <string>
#include <vector>

namespace zelp::cli::win32probe {

struct UsbDeviceRecord {
    std::string instanceId;     // USB\VID_1234&PID_5678\123456
    std::string serialId;       // the instance id's last part, of the USB device itself
    std::string service;        // the driver's service (usbprint, WinUSB, libusbK...)
    std::string interfacePath;  // the USB printing support interface; empty when none
};

// Every present device with a USB printing support interface.
std::vector<UsbDeviceRecord> UsbPrintingDevices();

// Every present device that offers a USB printer-class interface (compatible
// id USB\Class_07), whatever driver it has.
std::vector<UsbDeviceRecord> PrinterClassDevices();

}  // namespace zelp::cli::win32probe
