// Kernel objects for the backends that are not Windows (linux, sim): one
// handle space, events, mutexes and the thread's last error, with the Windows
// semantics that platform.h promises. A backend adds its own device objects.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

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

    // The two steps of a transfer's life on its event, each under one lock:
    // issued (unsignalled, waits drive `driver`), and over (no driver, set).
    void ResetAndAttach(std::weak_ptr<WaitDriver> driver);
    void DetachAndSet();

    // Makes an event nothing refers to any more as good as a new one.
    void Renew(bool manualReset, bool initialState);

private:
    bool ConsumeLocked();

    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_bManualReset;
    bool m_bSignalled;
    std::weak_ptr<WaitDriver> m_driver;
};

// A new event, or the one this thread last gave back. The port logic creates
// and closes an event for every transfer; reusing the object (never the
// handle value) spares a heap block and its set-up each time.
std::shared_ptr<Event> NewEvent(bool manualReset, bool initialState);
// Keeps a closed event for the thread's next NewEvent, when nothing else
// still refers to it; otherwise lets it go.
void GiveBackEvent(std::shared_ptr<Event> event);

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

// One address per type, standing for it where RTTI would be slow.
template <class T>
const void* TypeTag() {
    static const char s_tag = 0;
    return &s_tag;
}

// Maps HANDLE values to objects. Values count up from a base and are never
// reused while the table lives, so a stale handle never names a new object.
//
// Each entry remembers the type its object was inserted as. Looking an object
// up as that type (the data path does so several times per transfer) is then
// a pointer comparison: a dynamic_cast is needed only for any other type, and
// with hidden visibility every type comparison inside one costs a strcmp.
class HandleTable {
public:
    HandleTable();
    ~HandleTable();
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    struct Entry {
        std::shared_ptr<KernelObject> object;
        const void* tag = nullptr;
    };

    template <class T>
    HANDLE Insert(std::shared_ptr<T> object) {
        return InsertTagged(std::move(object), TypeTag<T>());
    }
    std::shared_ptr<KernelObject> Find(HANDLE handle) const;
    std::shared_ptr<KernelObject> Remove(HANDLE handle);
    size_t Count() const;

    // Removes the object unless it was inserted as a `Kept`, in one look-up,
    // and gives back its entry: the object (null when there was none, or when
    // it was kept) and the tag it was inserted with, so that a close can tell
    // the kinds apart without a dynamic_cast on every event it ends.
    template <class Kept>
    Entry RemoveUnless(HANDLE handle) {
        return RemoveUnlessTagged(handle, TypeTag<Kept>());
    }

    template <class T>
    std::shared_ptr<T> FindAs(HANDLE handle) const {
        Entry entry = FindEntry(handle);
        if (entry.tag == TypeTag<T>()) {
            return std::static_pointer_cast<T>(std::move(entry.object));
        }
        return std::dynamic_pointer_cast<T>(std::move(entry.object));
    }

    // The object inserted as exactly a T behind `handle`, or null, for the
    // data path's look-ups of the same few handles over and over. The
    // calling thread keeps one reference per kind (events, everything else)
    // to what it borrowed last; borrowing that handle again, with nothing of
    // its kind removed from the table since, takes neither the lock nor a
    // reference. The pointer stays good until this thread borrows an object
    // of the same kind again or removes the handle itself; a close on another
    // thread does not end it, just as it would not end a shared_ptr copy.
    template <class T>
    T* Borrow(HANDLE handle) const {
        return static_cast<T*>(BorrowTagged(handle, TypeTag<T>()));
    }

private:
    HANDLE InsertTagged(std::shared_ptr<KernelObject> object, const void* tag);
    KernelObject* BorrowTagged(HANDLE handle, const void* tag) const;
    // Marks one removal of an object inserted with `tag`, under the lock.
    void CountRemovalLocked(const void* tag);
    // Drops this thread's borrowed reference to `handle`, if it holds one.
    void ForgetBorrowed(uintptr_t handle) const;
    Entry FindEntry(HANDLE handle) const;
    Entry RemoveUnlessTagged(HANDLE handle, const void* keptTag);

    // Ordered by value. Values only grow, so a new handle goes at the end,
    // and so does most removal: the per-transfer events are the newest
    // handles. A look-up is a binary search in one block, with no hashing
    // and no heap node per handle.
    using Objects = std::vector<std::pair<uintptr_t, Entry>>;

    Entry TakeLocked(Objects::iterator it);

    // Borrowed references name their table by this number, never reused, so
    // that a table made where a destroyed one lived is not taken for it.
    const uint64_t m_nId;
    // Removals so far of events and of everything else: a borrowed reference
    // taken before the latest removal of its kind is looked up again.
    std::atomic<uint64_t> m_nRemoved[2] = {};
    mutable std::mutex m_lock;
    Objects m_objects;
    uintptr_t m_nNext = 0x100;
};

// WaitForSingleObject over the common objects (events and mutexes).
DWORD WaitForObject(const HandleTable& handles, HANDLE handle, DWORD milliseconds);

// The Windows conversion from UTF-16 to UTF-8, with its sizing rules
// (dstSize 0 asks for the size; a too-small buffer fails with
// ERROR_INSUFFICIENT_BUFFER). Lone surrogates become '?'.
int Utf16ToUtf8(LPCWCH src, int srcLength, LPSTR dst, int dstSize);

}  // namespace zelp::kobj
