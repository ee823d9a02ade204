// The sim copy of the library runs on virtual printers in real time: the Java
// tests and the demo add and script them through the test-only control class.
#include "native/platform/sim/sim_platform.h"

namespace zelp {

namespace sim {

SimPlatform& DefaultSim() {
    // Never destroyed: JVM threads may still call in while the process exits.
    static SimPlatform* const s_pSim = new SimPlatform(TimeMode::Real);
    return *s_pSim;
}

}  // namespace sim

PlatformOps& DefaultPlatform() {
    return sim::DefaultSim();
}

}  // namespace zelp
