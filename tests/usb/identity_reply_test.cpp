#include "usb/identity_reply.h"

#include <gtest/gtest.h>

#include <string>

namespace zelp {
namespace {

struct ReplyCase {
    const char* name;
    std::string bytes;
    bool marker;
    bool done;
    std::string text;
};

class IdentityReplyTable : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(IdentityReplyTable, ScansOneRead) {
    const ReplyCase& c = GetParam();
    const auto scan =
        ScanIdentityReply(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
    EXPECT_EQ(scan.bMarker, c.marker);
    EXPECT_EQ(scan.bDone, c.done);
    if (c.done) {
        EXPECT_EQ(scan.text, c.text);
    }
    EXPECT_EQ(IsEmptyIdentityRead(c.bytes.size(), scan), c.bytes.size() <= 1 || !c.marker);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Replies, IdentityReplyTable,
    ::testing::Values(ReplyCase{"Plain", "7a4711\r", true, true, "4711"},
                      ReplyCase{"LeadingNoise", "xx\r7a123\rzz", true, true, "123"},
                      ReplyCase{"MarkerThenCarriageReturn", "7a\r", true, true, ""},
                      ReplyCase{"MarkerWithoutEnd", "7a4711", true, false, ""},
                      ReplyCase{"CarriageReturnBeforeMarkerIgnored", "\r7a99\r", true, true, "99"},
                      ReplyCase{"OneByteIsEmpty", "7", false, false, ""},
                      ReplyCase{"NothingIsEmpty", "", false, false, ""},
                      ReplyCase{"MarkerAcrossReadsNotSeenHere", "a4711\r", false, false, ""},
                      ReplyCase{"FirstHalfOfMarkerAtEnd", "xx7", false, false, ""},
                      ReplyCase{"SecondMarkerBelongsToText", "7a12 7a34\r", true, true, "12 7a34"},
                      ReplyCase{"ZeroByteBelongsToText",
                                "7a12\0"s
                                "34\r",
                                true, true,
                                "12\0"s
                                "34"},
                      ReplyCase{"UpperCaseIsNotTheMarker", "7A4711\r", false, false, ""},
                      ReplyCase{"MarkerAtTheVeryEnd", "zz7a", true, false, ""}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

TEST(IdentityReply, NullBufferIsAnEmptyRead) {
    const auto scan = ScanIdentityReply(nullptr, 5);
    EXPECT_FALSE(scan.bMarker);
    EXPECT_TRUE(IsEmptyIdentityRead(5, scan));
}

TEST(IdentityReply, TextForListStopsAtZeroAndAtItsLimit) {
    EXPECT_EQ(IdentityTextForList("12\0"s
                                  "34",
                                  15),
              "12");
    EXPECT_EQ(IdentityTextForList("1234567890123456789", 15), "123456789012345");
    EXPECT_EQ(IdentityTextForList("", 15), "");
}

}  // namespace
}  // namespace zelp
