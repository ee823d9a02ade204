// The calls that span the handle table and the objects in it, and the
// thread's last error, which is the thread's alone.
#include "native/platform/common/kernel_objects.h"

namespace zelp::kobj {

namespace {
thread_local DWORD t_dwLastError = ERROR_SUCCESS;
}  // namespace

void SetLastErrorCode(DWORD error) {
    t_dwLastError = error;
}
DWORD LastErrorCode() {
    return t_dwLastError;
}

DWORD WaitForObject(const HandleTable& handles, HANDLE handle, DWORD milliseconds) {
    // The port logic's waits: on a transfer's event, and on a port's mutex.
    if (const std::shared_ptr<Event>* event = handles.OwnEvent(handle)) {
        return (*event)->WaitUntil(DeadlineAfter(milliseconds)) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }
    if (Mutex* mutex = handles.Borrow<Mutex>(handle)) {
        return mutex->AcquireUntil(DeadlineAfter(milliseconds)) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }
    std::shared_ptr<KernelObject> object = handles.Find(handle);
    const Instant deadline = DeadlineAfter(milliseconds);
    if (auto event = std::dynamic_pointer_cast<Event>(object)) {
        return event->WaitUntil(deadline) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }
    if (auto mutex = std::dynamic_pointer_cast<Mutex>(object)) {
        return mutex->AcquireUntil(deadline) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }
    SetLastErrorCode(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

bool SetEventOf(const HandleTable& handles, HANDLE handle) {
    if (Event* event = handles.Borrow<Event>(handle)) {
        event->Set();
        return true;
    }
    if (std::shared_ptr<Event> event = handles.FindAs<Event>(handle)) {
        event->Set();
        return true;
    }
    return false;
}

}  // namespace zelp::kobj
