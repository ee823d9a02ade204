#include "fake_sysfs.h"

#include <fstream>

namespace zelp::testsupport {

namespace fs = std::filesystem;

namespace {

void WriteAttribute(const fs::path& file, const char* text) {
    std::ofstream(file) << text << '\n';
}

}  // namespace

void AddFakeUsbPrinter(const fs::path& root, unsigned number, const char* vendorHex,
                       const char* productHex, const char* serial, const std::string& node) {
    const std::string lp = "lp" + std::to_string(number);
    const std::string port = "1-" + std::to_string(number + 1);
    const std::string interface = port + ":1.0";
    const fs::path usbDevice = root / "sys/devices/usb1" / port;
    const fs::path classNode = usbDevice / interface / "usbmisc" / lp;
    fs::create_directories(classNode);
    fs::create_directories(root / "sys/class/usbmisc");
    fs::create_directories(root / "dev/usb");
    WriteAttribute(usbDevice / "idVendor", vendorHex);
    WriteAttribute(usbDevice / "idProduct", productHex);
    if (serial != nullptr) {
        WriteAttribute(usbDevice / "serial", serial);
    }
    // The link texts the kernel writes: both relative, `device` by the
    // interface's name.
    fs::create_directory_symlink("../../../" + interface, classNode / "device");
    fs::create_directory_symlink("../../devices/usb1/" + port + "/" + interface + "/usbmisc/" + lp,
                                 root / "sys/class/usbmisc" / lp);
    fs::create_symlink(node, root / "dev/usb" / lp);
}

}  // namespace zelp::testsupport
