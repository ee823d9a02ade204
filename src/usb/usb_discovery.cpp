#include "usb/usb_discovery.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "native/platform.h"
#include "usb/usb_key.h"
#include "usb/usb_slots.h"

namespace zelp {

namespace {

// A zero-filled detail record from the allocator the operation asked for,
// released the same way.
class DetailBuffer {
public:
    DetailBuffer(DetailAllocator allocator, DWORD required)
        : m_allocator(allocator),
          // A size too small for the record's own header only comes from a
          // confused system; the header still gets room so cbSize stays in
          // bounds, and the detail call then refuses the buffer.
          m_dwSize(std::max<DWORD>(required, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))) {
        if (m_allocator == DetailAllocator::kCalloc) {
            m_pMemory = std::calloc(1, m_dwSize);
        } else {
            m_pMemory = Os().LocalAlloc(LMEM_ZEROINIT, m_dwSize);
        }
    }
    ~DetailBuffer() {
        if (m_pMemory == nullptr) {
            return;
        }
        if (m_allocator == DetailAllocator::kCalloc) {
            std::free(m_pMemory);
        } else {
            Os().LocalFree(m_pMemory);
        }
    }
    DetailBuffer(const DetailBuffer&) = delete;
    DetailBuffer& operator=(const DetailBuffer&) = delete;

    bool IsValid() const { return m_pMemory != nullptr; }
    DWORD Size() const { return m_dwSize; }
    SP_DEVICE_INTERFACE_DETAIL_DATA_A* get() {
        return static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(m_pMemory);
    }

    // The path's length, or nothing when it is not terminated inside the buffer.
    std::optional<size_t> PathLength() {
        const size_t room = m_dwSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        const size_t length = strnlen(get()->DevicePath, room);
        if (length == room) {
            return std::nullopt;
        }
        return length;
    }

private:
    const DetailAllocator m_allocator;
    const DWORD m_dwSize;
    void* m_pMemory = nullptr;
};

// Releases the device information set when the walk is over, however it ends.
class DeviceInfoSet {
public:
    DeviceInfoSet()
        : m_hSet(Os().SetupDiGetClassDevsA(&kGuidDevinterfaceUsbPrint, nullptr, nullptr,
                                           DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {}
    ~DeviceInfoSet() {
        if (IsValid()) {
            Os().SetupDiDestroyDeviceInfoList(m_hSet);
        }
    }
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;

    bool IsValid() const { return m_hSet != INVALID_HANDLE_VALUE; }
    HDEVINFO get() const { return m_hSet; }

private:
    const HDEVINFO m_hSet;
};

enum class PathFetch { kCopied, kSkipped, kFailed };

// Fetches one interface's device path into `path` (kDevicePathBufferSize bytes).
PathFetch FetchDevicePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& iface,
                          const InterfaceWalkSettings& settings, char* path) {
    DWORD required = 0;
    // Fails for want of a buffer; it is asked only for the size.
    Os().SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &required, nullptr);

    DetailBuffer detail(settings.allocator, required);
    if (!detail.IsValid()) {
        return PathFetch::kSkipped;
    }
    detail.get()->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(SP_DEVINFO_DATA);
    if (!Os().SetupDiGetDeviceInterfaceDetailA(set, &iface, detail.get(), detail.Size(), nullptr,
                                               settings.bWithDeviceRecord ? &device : nullptr)) {
        return PathFetch::kFailed;
    }
    // A path the buffer cannot hold whole is passed over: a cut path could
    // name, and open, another device.
    const std::optional<size_t> length = detail.PathLength();
    if (!length.has_value() || *length >= kDevicePathBufferSize) {
        return PathFetch::kSkipped;
    }
    std::memcpy(path, detail.get()->DevicePath, *length + 1);
    return PathFetch::kCopied;
}

}  // namespace

WalkEnd EnumUsbPrinterInterfaces(const InterfaceWalkSettings& settings,
                                 const DevicePathVisitor& visit) {
    DeviceInfoSet set;
    if (!set.IsValid()) {
        return WalkEnd::kNoSet;
    }
    char path[kDevicePathBufferSize];
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
        // Past the last interface or any other failure: the walk is over.
        if (!Os().SetupDiEnumDeviceInterfaces(set.get(), nullptr, &kGuidDevinterfaceUsbPrint, index,
                                              &iface)) {
            return WalkEnd::kEnded;
        }
        switch (FetchDevicePath(set.get(), iface, settings, path)) {
            case PathFetch::kFailed:
                return WalkEnd::kDetailFailed;
            case PathFetch::kSkipped:
                continue;
            case PathFetch::kCopied:
                break;
        }
        if (visit(path) == WalkStep::kStop) {
            return WalkEnd::kStopped;
        }
    }
}

bool IsUsbPrinterPresent(int32_t slot) {
    const std::optional<UsbSlotRecord> record = SnapshotSlot(slot);
    if (!record.has_value()) {
        return false;
    }
    const int32_t wanted = WantedSerialValue(record->strSerial);
    const InterfaceWalkSettings settings{DetailAllocator::kLocalAlloc, false};
    const WalkEnd end = EnumUsbPrinterInterfaces(settings, [&](const char* path) {
        return PathMatches(path, record->strKey, wanted) ? WalkStep::kStop : WalkStep::kGoOn;
    });
    return end == WalkEnd::kStopped;
}

}  // namespace zelp
