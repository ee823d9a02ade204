// The snapshot that SetupDiGetClassDevsA hands out: the interface paths of
// the class present at that moment, with the record checks of SetupAPI.
#pragma once

#include <string>
#include <vector>

#include "native/platform/common/kernel_objects.h"
#include "native/wintypes.h"

namespace zelp::linuxbk {

bool SameGuid(const GUID& a, const GUID& b);

class DeviceInfoSet : public kobj::KernelObject {
public:
    DeviceInfoSet(const GUID& classGuid, std::vector<std::string> paths)
        : m_classGuid(classGuid), m_paths(std::move(paths)) {}

    // SetupDiEnumDeviceInterfaces: the last error is set on FALSE.
    BOOL EnumInterface(const GUID* classGuid, DWORD memberIndex,
                       PSP_DEVICE_INTERFACE_DATA data) const;

    // SetupDiGetDeviceInterfaceDetailA: the last error is set on FALSE.
    BOOL InterfaceDetail(PSP_DEVICE_INTERFACE_DATA data, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                         DWORD detailSize, PDWORD required, PSP_DEVINFO_DATA device) const;

private:
    const std::string* PathOf(const SP_DEVICE_INTERFACE_DATA& data) const;

    const GUID m_classGuid;
    const std::vector<std::string> m_paths;
};

}  // namespace zelp::linuxbk
