#include "native/platform/linux/linux_platform.h"

#include <cstring>
#include <utility>

#include "native/platform/linux/device.h"
#include "native/platform/linux/device_control.h"
#include "native/platform/linux/device_info_set.h"
#include "native/platform/linux/device_names.h"
#include "native/platform/linux/device_open.h"
#include "native/platform/linux/usb_sysfs.h"

namespace zelp::linuxbk {

namespace {

BOOL Fail(DWORD error) {
    kobj::SetLastErrorCode(error);
    return FALSE;
}

HANDLE FailHandle(DWORD error) {
    kobj::SetLastErrorCode(error);
    return INVALID_HANDLE_VALUE;
}

// A finished request with a record is reported as an overlapped completion.
void CompleteAtOnce(kobj::HandleTable& handles, LPOVERLAPPED overlapped, DWORD returned) {
    overlapped->Internal = 0;
    overlapped->InternalHigh = returned;
    if (auto event = handles.FindAs<kobj::Event>(overlapped->hEvent)) {
        event->Set();
    }
}

}  // namespace

LinuxPlatform::LinuxPlatform(std::string sysfsRoot, std::string devRoot)
    : m_strSysfsRoot(std::move(sysfsRoot)), m_strDevRoot(std::move(devRoot)) {}

LinuxPlatform::~LinuxPlatform() = default;

// --- Files and devices ----------------------------------------------------------------

LinuxPlatform::NodePath LinuxPlatform::UsbNodePathFor(const std::string& name,
                                                      unsigned printerNumber) const {
    // The path must still name the printer that now has this number: a
    // printer pulled out and another plugged in must not be opened by
    // the old one's path.
    const std::optional<UsbPrinterNode> printer = FindUsbPrinter(m_strSysfsRoot, printerNumber);
    if (!printer ||
        !EqualsIgnoringCase(name, FormatUsbInterfacePath(printer->vendorId, printer->productId,
                                                         printer->serial, printerNumber))) {
        return {"", ERROR_FILE_NOT_FOUND};
    }
    return {UsbPrinterNodePath(m_strDevRoot, printerNumber)};
}

LinuxPlatform::NodePath LinuxPlatform::NodePathFor(const std::string& name) const {
    if (const std::optional<unsigned> usb = UsbPrinterNumberFromPath(name)) {
        return UsbNodePathFor(name, *usb);
    }
    if (const std::optional<unsigned> lpt = LptNumberFromName(name)) {
        return {ParallelNodePath(m_strDevRoot, *lpt)};
    }
    return {name};
}

HANDLE LinuxPlatform::CreateFileA(LPCSTR path, DWORD /*access*/, DWORD /*shareMode*/,
                                  LPSECURITY_ATTRIBUTES /*security*/, DWORD disposition,
                                  DWORD /*flags*/, HANDLE /*templateFile*/) {
    // Every open is read-write, exclusive and overlapped-capable: that is
    // the only open the port logic makes.
    if (path == nullptr) {
        return FailHandle(ERROR_INVALID_PARAMETER);
    }
    if (disposition != OPEN_EXISTING) {
        return FailHandle(ERROR_NOT_SUPPORTED);
    }
    const NodePath node = NodePathFor(path);
    if (node.error != ERROR_SUCCESS) {
        return FailHandle(node.error);
    }
    OpenedNode opened = OpenDeviceNode(node.path, m_fdLedger);
    if (!opened.fd.Valid()) {
        return FailHandle(opened.error);
    }
    auto device =
        std::make_shared<Device>(std::move(opened.fd), std::move(opened.wakeFd), opened.kind);
    return m_handles.Insert(std::move(device));
}

BOOL LinuxPlatform::CloseHandle(HANDLE handle) {
    // Device-information sets end with SetupDiDestroyDeviceInfoList only.
    // This backend inserts every object as its own type, so the tag tells
    // the kinds apart: closing an event costs no dynamic_cast.
    kobj::HandleTable::Entry entry = m_handles.RemoveUnless<DeviceInfoSet>(handle);
    if (!entry.object) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (entry.tag == kobj::TypeTag<Device>()) {
        std::static_pointer_cast<Device>(entry.object)->Shutdown();
    } else if (entry.tag == kobj::TypeTag<kobj::Event>()) {
        kobj::GiveBackEvent(std::static_pointer_cast<kobj::Event>(std::move(entry.object)));
    }
    return TRUE;
}

Device* LinuxPlatform::FindDevice(HANDLE handle) const {
    return m_handles.Borrow<Device>(handle);
}

BOOL LinuxPlatform::IssueTransfer(HANDLE handle, void* buffer, DWORD length, LPDWORD count,
                                  LPOVERLAPPED overlapped, bool isRead) {
    Device* device = FindDevice(handle);
    if (!device) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (buffer == nullptr && length != 0) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    OVERLAPPED own{};
    const bool synchronous = overlapped == nullptr;
    Transfer lent;
    const std::shared_ptr<Transfer> transfer(std::shared_ptr<Transfer>(), &lent);
    transfer->direction = isRead ? Transfer::Direction::Read : Transfer::Direction::Write;
    transfer->buffer = buffer;
    transfer->length = length;
    transfer->record = synchronous ? &own : overlapped;
    if (!synchronous && overlapped->hEvent != nullptr) {
        transfer->event = m_handles.FindAs<kobj::Event>(overlapped->hEvent);
        if (!transfer->event) {
            return Fail(ERROR_INVALID_HANDLE);
        }
    }
    const BOOL done = device->Submit(transfer, count);
    if (done || !synchronous || kobj::LastErrorCode() != ERROR_IO_PENDING) {
        return done;
    }
    return device->Result(&own, count, true);
}

BOOL LinuxPlatform::ReadFile(HANDLE device, LPVOID buffer, DWORD length, LPDWORD count,
                             LPOVERLAPPED overlapped) {
    return IssueTransfer(device, buffer, length, count, overlapped, true);
}

BOOL LinuxPlatform::WriteFile(HANDLE device, LPCVOID buffer, DWORD length, LPDWORD count,
                              LPOVERLAPPED overlapped) {
    // A write's buffer is only ever read.
    return IssueTransfer(device, const_cast<void*>(buffer), length, count, overlapped, false);
}

BOOL LinuxPlatform::GetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD count,
                                        BOOL wait) {
    Device* device = FindDevice(handle);
    if (!device) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (overlapped == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    return device->Result(overlapped, count, wait != FALSE);
}

DWORD LinuxPlatform::GetLastError() {
    return kobj::LastErrorCode();
}

BOOL LinuxPlatform::CancelIo(HANDLE handle) {
    Device* device = FindDevice(handle);
    if (!device) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    device->CancelAll();
    return TRUE;
}

BOOL LinuxPlatform::DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                    DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    Device* device = FindDevice(handle);
    if (!device) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    DWORD written = 0;
    const DWORD error = ControlDevice(*device, code, {in, inSize, out, outSize}, &written);
    if (error != ERROR_SUCCESS) {
        return Fail(error);
    }
    if (returned != nullptr) {
        *returned = written;
    }
    // The requests are quick, so even an overlapped one finishes here.
    if (overlapped != nullptr) {
        CompleteAtOnce(m_handles, overlapped, written);
    }
    return TRUE;
}

BOOL LinuxPlatform::SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
    Device* device = FindDevice(handle);
    if (!device) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (timeouts == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    device->SetTimeouts(*timeouts);
    return TRUE;
}

BOOL LinuxPlatform::ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
    Device* device = FindDevice(handle);
    if (!device) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    const DWORD found = device->TakeCommErrors();
    if (errors != nullptr) {
        *errors = found;
    }
    if (status != nullptr) {
        *status = COMSTAT{};
    }
    return TRUE;
}

// --- Device-interface enumeration -------------------------------------------------------

std::vector<std::string> LinuxPlatform::UsbPrinterInterfacePaths() const {
    std::vector<std::string> paths;
    for (const UsbPrinterNode& printer : ListUsbPrinters(m_strSysfsRoot)) {
        paths.push_back(FormatUsbInterfacePath(printer.vendorId, printer.productId, printer.serial,
                                               printer.number));
    }
    return paths;
}

HDEVINFO LinuxPlatform::SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR /*enumerator*/,
                                             HWND /*parent*/, DWORD flags) {
    if (classGuid == nullptr) {
        return FailHandle(ERROR_INVALID_PARAMETER);
    }
    // USB printers are the only interface class this system has.
    const bool usbPrinters =
        (flags & DIGCF_DEVICEINTERFACE) != 0 && SameGuid(*classGuid, kGuidDevinterfaceUsbPrint);
    std::vector<std::string> paths;
    if (usbPrinters) {
        paths = UsbPrinterInterfacePaths();
    }
    return m_handles.Insert(std::make_shared<DeviceInfoSet>(*classGuid, std::move(paths)));
}

BOOL LinuxPlatform::SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA /*device*/,
                                                const GUID* classGuid, DWORD memberIndex,
                                                PSP_DEVICE_INTERFACE_DATA data) {
    auto infoSet = m_handles.FindAs<DeviceInfoSet>(set);
    if (!infoSet) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    return infoSet->EnumInterface(classGuid, memberIndex, data);
}

BOOL LinuxPlatform::SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                     PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                     DWORD detailSize, PDWORD required,
                                                     PSP_DEVINFO_DATA device) {
    auto infoSet = m_handles.FindAs<DeviceInfoSet>(set);
    if (!infoSet) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    return infoSet->InterfaceDetail(data, detail, detailSize, required, device);
}

BOOL LinuxPlatform::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    if (!m_handles.FindAs<DeviceInfoSet>(set) || !m_handles.Remove(set)) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    return TRUE;
}

}  // namespace zelp::linuxbk
