// Internal to the handle table: the look-ups the data path makes several
// times per transfer, inline, and what they read (the thread's own event
// slot and its cache of what it used last). A backend calls the members
// handle_table.h declares and never touches these directly. Every look-up
// here ends in one load from thread storage when it misses.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <type_traits>

namespace zelp::kobj {

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

namespace detail {

// What the calling thread used last, for the look-ups the data path makes
// several times per transfer: plain values (the references that keep the
// objects alive are handle_table.cpp's), so that reading them is one load
// from thread storage. Trivially destructible, so it is there for as long as
// the thread runs; it is emptied when the references behind it go.
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
    Borrowed borrowed[3];
};
extern constinit thread_local ThreadCache t_cache;

}  // namespace detail

inline bool HandleTable::IsReady(const EventSlot& slot) {
    // No open handle, no visitor, and an event no one else holds.
    return slot.handle.load(std::memory_order_relaxed) == 0 && slot.visitors.load() == 0 &&
           slot.event && slot.event.use_count() == 1;
}

inline uintptr_t HandleTable::NextValue() {
    const uint64_t issued = m_nIssued.fetch_add(1, std::memory_order_relaxed);
    if (issued < kValues) [[likely]] {
        return kFirstValue + static_cast<uintptr_t>(issued) * 4;
    }
    return ValueAfterWrap();
}

inline HANDLE HandleTable::Publish(EventSlot& slot) {
    const uintptr_t value = NextValue();
    slot.handle.store(value, std::memory_order_release);
    return reinterpret_cast<HANDLE>(value);
}

inline HANDLE HandleTable::InsertOwnEvent(bool manualReset, bool initialState) {
    const detail::ThreadCache& cache = detail::t_cache;
    if (cache.slotTable != m_nId || !IsReady(*cache.slot) || cache.slot->event->IsDriven()) {
        return InsertEventFirstTime(manualReset, initialState);
    }
    cache.slot->event->Restart(manualReset, initialState);
    return Publish(*cache.slot);
}

inline bool HandleTable::CloseOwnEvent(HANDLE handle) {
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

inline const std::shared_ptr<Event>* HandleTable::OwnEvent(HANDLE handle) const {
    if (detail::t_cache.slotTable != m_nId) {
        return OwnEventAfterSwitch(handle);
    }
    return RecentOwnEvent(handle);
}

inline const std::shared_ptr<Event>* HandleTable::RecentOwnEvent(HANDLE handle) const {
    const detail::ThreadCache& cache = detail::t_cache;
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (cache.slotTable != m_nId || value == 0 ||
        cache.slot->handle.load(std::memory_order_relaxed) != value) {
        return nullptr;
    }
    return &cache.slot->event;
}

template <class T>
T* HandleTable::Borrow(HANDLE handle) const {
    if (T* recent = Recent<T>(handle)) {
        return recent;
    }
    return static_cast<T*>(BorrowTagged(handle, TypeTag<T>()));
}

template <class T>
T* HandleTable::Recent(HANDLE handle) const {
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

}  // namespace zelp::kobj
