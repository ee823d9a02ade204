#include "native/platform/linux/device_info_set.h"

#include <cstddef>
#include <cstring>

namespace zelp::linuxbk {

namespace {

// SPINT_ACTIVE: the interface is present and enabled.
constexpr DWORD kInterfaceActive = 0x00000001;

BOOL Fail(DWORD error) {
    kobj::SetLastErrorCode(error);
    return FALSE;
}

}  // namespace

bool SameGuid(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

// Reserved carries the member index + 1, so that a record we did not fill
// (Reserved 0) is told apart.
const std::string* DeviceInfoSet::PathOf(const SP_DEVICE_INTERFACE_DATA& data) const {
    if (data.Reserved == 0 || data.Reserved > m_paths.size()) {
        return nullptr;
    }
    return &m_paths[data.Reserved - 1];
}

BOOL DeviceInfoSet::EnumInterface(const GUID* classGuid, DWORD memberIndex,
                                  PSP_DEVICE_INTERFACE_DATA data) const {
    if (data == nullptr || classGuid == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (!SameGuid(*classGuid, m_classGuid) || memberIndex >= m_paths.size()) {
        return Fail(ERROR_NO_MORE_ITEMS);
    }
    data->InterfaceClassGuid = m_classGuid;
    data->Flags = kInterfaceActive;
    data->Reserved = static_cast<ULONG_PTR>(memberIndex) + 1;
    return TRUE;
}

BOOL DeviceInfoSet::InterfaceDetail(PSP_DEVICE_INTERFACE_DATA data,
                                    PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                    PDWORD required, PSP_DEVINFO_DATA device) const {
    if (data == nullptr || (detail == nullptr && detailSize != 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // A buffer too small for the record's own header cannot even be read.
    if (detail != nullptr && detailSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        (detail != nullptr && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) ||
        (device != nullptr && device->cbSize != sizeof(SP_DEVINFO_DATA))) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    const std::string* path = PathOf(*data);
    if (path == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const size_t needed =
        offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path->size() + 1;
    if (required != nullptr) {
        *required = static_cast<DWORD>(needed);
    }
    if (detail == nullptr || detailSize < needed) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    // Through the record's start: DevicePath is declared one character long.
    char* text =
        reinterpret_cast<char*>(detail) + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    std::memcpy(text, path->c_str(), path->size() + 1);
    if (device != nullptr) {
        device->ClassGuid = GUID{};
        device->DevInst = static_cast<DWORD>(data->Reserved);
        device->Reserved = 0;
    }
    return TRUE;
}

}  // namespace zelp::linuxbk
