// What the USB tests share: device paths of the form the system gives, and a
// fixture that puts a virtual-time sim in force with fresh slot records.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "native/platform.h"
#include "native/platform/sim/sim_platform.h"
#include "usb/usb_slots.h"

namespace zelp::testing {

inline constexpr const char* kModelKey = "vid_1234&pid_5678";  // ids 4660 and 22136
inline constexpr const char* kVendorId = "4660";
inline constexpr const char* kProductId = "22136";
inline constexpr const char* kOtherKey = "vid_04b8&pid_0202";  // ids 1208 and 514
inline constexpr const char* kOtherVendorId = "1208";
inline constexpr const char* kOtherProductId = "514";

// A printer interface path with this key and serial field.
inline std::string UsbPath(std::string_view key, std::string_view serialField,
                           std::string_view tail = "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}") {
    return std::string("\\\\?\\usb#") + std::string(key) + "#" + std::string(serialField) + "#" +
           std::string(tail);
}

inline size_t CountOps(const std::vector<sim::SimCall>& calls, std::string_view op) {
    return static_cast<size_t>(std::count_if(calls.begin(), calls.end(),
                                             [&](const sim::SimCall& c) { return c.op == op; }));
}

// The operations of the calls, in order, keeping only those named.
inline std::vector<std::string> OpsAmong(const std::vector<sim::SimCall>& calls,
                                         std::initializer_list<std::string_view> wanted) {
    std::vector<std::string> ops;
    for (const sim::SimCall& call : calls) {
        if (std::find(wanted.begin(), wanted.end(), call.op) != wanted.end()) {
            ops.push_back(call.op);
        }
    }
    return ops;
}

class UsbSimTest : public ::testing::Test {
protected:
    UsbSimTest() : m_scoped(sim) { ClearSlotRecords(); }
    ~UsbSimTest() override { ClearSlotRecords(); }

    // Adds a present printer and returns its path.
    std::string AddPrinter(std::string_view key, std::string_view serialField) {
        std::string path = UsbPath(key, serialField);
        EXPECT_TRUE(sim.AddUsbPrinter(path)) << path;
        return path;
    }

    sim::SimPlatform sim;

private:
    ScopedPlatform m_scoped;
};

}  // namespace zelp::testing
