#include "cli/platform_choice.h"
#include "native/platform.h"

namespace zelp::cli {

// Windows has one device namespace and no roots to move: zelp talks to the
// system's own devices through the backend every Windows build puts in force.
PlatformChoice::PlatformChoice(const std::string& sysfsRoot, const std::string& devRoot) {
    static_cast<void>(sysfsRoot);
    static_cast<void>(devRoot);
}

PlatformChoice::~PlatformChoice() = default;

}  // namespace zelp::cli
