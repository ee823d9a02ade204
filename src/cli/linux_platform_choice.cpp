#include "cli/platform_choice.h"
#include "native/platform.h"
#include "native/platform/linux/linux_platform.h"

namespace zelp::cli {

PlatformChoice::PlatformChoice(const std::string& sysfsRoot, const std::string& devRoot) {
    if (sysfsRoot.empty() && devRoot.empty()) {
        return;
    }
    m_pPlatform = std::make_unique<linuxbk::LinuxPlatform>(sysfsRoot.empty() ? "/sys" : sysfsRoot,
                                                           devRoot.empty() ? "/dev" : devRoot);
    m_pScope = std::make_unique<ScopedPlatform>(*m_pPlatform);
}

PlatformChoice::~PlatformChoice() {
    // The scope goes first: the backend must outlive its time in force.
    m_pScope.reset();
}

}  // namespace zelp::cli
