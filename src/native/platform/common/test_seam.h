// Places where a test may hold a thread between two steps, to bring about an
// interleaving on purpose instead of hoping a stress run finds it. With no
// hook set (always, outside tests) a place costs one load and a branch.
#pragma once

#include <atomic>

namespace zelp::kobj::seam {

enum class Place {
    LookUpFound,  // a look-up found its object and has not yet remembered it
    WaitSawSet,   // a wait saw its event set and has not yet taken it
    TryMade,      // a first try made a system call and has not yet made the next
};

using Hook = void (*)(Place);
inline std::atomic<Hook> g_hook{nullptr};

inline void Reach(Place place) {
    if (const Hook hook = g_hook.load(std::memory_order_relaxed)) [[unlikely]] {
        hook(place);
    }
}

}  // namespace zelp::kobj::seam
