#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "test_support.h"

namespace zelp::linuxbk {
namespace {

using namespace testing;
namespace fs = std::filesystem;

constexpr char kGuidSuffix[] = "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

// Lays out sysfs as the kernel does for a usblp printer:
//   class/usbmisc/lpN -> ../../devices/.../1-N/1-N:1.0/usbmisc/lpN
//   .../usbmisc/lpN/device -> ../../../1-N:1.0 (the interface)
//   .../1-N/{idVendor,idProduct,serial} (the USB device)
// and /dev/usb/lpN as a link to whatever stands in for the node.
class FakeUsbTree {
public:
    explicit FakeUsbTree(const TempDir& tmp) : m_sys(tmp / "sys"), m_dev(tmp / "dev") {
        fs::create_directories(m_sys + "/class/usbmisc");
        fs::create_directories(m_dev + "/usb");
    }

    const std::string& Sys() const { return m_sys; }
    const std::string& Dev() const { return m_dev; }

    void AddPrinter(unsigned n, const std::string& vid, const std::string& pid,
                    const std::optional<std::string>& serial, const std::string& node = "") {
        const std::string port = "1-" + std::to_string(n + 1);
        const std::string device = m_sys + "/devices/pci0000:00/0000:00:14.0/usb1/" + port;
        const std::string interface = device + "/" + port + ":1.0";
        const std::string entry = interface + "/usbmisc/lp" + std::to_string(n);
        fs::create_directories(entry);
        fs::create_directory_symlink("../../../" + port + ":1.0", entry + "/device");
        fs::create_directory_symlink("../../devices/pci0000:00/0000:00:14.0/usb1/" + port + "/" +
                                         port + ":1.0/usbmisc/lp" + std::to_string(n),
                                     m_sys + "/class/usbmisc/lp" + std::to_string(n));
        Attribute(device + "/idVendor", vid);
        Attribute(device + "/idProduct", pid);
        if (serial) {
            Attribute(device + "/serial", *serial);
        }
        if (!node.empty()) {
            fs::create_symlink(node, m_dev + "/usb/lp" + std::to_string(n));
        }
    }

    // Another usbmisc device that is no printer.
    void AddOther(const std::string& name) {
        fs::create_directories(m_sys + "/devices/other/" + name);
        fs::create_directory_symlink("../../devices/other/" + name,
                                     m_sys + "/class/usbmisc/" + name);
    }

    void RemovePrinter(unsigned n) { fs::remove(m_sys + "/class/usbmisc/lp" + std::to_string(n)); }

    static void Attribute(const std::string& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text << "\n";
    }

private:
    std::string m_sys;
    std::string m_dev;
};

class LinuxUsbEnumerationTest : public ::testing::Test {
protected:
    HDEVINFO TakeSnapshot() {
        return m_os.SetupDiGetClassDevsA(&kGuidDevinterfaceUsbPrint, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    }

    std::vector<std::string> PathsOf(HDEVINFO set) { return InterfacePathsOf(m_os, set); }

    TempDir m_tmp;
    FakeUsbTree m_tree{m_tmp};
    LinuxPlatform m_os{m_tree.Sys(), m_tree.Dev()};
};

TEST_F(LinuxUsbEnumerationTest, ListsUsbPrintersByNumberWithUniquePaths) {
    m_tree.AddPrinter(10, "04b8", "0202", std::string("X#Y"));
    m_tree.AddPrinter(2, "1234", "5678", std::nullopt);
    m_tree.AddPrinter(0, "1234", "5678", std::string("000012"));
    m_tree.AddPrinter(3, "1234", "5678", std::string("000012"));
    m_tree.AddOther("hiddev0");

    HDEVINFO set = TakeSnapshot();
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    const std::string prefix = "\\\\?\\usb#";
    EXPECT_EQ(PathsOf(set), (std::vector<std::string>{
                                prefix + "vid_1234&pid_5678#000012&lp0" + kGuidSuffix,
                                prefix + "vid_1234&pid_5678#&lp2" + kGuidSuffix,
                                prefix + "vid_1234&pid_5678#000012&lp3" + kGuidSuffix,
                                prefix + "vid_04b8&pid_0202#X_Y&lp10" + kGuidSuffix,
                            }));
    EXPECT_TRUE(m_os.SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(m_os.OpenHandleCount(), 0u);
}

TEST_F(LinuxUsbEnumerationTest, RecordsOfTheWrongSizeAreRefused) {
    m_tree.AddPrinter(0, "1234", "5678", std::string("1"));
    HDEVINFO set = TakeSnapshot();
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data + 4;
    EXPECT_FALSE(
        m_os.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevinterfaceUsbPrint, 0, &data));
    EXPECT_EQ(m_os.GetLastError(), ERROR_INVALID_USER_BUFFER);

    data.cbSize = sizeof data;
    ASSERT_TRUE(
        m_os.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevinterfaceUsbPrint, 0, &data));
    alignas(SP_DEVICE_INTERFACE_DETAIL_DATA_A) char buffer[512] = {};
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
    detail->cbSize = 5 + 100;
    EXPECT_FALSE(
        m_os.SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof buffer, nullptr, nullptr));
    EXPECT_EQ(m_os.GetLastError(), ERROR_INVALID_USER_BUFFER);

    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device - 1;
    EXPECT_FALSE(
        m_os.SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof buffer, nullptr, &device));
    EXPECT_EQ(m_os.GetLastError(), ERROR_INVALID_USER_BUFFER);
    m_os.SetupDiDestroyDeviceInfoList(set);
}

TEST_F(LinuxUsbEnumerationTest, DetailCallsAskForExactlyThePathsSize) {
    m_tree.AddPrinter(0, "1234", "5678", std::string("42"));
    HDEVINFO set = TakeSnapshot();
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(
        m_os.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevinterfaceUsbPrint, 0, &data));
    const std::string path = std::string("\\\\?\\usb#vid_1234&pid_5678#42&lp0") + kGuidSuffix;

    DWORD required = 0;
    EXPECT_FALSE(m_os.SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(m_os.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);

    std::vector<char> buffer(required, 'x');
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    EXPECT_FALSE(
        m_os.SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required - 1, nullptr, nullptr));
    EXPECT_EQ(m_os.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(buffer.back(), 'x') << "a refused call writes no path";

    ASSERT_TRUE(
        m_os.SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(std::string(buffer.data() + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath)),
              path);

    data.cbSize = sizeof data;
    EXPECT_FALSE(
        m_os.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevinterfaceUsbPrint, 1, &data));
    EXPECT_EQ(m_os.GetLastError(), ERROR_NO_MORE_ITEMS);
    m_os.SetupDiDestroyDeviceInfoList(set);
}

TEST_F(LinuxUsbEnumerationTest, SetIsASnapshotAndOnlyForTheUsbPrinterClass) {
    m_tree.AddPrinter(0, "1234", "5678", std::string("1"));
    m_tree.AddPrinter(1, "1234", "5678", std::string("2"));
    HDEVINFO before = TakeSnapshot();
    m_tree.RemovePrinter(0);
    HDEVINFO after = TakeSnapshot();
    EXPECT_EQ(PathsOf(before).size(), 2u);
    EXPECT_EQ(PathsOf(after).size(), 1u);

    const GUID other = {
        0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    HDEVINFO foreign =
        m_os.SetupDiGetClassDevsA(&other, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(foreign, INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    EXPECT_FALSE(m_os.SetupDiEnumDeviceInterfaces(foreign, nullptr, &other, 0, &data));
    EXPECT_EQ(m_os.GetLastError(), ERROR_NO_MORE_ITEMS);

    // Sets end only through their own call.
    EXPECT_FALSE(m_os.CloseHandle(before));
    for (HDEVINFO set : {before, after, foreign}) {
        EXPECT_TRUE(m_os.SetupDiDestroyDeviceInfoList(set));
    }
    EXPECT_FALSE(m_os.SetupDiDestroyDeviceInfoList(before));
    EXPECT_EQ(m_os.OpenHandleCount(), 0u);
}

TEST_F(LinuxUsbEnumerationTest, NoSysfsTreeMeansNoPrinters) {
    LinuxPlatform bare("/nonexistent-sysfs", "/nonexistent-dev");
    HDEVINFO set = bare.SetupDiGetClassDevsA(&kGuidDevinterfaceUsbPrint, nullptr, nullptr,
                                             DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    EXPECT_FALSE(
        bare.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevinterfaceUsbPrint, 0, &data));
    EXPECT_EQ(bare.GetLastError(), ERROR_NO_MORE_ITEMS);
    bare.SetupDiDestroyDeviceInfoList(set);
}

TEST_F(LinuxUsbEnumerationTest, InterfacePathOpensThePrintersNode) {
    Pty pty;
    m_tree.AddPrinter(0, "1234", "5678", std::string("000777"), pty.SlavePath());
    HDEVINFO set = TakeSnapshot();
    const std::vector<std::string> paths = PathsOf(set);
    m_os.SetupDiDestroyDeviceInfoList(set);
    ASSERT_EQ(paths.size(), 1u);

    HANDLE device = OpenDevice(m_os, paths[0]);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenDevice(m_os, paths[0]), INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_os.GetLastError(), ERROR_SHARING_VIOLATION);

    Overlapped write(m_os);
    DWORD n = 0;
    ASSERT_TRUE(m_os.WriteFile(device, "\x1b@job", 5, &n, &write));
    EXPECT_EQ(pty.Read(5), std::vector<uint8_t>({0x1b, '@', 'j', 'o', 'b'}));

    Overlapped read(m_os);
    char reply[32];
    ASSERT_FALSE(m_os.ReadFile(device, reply, sizeof reply, &n, &read));
    pty.Write("7aID\r");
    ASSERT_EQ(m_os.WaitForSingleObject(read.Event(), 10000), WAIT_OBJECT_0);
    ASSERT_TRUE(m_os.GetOverlappedResult(device, &read, &n, FALSE));
    EXPECT_EQ(std::string(reply, n), "7aID\r");
    m_os.CloseHandle(device);
}

TEST_F(LinuxUsbEnumerationTest, StaleOrUnknownInterfacePathsDoNotOpen) {
    Pty pty;
    m_tree.AddPrinter(0, "1234", "5678", std::string("000777"), pty.SlavePath());
    const std::string path = std::string("\\\\?\\usb#vid_1234&pid_5678#000777&lp0") + kGuidSuffix;
    HANDLE device = OpenDevice(m_os, path);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    m_os.CloseHandle(device);

    // Another printer now has number 0: the old path no longer names it.
    FakeUsbTree::Attribute(m_tree.Sys() + "/devices/pci0000:00/0000:00:14.0/usb1/1-1/serial",
                           "000778");
    EXPECT_EQ(OpenDevice(m_os, path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_os.GetLastError(), ERROR_FILE_NOT_FOUND);

    const std::string absent = std::string("\\\\?\\usb#vid_1234&pid_5678#1&lp5") + kGuidSuffix;
    EXPECT_EQ(OpenDevice(m_os, absent), INVALID_HANDLE_VALUE);
    EXPECT_EQ(m_os.GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace zelp::linuxbk
