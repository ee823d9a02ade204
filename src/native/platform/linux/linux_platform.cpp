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
    kobj::SetEventOf(handles, overlapped->hEvent);
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
    // Most closes end the event of a transfer this thread has just issued.
    return m_handles.CloseOwnEvent(handle) ? TRUE : CloseAnyHandle(handle);
}

BOOL LinuxPlatform::CloseAnyHandle(HANDLE handle) {
    // Device-information sets end with SetupDiDestroyDeviceInfoList only.
    // This backend inserts every object as its own type, so the tag tells
    // a device apart without a dynamic_cast.
    kobj::HandleTable::Entry entry = m_handles.RemoveUnless<DeviceInfoSet>(handle);
    if (!entry.object) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (entry.tag == kobj::TypeTag<Device>()) {
        std::static_pointer_cast<Device>(entry.object)->Shutdown();
    }
    return TRUE;
}

Device* LinuxPlatform::FindDevice(HANDLE handle) const {
    return m_handles.Borrow<Device>(handle);
}

BOOL LinuxPlatform::IssueTransfer(HANDLE handle, void* buffer, DWORD length, LPDWORD count,
                                  LPOVERLAPPED overlapped, bool isRead) {
    // The port logic's transfers: overlapped, with an event of the issuing
    // thread's own; anything else below.
    Device* device = m_handles.Recent<Device>(handle);
    if (device != nullptr && overlapped != nullptr && (buffer != nullptr || length == 0)) {
        TransferRequest request;
        request.direction =
            isRead ? TransferState::Direction::Read : TransferState::Direction::Write;
        request.buffer = buffer;
        request.length = length;
        request.record = overlapped;
        request.event =
            overlapped->hEvent == nullptr ? nullptr : m_handles.RecentOwnEvent(overlapped->hEvent);
        if (overlapped->hEvent == nullptr || request.event != nullptr) {
            return device->Submit(request, count);
        }
    }
    return isRead ? ReadAnyFile(handle, buffer, length, count, overlapped)
                  : WriteAnyFile(handle, buffer, length, count, overlapped);
}

BOOL LinuxPlatform::ReadAnyFile(HANDLE handle, void* buffer, DWORD length, LPDWORD count,
                                LPOVERLAPPED overlapped) {
    return IssueAnyTransfer(handle, buffer, length, count, overlapped, true);
}

BOOL LinuxPlatform::WriteAnyFile(HANDLE handle, void* buffer, DWORD length, LPDWORD count,
                                 LPOVERLAPPED overlapped) {
    return IssueAnyTransfer(handle, buffer, length, count, overlapped, false);
}

BOOL LinuxPlatform::IssueAnyTransfer(HANDLE handle, void* buffer, DWORD length, LPDWORD count,
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
    TransferRequest request;
    request.direction = isRead ? TransferState::Direction::Read : TransferState::Direction::Write;
    request.buffer = buffer;
    request.length = length;
    request.record = synchronous ? &own : overlapped;
    // An event of another thread's is held for the length of the call.
    std::shared_ptr<kobj::Event> held;
    if (!synchronous && overlapped->hEvent != nullptr) {
        held = m_handles.FindAs<kobj::Event>(overlapped->hEvent);
        if (!held) {
            return Fail(ERROR_INVALID_HANDLE);
        }
        request.event = &held;
    }
    const BOOL done = device->Submit(request, count);
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
    // The two mode requests sent with every write, on a device where they
    // have no effect, are answered here and now; everything else below.
    const Device* device = m_handles.Recent<Device>(handle);
    const ControlBuffers buffers{in, inSize, out, outSize};
    DWORD written = 0;
    if (device == nullptr || overlapped != nullptr ||
        AnswerWithoutDriver(device->Kind(), code, buffers, &written) != ERROR_SUCCESS) {
        return ControlAnyDevice({handle, code, buffers, returned, overlapped});
    }
    if (returned != nullptr) {
        *returned = written;
    }
    return TRUE;
}

BOOL LinuxPlatform::ControlAnyDevice(const ControlCall& call) {
    const auto [handle, code, buffers, returned, overlapped] = call;
    Device* device = FindDevice(handle);
    if (!device) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    DWORD written = 0;
    const DWORD error = ControlDevice(*device, code, buffers, &written);
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
