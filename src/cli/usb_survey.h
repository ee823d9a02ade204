// Every USB printer the system shows, whether or not the library can use it:
// what `zelp list` prints without a model and what `zelp doctor` looks at.
// One implementation per system (linux_usb_survey.cpp here), reading what the
// system itself knows of its USB devices, never the printers.
#pragma once

#include <string>
#include <vector>

#include "cli/arguments.h"

namespace zelp::cli {

struct SurveyedPrinter {
    UsbModel model;
    std::string serial;    // the USB serial text; empty when the device has none
    std::string device;    // what the library opens (/dev/usb/lp0); empty when none
    std::string driver;    // what holds the printer-class interface; empty when none
    std::string location;  // where the system keeps it: the interface's sysfs name
    bool bUsable = false;  // the library would open `device`
    // Why not, in one word for scripts ("no-driver", "driver=usbfs",
    // "no-node", "no-access"); empty when usable.
    std::string flag;
};

// Every USB interface of the printer class, in the system's order.
std::vector<SurveyedPrinter> SurveyUsbPrinters(const Invocation& call);

}  // namespace zelp::cli
