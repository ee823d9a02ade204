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
#include <type_traits>
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

// Most events are set and closed with nobody waiting for them (a transfer
// that finished at once), so their state is atomic and the lock and the
// condition are used only by a thread that has to sleep, or by a transfer
// that a waiter has to drive.
class Event : public KernelObject {
public:
    explicit Event(bool manualReset, bool initialState)
        : m_bManualReset(manualReset), m_bSignalled(initialState) {}

    // A sleeper counts itself (under the lock) before it looks at the state,
    // and a setter stores the state before it looks for sleepers, both in the
    // one total order of seq_cst: either the sleeper sees the event set, or
    // the setter sees the sleeper and wakes it under the lock.
    void Set() {
        m_bSignalled.store(true);
        if (m_nSleepers.load() != 0) {
            WakeSleepers();
        }
    }
    void Reset() { m_bSignalled.store(false); }
    bool IsSet() const { return m_bSignalled.load(); }

    // Waits (driving the attached transfer, if any) until signalled or the
    // deadline; true when signalled. An auto-reset event is reset by the wait
    // that sees it.
    bool WaitUntil(Instant deadline);

    // Plain condition wait, for drivers that are waiting on another thread's
    // progress; does not consult the driver.
    bool WaitSignalledUntil(Instant deadline);

    // The two steps of a pending transfer's life on its event, each under
    // one lock: issued (unsignalled, waits drive `driver`), and over (no
    // driver, set).
    void ResetAndAttach(std::weak_ptr<WaitDriver> driver);
    void DetachAndSet();

    // Makes an event nothing refers to any more as good as a new one.
    void Renew(bool manualReset, bool initialState) {
        if (IsDriven()) {
            ForgetDriver();
        }
        Restart(manualReset, initialState);
    }
    // Renew for an event with no driver attached.
    void Restart(bool manualReset, bool initialState) {
        m_bManualReset.store(manualReset, std::memory_order_relaxed);
        m_bSignalled.store(initialState);
    }
    bool IsDriven() const { return m_bDriven.load(); }

private:
    bool Consume();
    void ForgetDriver();
    void WakeSleepers();
    std::shared_ptr<WaitDriver> Driver();

    std::atomic<bool> m_bManualReset;
    std::atomic<bool> m_bSignalled;
    // Threads asleep on m_changed, or about to be: a Set with none to wake
    // takes no lock.
    std::atomic<uint32_t> m_nSleepers{0};
    std::atomic<bool> m_bDriven{false};  // m_driver names a transfer's device

    std::mutex m_lock;  // m_driver, and the sleeps on m_changed
    std::condition_variable m_changed;
    std::weak_ptr<WaitDriver> m_driver;
};

namespace detail {
extern constinit thread_local uint64_t t_threadToken;
uint64_t NewThreadToken();
}  // namespace detail

// A recursive mutex. Taking a free one, or one the thread owns already, and
// giving it back with nobody waiting, are one atomic step each: a USB port's
// mutex is taken and given back around every transfer, nearly always free.
class Mutex : public KernelObject {
public:
    explicit Mutex(bool initialOwner);

    // True when the calling thread now owns the mutex.
    bool AcquireUntil(Instant deadline) {
        const uint64_t self = ThreadToken();
        uint64_t owner = 0;
        if (m_nOwner.compare_exchange_strong(owner, self)) {
            m_nDepth = 1;
            return true;
        }
        if (owner == self) {
            ++m_nDepth;
            return true;
        }
        return AcquireAfterWaiting(self, deadline);
    }

    // False when the calling thread does not own it.
    bool Release() {
        if (m_nOwner.load(std::memory_order_relaxed) != ThreadToken() || m_nDepth == 0) {
            return false;
        }
        if (--m_nDepth != 0) {
            return true;
        }
        // As with events: the owner is cleared before waiters are looked for,
        // and a waiter counts itself before it tries to take the mutex.
        m_nOwner.store(0);
        if (m_nWaiters.load() != 0) {
            WakeAWaiter();
        }
        return true;
    }

private:
    // A number of the calling thread's own, never 0 and never another's.
    static uint64_t ThreadToken() {
        const uint64_t token = detail::t_threadToken;
        return token != 0 ? token : detail::NewThreadToken();
    }
    bool AcquireAfterWaiting(uint64_t self, Instant deadline);
    void WakeAWaiter();

    std::atomic<uint64_t> m_nOwner{0};  // the owner's token; 0 when free
    unsigned m_nDepth = 0;              // touched by the owner alone
    std::atomic<uint32_t> m_nWaiters{0};
    std::mutex m_lock;  // the sleeps on m_released
    std::condition_variable m_released;
};

// One address per type, standing for it where RTTI would be slow.
template <class T>
const void* TypeTag() {
    static const char s_tag = 0;
    return &s_tag;
}

// One thread's own event in a table (see HandleTable). Its thread writes
// `event` only while `handle` is 0 and no visitor is counted; a visitor counts
// itself (under the table's slot lock) before it reads `handle`, and the thread
// clears `handle` before it looks for visitors, so one of the two always sees
// the other.
struct EventSlot {
    std::atomic<uintptr_t> handle{0};  // the live handle, 0 when there is none
    // The slot's event, kept when its handle closes for the thread's next one.
    std::shared_ptr<Event> event;
    std::atomic<uint32_t> visitors{0};  // other threads looking, each under the lock
    // Its thread has let it go: whoever closes its handle takes the event.
    std::atomic<bool> orphaned{false};
};

struct EventSlots;

namespace detail {

// What the calling thread used last, for the look-ups the data path makes
// several times per transfer: plain values (the references that keep the
// objects alive are kernel_objects.cpp's), so that reading them is one load
// from thread storage.
struct ThreadCache {
    struct Borrowed {
        uint64_t table = 0;
        uintptr_t handle = 0;
        const void* tag = nullptr;
        uint64_t removed = 0;  // the table's count of removals of this kind then
        KernelObject* object = nullptr;
    };
    uint64_t slotTable = 0;  // the table of `slot`
    EventSlot* slot = nullptr;
    // The thread has made a slot in some table, so it has slots to look
    // through; until then its thread storage with a destructor is left alone.
    bool hasSlots = false;
    Borrowed borrowed[3];
};
extern constinit thread_local ThreadCache t_cache;

}  // namespace detail

// Maps HANDLE values to objects. Values count up from a base and are never
// reused while the table lives, so a stale handle never names a new object.
//
// Each entry remembers the type its object was inserted as. Looking an object
// up as that type (the data path does so several times per transfer) is then
// a pointer comparison: a dynamic_cast is needed only for any other type, and
// with hidden visibility every type comparison inside one costs a strcmp.
//
// Events made with InsertOwnEvent are the exception to the one ordered list:
// each thread keeps one such event in a slot of its own, where it creates,
// finds and closes it without the table's lock, and where the event object
// stays for the thread's next one. That is the event of a transfer, which the
// issuing thread makes, waits on and closes itself, once per transfer. Other
// threads still find it, through the list of slots.
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
    // A new event in the calling thread's own slot, or in the ordered list
    // when the slot holds an open one already. The slot's last event serves
    // again, unless a thread still waits on it: setting the new event must
    // not end that wait.
    HANDLE InsertOwnEvent(bool manualReset, bool initialState) {
        const detail::ThreadCache& cache = detail::t_cache;
        if (cache.slotTable != m_nId || !IsReady(*cache.slot) || cache.slot->event->IsDriven()) {
            return InsertEventFirstTime(manualReset, initialState);
        }
        cache.slot->event->Restart(manualReset, initialState);
        return Publish(*cache.slot);
    }

    // Closes the calling thread's own event; false when `handle` is not it
    // (or is, but this thread used another table since).
    bool CloseOwnEvent(HANDLE handle) {
        if (RecentOwnEvent(handle) == nullptr) {
            return false;
        }
        EventSlot& slot = *detail::t_cache.slot;
        uintptr_t expected = reinterpret_cast<uintptr_t>(handle);
        if (!slot.handle.compare_exchange_strong(expected, 0)) {
            return false;  // closed on another thread just now
        }
        if (slot.visitors.load() != 0) {
            WaitOutVisitors();
        }
        return true;
    }

    std::shared_ptr<KernelObject> Find(HANDLE handle) const;
    std::shared_ptr<KernelObject> Remove(HANDLE handle);
    size_t Count() const;

    // Makes `value` the next handle's value, for tests that need the values
    // to reach the top of their space.
    void SkipValuesTo(uintptr_t value) { m_nNext.store(value); }

    // Removes the object unless it was inserted as a `Kept`, in one look-up,
    // and gives back its entry: the object (null when there was none, or when
    // it was kept) and the tag it was inserted with, so that a close can tell
    // the kinds apart without a dynamic_cast.
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

    // The calling thread's own open event behind `handle`, or null; no lock
    // and no reference taken. Good until this thread closes it.
    const std::shared_ptr<Event>* OwnEvent(HANDLE handle) const {
        if (detail::t_cache.slotTable != m_nId) {
            return OwnEventAfterSwitch(handle);
        }
        return RecentOwnEvent(handle);
    }

    // OwnEvent, found without looking further: null also when this thread
    // used another table since.
    const std::shared_ptr<Event>* RecentOwnEvent(HANDLE handle) const {
        const detail::ThreadCache& cache = detail::t_cache;
        const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
        if (cache.slotTable != m_nId || value == 0 ||
            cache.slot->handle.load(std::memory_order_relaxed) != value) {
            return nullptr;
        }
        return &cache.slot->event;
    }

    // The object inserted as exactly a T behind `handle`, or null, for the
    // data path's look-ups of the same few handles over and over. The
    // calling thread's own event is found in its slot. For the rest, the
    // thread keeps one reference per kind (mutexes, everything else) to what
    // it borrowed last; borrowing that handle again, with nothing of its kind
    // removed from the table since, takes neither the lock nor a reference.
    // The pointer stays good until this thread borrows an object of the same
    // kind again or removes the handle itself; a close on another thread
    // does not end it, just as it would not end a shared_ptr copy.
    template <class T>
    T* Borrow(HANDLE handle) const {
        if (T* recent = Recent<T>(handle)) {
            return recent;
        }
        return static_cast<T*>(BorrowTagged(handle, TypeTag<T>()));
    }

    // What Borrow finds without looking further: the thread's own event, or
    // what it borrowed last. Null does not mean that there is no such object.
    // The data path's calls try this first and leave everything else to
    // their general form, so that the usual case makes no call at all.
    template <class T>
    T* Recent(HANDLE handle) const {
        if constexpr (std::is_same_v<T, Event>) {
            const std::shared_ptr<Event>* own = RecentOwnEvent(handle);
            return own != nullptr ? own->get() : nullptr;
        } else {
            const detail::ThreadCache::Borrowed& last = detail::t_cache.borrowed[KindOf<T>()];
            if (last.table == m_nId && last.handle == reinterpret_cast<uintptr_t>(handle) &&
                last.tag == TypeTag<T>() &&
                last.removed == m_nRemoved[KindOf<T>()].load(std::memory_order_acquire)) {
                return static_cast<T*>(last.object);
            }
            return nullptr;
        }
    }

private:
    // Events come and go with every transfer; keeping their removals apart
    // lets a borrowed device or mutex outlive them. A USB write uses its
    // port's mutex and its device in turn, so those two have a kind each.
    template <class T>
    static constexpr size_t KindOf() {
        if constexpr (std::is_same_v<T, Event>) {
            return 0;
        } else if constexpr (std::is_same_v<T, Mutex>) {
            return 1;
        } else {
            return 2;
        }
    }
    static size_t KindOfTag(const void* tag);

    HANDLE InsertTagged(std::shared_ptr<KernelObject> object, const void* tag);
    KernelObject* BorrowTagged(HANDLE handle, const void* tag) const;
    // Marks one removal of an object inserted with `tag`, under the lock.
    void CountRemovalLocked(const void* tag);
    // Drops this thread's borrowed reference to `handle`, if it holds one.
    void ForgetBorrowed(uintptr_t handle) const;
    Entry FindEntry(HANDLE handle) const;
    Entry RemoveUnlessTagged(HANDLE handle, const void* keptTag);
    // This thread's slot in this table, brought to the front of its cache;
    // made on first use when `make`.
    EventSlot* OwnSlot(bool make) const;
    // A slot with no open handle, no visitor, and an event no one else holds.
    static bool IsReady(const EventSlot& slot) {
        return slot.handle.load(std::memory_order_relaxed) == 0 && slot.visitors.load() == 0 &&
               slot.event && slot.event.use_count() == 1;
    }
    HANDLE Publish(EventSlot& slot) {
        const uintptr_t value = m_nNext.fetch_add(4, std::memory_order_relaxed);
        slot.handle.store(value, std::memory_order_release);
        return reinterpret_cast<HANDLE>(value);
    }
    [[gnu::noinline]] HANDLE InsertEventFirstTime(bool manualReset, bool initialState);
    // Returns once no other thread's visit may still read a slot's event.
    [[gnu::noinline]] void WaitOutVisitors() const;
    const std::shared_ptr<Event>* OwnEventAfterSwitch(HANDLE handle) const;
    // Looks for `value` in the other threads' slots; when `close`, closes it.
    Entry VisitSlots(uintptr_t value, bool close) const;

    // Ordered by value. Values only grow, so a new handle goes at the end,
    // and so does most removal. A look-up is a binary search in one block,
    // with no hashing and no heap node per handle.
    using Objects = std::vector<std::pair<uintptr_t, Entry>>;

    Entry TakeLocked(Objects::iterator it);

    // Borrowed references name their table by this number, never reused, so
    // that a table made where a destroyed one lived is not taken for it.
    const uint64_t m_nId;
    // Removals so far of each kind (events, mutexes, everything else): a
    // borrowed reference taken before the latest removal of its kind is
    // looked up again.
    std::atomic<uint64_t> m_nRemoved[3] = {};
    mutable std::mutex m_lock;
    Objects m_objects;
    std::atomic<uintptr_t> m_nNext{0x100};
    // Every thread's own event slot; shared with the threads, which may end
    // before or after the table.
    const std::shared_ptr<EventSlots> m_pSlots;
};

// WaitForSingleObject over the common objects (events and mutexes).
DWORD WaitForObject(const HandleTable& handles, HANDLE handle, DWORD milliseconds);

// SetEvent: false when the handle names no event.
bool SetEventOf(const HandleTable& handles, HANDLE handle);

// The Windows conversion from UTF-16 to UTF-8, with its sizing rules
// (dstSize 0 asks for the size; a too-small buffer fails with
// ERROR_INSUFFICIENT_BUFFER). Lone surrogates become '?'.
int Utf16ToUtf8(LPCWCH src, int srcLength, LPSTR dst, int dstSize);

}  // namespace zelp::kobj
