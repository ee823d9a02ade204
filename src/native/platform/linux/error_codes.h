// How system errors read in the Windows vocabulary the port logic speaks, and
// how a transfer's outcome is kept in its OVERLAPPED record.
#pragma once

#include <cstdint>

#include "native/wintypes.h"

namespace zelp::linuxbk {

// The last error for a failed open() (or for our own exclusivity lock).
DWORD ErrorFromOpenErrno(int error);

// The last error for a failed transfer or device request.
DWORD ErrorFromIoErrno(int error);

// OVERLAPPED::Internal holds STATUS_PENDING while a transfer runs, 0 once it
// succeeded, and otherwise an error status of our own that carries the Win32
// error (the "customer" bit keeps it apart from any system status).
ULONG_PTR CompletionStatusFor(DWORD error);
DWORD ErrorFromCompletionStatus(ULONG_PTR status);

}  // namespace zelp::linuxbk
