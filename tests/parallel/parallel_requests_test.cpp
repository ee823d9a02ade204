// The requests a parallel port sends to its driver around each transfer: the
// IEEE 1284 negotiation on system major versions 5 and 6, and none elsewhere.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "parallel_test_support.h"

namespace zelp::testing {
namespace {

using sim::Behaviour;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct VersionCase {
    DWORD major;
    std::vector<std::string> write;  // what a write of 5 bytes sends
    std::vector<std::string> read;   // what a read of 64 bytes sends
};

void PrintTo(const VersionCase& versionCase, std::ostream* out) {
    *out << "major version " << versionCase.major;
}

class ParallelRequestsByVersion : public ParallelPortTest,
                                  public ::testing::WithParamInterface<VersionCase> {};

TEST_P(ParallelRequestsByVersion, WriteAndReadSendTheirNegotiationsInOrder) {
    auto port = OpenPort(GetParam().major);
    EXPECT_TRUE(Write(*port, "hello"));
    EXPECT_THAT(Requests(), ElementsAreArray(GetParam().write));
    EXPECT_EQ(sim.Received(kPortName), "hello");

    sim.ClearCalls();
    sim.QueueReply(kPortName, "status");
    char buffer[64] = {};
    uint32_t count = 0;
    EXPECT_TRUE(port->Read(buffer, count, sizeof(buffer)));
    EXPECT_EQ(std::string(buffer, count), "status");
    EXPECT_THAT(Requests(), ElementsAreArray(GetParam().read));
}

INSTANTIATE_TEST_SUITE_P(
    NegotiatingVersions, ParallelRequestsByVersion,
    ::testing::Values(VersionCase{5,
                                  {kDefaultModes, kToCentronics, "WriteFile 5"},
                                  {kDefaultModes, kToNibble, "ReadFile 64", kDefaultModes,
                                   kToCentronics}},
                      VersionCase{6,
                                  {kDefaultModes, kToNone, kToCentronics, "WriteFile 5"},
                                  {kDefaultModes, kToNibble, "ReadFile 64", kDefaultModes, kToNone,
                                   kToCentronics}}),
    [](const auto& info) { return "Major" + std::to_string(info.param.major); });

TEST_F(ParallelPortTest, OtherVersionsNeverNegotiateAndGrantEveryMode) {
    for (DWORD major : {4u, 10u}) {
        auto port = OpenPort(major);
        EXPECT_TRUE(Write(*port, "abc"));
        sim.QueueReply(kPortName, "x");
        char buffer[8];
        uint32_t count = 0;
        EXPECT_TRUE(port->Read(buffer, count, sizeof(buffer)));
        for (uint32_t mode : {0u, 1u, 2u, 3u, 99u}) {
            EXPECT_TRUE(port->SetIeee1284Mode(mode)) << "mode " << mode;
        }
        EXPECT_THAT(Requests(), ElementsAre("WriteFile 3", "ReadFile 8")) << "major " << major;
        port->Close();
    }
}

TEST_F(ParallelPortTest, AnUnknownModeAsksForTheDefaultsThenFails) {
    for (DWORD major : {5u, 6u}) {
        auto port = OpenPort(major);
        EXPECT_FALSE(port->SetIeee1284Mode(3));
        EXPECT_THAT(Requests(), ElementsAre(kDefaultModes)) << "major " << major;
        port->Close();
    }
}

TEST_F(ParallelPortTest, ARefusedReturnToNoModeSkipsCentronicsButTheWriteStillGoes) {
    auto port = OpenPort(6);
    sim.ScriptIoctl(kPortName, IOCTL_IEEE1284_NEGOTIATE, Behaviour::FailAtOnce(ERROR_GEN_FAILURE),
                    -1, kIeee1284MaskNone);
    EXPECT_FALSE(port->SetIeee1284Mode(0));
    EXPECT_THAT(Requests(), ElementsAre(kDefaultModes, kToNone));
    sim.ClearCalls();
    EXPECT_TRUE(Write(*port, "job"));
    EXPECT_THAT(Requests(), ElementsAre(kDefaultModes, kToNone, "WriteFile 3"));
    EXPECT_EQ(sim.Received(kPortName), "job");
}

TEST_F(ParallelPortTest, AReadGoesAheadAsSoonAsASwitchToNibbleSucceeds) {
    for (int refusals = 0; refusals < CParallelPort::kReadModeTries; ++refusals) {
        auto port = OpenPort(5);
        sim.ScriptIoctl(kPortName, IOCTL_IEEE1284_NEGOTIATE,
                        Behaviour::FailAtOnce(ERROR_GEN_FAILURE), refusals, kIeee1284MaskNibble);
        sim.QueueReply(kPortName, "ok");
        char buffer[8];
        uint32_t count = 0;
        EXPECT_TRUE(port->Read(buffer, count, sizeof(buffer))) << refusals << " refusals";
        EXPECT_EQ(count, 2u);
        const auto requests = Requests();
        EXPECT_EQ(std::count(requests.begin(), requests.end(), kToNibble), refusals + 1);
        EXPECT_EQ(requests.back(), kToCentronics);
        port->Close();
    }
}

TEST_F(ParallelPortTest, AReadWhoseSwitchIsAlwaysRefusedIsNeverSent) {
    auto port = OpenPort(6);
    sim.ScriptIoctl(kPortName, IOCTL_IEEE1284_NEGOTIATE, Behaviour::FailAtOnce(ERROR_GEN_FAILURE),
                    -1, kIeee1284MaskNibble);
    sim.QueueReply(kPortName, "unread");
    char buffer[8];
    uint32_t count = 77;
    EXPECT_FALSE(port->Read(buffer, count, sizeof(buffer)));
    EXPECT_EQ(count, 77u);
    std::vector<std::string> tries;
    for (int i = 0; i < CParallelPort::kReadModeTries; ++i) {
        tries.insert(tries.end(), {kDefaultModes, kToNibble});
    }
    // No read, and no switch back to Centronics either.
    EXPECT_THAT(Requests(), ElementsAreArray(tries));
}

TEST_F(ParallelPortTest, AReadThatFailsStillSwitchesBackAndARunningOneKeepsItsBytes) {
    struct Case {
        const char* name;
        Behaviour behaviour;
        bool bRead;
        std::string delivered;
    };
    const std::vector<Case> cases = {
        {"refused at once", Behaviour::FailAtOnce(ERROR_GEN_FAILURE), false, ""},
        // The printer went away mid-answer: what it sent did arrive.
        {"breaks off part-way", Behaviour::FailAfter(ERROR_GEN_FAILURE, 3).Short(2), true, "an"},
    };
    auto port = OpenPort(5);
    for (const Case& c : cases) {
        sim.ClearCalls();
        sim.SetReads(kPortName, c.behaviour);
        sim.QueueReply(kPortName, "answer");
        char buffer[8];
        uint32_t count = 5;
        const bool read = port->Read(buffer, count, sizeof(buffer));
        EXPECT_EQ(read, c.bRead) << c.name;
        EXPECT_EQ(count, c.bRead ? c.delivered.size() : 5u) << c.name;
        if (read && c.bRead) {
            EXPECT_EQ(std::string(buffer, count), c.delivered) << c.name;
        }
        EXPECT_THAT(Requests(), ElementsAre(kDefaultModes, kToNibble, "ReadFile 8", kDefaultModes,
                                            kToCentronics))
            << c.name;
    }
}

TEST_F(ParallelPortTest, AJobFollowsItsConversationWithThePrinter) {
    auto port = OpenPort(5);
    sim.SetChat(kPortName, sim::Chat()
                               .Ioctl(IOCTL_PAR_GET_DEFAULT_MODES)
                               .Negotiate(kIeee1284MaskCentronics)
                               .Write("\x1b@job", Behaviour::After(40))
                               .Ioctl(IOCTL_PAR_GET_DEFAULT_MODES)
                               .Negotiate(kIeee1284MaskNibble)
                               .Read("done")
                               .Ioctl(IOCTL_PAR_GET_DEFAULT_MODES)
                               .Negotiate(kIeee1284MaskCentronics));
    EXPECT_TRUE(Write(*port, "\x1b@job"));
    char buffer[16];
    uint32_t count = 0;
    EXPECT_TRUE(port->Read(buffer, count, sizeof(buffer)));
    EXPECT_EQ(std::string(buffer, count), "done");
    EXPECT_TRUE(sim.ChatFinished(kPortName)) << sim.ChatReport(kPortName);
}

}  // namespace
}  // namespace zelp::testing
