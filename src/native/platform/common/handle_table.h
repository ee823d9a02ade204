// The one handle space of the backends that are not Windows. A handle names
// its object on every thread until it is closed, and nothing once closed, on
// every thread at once; a value is never handed out while it names a live
// object, and goes round to the values of long-closed handles only once every
// value of the space has been used (after some 10^9 handles on a 32-bit
// target, never on a 64-bit one). A thread may end, or be ending, at any
// point of its use of the table.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

#include "native/platform/common/sync_objects.h"
#include "native/wintypes.h"

namespace zelp::kobj {

// One address per type, standing for it where RTTI would be slow.
template <class T>
const void* TypeTag() {
    static const char s_tag = 0;
    return &s_tag;
}

struct EventSlot;
struct EventSlots;

// Maps HANDLE values to objects.
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

    // Null when every value of the handle space names a live object.
    template <class T>
    HANDLE Insert(std::shared_ptr<T> object) {
        return InsertTagged(std::move(object), TypeTag<T>());
    }
    // A new event in the calling thread's own slot, or in the ordered list
    // when the slot holds an open one already. The slot's last event serves
    // again, unless a thread still waits on it: setting the new event must
    // not end that wait.
    inline HANDLE InsertOwnEvent(bool manualReset, bool initialState);

    // Closes the calling thread's own event; false when `handle` is not it
    // (or is, but this thread used another table since).
    inline bool CloseOwnEvent(HANDLE handle);

    std::shared_ptr<KernelObject> Find(HANDLE handle) const;
    std::shared_ptr<KernelObject> Remove(HANDLE handle);
    size_t Count() const;

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
    inline const std::shared_ptr<Event>* OwnEvent(HANDLE handle) const;

    // OwnEvent, found without looking further: null also when this thread
    // used another table since.
    inline const std::shared_ptr<Event>* RecentOwnEvent(HANDLE handle) const;

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
    T* Borrow(HANDLE handle) const;

    // What Borrow finds without looking further: the thread's own event, or
    // what it borrowed last. Null does not mean that there is no such object.
    // The data path's calls try this first and leave everything else to
    // their general form, so that the usual case makes no call at all.
    template <class T>
    T* Recent(HANDLE handle) const;

    // Makes `value` the next handle's value, for tests that need the values
    // to reach the top of their space.
    void SkipValuesTo(uintptr_t value);

private:
    // Values are multiples of 4 from kFirstValue up to kLastValue (never 0,
    // never INVALID_HANDLE_VALUE); the count of values handed out is 64-bit,
    // so it never wraps, even where HANDLE has 32 bits.
    static constexpr uintptr_t kFirstValue = 0x100;
    static constexpr uintptr_t kLastValue = UINTPTR_MAX & ~uintptr_t{3};
    static constexpr uint64_t kValues = (kLastValue - kFirstValue) / 4 + 1;

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
    // made on first use when `make`. Null once the thread's storage is gone.
    EventSlot* OwnSlot(bool make) const;
    static inline bool IsReady(const EventSlot& slot);
    inline HANDLE Publish(EventSlot& slot);
    // The next value; 0 when every value names a live object.
    inline uintptr_t NextValue();
    uintptr_t NextValueLocked();
    [[gnu::noinline]] uintptr_t ValueAfterWrap();
    uintptr_t ValueAfterWrapLocked();
    bool IsLiveLocked(uintptr_t value) const;
    [[gnu::noinline]] HANDLE InsertEventFirstTime(bool manualReset, bool initialState);
    // Returns once no other thread's visit may still read a slot's event.
    [[gnu::noinline]] void WaitOutVisitors() const;
    const std::shared_ptr<Event>* OwnEventAfterSwitch(HANDLE handle) const;
    // Looks for `value` in the other threads' slots; when `close`, closes it.
    Entry VisitSlots(uintptr_t value, bool close) const;

    // Ordered by value. Values grow until the space is used up, so a new
    // handle nearly always goes at the end, and so does most removal. A
    // look-up is a binary search in one block, with no hashing and no heap
    // node per handle.
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
    std::atomic<uint64_t> m_nIssued{0};  // values handed out so far
    uint64_t m_nCursor = 0;              // under m_lock: where the next round looks
    // Every thread's own event slot; shared with the threads, which may end
    // before or after the table.
    const std::shared_ptr<EventSlots> m_pSlots;
};

}  // namespace zelp::kobj

#include "native/platform/common/handle_table_fast.h"
