#include "native/platform/common/kernel_objects.h"

#include <algorithm>
#include <string>

namespace zelp::kobj {

namespace {
thread_local DWORD t_dwLastError = ERROR_SUCCESS;
thread_local std::shared_ptr<Event> t_spareEvent;

// What a thread borrowed last from a handle table, one per kind.
struct Borrowed {
    uint64_t table = 0;
    uintptr_t handle = 0;
    const void* tag = nullptr;
    uint64_t removed = 0;  // the table's count of removals of this kind then
    std::shared_ptr<KernelObject> object;
};
thread_local Borrowed t_borrowed[2];

// Events come and go with every transfer; keeping their removals apart lets
// a borrowed device outlive them.
size_t KindOf(const void* tag) {
    return tag == TypeTag<Event>() ? 0 : 1;
}

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

void Event::Set() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bSignalled = true;
    }
    m_changed.notify_all();
}

void Event::Reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bSignalled = false;
}

bool Event::IsSet() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bSignalled;
}

bool Event::ConsumeLocked() {
    if (!m_bSignalled) {
        return false;
    }
    if (!m_bManualReset) {
        m_bSignalled = false;
    }
    return true;
}

bool Event::WaitSignalledUntil(Instant deadline) {
    std::unique_lock<std::mutex> guard(m_lock);
    if (deadline == Instant::max()) {
        m_changed.wait(guard, [this] { return m_bSignalled; });
    } else {
        m_changed.wait_until(guard, deadline, [this] { return m_bSignalled; });
    }
    return ConsumeLocked();
}

bool Event::WaitUntil(Instant deadline) {
    std::shared_ptr<WaitDriver> driver;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (ConsumeLocked()) {
            return true;
        }
        driver = m_driver.lock();
    }
    if (driver) {
        if (!driver->DriveUntil(*this, deadline)) {
            return false;
        }
        std::lock_guard<std::mutex> guard(m_lock);
        return ConsumeLocked();
    }
    return WaitSignalledUntil(deadline);
}

void Event::AttachDriver(std::weak_ptr<WaitDriver> driver) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_driver = std::move(driver);
}

void Event::DetachDriver() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_driver.reset();
}

void Event::ResetAndAttach(std::weak_ptr<WaitDriver> driver) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bSignalled = false;
    m_driver = std::move(driver);
}

void Event::DetachAndSet() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_driver.reset();
        m_bSignalled = true;
    }
    m_changed.notify_all();
}

void Event::Renew(bool manualReset, bool initialState) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bManualReset = manualReset;
    m_bSignalled = initialState;
    m_driver.reset();
}

std::shared_ptr<Event> NewEvent(bool manualReset, bool initialState) {
    std::shared_ptr<Event> event = std::move(t_spareEvent);
    if (!event) {
        return std::make_shared<Event>(manualReset, initialState);
    }
    // A spare was renewed as the transfers' kind, manual-reset and not set,
    // when it was given back, and nothing has reached it since.
    if (!manualReset || initialState) {
        event->Renew(manualReset, initialState);
    }
    return event;
}

void GiveBackEvent(std::shared_ptr<Event> event) {
    if (!event || event.use_count() != 1 || t_spareEvent) {
        return;
    }
    // No one else can reach it now. Its state is only ever touched under its
    // lock, which Renew takes, so a thread that set it a moment ago (and may
    // still be notifying its condition) is no hazard.
    event->Renew(true, false);  // lets go of the driver it may still name; see NewEvent
    t_spareEvent = std::move(event);
}

// --- Mutex -------------------------------------------------------------------

Mutex::Mutex(bool initialOwner) {
    if (initialOwner) {
        m_owner = std::this_thread::get_id();
        m_nDepth = 1;
    }
}

bool Mutex::AcquireUntil(Instant deadline) {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(m_lock);
    auto available = [&] { return m_nDepth == 0 || m_owner == self; };
    if (deadline == Instant::max()) {
        m_released.wait(guard, available);
    } else if (!m_released.wait_until(guard, deadline, available)) {
        return false;
    }
    m_owner = self;
    ++m_nDepth;
    return true;
}

bool Mutex::Release() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_nDepth == 0 || m_owner != std::this_thread::get_id()) {
            return false;
        }
        if (--m_nDepth != 0) {
            return true;
        }
        m_owner = std::thread::id();
    }
    m_released.notify_one();
    return true;
}

// --- Handles -----------------------------------------------------------------

HandleTable::HandleTable() : m_nId(g_nextTableId.fetch_add(1)) {}

HandleTable::~HandleTable() {
    // Objects this thread borrowed go with the table; other threads drop
    // theirs at their next borrow or when they end.
    for (Borrowed& borrowed : t_borrowed) {
        if (borrowed.table == m_nId) {
            borrowed = Borrowed{};
        }
    }
}

KernelObject* HandleTable::BorrowTagged(HANDLE handle, const void* tag) const {
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    const size_t kind = KindOf(tag);
    Borrowed& borrowed = t_borrowed[kind];
    if (borrowed.table == m_nId && borrowed.handle == value && borrowed.tag == tag &&
        borrowed.removed == m_nRemoved[kind].load(std::memory_order_acquire)) {
        return borrowed.object.get();
    }
    std::shared_ptr<KernelObject> previous;  // let go of after the lock
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = FindValue(m_objects, value);
    if (it == m_objects.end() || it->second.tag != tag) {
        return nullptr;
    }
    previous = std::move(borrowed.object);
    borrowed = Borrowed{m_nId, value, tag, m_nRemoved[kind].load(std::memory_order_relaxed),
                        it->second.object};
    return borrowed.object.get();
}

void HandleTable::CountRemovalLocked(const void* tag) {
    std::atomic<uint64_t>& removed = m_nRemoved[KindOf(tag)];
    removed.store(removed.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

void HandleTable::ForgetBorrowed(uintptr_t handle) const {
    for (Borrowed& borrowed : t_borrowed) {
        if (borrowed.table == m_nId && borrowed.handle == handle) {
            borrowed = Borrowed{};
        }
    }
}

HANDLE HandleTable::InsertTagged(std::shared_ptr<KernelObject> object, const void* tag) {
    std::lock_guard<std::mutex> guard(m_lock);
    const uintptr_t value = m_nNext;
    m_nNext += 4;
    m_objects.emplace_back(value, Entry{std::move(object), tag});
    return reinterpret_cast<HANDLE>(value);
}

HandleTable::Entry HandleTable::FindEntry(HANDLE handle) const {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = FindValue(m_objects, reinterpret_cast<uintptr_t>(handle));
    return it == m_objects.end() ? Entry{} : it->second;
}

std::shared_ptr<KernelObject> HandleTable::Find(HANDLE handle) const {
    return FindEntry(handle).object;
}

std::shared_ptr<KernelObject> HandleTable::Remove(HANDLE handle) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    ForgetBorrowed(value);
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = FindValue(m_objects, value);
    if (it == m_objects.end()) {
        return nullptr;
    }
    return TakeLocked(it).object;
}

HandleTable::Entry HandleTable::TakeLocked(Objects::iterator it) {
    CountRemovalLocked(it->second.tag);
    Entry entry = std::move(it->second);
    m_objects.erase(it);
    return entry;
}

HandleTable::Entry HandleTable::RemoveUnlessTagged(HANDLE handle, const void* keptTag) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    ForgetBorrowed(value);
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = FindValue(m_objects, value);
    if (it == m_objects.end()) {
        return Entry{};
    }
    if (it->second.tag == keptTag) {
        return Entry{nullptr, keptTag};
    }
    return TakeLocked(it);
}

size_t HandleTable::Count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_objects.size();
}

DWORD WaitForObject(const HandleTable& handles, HANDLE handle, DWORD milliseconds) {
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
