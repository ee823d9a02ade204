// What zelp tells the people who set printers up about this system: where a
// port or printer lives, and what to do when its device cannot be opened.
// One implementation per system (linux_setup.cpp here); the commands never
// ask the system for this themselves.
#pragma once

#include <optional>
#include <string>

#include "cli/arguments.h"

namespace zelp::cli {

// The device node a port name opens: LPT1 is <devRoot>/parport0, a path is
// itself.
std::string DeviceNodeOfPort(const std::string& portName, const std::string& devRoot);

// The device node behind a USB printer's interface path, when the path is of
// the form this system's backend gives.
std::optional<std::string> DeviceNodeOfUsbPrinter(const std::string& interfacePath,
                                                  const std::string& devRoot);

// How to let this user open `node`: the group it belongs to, whether the user
// is in it (or only will be at the next login), and a udev rule. `model` is
// given for a USB printer, so the rule can name it.
std::string PermissionAdvice(const std::string& node, const std::optional<UsbModel>& model);

// Why a port's device may be missing.
std::string MissingPortAdvice(const std::string& portName, const std::string& node);

// Why no USB printer at all may be seen.
std::string MissingUsbPrinterAdvice();

// A rules file giving the printers' device nodes to group lp, for one model
// when given; nothing on a system without udev.
std::optional<std::string> UdevRules(const std::optional<UsbModel>& model);

// What --help says PORT is on this system, ending in a new line.
std::string PortNamesHelp();

// The devRoot to use when none was given.
std::string DefaultDevRoot();

}  // namespace zelp::cli
