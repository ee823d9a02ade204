// The UsbDevice methods as a JVM calls them, over the linux backend on a fake
// sysfs tree: a rig puts a platform in force, opens slots through the
// exported open, and closes them again when it goes, so that no slot
// outlives the platform its handles belong to.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bench_fixtures.h"
#include "bench_jni_env.h"
#include "native/platform.h"
#include "native/platform/linux/linux_platform.h"

namespace zelp::bench {

// The serial text of printer lpN in the rigs' trees.
std::string SerialOf(unsigned number);

// Adds printer lpN of the listed model, its node at `node`.
void AddListedPrinter(FakeUsbTree& tree, unsigned number, const std::string& node);

class UsbRig {
public:
    // `wrap`, when given, is put in force around the linux backend's calls.
    UsbRig(const FakeUsbTree& tree, PlatformOps* (*wrap)(PlatformOps&) = nullptr);
    ~UsbRig();
    UsbRig(const UsbRig&) = delete;
    UsbRig& operator=(const UsbRig&) = delete;

    // openUsbPort(serial of lpN, slot, the listed model).
    bool Open(int slot, unsigned number);
    bool Close(int slot);
    bool Write(BenchArray& data, int length, int timeoutMs, int slot);
    int Read(BenchArray& data, int length, int slot);

    BenchJniEnv& Jni() { return m_jni; }

private:
    BenchJniEnv m_jni;
    linuxbk::LinuxPlatform m_os;
    std::unique_ptr<PlatformOps> m_pWrapper;
    std::unique_ptr<ScopedPlatform> m_pScoped;
    std::vector<int> m_openSlots;
};

}  // namespace zelp::bench
