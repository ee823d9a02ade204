// The parallel-port driver's requests (status, default modes, IEEE 1284
// negotiation), answered by whatever driver is behind the device.
#pragma once

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

// The ppdev mode (IEEE1284_MODE_*) that a negotiation mask asks for: a
// reverse mode (byte before nibble) when either half asks for one, since
// ppdev returns to compatibility mode by itself before a write; else
// compatibility for Centronics or compatibility. Nothing for masks 0, which
// ask for no negotiation; -1 for masks we cannot map.
std::optional<int> PpdevModeForMask(const ParNegotiationMask& masks);

}  // namespace zelp::linuxbk
