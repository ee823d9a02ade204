#include "native/platform/common/kernel_objects.h"

#include "native/platform/common/test_seam.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace zelp::kobj {

namespace {
thread_local DWORD t_dwLastError = ERROR_SUCCESS;

std::atomic<uint64_t> g_nextTableId{1};

// The entry with `value` in a table's ordered entries, or their end.
template <class Objects>
auto FindValue(Objects& objects, uintptr_t value) {
    auto it = std::lower_bound(objects.begin(), objects.end(), value,
                               [](const auto& item, uintptr_t key) { return item.first < key; });
    return it != objects.end() && it->first == value ? it : objects.end();
}
}  // namespace

Instant DeadlineAfter(DWORD milliseconds) {
    if (milliseconds == INFINITE) {
        return Instant::max();
    }
    return SteadyClock::now() + std::chrono::milliseconds(milliseconds);
}

void SetLastErrorCode(DWORD error) {
    t_dwLastError = error;
}
DWORD LastErrorCode() {
    return t_dwLastError;
}

// --- Event -------------------------------------------------------------------

void Event::WakeSleepers() {
    { std::lock_guard<std::mutex> guard(m_lock); }
    m_changed.notify_all();
}

bool Event::Consume() {
    if (m_bManualReset.load(std::memory_order_relaxed)) {
        return m_bSignalled.load();
    }
    bool expected = true;
    return m_bSignalled.compare_exchange_strong(expected, false);
}

bool Event::WaitSignalledUntil(Instant deadline) {
    if (Consume()) {
        return true;
    }
    std::unique_lock<std::mutex> guard(m_lock);
    m_nSleepers.fetch_add(1);
    auto signalled = [this] { return m_bSignalled.load(); };
    if (deadline == Instant::max()) {
        m_changed.wait(guard, signalled);
    } else {
        m_changed.wait_until(guard, deadline, signalled);
    }
    seam::Reach(seam::Place::WaitSawSet);
    m_nSleepers.fetch_sub(1);
    return Consume();
}

std::shared_ptr<WaitDriver> Event::Driver() {
    if (!m_bDriven.load()) {
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    return m_driver.lock();
}

bool Event::WaitUntil(Instant deadline) {
    if (Consume()) {
        return true;
    }
    if (std::shared_ptr<WaitDriver> driver = Driver()) {
        return driver->DriveUntil(*this, deadline) && Consume();
    }
    return WaitSignalledUntil(deadline);
}

void Event::ResetAndAttach(std::weak_ptr<WaitDriver> driver) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bSignalled.store(false);
    m_driver = std::move(driver);
    m_bDriven.store(true);
}

void Event::DetachAndSet() {
    if (m_bDriven.load()) {
        ForgetDriver();
    }
    Set();
}

void Event::ForgetDriver() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_driver.reset();
    m_bDriven.store(false);
}

// --- Mutex -------------------------------------------------------------------

namespace detail {
constinit thread_local uint64_t t_threadToken = 0;

uint64_t NewThreadToken() {
    static std::atomic<uint64_t> s_next{1};
    t_threadToken = s_next.fetch_add(1);
    return t_threadToken;
}
}  // namespace detail

Mutex::Mutex(bool initialOwner) {
    if (initialOwner) {
        m_nOwner.store(ThreadToken());
        m_nDepth = 1;
    }
}

bool Mutex::AcquireAfterWaiting(uint64_t self, Instant deadline) {
    std::unique_lock<std::mutex> guard(m_lock);
    m_nWaiters.fetch_add(1);
    auto take = [&] {
        uint64_t free = 0;
        return m_nOwner.compare_exchange_strong(free, self);
    };
    bool taken = true;
    if (deadline == Instant::max()) {
        m_released.wait(guard, take);
    } else {
        taken = m_released.wait_until(guard, deadline, take);
    }
    m_nWaiters.fetch_sub(1);
    if (taken) {
        m_nDepth = 1;
    }
    return taken;
}

void Mutex::WakeAWaiter() {
    { std::lock_guard<std::mutex> guard(m_lock); }
    m_released.notify_one();
}

// --- Handles -----------------------------------------------------------------

struct EventSlots {
    std::mutex lock;
    std::vector<std::shared_ptr<EventSlot>> slots;
};

namespace detail {
constinit thread_local ThreadCache t_cache;
}  // namespace detail

namespace {

// The references behind the thread's cache: what it borrowed last, one per
// kind, and its slots in the (at most two) tables it used last. Only threads
// that borrow or own events (the linux backend's) ever touch these: their
// first use registers destructors for the thread's end, and where
// thread_local is emulated (mingw's emutls, the sim's Windows builds) those
// may run after the storage is gone.
constexpr size_t kKinds = std::size(detail::ThreadCache{}.borrowed);
struct BorrowedRef {
    std::shared_ptr<KernelObject> object;
};
thread_local BorrowedRef t_borrowed[kKinds];

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

// Thread storage is not touched from here: where thread_local is emulated
// (mingw's emutls), other variables may already be gone when this runs.
struct OwnSlotRefs {
    OwnSlotRef refs[2];
    ~OwnSlotRefs() {
        for (OwnSlotRef& own : refs) {
            LetGo(own);
        }
    }
};
thread_local OwnSlotRefs t_ownSlots;

void ShowFront(const OwnSlotRef& front) {
    detail::t_cache.slotTable = front.table;
    detail::t_cache.slot = front.slot.get();
}

}  // namespace

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
    for (size_t kind = 0; kind < kKinds; ++kind) {
        if (detail::t_cache.borrowed[kind].table == m_nId) {
            detail::t_cache.borrowed[kind] = {};
            t_borrowed[kind] = {};
        }
    }
    if (detail::t_cache.hasSlots) {
        for (OwnSlotRef& own : t_ownSlots.refs) {
            if (own.table == m_nId) {
                LetGo(own);
            }
        }
        ShowFront(t_ownSlots.refs[0]);
    }
}

EventSlot* HandleTable::OwnSlot(bool make) const {
    if (!make && !detail::t_cache.hasSlots) {
        return nullptr;
    }
    detail::t_cache.hasSlots = true;
    OwnSlotRef* refs = t_ownSlots.refs;
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
    Entry entry = FindEntry(handle);
    seam::Reach(seam::Place::LookUpFound);
    if (!entry.object || entry.tag != tag) {
        return nullptr;
    }
    const size_t kind = KindOfTag(tag);
    KernelObject* object = entry.object.get();
    std::shared_ptr<KernelObject> previous = std::move(t_borrowed[kind].object);  // let go of last
    t_borrowed[kind].object = std::move(entry.object);
    // Borrow never finds an event here again (events of the list change too
    // often to be worth it): it is remembered so that its close lets go.
    detail::t_cache.borrowed[kind] = {m_nId, reinterpret_cast<uintptr_t>(handle), tag,
                                      m_nRemoved[kind].load(std::memory_order_acquire), object};
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
            t_borrowed[kind] = {};
        }
    }
}

HANDLE HandleTable::InsertTagged(std::shared_ptr<KernelObject> object, const void* tag) {
    std::lock_guard<std::mutex> guard(m_lock);
    // Taken under the lock, so that the list stays in order of value.
    const uintptr_t value = m_nNext.fetch_add(4, std::memory_order_relaxed);
    m_objects.emplace_back(value, Entry{std::move(object), tag});
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

// --- UTF-16 to UTF-8 ------------------------------------------------------------

namespace {

// Appends one code point's UTF-8 form.
void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool IsHighSurrogate(uint32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(uint32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace

int Utf16ToUtf8(LPCWCH src, int srcLength, LPSTR dst, int dstSize) {
    if (src == nullptr || srcLength < -1 || dstSize < 0 || (dstSize > 0 && dst == nullptr)) {
        SetLastErrorCode(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = 0;
    if (srcLength == -1) {
        while (src[length] != 0) {
            ++length;
        }
        ++length;  // the terminator is converted too
    } else {
        length = static_cast<size_t>(srcLength);
    }
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const uint32_t unit = src[i];
        if (IsHighSurrogate(unit) && i + 1 < length && IsLowSurrogate(src[i + 1])) {
            const uint32_t low = src[++i];
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            out.push_back('?');
        } else {
            AppendUtf8(out, unit);
        }
    }
    if (out.size() > static_cast<size_t>(INT32_MAX)) {
        SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const int needed = static_cast<int>(out.size());
    if (dstSize == 0) {
        return needed;
    }
    if (needed > dstSize) {
        SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    out.copy(dst, out.size());
    return needed;
}

}  // namespace zelp::kobj
