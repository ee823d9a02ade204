#include "native/platform/linux/linux_platform.h"

namespace zelp {

// The shipped library drives the real system. Never destroyed: JVM threads
// may still call in while the process exits, and ports the Java side left
// open are not closed at unload.
PlatformOps& DefaultPlatform() {
    static linuxbk::LinuxPlatform* const s_pPlatform = new linuxbk::LinuxPlatform("/sys", "/dev");
    return *s_pPlatform;
}

}  // namespace zelp
