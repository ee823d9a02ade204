// The tests' side of the test printers' driver: scripts, the request log,
// unplug and replug, and where SetupAPI sees the printers.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "test_printers.h"

namespace zelp::test {

inline constexpr const char* kNoDriverHint =
    "cannot open " ZELP_TEST_CONTROL_PATH
    ": the test printers' driver is not installed; run the suite through ctest, whose "
    "test_printers_start fixture installs it";

class TestPrinters {
public:
    TestPrinters()
        : m_hControl(::CreateFileA(ZELP_TEST_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr)) {}
    ~TestPrinters() {
        if (IsOpen()) {
            ::CloseHandle(m_hControl);
        }
    }
    TestPrinters(const TestPrinters&) = delete;
    TestPrinters& operator=(const TestPrinters&) = delete;

    bool IsOpen() const { return m_hControl != INVALID_HANDLE_VALUE; }

    // Default scripts, an empty log, and every printer plugged in and present.
    bool Reset() {
        return Control(IOCTL_ZELP_TEST_RESET, nullptr, 0, nullptr, 0) &&
               WaitUntil([this] { return PresentPaths().size() == kPrinterCount; });
    }

    // Changes one device's script, starting from what it is now.
    bool Script(ULONG device, const std::function<void(zelp_test_script&)>& change) {
        zelp_test_script script{};
        if (!Control(IOCTL_ZELP_TEST_GET_SCRIPT, &device, sizeof(device), &script,
                     sizeof(script))) {
            return false;
        }
        change(script);
        return Control(IOCTL_ZELP_TEST_SCRIPT, &script, sizeof(script), nullptr, 0);
    }

    // Every request since the last reset, in the order the devices saw them.
    std::vector<zelp_test_request> Log() {
        auto log = std::make_unique<zelp_test_log>();
        if (!Control(IOCTL_ZELP_TEST_LOG, nullptr, 0, log.get(), sizeof(*log))) {
            return {};
        }
        return {log->entries, log->entries + log->count};
    }

    // Those of one device, one line each, as Describe() writes them.
    std::vector<std::string> Requests(ULONG device) {
        std::vector<std::string> lines;
        for (const zelp_test_request& entry : Log()) {
            if (entry.device == device) {
                lines.push_back(Describe(entry));
            }
        }
        return lines;
    }

    bool Unplug(ULONG printer) { return Plug(printer, false); }
    bool Replug(ULONG printer) { return Plug(printer, true); }

    // The device paths of the present USB printer interfaces, as SetupAPI
    // gives them.
    static std::vector<std::string> PresentPaths();

    static bool WaitUntil(const std::function<bool()>& condition) {
        for (int i = 0; i < 500; ++i) {
            if (condition()) {
                return true;
            }
            ::Sleep(10);
        }
        return condition();
    }

    static std::string Describe(const zelp_test_request& entry);

    static constexpr size_t kPrinterCount = ZELP_TEST_DEVICE_COUNT - ZELP_TEST_FIRST_PRINTER;

private:
    bool Control(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize) {
        DWORD returned = 0;
        return IsOpen() && ::DeviceIoControl(m_hControl, code, in, inSize, out, outSize, &returned,
                                             nullptr) != FALSE;
    }

    // Returns once SetupAPI sees the printer come or go.
    bool Plug(ULONG printer, bool present) {
        const size_t expected = kPrinterCount - (present ? 0 : 1);
        return Control(present ? IOCTL_ZELP_TEST_PLUG : IOCTL_ZELP_TEST_UNPLUG, &printer,
                       sizeof(printer), nullptr, 0) &&
               WaitUntil([&] { return PresentPaths().size() == expected; });
    }

    HANDLE m_hControl;
};

inline std::vector<std::string> TestPrinters::PresentPaths() {
    static const GUID kUsbPrint = {
        0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};
    std::vector<std::string> paths;
    HDEVINFO set =
        ::SetupDiGetClassDevsA(&kUsbPrint, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return paths;
    }
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof(iface);
    for (DWORD i = 0; ::SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbPrint, i, &iface); ++i) {
        union {
            SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
            char room[1024];
        } buffer{};
        buffer.detail.cbSize = sizeof(buffer.detail);
        if (::SetupDiGetDeviceInterfaceDetailA(set, &iface, &buffer.detail, sizeof(buffer), nullptr,
                                               nullptr)) {
            paths.emplace_back(buffer.detail.DevicePath);
        }
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return paths;
}

inline std::string TestPrinters::Describe(const zelp_test_request& entry) {
    // IRP_MJ_* and the IOCTL codes of the parallel port.
    constexpr ULONG kCreate = 0x00, kClose = 0x02, kRead = 0x03, kWrite = 0x04, kControl = 0x0e,
                    kCleanup = 0x12;
    char line[96] = {};
    const char* event = entry.event == ZELP_TEST_CANCELLED   ? "cancelled "
                        : entry.event == ZELP_TEST_COMPLETED ? "completed "
                                                             : "";
    switch (entry.major) {
        case kCreate:
            std::snprintf(line, sizeof(line), "open");
            break;
        case kClose:
            std::snprintf(line, sizeof(line), "close");
            break;
        case kCleanup:
            std::snprintf(line, sizeof(line), "cleanup");
            break;
        case kRead:
        case kWrite:
            std::snprintf(line, sizeof(line), "%s%s %lu", event,
                          entry.major == kRead ? "read" : "write", entry.length);
            break;
        case kControl:
            if (entry.code == 0x00160018u) {
                std::snprintf(line, sizeof(line), "negotiate %04lx/%04lx", entry.masks >> 16,
                              entry.masks & 0xffff);
            } else {
                std::snprintf(line, sizeof(line), "%s",
                              entry.code == 0x00160004u                      ? "query status"
                              : entry.code == 0x00160028u                    ? "default modes"
                              : entry.code == ZELP_IOCTL_SERIAL_SET_TIMEOUTS ? "set timeouts"
                                                                             : "other request");
            }
            break;
        default:
            std::snprintf(line, sizeof(line), "pnp %lu", entry.code);
            break;
    }
    return line;
}

}  // namespace zelp::test
