// Kernel objects for the backends that are not Windows (linux, sim): one
// handle space, events, mutexes and the thread's last error, with the Windows
// semantics that platform.h promises. A backend adds its own device objects.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "native/wintypes.h"

namespace zelp::kobj {

using SteadyClock = std::chrono::steady_clock;
using Instant = SteadyClock::time_point;

// The deadline of a wait of `milliseconds` from now; INFINITE gives Instant::max().
Instant DeadlineAfter(DWORD milliseconds);

void SetLastErrorCode(DWORD error);
DWORD LastErrorCode();

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

class Event;

// Something that makes progress only while a thread waits for it: a pending
// transfer of a backend without threads. An event that belongs to such a
// transfer delegates its waits here.
class WaitDriver {
public:
    virtual ~WaitDriver() = default;
    // Drives until `event` is signalled or `deadline` passes; true when signalled.
    virtual bool DriveUntil(Event& event, Instant deadline) = 0;
};

class Event : public KernelObject {
public:
    explicit Event(bool manualReset, bool initialState)
        : m_bManualReset(manualReset), m_bSignalled(initialState) {}

    void Set();
    void Reset();
    bool IsSet();

    // Waits (driving the attached transfer, if any) until signalled or the
    // deadline; true when signalled. An auto-reset event is reset by the wait
    // that sees it.
    bool WaitUntil(Instant deadline);

    // Plain condition wait, for drivers that are waiting on another thread's
    // progress; does not consult the driver.
    bool WaitSignalledUntil(Instant deadline);

    void AttachDriver(std::weak_ptr<WaitDriver> driver);
    void DetachDriver();

private:
    bool ConsumeLocked();

    std::mutex m_lock;
    std::condition_variable m_changed;
    const bool m_bManualReset;
    bool m_bSignalled;
    std::weak_ptr<WaitDriver> m_driver;
};

class Mutex : public KernelObject {
public:
    explicit Mutex(bool initialOwner);

    // True when the calling thread now owns the mutex.
    bool AcquireUntil(Instant deadline);
    // False when the calling thread does not own it.
    bool Release();

private:
    std::mutex m_lock;
    std::condition_variable m_released;
    std::thread::id m_owner;
    unsigned m_nDepth = 0;
};

// Maps HANDLE values to objects. Values count up from a base and are never
// reused while the table lives, so a stale handle never names a new object.
class HandleTable {
public:
    HANDLE Insert(std::shared_ptr<KernelObject> object);
    std::shared_ptr<KernelObject> Find(HANDLE handle) const;
    std::shared_ptr<KernelObject> Remove(HANDLE handle);
    size_t Count() const;

    template <class T>
    std::shared_ptr<T> FindAs(HANDLE handle) const {
        return std::dynamic_pointer_cast<T>(Find(handle));
    }

private:
    mutable std::mutex m_lock;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> m_objects;
    uintptr_t m_nNext = 0x100;
};

// WaitForSingleObject over the common objects (events and mutexes).
DWORD WaitForObject(const HandleTable& handles, HANDLE handle, DWORD milliseconds);

// The Windows conversion from UTF-16 to UTF-8, with its sizing rules
// (dstSize 0 asks for the size; a too-small buffer fails with
// ERROR_INSUFFICIENT_BUFFER). Lone surrogates become '?'.
int Utf16ToUtf8(LPCWCH src, int srcLength, LPSTR dst, int dstSize);

}  // namespace zelp::kobj
