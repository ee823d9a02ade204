// The device-interface enumeration of the sim: snapshots of the present USB
// printers, with the sizing and record checks the port logic must get right.
#include <cstddef>
#include <cstring>

#include "native/platform/sim/sim_platform.h"
#include "native/platform/sim/sim_state.h"

namespace zelp::sim {

using kobj::SetLastErrorCode;

namespace {

constexpr DWORD kInterfaceActive = 0x1;  // SPINT_ACTIVE

bool SameGuid(const GUID* a, const GUID& b) {
    return a != nullptr && std::memcmp(a, &b, sizeof(GUID)) == 0;
}

SimCall SetupCall(std::string op, HDEVINFO set, DWORD length = 0) {
    SimCall call;
    call.op = std::move(op);
    call.handle = set;
    call.length = length;
    return call;
}

// The member an interface record names, or -1 when it names none of the set.
long MemberOf(const PSP_DEVICE_INTERFACE_DATA data, const std::vector<std::string>& paths) {
    const ULONG_PTR member = data->Reserved;
    return (member >= 1 && member <= paths.size()) ? static_cast<long>(member - 1) : -1;
}

// Checks the records a detail call brings; ERROR_SUCCESS when they will do.
DWORD CheckDetailRecords(const PSP_DEVICE_INTERFACE_DATA data,
                         const PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                         const PSP_DEVINFO_DATA device) {
    if (data == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        (device != nullptr && device->cbSize != sizeof(SP_DEVINFO_DATA))) {
        return ERROR_INVALID_USER_BUFFER;
    }
    if (detail == nullptr) {
        return detailSize == 0 ? ERROR_SUCCESS : ERROR_INVALID_USER_BUFFER;
    }
    return detail->cbSize == sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ? ERROR_SUCCESS
                                                                       : ERROR_INVALID_USER_BUFFER;
}

}  // namespace

HDEVINFO SimPlatform::SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator, HWND parent,
                                           DWORD flags) {
    (void)enumerator, (void)parent;
    std::lock_guard<std::mutex> guard(m_state->lock);
    detail::State& s = *m_state;
    DWORD error = ERROR_SUCCESS;
    HDEVINFO set = INVALID_HANDLE_VALUE;
    if (s.TakeFault("SetupDiGetClassDevsA", error)) {
        SetLastErrorCode(error);
    } else if (classGuid == nullptr) {
        SetLastErrorCode(ERROR_INVALID_PARAMETER);
    } else {
        std::vector<std::string> paths;
        const bool bUsbPrinters =
            SameGuid(classGuid, kGuidDevinterfaceUsbPrint) && (flags & DIGCF_DEVICEINTERFACE);
        for (const auto& device : s.usbOrder) {
            if (bUsbPrinters && (device->bPresent || !(flags & DIGCF_PRESENT))) {
                paths.push_back(device->path);
            }
        }
        set = reinterpret_cast<HDEVINFO>(s.nextDeviceInfoSet);
        s.nextDeviceInfoSet += 4;
        s.deviceInfoSets.emplace(reinterpret_cast<uintptr_t>(set), std::move(paths));
    }
    s.Note(SetupCall("SetupDiGetClassDevsA", set, flags), reinterpret_cast<uintptr_t>(set));
    return set;
}

BOOL SimPlatform::SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device,
                                              const GUID* classGuid, DWORD memberIndex,
                                              PSP_DEVICE_INTERFACE_DATA data) {
    (void)device;
    std::lock_guard<std::mutex> guard(m_state->lock);
    detail::State& s = *m_state;
    auto it = s.deviceInfoSets.find(reinterpret_cast<uintptr_t>(set));
    auto fault = s.enumFaults.find(memberIndex);
    DWORD error = ERROR_SUCCESS;
    if (it == s.deviceInfoSets.end()) {
        error = ERROR_INVALID_HANDLE;
    } else if (data == nullptr) {
        error = ERROR_INVALID_PARAMETER;
    } else if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        error = ERROR_INVALID_USER_BUFFER;
    } else if (fault != s.enumFaults.end()) {
        error = fault->second;
    } else if (!SameGuid(classGuid, kGuidDevinterfaceUsbPrint) ||
               memberIndex >= it->second.size()) {
        error = ERROR_NO_MORE_ITEMS;
    } else {
        data->InterfaceClassGuid = *classGuid;
        data->Flags = kInterfaceActive;
        data->Reserved = memberIndex + 1;
    }
    if (error != ERROR_SUCCESS) {
        SetLastErrorCode(error);
    }
    const BOOL result = error == ERROR_SUCCESS ? TRUE : FALSE;
    s.Note(SetupCall("SetupDiEnumDeviceInterfaces", set, memberIndex), result);
    return result;
}

BOOL SimPlatform::SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                   PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                   DWORD detailSize, PDWORD required,
                                                   PSP_DEVINFO_DATA device) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    detail::State& s = *m_state;
    auto it = s.deviceInfoSets.find(reinterpret_cast<uintptr_t>(set));
    DWORD error = ERROR_SUCCESS;
    long member = -1;
    if (it == s.deviceInfoSets.end()) {
        error = ERROR_INVALID_HANDLE;
    } else if ((error = CheckDetailRecords(data, detail, detailSize, device)) == ERROR_SUCCESS &&
               (member = MemberOf(data, it->second)) < 0) {
        error = ERROR_INVALID_PARAMETER;
    }
    if (error == ERROR_SUCCESS) {
        const std::string& path = it->second[static_cast<size_t>(member)];
        const DWORD needed = static_cast<DWORD>(
            offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
        const bool bFault =
            detail != nullptr && s.TakeFault("SetupDiGetDeviceInterfaceDetailA", error);
        if (!bFault && (detail == nullptr || detailSize < needed)) {
            error = ERROR_INSUFFICIENT_BUFFER;
        } else if (!bFault) {
            std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
        }
        if (required != nullptr && (error == ERROR_SUCCESS || error == ERROR_INSUFFICIENT_BUFFER)) {
            *required = needed;
        }
        if (error == ERROR_SUCCESS && device != nullptr) {
            device->ClassGuid = kGuidDevinterfaceUsbPrint;
            device->DevInst = static_cast<DWORD>(member + 1);
        }
    }
    if (error != ERROR_SUCCESS) {
        SetLastErrorCode(error);
    }
    const BOOL result = error == ERROR_SUCCESS ? TRUE : FALSE;
    s.Note(SetupCall("SetupDiGetDeviceInterfaceDetailA", set, detailSize), result);
    return result;
}

BOOL SimPlatform::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    const bool bKnown = m_state->deviceInfoSets.erase(reinterpret_cast<uintptr_t>(set)) == 1;
    if (!bKnown) {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
    }
    m_state->Note(SetupCall("SetupDiDestroyDeviceInfoList", set), bKnown ? TRUE : FALSE);
    return bKnown ? TRUE : FALSE;
}

}  // namespace zelp::sim
