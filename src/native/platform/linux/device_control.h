// The parallel-port driver's requests (status, default modes, IEEE 1284
// negotiation), answered by whatever driver is behind the device.
#pragma once

#include <cstring>
#include <optional>

#include "native/platform/linux/device.h"
#include "native/wintypes.h"

namespace zelp::linuxbk {

// Where a request's bytes are and how much of them there is.
struct ControlBuffers {
    const void* in = nullptr;
    DWORD inSize = 0;
    void* out = nullptr;
    DWORD outSize = 0;
};

// Answers one request. ERROR_SUCCESS with *returned set to the bytes of
// output written, or the error to report.
DWORD ControlDevice(Device& device, DWORD code, const ControlBuffers& buffers, DWORD* returned);

// The IEEE 1284 requests where the driver has no modes to choose (every kind
// but ppdev; lp and usblp switch by themselves, files have no modes): they
// succeed without effect, answered from the request alone with no system
// call and no lock, since the port logic sends two of them with every write.
// The default modes are unknown there (zero), and a negotiation grants what
// it asked for. Nothing for any other request or kind.
inline std::optional<DWORD> AnswerWithoutDriver(DeviceKind kind, DWORD code,
                                                const ControlBuffers& buffers, DWORD* returned) {
    constexpr DWORD kMaskSize = sizeof(ParNegotiationMask);
    if (kind == DeviceKind::ParallelPpdev) {
        return std::nullopt;
    }
    if (code == IOCTL_PAR_GET_DEFAULT_MODES) {
        if (buffers.out == nullptr || buffers.outSize < kMaskSize) {
            return ERROR_INSUFFICIENT_BUFFER;
        }
        std::memset(buffers.out, 0, kMaskSize);
        *returned = kMaskSize;
        return ERROR_SUCCESS;
    }
    if (code == IOCTL_IEEE1284_NEGOTIATE) {
        if (buffers.in == nullptr || buffers.inSize < kMaskSize) {
            return ERROR_INVALID_PARAMETER;
        }
        const bool answered = buffers.out != nullptr && buffers.outSize >= kMaskSize;
        if (answered) {
            std::memcpy(buffers.out, buffers.in, kMaskSize);
        }
        *returned = answered ? kMaskSize : 0;
        return ERROR_SUCCESS;
    }
    return std::nullopt;
}

// The ppdev mode (IEEE1284_MODE_*) that a negotiation mask asks for: a
// reverse mode (byte before nibble) when either half asks for one, since
// ppdev returns to compatibility mode by itself before a write; else
// compatibility for Centronics or compatibility. Nothing for masks 0, which
// ask for no negotiation; -1 for masks we cannot map.
std::optional<int> PpdevModeForMask(const ParNegotiationMask& masks);

}  // namespace zelp::linuxbk
