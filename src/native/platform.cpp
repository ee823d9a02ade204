#include "native/platform.h"

namespace zelp {

namespace detail {

std::atomic<PlatformOps*> g_pInForce{nullptr};

PlatformOps& InstallDefaultPlatform() {
    PlatformOps* ops = nullptr;
    // First use on any thread installs the build's backend; a racing
    // thread finds the same one.
    g_pInForce.compare_exchange_strong(ops, &DefaultPlatform(), std::memory_order_acq_rel);
    return *g_pInForce.load(std::memory_order_acquire);
}

}  // namespace detail

ScopedPlatform::ScopedPlatform(PlatformOps& ops)
    : m_pPrevious(detail::g_pInForce.exchange(&ops, std::memory_order_acq_rel)) {}

ScopedPlatform::~ScopedPlatform() {
    detail::g_pInForce.store(m_pPrevious, std::memory_order_release);
}

}  // namespace zelp
