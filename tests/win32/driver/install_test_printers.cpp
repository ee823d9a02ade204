// Installs the test printers' driver into the Wine prefix it runs in, or
// removes it again:
//
//   install_test_printers install Z:\path\to\zelp_test_printers.sys
//   install_test_printers uninstall
//
// Wine needs no INF: a root device that names the service, the service, and
// Wine's own request to enumerate root devices. Once a root device names the
// service, Wine starts the driver at every wineserver start, so the driver
// lives in a prefix of its own. Every failure says which step failed and why,
// and ends the program with status 1.
//
// Wine runs a kernel driver in a winedevice.exe of the architecture of the
// program that created its service (it marks the service WOW64), and a
// 64-bit driver cannot load into a 32-bit one: the installer is a 64-bit
// program in both Windows builds.
#include <windows.h>
#include <setupapi.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "test_printers.h"

static_assert(sizeof(void*) == 8, "the installer must be a 64-bit program");

namespace {

// Wine's private service control: services.exe asks winedevice to create the
// root devices of the driver, which calls AddDevice and starts the bus.
constexpr DWORD kReenumerateRootDevices = 128;
constexpr int kPrinterCount = ZELP_TEST_DEVICE_COUNT - ZELP_TEST_FIRST_PRINTER;

const GUID kUsbPrintInterface = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

bool Fail(const char* step) {
    std::printf("install_test_printers: %s failed: error %lu\n", step, ::GetLastError());
    return false;
}

class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE handle) : m_handle(handle) {}
    ~ServiceHandle() {
        if (m_handle != nullptr) {
            ::CloseServiceHandle(m_handle);
        }
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    SC_HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    SC_HANDLE m_handle;
};

class DeviceList {
public:
    explicit DeviceList(HDEVINFO set) : m_set(set) {}
    ~DeviceList() {
        if (m_set != INVALID_HANDLE_VALUE) {
            ::SetupDiDestroyDeviceInfoList(m_set);
        }
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    HDEVINFO get() const { return m_set; }
    explicit operator bool() const { return m_set != INVALID_HANDLE_VALUE; }

private:
    HDEVINFO m_set;
};

// The root device goes first: Wine refuses to unload a driver that still
// has running plug-and-play devices, and the loaded file cannot be replaced.
void RemoveRootDevice() {
    DeviceList list(::SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (list && ::SetupDiOpenDeviceInfoA(list.get(), ZELP_TEST_ROOT_DEVICE, nullptr, 0, &device)) {
        ::SetupDiRemoveDevice(list.get(), &device);
    }
}

bool StopService(SC_HANDLE service) {
    SERVICE_STATUS status{};
    if (!::QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED) {
        return true;
    }
    ::ControlService(service, SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 500 && status.dwCurrentState != SERVICE_STOPPED; ++i) {
        ::Sleep(20);
        ::QueryServiceStatus(service, &status);
    }
    return status.dwCurrentState == SERVICE_STOPPED || Fail("stopping the running driver");
}

bool RemoveDriver(bool deleteService) {
    RemoveRootDevice();
    ServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        return Fail("OpenSCManagerA");
    }
    ServiceHandle service(::OpenServiceA(manager.get(), ZELP_TEST_SERVICE, SERVICE_ALL_ACCESS));
    if (!service) {
        return true;
    }
    if (!StopService(service.get())) {
        return false;
    }
    return !deleteService || ::DeleteService(service.get()) || Fail("DeleteService");
}

bool CopyDriver(const char* source, std::string& target) {
    char windows[MAX_PATH] = {};
    ::GetWindowsDirectoryA(windows, MAX_PATH);
    target = std::string(windows) + "\\system32\\drivers\\" ZELP_TEST_DRIVER_FILE;
    return ::CopyFileA(source, target.c_str(), FALSE) ||
           Fail(("copying the driver to " + target).c_str());
}

bool CreateRootDevice() {
    DeviceList list(::SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    static const char kHardwareIds[] = ZELP_TEST_ROOT_HARDWARE_ID "\0";
    static const char kService[] = ZELP_TEST_SERVICE;
    const GUID noClass{};
    if (!list || !::SetupDiCreateDeviceInfoA(list.get(), ZELP_TEST_ROOT_DEVICE, &noClass, nullptr,
                                             nullptr, 0, &device)) {
        return Fail("SetupDiCreateDeviceInfoA");
    }
    if (!::SetupDiSetDeviceRegistryPropertyA(list.get(), &device, SPDRP_HARDWAREID,
                                             reinterpret_cast<const BYTE*>(kHardwareIds),
                                             sizeof(kHardwareIds)) ||
        !::SetupDiSetDeviceRegistryPropertyA(list.get(), &device, SPDRP_SERVICE,
                                             reinterpret_cast<const BYTE*>(kService),
                                             sizeof(kService))) {
        return Fail("SetupDiSetDeviceRegistryPropertyA");
    }
    return ::SetupDiCallClassInstaller(DIF_REGISTERDEVICE, list.get(), &device) ||
           Fail("DIF_REGISTERDEVICE");
}

bool StartDriver(const std::string& image) {
    ServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        return Fail("OpenSCManagerA");
    }
    ServiceHandle service(
        ::CreateServiceA(manager.get(), ZELP_TEST_SERVICE, ZELP_TEST_SERVICE, SERVICE_ALL_ACCESS,
                         SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                         image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        return Fail("CreateServiceA");
    }
    if (!::StartServiceA(service.get(), 0, nullptr)) {
        return Fail("StartServiceA (DriverEntry)");
    }
    SERVICE_STATUS status{};
    return ::ControlService(service.get(), kReenumerateRootDevices, &status) ||
           Fail("asking Wine to enumerate the root device");
}

int PresentPrinters() {
    DeviceList list(::SetupDiGetClassDevsA(&kUsbPrintInterface, nullptr, nullptr,
                                           DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof(iface);
    int count = 0;
    while (list && ::SetupDiEnumDeviceInterfaces(list.get(), nullptr, &kUsbPrintInterface,
                                                 static_cast<DWORD>(count), &iface)) {
        ++count;
    }
    return count;
}

// The bus reports its printers on its own thread, after the start returned.
bool WaitForPrinters() {
    for (int i = 0; i < 500; ++i) {
        if (PresentPrinters() == kPrinterCount) {
            return true;
        }
        ::Sleep(20);
    }
    std::printf("install_test_printers: %d of the %d printers appeared within 10 s\n",
                PresentPrinters(), kPrinterCount);
    return false;
}

// What Zadig's INF leaves behind: the device's service is another driver's.
// (Its first start has passed, so Wine never looks for that service.)
bool GiveTakenPrinterItsService() {
    static const char kInstance[] = ZELP_TEST_TAKEN_DEVICE_ID "\\" ZELP_TEST_TAKEN_SERIAL;
    static const char kService[] = ZELP_TEST_TAKEN_SERVICE;
    DeviceList list(::SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (int i = 0; i < 500 && list; ++i) {
        if (::SetupDiOpenDeviceInfoA(list.get(), kInstance, nullptr, 0, &device)) {
            return ::SetupDiSetDeviceRegistryPropertyA(list.get(), &device, SPDRP_SERVICE,
                                                       reinterpret_cast<const BYTE*>(kService),
                                                       sizeof(kService)) ||
                   Fail("naming the taken printer's service");
        }
        ::Sleep(20);
    }
    return Fail("finding the taken printer " ZELP_TEST_TAKEN_DEVICE_ID " within 10 s");
}

bool ControlDeviceOpens() {
    HANDLE control = ::CreateFileA(ZELP_TEST_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    if (control == INVALID_HANDLE_VALUE) {
        return Fail("opening " ZELP_TEST_CONTROL_PATH);
    }
    ::CloseHandle(control);
    return true;
}

bool Install(const char* driverFile) {
    std::string image;
    return RemoveDriver(true) && CopyDriver(driverFile, image) && CreateRootDevice() &&
           StartDriver(image) && WaitForPrinters() && GiveTakenPrinterItsService() &&
           ControlDeviceOpens();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    const auto start = std::chrono::steady_clock::now();
    bool done = false;
    if (command == "install" && argc == 3) {
        done = Install(argv[2]);
    } else if (command == "uninstall" && argc == 2) {
        done = RemoveDriver(true);
    } else {
        std::printf("usage: install_test_printers install DRIVER.sys | uninstall\n");
        return 2;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    std::printf("install_test_printers: %s %s (%lld ms)\n", command.c_str(),
                done ? "done" : "FAILED", static_cast<long long>(elapsed.count()));
    return done ? 0 : 1;
}
