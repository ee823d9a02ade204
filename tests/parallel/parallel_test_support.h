// A virtual parallel port in force for one test, and a CParallelPort on it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "native/platform/sim/sim_platform.h"
#include "parallel/parallel_port.h"

namespace zelp::testing {

inline constexpr const char* kPortName = "LPT1";

class ParallelPortTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.AddParallelPort(kPortName)); }

    // A port object made on this system version and opened; the record then
    // starts empty, so a test sees only what its own operation sent.
    std::unique_ptr<CParallelPort> OpenPort(DWORD major, DWORD platformId = VER_PLATFORM_WIN32_NT) {
        sim.SetVersion(major, platformId);
        auto port = std::make_unique<CParallelPort>();
        EXPECT_NE(port->Open(kPortName), nullptr);
        sim.ClearCalls();
        return port;
    }

    std::vector<std::string> Requests() const { return sim.RequestSummaries(kPortName); }

    static bool Write(CParallelPort& port, std::string_view bytes) {
        return port.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }

    sim::SimPlatform sim;
    ScopedPlatform scope{sim};
};

inline const std::string kDefaultModes = "DeviceIoControl PAR_GET_DEFAULT_MODES";
inline const std::string kToNone = "DeviceIoControl IEEE1284_NEGOTIATE 0x0000";
inline const std::string kToCentronics = "DeviceIoControl IEEE1284_NEGOTIATE 0x0001";
inline const std::string kToNibble = "DeviceIoControl IEEE1284_NEGOTIATE 0x0004";

}  // namespace zelp::testing
