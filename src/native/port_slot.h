// Where a port object lives between calls: the parallel port's one current
// port, or one USB device slot.
//
// A caller leaves with its own reference, so that the object outlives every
// method still running in it when a close or a new open replaces it. The lock
// is held only for the copy; the object is never closed or destroyed under it.
// (A plain mutex rather than std::atomic<std::shared_ptr>: GCC 12's atomic
// makes ThreadSanitizer report races that are not there.)
#pragma once

#include <memory>
#include <mutex>

namespace zelp {

template <class Port>
class PortSlot {
public:
    using Ref = std::shared_ptr<Port>;

    Ref Get() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_pPort;
    }

    // Puts `next` in the slot and returns what was there.
    Ref Exchange(Ref next) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_pPort.swap(next);
        return next;
    }

private:
    mutable std::mutex m_lock;
    Ref m_pPort;
};

}  // namespace zelp
