// Events, mutexes, waits, pauses and the small system services of the sim.
#include <cstdlib>
#include <thread>

#include "native/platform/sim/sim_platform.h"
#include "native/platform/sim/sim_state.h"

namespace zelp::sim {

using kobj::SetLastErrorCode;

namespace {

SimCall NamedCall(std::string op, HANDLE handle = nullptr) {
    SimCall call;
    call.op = std::move(op);
    call.handle = handle;
    return call;
}

// Takes the signal of an event without blocking (an auto-reset event is
// reset by the taking).
bool TryConsume(kobj::Event& event) {
    return event.WaitSignalledUntil(kobj::Instant{});
}

}  // namespace

DWORD SimPlatform::GetLastError() {
    std::lock_guard<std::mutex> guard(m_state->lock);
    const DWORD error = kobj::LastErrorCode();
    m_state->Note(NamedCall("GetLastError"), error);
    return error;
}

// --- Events --------------------------------------------------------------------------

HANDLE SimPlatform::CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset,
                                 BOOL initialState, LPCSTR name) {
    (void)security, (void)name;
    std::lock_guard<std::mutex> guard(m_state->lock);
    detail::State& s = *m_state;
    s.Progress();
    DWORD error = ERROR_SUCCESS;
    HANDLE handle = nullptr;
    if (s.TakeFault("CreateEventA", error)) {
        SetLastErrorCode(error);
    } else {
        handle = s.handles.Insert(std::make_shared<kobj::Event>(manualReset, initialState));
        ++s.nEvents;
    }
    s.Note(NamedCall("CreateEventA", handle), reinterpret_cast<uintptr_t>(handle));
    return handle;
}

BOOL SimPlatform::SetEvent(HANDLE event) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    detail::State& s = *m_state;
    s.Progress();
    auto target = s.handles.FindAs<kobj::Event>(event);
    if (target) {
        target->Set();
        s.changed.notify_all();  // waits on events sleep on the sim's condition
    } else {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
    }
    s.Note(NamedCall("SetEvent", event), target ? TRUE : FALSE);
    return target ? TRUE : FALSE;
}

DWORD SimPlatform::WaitForEvent(HANDLE handle, DWORD milliseconds) {
    std::unique_lock<std::mutex> guard(m_state->lock);
    detail::State& s = *m_state;
    s.Progress();
    auto event = s.handles.FindAs<kobj::Event>(handle);
    const uint64_t deadline =
        milliseconds == INFINITE ? SimClock::kNever : LaterBy(s.clock.Now(), milliseconds);
    const bool bSignalled = s.WaitFor(
        guard, deadline, [&] { return TryConsume(*event); },
        [&] { return s.AwaitsFrozen(handle); });
    SimCall call = NamedCall("WaitForSingleObject", handle);
    call.length = milliseconds;
    const DWORD result = bSignalled ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    s.Note(std::move(call), result);
    return result;
}

// --- Mutexes ---------------------------------------------------------------------------

HANDLE SimPlatform::CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name) {
    (void)security, (void)name;
    std::lock_guard<std::mutex> guard(m_state->lock);
    detail::State& s = *m_state;
    DWORD error = ERROR_SUCCESS;
    HANDLE handle = nullptr;
    if (s.TakeFault("CreateMutexA", error)) {
        SetLastErrorCode(error);
    } else {
        handle = s.handles.Insert(std::make_shared<kobj::Mutex>(initialOwner != FALSE));
        ++s.nMutexes;
    }
    s.Note(NamedCall("CreateMutexA", handle), reinterpret_cast<uintptr_t>(handle));
    return handle;
}

BOOL SimPlatform::ReleaseMutex(HANDLE mutex) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    auto target = m_state->handles.FindAs<kobj::Mutex>(mutex);
    BOOL result = FALSE;
    if (!target) {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
    } else if (!target->Release()) {
        SetLastErrorCode(ERROR_NOT_OWNER);
    } else {
        result = TRUE;
    }
    m_state->Note(NamedCall("ReleaseMutex", mutex), result);
    return result;
}

DWORD SimPlatform::WaitForMutex(HANDLE handle, DWORD milliseconds) {
    std::shared_ptr<kobj::Mutex> mutex = m_state->handles.FindAs<kobj::Mutex>(handle);
    SimClock& clock = m_state->clock;
    bool bOwned = false;
    // The mutex is taken without the sim's lock: its owner may need the sim to
    // get to its release.
    if (milliseconds == INFINITE) {
        bOwned = mutex->AcquireUntil(kobj::Instant::max());
    } else if (clock.IsVirtual()) {
        bOwned = mutex->AcquireUntil(kobj::Instant{});
        if (!bOwned) {
            clock.AdvanceTo(LaterBy(clock.Now(), milliseconds));
        }
    } else {
        bOwned = mutex->AcquireUntil(kobj::DeadlineAfter(milliseconds));
    }
    std::lock_guard<std::mutex> guard(m_state->lock);
    SimCall call = NamedCall("WaitForSingleObject", handle);
    call.length = milliseconds;
    const DWORD result = bOwned ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    m_state->Note(std::move(call), result);
    return result;
}

DWORD SimPlatform::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto object = m_state->handles.Find(handle);
    if (std::dynamic_pointer_cast<kobj::Event>(object)) {
        return WaitForEvent(handle, milliseconds);
    }
    if (std::dynamic_pointer_cast<kobj::Mutex>(object)) {
        return WaitForMutex(handle, milliseconds);
    }
    std::lock_guard<std::mutex> guard(m_state->lock);
    SetLastErrorCode(ERROR_INVALID_HANDLE);
    SimCall call = NamedCall("WaitForSingleObject", handle);
    call.length = milliseconds;
    m_state->Note(std::move(call), WAIT_FAILED);
    return WAIT_FAILED;
}

// --- Time and system -----------------------------------------------------------------

void SimPlatform::Sleep(DWORD milliseconds) {
    SimClock& clock = m_state->clock;
    if (!clock.IsVirtual()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    std::lock_guard<std::mutex> guard(m_state->lock);
    clock.AdvanceTo(LaterBy(clock.Now(), milliseconds));
    m_state->Progress();
    SimCall call = NamedCall("Sleep");
    call.length = milliseconds;
    m_state->Note(std::move(call), 0);
}

BOOL SimPlatform::GetVersionExA(LPOSVERSIONINFOA info) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    BOOL result = FALSE;
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
    } else {
        info->dwMajorVersion = m_state->versionMajor;
        info->dwMinorVersion = 1;
        info->dwBuildNumber = 2600;
        info->dwPlatformId = m_state->platformId;
        info->szCSDVersion[0] = '\0';
        result = TRUE;
    }
    m_state->Note(NamedCall("GetVersionExA"), result);
    return result;
}

int SimPlatform::WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH src, int srcLength,
                                     LPSTR dst, int dstSize, LPCCH defaultChar,
                                     LPBOOL usedDefault) {
    (void)codePage, (void)flags, (void)defaultChar;
    const int result = kobj::Utf16ToUtf8(src, srcLength, dst, dstSize);
    if (usedDefault != nullptr) {
        *usedDefault = FALSE;
    }
    std::lock_guard<std::mutex> guard(m_state->lock);
    SimCall call = NamedCall("WideCharToMultiByte");
    call.length = static_cast<DWORD>(srcLength);
    m_state->Note(std::move(call), static_cast<uint64_t>(result));
    return result;
}

HLOCAL SimPlatform::LocalAlloc(UINT flags, SIZE_T bytes) {
    (void)flags;  // every block is zero-filled, LMEM_ZEROINIT or not
    std::lock_guard<std::mutex> guard(m_state->lock);
    DWORD error = ERROR_SUCCESS;
    void* memory = nullptr;
    if (m_state->TakeFault("LocalAlloc", error)) {
        SetLastErrorCode(error);
    } else if ((memory = std::calloc(1, bytes == 0 ? 1 : bytes)) == nullptr) {
        SetLastErrorCode(ERROR_NOT_ENOUGH_MEMORY);
    } else {
        m_state->allocations.insert(memory);
    }
    SimCall call = NamedCall("LocalAlloc");
    call.length = static_cast<DWORD>(bytes);
    m_state->Note(std::move(call), reinterpret_cast<uintptr_t>(memory));
    return memory;
}

HLOCAL SimPlatform::LocalFree(HLOCAL memory) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    HLOCAL result = nullptr;
    if (memory != nullptr && m_state->allocations.erase(memory) == 0) {
        // Not ours, or freed before: refused rather than freed twice.
        SetLastErrorCode(ERROR_INVALID_HANDLE);
        result = memory;
    } else {
        std::free(memory);
    }
    m_state->Note(NamedCall("LocalFree"), reinterpret_cast<uintptr_t>(result));
    return result;
}

}  // namespace zelp::sim
