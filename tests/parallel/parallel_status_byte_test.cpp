// The status byte handed to those who want more than on line or not (the
// command-line tool shows it in words): the driver's byte as it is, and
// nothing where there is no byte to trust.
#include <gtest/gtest.h>

#include "parallel_test_support.h"

namespace zelp::testing {
namespace {

using sim::Behaviour;

TEST_F(ParallelPortTest, TheStatusByteComesAsTheDriverReportsIt) {
    auto port = OpenPort(5);
    for (BYTE status : {0x00, 0x04, 0x18, 0x90, 0xFF}) {
        sim.SetParallelStatus(kPortName, status);
        EXPECT_EQ(port->StatusByte(), std::optional<BYTE>(status)) << "status " << int(status);
    }
    // The query is the same one the on-line test makes.
    sim.SetParallelStatus(kPortName, PARALLEL_SELECTED | PARALLEL_PAPER_EMPTY);
    EXPECT_TRUE(port->IsOnline());
    sim.SetParallelStatus(kPortName, PARALLEL_POWER_OFF);
    EXPECT_FALSE(port->IsOnline());
}

TEST_F(ParallelPortTest, NoStatusByteWhereNoneCanBeTrusted) {
    auto port = OpenPort(5);
    sim.ScriptIoctl(kPortName, IOCTL_PAR_QUERY_INFORMATION,
                    Behaviour::FailAtOnce(ERROR_GEN_FAILURE), 1);
    EXPECT_EQ(port->StatusByte(), std::nullopt) << "a failed query";
    sim.ScriptIoctl(kPortName, IOCTL_PAR_QUERY_INFORMATION,
                    Behaviour::FailAfter(ERROR_GEN_FAILURE, 20), 1);
    EXPECT_EQ(port->StatusByte(), std::nullopt) << "a query that failed late";
    EXPECT_TRUE(port->StatusByte().has_value()) << "the rules were used up";

    port->Close();
    EXPECT_EQ(port->StatusByte(), std::nullopt) << "a closed port";

    // Off the NT platform the driver has no status query at all.
    auto old = OpenPort(4, 1);
    EXPECT_EQ(old->StatusByte(), std::nullopt);
}

}  // namespace
}  // namespace zelp::testing
