#include "cli/win32_devices.h"

// clang-format off: windows.h first, the rest build on it.
#include <windows.h>
#include <cfgmgr32.h>
#include <initguid.h>
#include <setupapi.h>
#include <winioctl.h>
#include <usbprint.h>
// clang-format on

#include <algorithm>
#include <cctype>
#include <memory>

namespace zelp::cli::win32probe {

namespace {

class DeviceSet {
public:
    explicit DeviceSet(HDEVINFO set) : m_set(set) {}
    ~DeviceSet() {
        if (m_set != INVALID_HANDLE_VALUE) {
            ::SetupDiDestroyDeviceInfoList(m_set);
        }
    }
    DeviceSet(const DeviceSet&) = delete;
    DeviceSet& operator=(const DeviceSet&) = delete;
    HDEVINFO get() const { return m_set; }
    bool Valid() const { return m_set != INVALID_HANDLE_VALUE; }

private:
    HDEVINFO m_set;
};

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string DeviceIdOf(DEVINST device) {
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    return ::CM_Get_Device_IDA(device, id, sizeof id, 0) == CR_SUCCESS ? id : "";
}

// A registry property as text; a list's strings each end in a NUL, the list
// in an empty one.
std::string Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    DWORD needed = 0;
    ::SetupDiGetDeviceRegistryPropertyA(set, &device, property, nullptr, nullptr, 0, &needed);
    if (needed == 0) {
        return "";
    }
    std::string value(needed + 2, '\0');
    if (!::SetupDiGetDeviceRegistryPropertyA(set, &device, property, nullptr,
                                             reinterpret_cast<BYTE*>(value.data()), needed,
                                             nullptr)) {
        return "";
    }
    return value;
}

// Windows names an interface of a composite device USB\VID_...&MI_nn\<made
// up>; the serial number is in its parent's, the USB device's, id.
std::string SerialPart(DEVINST device, const std::string& instanceId) {
    std::string id = instanceId;
    DEVINST parent = 0;
    if (Upper(id).find("&MI_") != std::string::npos &&
        ::CM_Get_Parent(&parent, device, 0) == CR_SUCCESS) {
        id = DeviceIdOf(parent);
    }
    const size_t slash = id.rfind('\\');
    return slash == std::string::npos ? "" : id.substr(slash + 1);
}

UsbDeviceRecord RecordOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
    UsbDeviceRecord record;
    record.instanceId = DeviceIdOf(device.DevInst);
    record.serialId = SerialPart(device.DevInst, record.instanceId);
    record.service = Property(set, device, SPDRP_SERVICE).c_str();
    return record;
}

bool OffersPrinterClass(HDEVINFO set, SP_DEVINFO_DATA& device) {
    const std::string ids = Property(set, device, SPDRP_COMPATIBLEIDS);
    for (size_t at = 0; at < ids.size() && ids[at] != '\0';) {
        const std::string id = Upper(ids.c_str() + at);
        if (id == "USB\\CLASS_07" || id.rfind("USB\\CLASS_07&", 0) == 0) {
            return true;
        }
        at += id.size() + 1;
    }
    return false;
}

std::string InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& iface, SP_DEVINFO_DATA& device) {
    DWORD needed = 0;
    ::SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return "";
    }
    std::unique_ptr<char[]> room(new char[needed]);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(room.get());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!::SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, needed, nullptr, &device)) {
        return "";
    }
    return detail->DevicePath;
}

}  // namespace

std::vector<UsbDeviceRecord> UsbPrintingDevices() {
    std::vector<UsbDeviceRecord> records;
    DeviceSet set(::SetupDiGetClassDevsA(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof(iface);
    for (DWORD i = 0;
         set.Valid() &&
         ::SetupDiEnumDeviceInterfaces(set.get(), nullptr, &GUID_DEVINTERFACE_USBPRINT, i, &iface);
         ++i) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        const std::string path = InterfacePath(set.get(), iface, device);
        if (!path.empty()) {
            UsbDeviceRecord record = RecordOf(set.get(), device);
            record.interfacePath = path;
            records.push_back(record);
        }
    }
    return records;
}

std::vector<UsbDeviceRecord> PrinterClassDevices() {
    std::vector<UsbDeviceRecord> records;
    DeviceSet set(
        ::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD i = 0; set.Valid() && ::SetupDiEnumDeviceInfo(set.get(), i, &device); ++i) {
        if (OffersPrinterClass(set.get(), device)) {
            records.push_back(RecordOf(set.get(), device));
        }
    }
    return records;
}

}  // namespace zelp::cli::win32probe
