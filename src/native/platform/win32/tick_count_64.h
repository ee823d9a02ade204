// GetTickCount64 for Windows before Vista, which links into every program
// and DLL of a Windows build (tick_count_64.cpp says why).
#pragma once

#include <cstdint>

namespace zelp {

// The 64-bit count that follows `last` (a count this function returned
// before, or 0) when GetTickCount now reads `now`: GetTickCount wraps to 0
// after 2^32 ms (49.7 days), and a reading below the last one's low half is
// the next lap.
std::uint64_t ExtendTickCount(std::uint64_t last, std::uint32_t now);

// What GetTickCount64 returns, on any Windows: milliseconds since the system
// started, counted on from GetTickCount.
std::uint64_t TickCount64();

}  // namespace zelp
