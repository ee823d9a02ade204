#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "cli/report.h"
#include "cli/system_setup.h"
#include "native/platform/linux/device_names.h"

namespace zelp::cli {

namespace {

struct NodeAccess {
    std::string group;  // empty when the node cannot be looked at
    gid_t gid = 0;
    std::string mode;  // "crw-rw----"
};

std::string ModeText(mode_t mode) {
    std::string text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : "-";
    const char* letters = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) {
        text += (mode & (0400 >> i)) != 0 ? letters[i] : '-';
    }
    return text;
}

std::string GroupName(gid_t gid) {
    const group* entry = ::getgrgid(gid);
    return entry != nullptr ? entry->gr_name : std::to_string(gid);
}

NodeAccess AccessOf(const std::string& node) {
    NodeAccess access;
    struct stat info {};
    if (::stat(node.c_str(), &info) == 0) {
        access.gid = info.st_gid;
        access.group = GroupName(info.st_gid);
        access.mode = ModeText(info.st_mode);
    }
    return access;
}

std::string UserName() {
    const passwd* entry = ::getpwuid(::geteuid());
    return entry != nullptr ? entry->pw_name : std::to_string(::geteuid());
}

// The groups this process has now, which a new membership joins only at the
// next login.
bool ProcessHasGroup(gid_t gid) {
    if (::getegid() == gid) {
        return true;
    }
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<size_t>(std::max(count, 0)));
    if (count > 0 && ::getgroups(count, groups.data()) < 0) {
        return false;
    }
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

bool UserListedInGroup(gid_t gid, const std::string& user) {
    const group* entry = ::getgrgid(gid);
    if (entry == nullptr) {
        return false;
    }
    for (char** member = entry->gr_mem; *member != nullptr; ++member) {
        if (user == *member) {
            return true;
        }
    }
    return false;
}

std::string HexId(uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", id);
    return text;
}

// The udev match for a node, by the kernel's names for it; nothing for a
// node of a kind printers do not come as.
std::optional<std::string> UdevMatch(const std::string& node,
                                     const std::optional<UsbModel>& model) {
    const std::string name = std::filesystem::path(node).filename().string();
    if (model.has_value()) {
        return "SUBSYSTEM==\"usbmisc\", KERNEL==\"lp[0-9]*\", ATTRS{idVendor}==\"" +
               HexId(model->vendorId) + "\", ATTRS{idProduct}==\"" + HexId(model->productId) + "\"";
    }
    if (name.rfind("parport", 0) == 0) {
        return "SUBSYSTEM==\"ppdev\", KERNEL==\"parport[0-9]*\"";
    }
    if (name.rfind("lp", 0) == 0) {
        return "SUBSYSTEM==\"printer\", KERNEL==\"lp[0-9]*\"";
    }
    if (name.rfind("ttyS", 0) == 0 || name.rfind("ttyUSB", 0) == 0) {
        return "SUBSYSTEM==\"tty\", KERNEL==\"" + name + "\"";
    }
    return std::nullopt;
}

std::string GroupAdvice(const NodeAccess& access, const std::string& user) {
    if (access.group.empty() || access.gid == 0) {
        return "";
    }
    if (ProcessHasGroup(access.gid)) {
        return "  You are in group " + access.group + ", but the device's mode " + access.mode +
               " does not let the group read and write it: a udev rule fixes that.\n";
    }
    if (UserListedInGroup(access.gid, user)) {
        return "  You (" + user + ") were added to group " + access.group +
               " after this login: log out and in again (or run: newgrp " + access.group + ").\n";
    }
    return "  Add yourself (" + user + ") to group " + access.group +
           ", then log out and in again:\n"
           "      sudo usermod -aG " +
           access.group + " " + user + "\n";
}

}  // namespace

std::optional<std::string> UdevRules(const std::optional<UsbModel>& model) {
    const std::string access = ", GROUP=\"lp\", MODE=\"0660\"\n";
    std::string rules =
        "# Printers for LibIoZelp: their device nodes to group lp, read and write for the "
        "group.\n"
        "# Install: zelp udev-rule | sudo tee /etc/udev/rules.d/60-zelp-printers.rules\n"
        "#          sudo udevadm control --reload && sudo udevadm trigger\n";
    if (model.has_value()) {
        return rules + *UdevMatch("/dev/usb/lp0", model) + access;
    }
    return rules + "SUBSYSTEM==\"usbmisc\", KERNEL==\"lp[0-9]*\"" + access +
           *UdevMatch("/dev/parport0", std::nullopt) + access;
}

std::string PortNamesHelp() {
    return "PORT is LPT1 (/dev/parport0), LPT2 (/dev/parport1)... or a device path\n"
           "(/dev/parport0, /dev/lp0, a tty).\n";
}

std::string DefaultDevRoot() {
    return "/dev";
}

std::string DeviceNodeOfPort(const std::string& portName, const std::string& devRoot) {
    if (const std::optional<unsigned> lpt = linuxbk::LptNumberFromName(portName)) {
        return linuxbk::ParallelNodePath(devRoot, *lpt);
    }
    return portName;
}

std::optional<std::string> DeviceNodeOfUsbPrinter(const std::string& interfacePath,
                                                  const std::string& devRoot) {
    const std::optional<unsigned> number = linuxbk::UsbPrinterNumberFromPath(interfacePath);
    if (!number.has_value()) {
        return std::nullopt;
    }
    return linuxbk::UsbPrinterNodePath(devRoot, *number);
}

std::string PermissionAdvice(const std::string& node, const std::optional<UsbModel>& model) {
    const NodeAccess access = AccessOf(node);
    const std::string user = UserName();
    std::string advice;
    if (!access.group.empty()) {
        advice += "  " + node + " belongs to group " + access.group + " (" + access.mode + ").\n";
    }
    const std::string joinGroup = GroupAdvice(access, user);
    advice += joinGroup;
    const bool bFirst = joinGroup.empty();
    const std::string group = access.group.empty() || access.gid == 0 ? "lp" : access.group;
    const std::optional<std::string> match = UdevMatch(node, model);
    if (!match.has_value()) {
        return advice + (bFirst ? "  Let" : "  Or let") + " group " + group +
               " use it (until the device comes again):\n" + "      sudo chgrp " + group + " " +
               node + " && sudo chmod g+rw " + node + "\n";
    }
    advice += bFirst ? "  Give" : "  Or give";
    advice += " the device a udev rule, in /etc/udev/rules.d/60-printers.rules:\n";
    advice += "      " + *match + ", GROUP=\"" + group + "\", MODE=\"0660\"\n";
    advice += "    then: sudo udevadm control --reload && sudo udevadm trigger";
    advice += model.has_value() ? ", and plug the printer in again.\n" : ".\n";
    return advice;
}

std::string MissingPortAdvice(const std::string& portName, const std::string& node) {
    if (linuxbk::LptNumberFromName(portName).has_value()) {
        return "  " + portName + " is " + node +
               ": is there a parallel port, and is its driver loaded? (sudo modprobe ppdev)\n";
    }
    return "  There is no device " + node + ".\n";
}

std::string MissingUsbPrinterAdvice() {
    return "  Is the printer plugged in and switched on, and is the usblp driver loaded?"
           " (sudo modprobe usblp; lsusb shows the printer's VENDOR:PRODUCT)\n";
}

}  // namespace zelp::cli
