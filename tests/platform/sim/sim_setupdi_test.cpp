// The enumeration of USB printer interfaces: snapshots, record checks, the
// two-call sizing of the detail, and injected faults.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "sim_test_support.h"

namespace zelp::sim {
namespace {

using testing::Open;

constexpr DWORD kFlags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;

HDEVINFO UsbPrinters(SimPlatform& sim) {
    return sim.SetupDiGetClassDevsA(&kGuidDevinterfaceUsbPrint, nullptr, nullptr, kFlags);
}

SP_DEVICE_INTERFACE_DATA InterfaceRecord() {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    return data;
}

// The device path of a member, by the two detail calls; "" when a call fails.
std::string PathOf(SimPlatform& sim, HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data) {
    DWORD required = 0;
    if (sim.SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr) ||
        sim.GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return "";
    }
    std::vector<char> buffer(required);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!sim.SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr)) {
        return "";
    }
    return detail->DevicePath;
}

std::vector<std::string> ListPaths(SimPlatform& sim) {
    std::vector<std::string> paths;
    HDEVINFO set = UsbPrinters(sim);
    SP_DEVICE_INTERFACE_DATA data = InterfaceRecord();
    for (DWORD i = 0;
         sim.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevinterfaceUsbPrint, i, &data); ++i) {
        paths.push_back(PathOf(sim, set, data));
    }
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_NO_MORE_ITEMS});
    sim.SetupDiDestroyDeviceInfoList(set);
    return paths;
}

TEST(SimSetupDi, ASetIsASnapshotOfThePresentPrintersInTheOrderAdded) {
    SimPlatform sim;
    const std::string longPath = "\\\\?\\usb#vid_1234&pid_5678#" + std::string(3000, 'L');
    sim.AddUsbPrinter("\\\\?\\USB#VID_1234&PID_5678#000042#{28d78fad}");
    sim.AddParallelPort("LPT1");  // not a USB printer interface
    sim.AddUsbPrinter("no-hash-at-all");
    sim.AddUsbPrinter(longPath);
    EXPECT_EQ(ListPaths(sim),
              (std::vector<std::string>{"\\\\?\\USB#VID_1234&PID_5678#000042#{28d78fad}",
                                        "no-hash-at-all", longPath}));

    HDEVINFO before = UsbPrinters(sim);
    sim.Unplug("no-hash-at-all");
    EXPECT_EQ(ListPaths(sim).size(), 2u);
    SP_DEVICE_INTERFACE_DATA data = InterfaceRecord();
    EXPECT_TRUE(
        sim.SetupDiEnumDeviceInterfaces(before, nullptr, &kGuidDevinterfaceUsbPrint, 2, &data));
    EXPECT_EQ(sim.OpenDeviceInfoSetCount(), 1u);
    EXPECT_TRUE(sim.SetupDiDestroyDeviceInfoList(before));
    EXPECT_FALSE(sim.SetupDiDestroyDeviceInfoList(before));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_INVALID_HANDLE});
    EXPECT_EQ(sim.OpenDeviceInfoSetCount(), 0u);
}

TEST(SimSetupDi, RecordsOfTheWrongSizeAreRefused) {
    SimPlatform sim;
    sim.AddUsbPrinter("\\\\?\\usb#vid_1234&pid_5678#000001#{28d78fad}");
    HDEVINFO set = UsbPrinters(sim);
    SP_DEVICE_INTERFACE_DATA data = InterfaceRecord();
    data.cbSize = sizeof(data) + 4;
    EXPECT_FALSE(
        sim.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevinterfaceUsbPrint, 0, &data));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_INVALID_USER_BUFFER});
    data = InterfaceRecord();
    ASSERT_TRUE(
        sim.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevinterfaceUsbPrint, 0, &data));

    std::vector<char> buffer(512);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) + 1;
    EXPECT_FALSE(sim.SetupDiGetDeviceInterfaceDetailA(set, &data, detail, 512, nullptr, nullptr));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_INVALID_USER_BUFFER});

    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device) - 4;
    EXPECT_FALSE(sim.SetupDiGetDeviceInterfaceDetailA(set, &data, detail, 512, nullptr, &device));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_INVALID_USER_BUFFER});
    device.cbSize = sizeof(device);
    EXPECT_TRUE(sim.SetupDiGetDeviceInterfaceDetailA(set, &data, detail, 512, nullptr, &device));
    EXPECT_STREQ(detail->DevicePath, "\\\\?\\usb#vid_1234&pid_5678#000001#{28d78fad}");
    sim.SetupDiDestroyDeviceInfoList(set);
}

TEST(SimSetupDi, TheDetailIsSizedByAFirstCallAndATooSmallBufferFails) {
    SimPlatform sim;
    const std::string path = "\\\\?\\usb#vid_1234&pid_5678#000001#{28d78fad}";
    sim.AddUsbPrinter(path);
    HDEVINFO set = UsbPrinters(sim);
    SP_DEVICE_INTERFACE_DATA data = InterfaceRecord();
    ASSERT_TRUE(
        sim.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevinterfaceUsbPrint, 0, &data));
    DWORD required = 0;
    EXPECT_FALSE(sim.SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
    EXPECT_EQ(required, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);

    std::vector<char> buffer(required);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    EXPECT_FALSE(
        sim.SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required - 1, nullptr, nullptr));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
    EXPECT_TRUE(
        sim.SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(std::string(detail->DevicePath), path);
    sim.SetupDiDestroyDeviceInfoList(set);
}

TEST(SimSetupDi, InjectedFaultsFailTheChosenCalls) {
    SimPlatform sim;
    for (const char* serial : {"000001", "000002", "000003"}) {
        sim.AddUsbPrinter(std::string("\\\\?\\usb#vid_1234&pid_5678#") + serial + "#{28d78fad}");
    }
    sim.FailCall("SetupDiGetClassDevsA", ERROR_GEN_FAILURE);
    EXPECT_EQ(UsbPrinters(sim), INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_GEN_FAILURE});
    EXPECT_EQ(sim.OpenDeviceInfoSetCount(), 0u);

    sim.FailEnumAt(1, ERROR_GEN_FAILURE);
    sim.FailCall("SetupDiGetDeviceInterfaceDetailA", ERROR_NOT_ENOUGH_MEMORY, 2);
    HDEVINFO set = UsbPrinters(sim);
    SP_DEVICE_INTERFACE_DATA data = InterfaceRecord();
    ASSERT_TRUE(
        sim.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevinterfaceUsbPrint, 0, &data));
    EXPECT_NE(PathOf(sim, set, data), "");  // the first call with a buffer passes
    EXPECT_FALSE(
        sim.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevinterfaceUsbPrint, 1, &data));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_GEN_FAILURE});
    ASSERT_TRUE(
        sim.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevinterfaceUsbPrint, 2, &data));
    EXPECT_EQ(PathOf(sim, set, data), "");  // the second one fails
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_NOT_ENOUGH_MEMORY});
    sim.SetupDiDestroyDeviceInfoList(set);
}

TEST(SimSetupDi, AUsbPathOpensLikeAnyDevice) {
    SimPlatform sim;
    const char* path = "\\\\?\\usb#vid_1234&pid_5678#000001#{28d78fad}";
    sim.AddUsbPrinter(path);
    HANDLE printer = Open(sim, path);
    ASSERT_NE(printer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(sim, path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
    DWORD returned = 0;
    BYTE status = 0;
    EXPECT_FALSE(sim.DeviceIoControl(printer, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, &status, 1,
                                     &returned, nullptr));
    EXPECT_EQ(sim.GetLastError(), DWORD{ERROR_NOT_SUPPORTED});
    sim.CloseHandle(printer);
}

}  // namespace
}  // namespace zelp::sim
