// The ParallelPort natives over virtual printers. Each test runs in a process
// of its own under ctest, so the first one sees the library as just loaded.
#include <climits>

#include "parallel_natives_fixture.h"

namespace zelp::test {
namespace {

using sim::Behaviour;

TEST_F(ParallelNativesTest, AFreshLibraryHasBothFlagsClearAndNoPort) {
    EXPECT_FALSE(java.IsWriteComplete());
    EXPECT_FALSE(java.IsReadComplete());

    FakeByteArray data = BytesOf("abc");
    EXPECT_FALSE(java.Detect());
    EXPECT_FALSE(java.Write(data, 0, 3));
    EXPECT_FALSE(java.IsWriteComplete());
    EXPECT_EQ(java.Read(data, 3), 0);
    EXPECT_TRUE(java.IsReadComplete()) << "every read sets its flag, even without a port";
    EXPECT_TRUE(data.sets.empty());
    EXPECT_TRUE(java.Close());
    EXPECT_EQ(sim.OpenHandleCount(), 0u);
}

TEST_F(ParallelNativesTest, TheNameReachesTheSystemAsAnsiText) {
    ASSERT_TRUE(sim.AddParallelPort("Drucker-\xC3\xBC"));
    EXPECT_TRUE(java.Open(u"Drucker-\u00FC"));
    EXPECT_EQ(sim.OpenCount("Drucker-\xC3\xBC"), 1u);

    EXPECT_FALSE(java.Open(nullptr));
    EXPECT_FALSE(java.Open(u""));
    EXPECT_FALSE(java.Open(u"LPT9"));
    EXPECT_EQ(sim.OpenDeviceHandleCount(), 0u) << "each open closed the port before it";
    EXPECT_FALSE(java.Detect());
}

TEST_F(ParallelNativesTest, AWriteSendsExactlyItsRangeAndSetsTheFlag) {
    ASSERT_TRUE(java.Open(u"LPT1"));
    FakeByteArray data = BytesOf("0123456789abcdef");
    java.SetWriteComplete(false);
    EXPECT_TRUE(java.Write(data, 3, 5));
    EXPECT_TRUE(java.IsWriteComplete());
    EXPECT_EQ(sim.TakeReceived("LPT1"), "34567");
    EXPECT_EQ(data.gets, (std::vector<Region>{{3, 5}})) << "only the range is copied out";
}

TEST_F(ParallelNativesTest, AFailedWriteKeepsTheFlagAsItWas) {
    ASSERT_TRUE(java.Open(u"LPT1"));
    sim.SetWrites("LPT1", Behaviour::FailAtOnce(ERROR_GEN_FAILURE));
    FakeByteArray data = BytesOf("job");
    for (bool before : {false, true}) {
        java.SetWriteComplete(before);
        EXPECT_FALSE(java.Write(data, 0, 3));
        EXPECT_EQ(java.IsWriteComplete(), before);
    }
    // A write cut short by the port's time-out is no success either.
    sim.SetWrites("LPT1", Behaviour::Never().Short(2));
    java.SetWriteComplete(false);
    EXPECT_FALSE(java.Write(data, 0, 3));
    EXPECT_FALSE(java.IsWriteComplete());
}

TEST_F(ParallelNativesTest, BadArraysAndRangesSendNothingAndTouchNothing) {
    ASSERT_TRUE(java.Open(u"LPT1"));
    FakeByteArray data = BytesOf("abcdefgh");
    java.SetWriteComplete(false);
    const jint ranges[][2] = {{-1, 2},      {0, -1},      {0, 9},       {9, 0},
                              {1, INT_MAX}, {INT_MAX, 1}, {INT_MIN, 4}, {INT_MAX, INT_MAX}};
    for (const auto& range : ranges) {
        EXPECT_FALSE(java.Write(data, range[0], range[1])) << range[0] << ", " << range[1];
    }
    EXPECT_FALSE(java.WriteNull(0, 0));
    EXPECT_FALSE(java.IsWriteComplete());
    EXPECT_TRUE(data.gets.empty());

    for (jint length : {-1, 9, INT_MAX, INT_MIN}) {
        java.SetReadComplete(false);
        EXPECT_EQ(java.Read(data, length), 0) << length;
        EXPECT_TRUE(java.IsReadComplete());
    }
    java.SetReadComplete(false);
    EXPECT_EQ(java.ReadNull(4), 0);
    EXPECT_TRUE(java.IsReadComplete());
    EXPECT_TRUE(data.sets.empty());
    EXPECT_TRUE(sim.Calls("LPT1", {"WriteFile", "ReadFile"}).empty());
}

TEST_F(ParallelNativesTest, AReadCopiesBackOnlyWhatCame) {
    ASSERT_TRUE(java.Open(u"LPT1"));
    sim.QueueReply("LPT1", "OK\r");
    FakeByteArray buffer(std::vector<jbyte>(16, 'z'));
    java.SetReadComplete(false);
    ASSERT_EQ(java.Read(buffer, 10), 3);
    EXPECT_TRUE(java.IsReadComplete());
    EXPECT_EQ(TextOf(buffer, 16), "OK\rzzzzzzzzzzzzz");
    EXPECT_EQ(buffer.sets, (std::vector<Region>{{0, 3}}));
    EXPECT_TRUE(buffer.gets.empty());

    // Nothing to read: the time-out ends the read with no bytes, and no
    // element is written.
    buffer.sets.clear();
    java.SetReadComplete(false);
    EXPECT_EQ(java.Read(buffer, 16), 0);
    EXPECT_TRUE(java.IsReadComplete());
    EXPECT_TRUE(buffer.sets.empty());

    sim.SetReads("LPT1", Behaviour::FailAtOnce(ERROR_GEN_FAILURE));
    sim.QueueReply("LPT1", "lost");
    java.SetReadComplete(false);
    EXPECT_EQ(java.Read(buffer, 16), 0);
    EXPECT_TRUE(java.IsReadComplete()) << "a failed read sets the flag too";
    EXPECT_TRUE(buffer.sets.empty());
}

TEST_F(ParallelNativesTest, AHugeReadAsksTheSystemForOneChunkAtMost) {
    ASSERT_TRUE(java.Open(u"LPT1"));
    const std::string reply(100'000, 'r');
    sim.QueueReply("LPT1", reply);
    FakeByteArray buffer(std::vector<jbyte>(200'000, 0));
    const jint got = java.Read(buffer, 200'000);
    EXPECT_GT(got, 0);
    EXPECT_LE(got, 64 * 1024);
    EXPECT_EQ(TextOf(buffer, static_cast<size_t>(got)), reply.substr(0, static_cast<size_t>(got)));
    const auto reads = sim.Calls("LPT1", {"ReadFile"});
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].length, 64u * 1024u);
}

TEST_F(ParallelNativesTest, OpeningAgainClosesThePortBeforeAndLosesNoHandle) {
    ASSERT_TRUE(java.Open(u"LPT1"));
    EXPECT_TRUE(java.Open(u"LPT1")) << "the same port again: it was closed first";
    EXPECT_EQ(sim.OpenDeviceHandleCount(), 1u);
    EXPECT_TRUE(java.Open(u"LPT2"));
    EXPECT_EQ(sim.OpenCount("LPT1"), 0u);
    EXPECT_EQ(sim.OpenCount("LPT2"), 1u);

    FakeByteArray data = BytesOf("to LPT2");
    EXPECT_TRUE(java.Write(data, 0, 7));
    EXPECT_EQ(sim.TakeReceived("LPT2"), "to LPT2");

    EXPECT_FALSE(java.Open(u"LPT9"));
    EXPECT_EQ(sim.OpenDeviceHandleCount(), 0u);
    EXPECT_TRUE(java.Open(u"LPT1")) << "an open after a failed one works like a first";
    EXPECT_TRUE(java.Close());
    EXPECT_EQ(sim.OpenHandleCount(), 0u) << "the port object went with all it held";
    EXPECT_TRUE(java.Close());
}

TEST_F(ParallelNativesTest, OpenAndCloseLeaveTheFlagsAlone) {
    for (bool value : {true, false}) {
        EXPECT_EQ(java.SetWriteComplete(value), value);
        EXPECT_EQ(java.SetReadComplete(!value), !value);
        java.Open(u"LPT1");
        java.Open(u"LPT9");
        java.Close();
        EXPECT_EQ(java.IsWriteComplete(), value);
        EXPECT_EQ(java.IsReadComplete(), !value);
    }
}

TEST_F(ParallelNativesTest, TheOnLineStateFollowsTheStatusOfThePort) {
    ASSERT_TRUE(java.Open(u"LPT1"));
    EXPECT_TRUE(java.Detect());
    sim.SetParallelStatus("LPT1", PARALLEL_PAPER_EMPTY | PARALLEL_BUSY | PARALLEL_SELECTED);
    EXPECT_TRUE(java.Detect());
    sim.SetParallelStatus("LPT1", PARALLEL_OFF_LINE);
    EXPECT_FALSE(java.Detect());
    sim.SetParallelStatus("LPT1", PARALLEL_SELECTED);
    sim.Unplug("LPT1");
    EXPECT_FALSE(java.Detect());
    java.Close();
    EXPECT_FALSE(java.Detect());
}

}  // namespace
}  // namespace zelp::test
