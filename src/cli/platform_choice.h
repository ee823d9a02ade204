// Which devices zelp talks to: the system's own, or, for the tests, fake
// sysfs and /dev trees. The only place the tool names a backend.
#pragma once

#include <memory>
#include <string>

namespace zelp {
class PlatformOps;
class ScopedPlatform;
}  // namespace zelp

namespace zelp::cli {

class PlatformChoice {
public:
    // Empty roots mean the system's own; a backend with other roots is put
    // in force for the life of this object.
    PlatformChoice(const std::string& sysfsRoot, const std::string& devRoot);
    ~PlatformChoice();
    PlatformChoice(const PlatformChoice&) = delete;
    PlatformChoice& operator=(const PlatformChoice&) = delete;

private:
    std::unique_ptr<PlatformOps> m_pPlatform;
    std::unique_ptr<ScopedPlatform> m_pScope;
};

}  // namespace zelp::cli
