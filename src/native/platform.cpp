#include "native/platform.h"

namespace zelp {

namespace {
std::atomic<PlatformOps*> g_pInForce{nullptr};
}

PlatformOps& Os() {
    PlatformOps* ops = g_pInForce.load(std::memory_order_acquire);
    if (ops == nullptr) {
        PlatformOps* fallback = &DefaultPlatform();
        // First use on any thread installs the build's backend; a racing
        // thread finds the same one.
        g_pInForce.compare_exchange_strong(ops, fallback, std::memory_order_acq_rel);
        ops = g_pInForce.load(std::memory_order_acquire);
    }
    return *ops;
}

ScopedPlatform::ScopedPlatform(PlatformOps& ops)
    : m_pPrevious(g_pInForce.exchange(&ops, std::memory_order_acq_rel)) {}

ScopedPlatform::~ScopedPlatform() {
    g_pInForce.store(m_pPrevious, std::memory_order_release);
}

}  // namespace zelp
