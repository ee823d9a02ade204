#include "native/platform/linux/usb_sysfs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace zelp::linuxbk {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxNumberDigits = 6;

fs::path ClassDir(const std::string& sysfsRoot) {
    return fs::path(sysfsRoot) / "class" / "usbmisc";
}

// A sysfs attribute's text, without the line feed the kernel ends it with.
// Plain open and read, relative to the device's folder: the device list reads
// three attributes of every printer present, and a stream costs twice the
// system calls, a full path three walks through the class link.
std::optional<std::string> ReadAttribute(int folder, const char* name) {
    const int fd = ::openat(folder, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text;
    char chunk[256];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR)) {
        text.append(chunk, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    }
    ::close(fd);
    if (n < 0) {
        return std::nullopt;
    }
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

// idVendor and idProduct read as four hexadecimal digits.
std::optional<uint16_t> ReadHexId(int folder, const char* name) {
    const std::optional<std::string> text = ReadAttribute(folder, name);
    if (!text || text->empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text->c_str(), &end, 16);
    if (*end != '\0' || value > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

std::optional<UsbPrinterNode> ReadPrinter(const fs::path& entry, unsigned number) {
    // The kernel resolves `device` (the interface) before it takes "..", so
    // this names the USB device without resolving a canonical path first.
    const std::string usbDevice = (entry / "device" / "..").string();
    const int folder = ::open(usbDevice.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return std::nullopt;
    }
    const std::optional<uint16_t> vendor = ReadHexId(folder, "idVendor");
    const std::optional<uint16_t> product = ReadHexId(folder, "idProduct");
    std::optional<UsbPrinterNode> node;
    if (vendor && product) {
        node.emplace();
        node->number = number;
        node->vendorId = *vendor;
        node->productId = *product;
        node->serial = ReadAttribute(folder, "serial");
    }
    ::close(folder);
    return node;
}

}  // namespace

std::optional<unsigned> UsbPrinterNumberFromEntry(const std::string& name) {
    if (name.size() < 3 || name.size() > 2 + kMaxNumberDigits || name.compare(0, 2, "lp") != 0) {
        return std::nullopt;
    }
    unsigned number = 0;
    for (size_t i = 2; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<unsigned>(name[i] - '0');
    }
    return number;
}

std::vector<UsbPrinterNode> ListUsbPrinters(const std::string& sysfsRoot) {
    std::vector<UsbPrinterNode> printers;
    std::error_code error;
    // Error-code iteration throughout: nothing may throw on a JVM's thread.
    fs::directory_iterator it(ClassDir(sysfsRoot), error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const fs::path& entry = it->path();
        const std::optional<unsigned> number = UsbPrinterNumberFromEntry(entry.filename().string());
        if (!number) {
            continue;
        }
        if (std::optional<UsbPrinterNode> printer = ReadPrinter(entry, *number)) {
            printers.push_back(std::move(*printer));
        }
    }
    std::sort(printers.begin(), printers.end(),
              [](const UsbPrinterNode& a, const UsbPrinterNode& b) { return a.number < b.number; });
    return printers;
}

std::optional<UsbPrinterNode> FindUsbPrinter(const std::string& sysfsRoot, unsigned number) {
    return ReadPrinter(ClassDir(sysfsRoot) / ("lp" + std::to_string(number)), number);
}

}  // namespace zelp::linuxbk
