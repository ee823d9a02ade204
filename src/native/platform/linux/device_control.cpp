#include "native/platform/linux/device_control.h"

#include <linux/lp.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "native/platform/linux/error_codes.h"
#include "native/platform/linux/parallel_status.h"

namespace zelp::linuxbk {

namespace {

constexpr DWORD kMaskSize = sizeof(ParNegotiationMask);

// Runs one ioctl on the device; ERROR_SUCCESS or the error it gave.
template <class Argument>
DWORD IoctlOn(Device& device, unsigned long request, Argument* argument) {
    int error = EBADF;
    device.WithFd([&](int fd) { error = ::ioctl(fd, request, argument) == 0 ? 0 : errno; });
    return error == 0 ? ERROR_SUCCESS : ErrorFromIoErrno(error);
}

// The status of a device that is no printer port: on line while the peer is
// there, powered off once it has hung up.
uint8_t StreamStatus(Device& device) {
    return device.PeerGone() ? PARALLEL_POWER_OFF : PARALLEL_SELECTED;
}

DWORD ReadStatus(Device& device, uint8_t* status) {
    switch (device.Kind()) {
        case DeviceKind::ParallelPpdev: {
            unsigned char raw = 0;
            const DWORD error = IoctlOn(device, PPRSTATUS, &raw);
            *status = ParallelStatusFromLines(raw);
            return error;
        }
        case DeviceKind::ParallelLp:
        case DeviceKind::UsbPrinter: {
            int raw = 0;
            const DWORD error = IoctlOn(device, LPGETSTATUS, &raw);
            const auto lines = static_cast<uint8_t>(raw);
            *status = device.Kind() == DeviceKind::UsbPrinter
                          ? ParallelStatusFromUsbPortStatus(lines)
                          : ParallelStatusFromLines(lines);
            return error;
        }
        default:
            *status = StreamStatus(device);
            return ERROR_SUCCESS;
    }
}

DWORD QueryInformation(Device& device, const ControlBuffers& buffers, DWORD* returned) {
    if (buffers.out == nullptr || buffers.outSize < 1) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    uint8_t status = 0;
    if (const DWORD error = ReadStatus(device, &status); error != ERROR_SUCCESS) {
        return error;
    }
    *static_cast<uint8_t*>(buffers.out) = status;
    *returned = 1;
    return ERROR_SUCCESS;
}

// The port's abilities, as ppdev knows them. The logic asks but never reads
// the answer.
DWORD GetDefaultModes(Device& device, const ControlBuffers& buffers, DWORD* returned) {
    if (buffers.out == nullptr || buffers.outSize < kMaskSize) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    int abilities = 0;
    if (IoctlOn(device, PPGETMODES, &abilities) != ERROR_SUCCESS) {
        return ERROR_GEN_FAILURE;
    }
    const auto modes = static_cast<uint32_t>(abilities);
    std::memcpy(buffers.out, &modes, kMaskSize);
    *returned = kMaskSize;
    return ERROR_SUCCESS;
}

DWORD NegotiatePpdev(Device& device, const ParNegotiationMask& masks) {
    const std::optional<int> mode = PpdevModeForMask(masks);
    if (!mode) {
        return ERROR_SUCCESS;
    }
    if (*mode < 0) {
        return ERROR_GEN_FAILURE;
    }
    int wanted = *mode;
    return IoctlOn(device, PPNEGOT, &wanted) == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
}

// Only ppdev lets us choose the mode (see AnswerWithoutDriver for the rest).
DWORD Negotiate(Device& device, const ControlBuffers& buffers, DWORD* returned) {
    if (buffers.in == nullptr || buffers.inSize < kMaskSize) {
        return ERROR_INVALID_PARAMETER;
    }
    ParNegotiationMask masks{};
    std::memcpy(&masks, buffers.in, kMaskSize);
    if (const DWORD error = NegotiatePpdev(device, masks); error != ERROR_SUCCESS) {
        return error;
    }
    if (buffers.out != nullptr && buffers.outSize >= kMaskSize) {
        std::memcpy(buffers.out, &masks, kMaskSize);
        *returned = kMaskSize;
    }
    return ERROR_SUCCESS;
}

}  // namespace

std::optional<int> PpdevModeForMask(const ParNegotiationMask& masks) {
    if (masks.usReadMask == kIeee1284MaskNone && masks.usWriteMask == kIeee1284MaskNone) {
        return std::nullopt;
    }
    const unsigned all = masks.usReadMask | masks.usWriteMask;
    if ((all & kIeee1284MaskByte) != 0) {
        return IEEE1284_MODE_BYTE;
    }
    if ((all & kIeee1284MaskNibble) != 0) {
        return IEEE1284_MODE_NIBBLE;
    }
    if ((all & (kIeee1284MaskCentronics | kIeee1284MaskCompatibility)) != 0) {
        return IEEE1284_MODE_COMPAT;
    }
    return -1;
}

DWORD ControlDevice(Device& device, DWORD code, const ControlBuffers& buffers, DWORD* returned) {
    *returned = 0;
    if (const std::optional<DWORD> answer =
            AnswerWithoutDriver(device.Kind(), code, buffers, returned)) {
        return *answer;
    }
    switch (code) {
        case IOCTL_PAR_QUERY_INFORMATION:
            return QueryInformation(device, buffers, returned);
        case IOCTL_PAR_GET_DEFAULT_MODES:
            return GetDefaultModes(device, buffers, returned);
        case IOCTL_IEEE1284_NEGOTIATE:
            return Negotiate(device, buffers, returned);
        default:
            return ERROR_NOT_SUPPORTED;
    }
}

}  // namespace zelp::linuxbk
