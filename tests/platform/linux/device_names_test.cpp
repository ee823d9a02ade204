#include "native/platform/linux/device_names.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "native/platform/linux/usb_sysfs.h"

namespace zelp::linuxbk {
namespace {

TEST(DeviceNamesTest, LptNamesInEveryFormMapToTheirNumber) {
    EXPECT_EQ(LptNumberFromName("LPT1"), 1u);
    EXPECT_EQ(LptNumberFromName("lpt9"), 9u);
    EXPECT_EQ(LptNumberFromName("\\\\.\\LPT3"), 3u);
    EXPECT_EQ(LptNumberFromName("\\\\.\\lpt2:"), 2u);
    EXPECT_EQ(LptNumberFromName("LPT4:"), 4u);
    for (const char* other :
         {"LPT0", "LPT10", "LPT", "COM1", "LPT1x", "/dev/lp0", "", "\\\\?\\LPT1", "xLPT1"}) {
        EXPECT_FALSE(LptNumberFromName(other).has_value()) << other;
    }
}

TEST(DeviceNamesTest, NodePathsLieUnderTheDevRoot) {
    EXPECT_EQ(ParallelNodePath("/dev", 1), "/dev/parport0");
    EXPECT_EQ(ParallelNodePath("/tmp/x", 9), "/tmp/x/parport8");
    EXPECT_EQ(UsbPrinterNodePath("/dev", 12), "/dev/usb/lp12");
}

TEST(DeviceNamesTest, InterfacePathCarriesIdsSerialAndNumber) {
    EXPECT_EQ(FormatUsbInterfacePath(0x1234, 0x5678, std::string("000012"), 0),
              "\\\\?\\usb#vid_1234&pid_5678#000012&lp0#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}");
    EXPECT_EQ(FormatUsbInterfacePath(0x4b8, 0xa, std::nullopt, 3),
              "\\\\?\\usb#vid_04b8&pid_000a#&lp3#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}");
    // '#' would end the field early and control characters have no place in a path.
    EXPECT_EQ(SerialFieldText(std::string("A#B\x01\x7f"
                                          "C",
                                          6)),
              "A_B__C");
}

// The port logic reads the field after the key up to the next '#', at most
// six characters, by its numeric value.
long FieldValue(const std::string& path) {
    const size_t key = path.find("vid_");
    const size_t start = path.find('#', key) + 1;
    const std::string field =
        path.substr(start, std::min<size_t>(6, path.find('#', start) - start));
    return std::atol(field.c_str());
}

TEST(DeviceNamesTest, FieldKeepsTheSerialsNumericValue) {
    EXPECT_EQ(FieldValue(FormatUsbInterfacePath(1, 2, std::string("12"), 7)), 12);
    EXPECT_EQ(FieldValue(FormatUsbInterfacePath(1, 2, std::string("000012"), 7)), 12);
    EXPECT_EQ(FieldValue(FormatUsbInterfacePath(1, 2, std::nullopt, 7)), 0);
    EXPECT_EQ(FieldValue(FormatUsbInterfacePath(1, 2, std::string("X1"), 7)), 0);
}

TEST(DeviceNamesTest, PrinterNumberReadsBackFromInterfacePaths) {
    EXPECT_EQ(UsbPrinterNumberFromPath(FormatUsbInterfacePath(1, 2, std::string("9"), 0)), 0u);
    EXPECT_EQ(UsbPrinterNumberFromPath(FormatUsbInterfacePath(1, 2, std::nullopt, 15)), 15u);
    // A serial string that itself holds "&lp" does not fool the reading.
    EXPECT_EQ(UsbPrinterNumberFromPath(FormatUsbInterfacePath(1, 2, std::string("&lp7"), 4)), 4u);
    // Paths compare without regard to case, as Windows paths do.
    EXPECT_EQ(UsbPrinterNumberFromPath(
                  "\\\\?\\USB#VID_1234&PID_5678#1&LP2#{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}"),
              2u);
    for (const char* other :
         {"LPT1", "\\\\?\\usb#vid_1234&pid_5678#1&lp#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}",
          "\\\\?\\usb#vid_1234&pid_5678#1&lpx#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}",
          "\\\\?\\usb#vid_1234&pid_5678#1&lp1#{00000000-5a12-11d1-ae5b-0000f803a8c2}",
          "\\\\?\\hid#vid_1234&pid_5678#1&lp1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}",
          "\\\\?\\usb#vid_1234&lp1&pid_5678#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}"}) {
        EXPECT_FALSE(UsbPrinterNumberFromPath(other).has_value()) << other;
    }
}

TEST(DeviceNamesTest, OnlyLpEntriesAreUsbPrinters) {
    EXPECT_EQ(UsbPrinterNumberFromEntry("lp0"), 0u);
    EXPECT_EQ(UsbPrinterNumberFromEntry("lp15"), 15u);
    for (const char* other : {"hiddev0", "lp", "lpx", "lp1a", "xlp1", "lp12345678"}) {
        EXPECT_FALSE(UsbPrinterNumberFromEntry(other).has_value()) << other;
    }
}

}  // namespace
}  // namespace zelp::linuxbk
