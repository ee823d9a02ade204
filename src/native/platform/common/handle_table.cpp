// The handle table's slow paths: the ordered list under its lock, the other
// threads' slots, the round of values after the space is used up, and the
// references behind each thread's cache, which go when the thread ends
// without needing any of its thread storage.
#include "native/platform/common/handle_table.h"

#include <pthread.h>

#include <algorithm>
#include <iterator>

#include "native/platform/common/kernel_objects.h"
#include "native/platform/common/test_seam.h"

namespace zelp::kobj {

namespace {

std::atomic<uint64_t> g_nextTableId{1};

// The entry with `value` in a table's ordered entries, or their end.
template <class Objects>
auto FindValue(Objects& objects, uintptr_t value) {
    auto it = std::lower_bound(objects.begin(), objects.end(), value,
                               [](const auto& item, uintptr_t key) { return item.first < key; });
    return it != objects.end() && it->first == value ? it : objects.end();
}

}  // namespace

struct EventSlots {
    std::mutex lock;
    std::vector<std::shared_ptr<EventSlot>> slots;
};

namespace detail {
constinit thread_local ThreadCache t_cache;
}  // namespace detail

// --- The references behind a thread's cache ------------------------------------

namespace {

constexpr size_t kKinds = std::size(detail::ThreadCache{}.borrowed);

struct OwnSlotRef {
    uint64_t table = 0;
    std::shared_ptr<EventSlot> slot;
    std::weak_ptr<EventSlots> slots;
};

// Lets a slot go with its thread (or when the thread moves on to other
// tables). A slot whose event is still open stays findable until closed.
void LetGo(OwnSlotRef& own) {
    if (!own.slot) {
        return;
    }
    own.slot->orphaned.store(true);
    if (const std::shared_ptr<EventSlots> slots = own.slots.lock()) {
        std::lock_guard<std::mutex> guard(slots->lock);
        if (own.slot->handle.load() == 0) {
            std::erase(slots->slots, own.slot);
        }
    }
    own = OwnSlotRef{};
}

// What the thread borrowed last, one per kind, and its slots in the (at
// most two) tables it used last: on the heap, only for threads that borrow
// or own events (the linux backend's).
struct ThreadRefs {
    std::shared_ptr<KernelObject> borrowed[kKinds];
    OwnSlotRef slots[2];
    ~ThreadRefs() {
        for (OwnSlotRef& own : slots) {
            LetGo(own);
        }
    }
};

constinit thread_local ThreadRefs* t_pRefs = nullptr;

// Runs when the thread ends, with the references as its argument. It goes by
// a thread-specific key rather than a thread_local destructor: such
// destructors run in an order no one chooses, where thread storage is
// emulated (mingw's emutls) even after that storage is freed, and a key's
// destructor needs none of it. The cache is emptied first, so a later call on
// this thread (the destructor of other thread storage) finds nothing stale
// and starts afresh; references made then are let go in the next round of
// key destructors.
void EndOfThread(void* refs) {
    detail::t_cache = detail::ThreadCache{};
    t_pRefs = nullptr;
    delete static_cast<ThreadRefs*>(refs);
}

// Deleted when the library is unloaded, so no thread ends into code that is
// gone.
class ThreadEndKey {
public:
    ThreadEndKey() { m_bValid = pthread_key_create(&m_key, EndOfThread) == 0; }
    ~ThreadEndKey() {
        if (m_bValid) {
            pthread_key_delete(m_key);
        }
    }
    void Watch(ThreadRefs* refs) const {
        if (m_bValid) {
            pthread_setspecific(m_key, refs);
        }
    }

private:
    pthread_key_t m_key{};
    bool m_bValid = false;
};

ThreadRefs& Refs() {
    if (t_pRefs == nullptr) {
        static const ThreadEndKey s_key;
        t_pRefs = new ThreadRefs;
        s_key.Watch(t_pRefs);
    }
    return *t_pRefs;
}

void ShowFront(const OwnSlotRef& front) {
    detail::t_cache.slotTable = front.table;
    detail::t_cache.slot = front.slot.get();
}

}  // namespace

// --- The table -------------------------------------------------------------------

size_t HandleTable::KindOfTag(const void* tag) {
    if (tag == TypeTag<Event>()) {
        return KindOf<Event>();
    }
    return tag == TypeTag<Mutex>() ? KindOf<Mutex>() : KindOf<KernelObject>();
}

HandleTable::HandleTable()
    : m_nId(g_nextTableId.fetch_add(1)), m_pSlots(std::make_shared<EventSlots>()) {}

HandleTable::~HandleTable() {
    // What this thread borrowed goes with the table; other threads drop
    // theirs at their next borrow or when they end.
    ThreadRefs* refs = t_pRefs;
    if (refs == nullptr) {
        return;
    }
    for (size_t kind = 0; kind < kKinds; ++kind) {
        if (detail::t_cache.borrowed[kind].table == m_nId) {
            detail::t_cache.borrowed[kind] = {};
            refs->borrowed[kind] = nullptr;
        }
    }
    for (OwnSlotRef& own : refs->slots) {
        if (own.table == m_nId) {
            LetGo(own);
        }
    }
    ShowFront(refs->slots[0]);
}

void HandleTable::SkipValuesTo(uintptr_t value) {
    m_nIssued.store((value - kFirstValue) / 4);
}

uintptr_t HandleTable::NextValueLocked() {
    const uint64_t issued = m_nIssued.fetch_add(1, std::memory_order_relaxed);
    if (issued < kValues) {
        return kFirstValue + static_cast<uintptr_t>(issued) * 4;
    }
    return ValueAfterWrapLocked();
}

uintptr_t HandleTable::ValueAfterWrap() {
    std::lock_guard<std::mutex> guard(m_lock);
    return ValueAfterWrapLocked();
}

// Every value has been handed out once: the next round takes the values in
// the same order again, passing over those still live, so a value comes back
// only after all the others have been used since it was closed.
uintptr_t HandleTable::ValueAfterWrapLocked() {
    for (uint64_t tried = 0; tried < kValues; ++tried) {
        const uintptr_t value = kFirstValue + static_cast<uintptr_t>(m_nCursor) * 4;
        m_nCursor = m_nCursor + 1 == kValues ? 0 : m_nCursor + 1;
        if (!IsLiveLocked(value)) {
            return value;
        }
    }
    // As Windows says when its handle table is full.
    SetLastErrorCode(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

bool HandleTable::IsLiveLocked(uintptr_t value) const {
    if (FindValue(m_objects, value) != m_objects.end()) {
        return true;
    }
    std::lock_guard<std::mutex> guard(m_pSlots->lock);
    return std::any_of(
        m_pSlots->slots.begin(), m_pSlots->slots.end(),
        [&](const std::shared_ptr<EventSlot>& slot) { return slot->handle.load() == value; });
}

EventSlot* HandleTable::OwnSlot(bool make) const {
    if (!make && t_pRefs == nullptr) {
        return nullptr;
    }
    OwnSlotRef* refs = Refs().slots;
    if (refs[0].table != m_nId && refs[1].table == m_nId) {
        std::swap(refs[0], refs[1]);
    }
    if (refs[0].table != m_nId) {
        if (!make) {
            return nullptr;
        }
        LetGo(refs[1]);
        refs[1] = std::move(refs[0]);
        auto slot = std::make_shared<EventSlot>();
        {
            std::lock_guard<std::mutex> guard(m_pSlots->lock);
            m_pSlots->slots.push_back(slot);
        }
        refs[0] = OwnSlotRef{m_nId, std::move(slot), m_pSlots};
    }
    ShowFront(refs[0]);
    return refs[0].slot.get();
}

const std::shared_ptr<Event>* HandleTable::OwnEventAfterSwitch(HANDLE handle) const {
    if (OwnSlot(false) == nullptr) {
        return nullptr;
    }
    return OwnEvent(handle);
}

HANDLE HandleTable::InsertEventFirstTime(bool manualReset, bool initialState) {
    EventSlot* slot = OwnSlot(true);
    if (slot->handle.load(std::memory_order_relaxed) != 0) {
        return InsertTagged(std::make_shared<Event>(manualReset, initialState), TypeTag<Event>());
    }
    if (slot->visitors.load() != 0) {
        WaitOutVisitors();
    }
    if (IsReady(*slot)) {
        slot->event->Renew(manualReset, initialState);
    } else {
        slot->event = std::make_shared<Event>(manualReset, initialState);
    }
    return Publish(*slot);
}

// A visit holds the slots' lock throughout, so having had the lock once is
// enough.
void HandleTable::WaitOutVisitors() const {
    std::lock_guard<std::mutex> guard(m_pSlots->lock);
}

HandleTable::Entry HandleTable::VisitSlots(uintptr_t value, bool close) const {
    if (value == 0) {
        return Entry{};
    }
    std::lock_guard<std::mutex> guard(m_pSlots->lock);
    std::vector<std::shared_ptr<EventSlot>>& slots = m_pSlots->slots;
    for (auto it = slots.begin(); it != slots.end(); ++it) {
        EventSlot& slot = **it;
        slot.visitors.fetch_add(1);
        Entry found;
        if (slot.handle.load() == value) {
            found = Entry{slot.event, TypeTag<Event>()};
            uintptr_t expected = value;
            if (close && !slot.handle.compare_exchange_strong(expected, 0)) {
                found = Entry{};  // its thread closed it just now
            }
        }
        slot.visitors.fetch_sub(1);
        if (found.object) {
            if (close && slot.orphaned.load()) {
                slots.erase(it);  // no thread will come back for it
            }
            return found;
        }
    }
    return Entry{};
}

KernelObject* HandleTable::BorrowTagged(HANDLE handle, const void* tag) const {
    const size_t kind = KindOfTag(tag);
    // Read before the look-up: a close that lands after the look-up counts
    // past this, so what the thread remembers below is stale at once.
    const uint64_t removed = m_nRemoved[kind].load(std::memory_order_acquire);
    Entry entry = FindEntry(handle);
    seam::Reach(seam::Place::LookUpFound);
    if (!entry.object || entry.tag != tag) {
        return nullptr;
    }
    KernelObject* object = entry.object.get();
    ThreadRefs& refs = Refs();
    std::shared_ptr<KernelObject> previous = std::move(refs.borrowed[kind]);  // let go of last
    refs.borrowed[kind] = std::move(entry.object);
    // Borrow never finds an event here again (events of the list change too
    // often to be worth it): it is remembered so that its close lets go.
    detail::t_cache.borrowed[kind] = {m_nId, reinterpret_cast<uintptr_t>(handle), tag, removed,
                                      object};
    return object;
}

void HandleTable::CountRemovalLocked(const void* tag) {
    std::atomic<uint64_t>& removed = m_nRemoved[KindOfTag(tag)];
    removed.store(removed.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

void HandleTable::ForgetBorrowed(uintptr_t handle) const {
    for (size_t kind = 0; kind < kKinds; ++kind) {
        detail::ThreadCache::Borrowed& last = detail::t_cache.borrowed[kind];
        if (last.table == m_nId && last.handle == handle) {
            last = {};
            if (t_pRefs != nullptr) {
                t_pRefs->borrowed[kind] = nullptr;
            }
        }
    }
}

HANDLE HandleTable::InsertTagged(std::shared_ptr<KernelObject> object, const void* tag) {
    std::lock_guard<std::mutex> guard(m_lock);
    // Taken under the lock, so that the list stays in order of value.
    const uintptr_t value = NextValueLocked();
    if (value == 0) {
        return nullptr;
    }
    if (m_objects.empty() || m_objects.back().first < value) {
        m_objects.emplace_back(value, Entry{std::move(object), tag});
    } else {
        auto at =
            std::lower_bound(m_objects.begin(), m_objects.end(), value,
                             [](const auto& item, uintptr_t key) { return item.first < key; });
        m_objects.emplace(at, value, Entry{std::move(object), tag});
    }
    return reinterpret_cast<HANDLE>(value);
}

HandleTable::Entry HandleTable::FindEntry(HANDLE handle) const {
    if (const std::shared_ptr<Event>* own = OwnEvent(handle)) {
        return Entry{*own, TypeTag<Event>()};
    }
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = FindValue(m_objects, value);
        if (it != m_objects.end()) {
            return it->second;
        }
    }
    return VisitSlots(value, false);
}

std::shared_ptr<KernelObject> HandleTable::Find(HANDLE handle) const {
    return FindEntry(handle).object;
}

std::shared_ptr<KernelObject> HandleTable::Remove(HANDLE handle) {
    return RemoveUnlessTagged(handle, nullptr).object;
}

HandleTable::Entry HandleTable::TakeLocked(Objects::iterator it) {
    CountRemovalLocked(it->second.tag);
    Entry entry = std::move(it->second);
    m_objects.erase(it);
    return entry;
}

HandleTable::Entry HandleTable::RemoveUnlessTagged(HANDLE handle, const void* keptTag) {
    if (const std::shared_ptr<Event>* own = OwnEvent(handle)) {
        Entry entry{*own, TypeTag<Event>()};
        return CloseOwnEvent(handle) ? entry : Entry{};
    }
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    ForgetBorrowed(value);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = FindValue(m_objects, value);
        if (it != m_objects.end()) {
            if (it->second.tag == keptTag) {
                return Entry{nullptr, keptTag};
            }
            return TakeLocked(it);
        }
    }
    return VisitSlots(value, true);
}

size_t HandleTable::Count() const {
    size_t count = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        count = m_objects.size();
    }
    std::lock_guard<std::mutex> guard(m_pSlots->lock);
    for (const std::shared_ptr<EventSlot>& slot : m_pSlots->slots) {
        count += slot->handle.load() != 0 ? 1 : 0;
    }
    return count;
}

}  // namespace zelp::kobj
