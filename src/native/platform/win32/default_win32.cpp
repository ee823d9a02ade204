// The shipped Windows library talks to Windows itself.
#include "native/platform/win32/win32_platform.h"

namespace zelp {

PlatformOps& DefaultPlatform() {
    // Never destroyed: a JVM may still call in while the process unloads.
    static Win32Platform* const s_pWindows = new Win32Platform();
    return *s_pWindows;
}

}  // namespace zelp
