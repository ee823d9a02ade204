// What a backend that is not Windows (linux, sim) calls for its kernel
// objects: one handle space, events, mutexes, the thread's last error and
// text conversion, each keeping the promises platform.h makes on every
// thread. A backend adds its own device objects.
#pragma once

#include "native/platform/common/handle_table.h"
#include "native/platform/common/sync_objects.h"
#include "native/platform/common/text_conversion.h"
#include "native/wintypes.h"

namespace zelp::kobj {

void SetLastErrorCode(DWORD error);
DWORD LastErrorCode();

// WaitForSingleObject over the common objects (events and mutexes).
DWORD WaitForObject(const HandleTable& handles, HANDLE handle, DWORD milliseconds);

// SetEvent: false when the handle names no event.
bool SetEventOf(const HandleTable& handles, HANDLE handle);

}  // namespace zelp::kobj
