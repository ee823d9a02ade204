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
    const fs::path usbDevice = root / "sys/devices/usb1" / ("1-" + std::to_string(number + 1));
    const fs::path classNode = usbDevice / "1-1:1.0" / "usbmisc" / lp;
    fs::create_directories(classNode);
    fs::create_directories(root / "sys/class/usbmisc");
    fs::create_directories(root / "dev/usb");
    WriteAttribute(usbDevice / "idVendor", vendorHex);
    WriteAttribute(usbDevice / "idProduct", productHex);
    if (serial != nullptr) {
        WriteAttribute(usbDevice / "serial", serial);
    }
    fs::create_directory_symlink("../..", classNode / "device");
    fs::create_directory_symlink(classNode, root / "sys/class/usbmisc" / lp);
    fs::create_symlink(node, root / "dev/usb" / lp);
}

}  // namespace zelp::testsupport
