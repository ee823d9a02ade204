#include "native/jni_frame.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "fake_jni_env.h"
#include "text_only_platform.h"

namespace zelp {
// This executable links no backend: text conversion is all the frame needs.
PlatformOps& DefaultPlatform() {
    static test::TextOnlyPlatform platform;
    return platform;
}
}  // namespace zelp

namespace zelp::jni {
namespace {

using test::FakeByteArray;
using test::FakeIntArray;
using test::FakeJniEnv;
using test::FakeString;
using test::Region;

class JniFrameTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(fake.exceptions, 0) << "a real machine would have raised an exception";
        EXPECT_EQ(fake.stringCharsOut, 0) << "string characters were not released";
    }

    std::string Convert(std::u16string units) {
        FakeString s{std::move(units)};
        return JStringToString(fake.Env(), FakeJniEnv::Ref(s));
    }

    static FakeByteArray Bytes(size_t count, jbyte fill) {
        return FakeByteArray(std::vector<jbyte>(count, fill));
    }

    FakeJniEnv fake;
    test::TextOnlyPlatform platform;
    ScopedPlatform scope{platform};
};

// --- Strings -----------------------------------------------------------------------

TEST_F(JniFrameTest, NullAndEmptyStringsBothBecomeTheEmptyText) {
    EXPECT_EQ(JStringToAnsi(fake.Env(), nullptr), nullptr);
    EXPECT_EQ(JStringToString(fake.Env(), nullptr), "");

    FakeString empty{u""};
    char* ansi = JStringToAnsi(fake.Env(), FakeJniEnv::Ref(empty));
    ASSERT_NE(ansi, nullptr) << "an empty string is a text, not a null";
    EXPECT_STREQ(ansi, "");
    FreeAnsi(ansi);
}

TEST_F(JniFrameTest, TextEndsAtTheFirstNulCharacter) {
    EXPECT_EQ(Convert(std::u16string(u"LPT1\0junk", 9)), "LPT1");
    EXPECT_EQ(Convert(std::u16string(u"\0LPT1", 5)), "");
    EXPECT_EQ(Convert(u"LPT1"), "LPT1");
}

TEST_F(JniFrameTest, SurrogatePairsBecomeOneCharacterAndLoneHalvesTheDefault) {
    // U+1F5A8 (a printer) is one character in two code units: four bytes.
    EXPECT_EQ(Convert(u"\U0001F5A8"), "\xF0\x9F\x96\xA8");
    EXPECT_EQ(Convert(std::u16string{u'a', char16_t(0xD800), u'b'}), "a?b");
    EXPECT_EQ(Convert(std::u16string{u'a', char16_t(0xDC00)}), "a?");
    // A high half cut off by the end of the string must not pair with
    // whatever follows it in memory.
    EXPECT_EQ(Convert(std::u16string{u'x', char16_t(0xD83D)}), "x?");
}

TEST_F(JniFrameTest, MultiByteTextIsConvertedWholeAndTerminated) {
    // Three bytes per code unit: more than twice the length plus one.
    const std::u16string euros = u"\u20AC\u20AC\u20AC";
    FakeString s{euros};
    char* ansi = JStringToAnsi(fake.Env(), FakeJniEnv::Ref(s));
    ASSERT_NE(ansi, nullptr);
    EXPECT_EQ(std::strlen(ansi), 9u);
    EXPECT_STREQ(ansi, "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC");
    FreeAnsi(ansi);

    EXPECT_EQ(Convert(u"Stra\u00DFe \u65E5\u672C"),
              "Stra\xC3\x9F"
              "e \xE6\x97\xA5\xE6\x9C\xAC");
}

TEST_F(JniFrameTest, LongTextsConvertCompletely) {
    std::u16string units;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        units += (i % 2 == 0) ? u'A' : u'\u00E9';
        expected += (i % 2 == 0) ? "A" : "\xC3\xA9";
    }
    EXPECT_EQ(Convert(units), expected);
}

// --- Ranges ------------------------------------------------------------------------

TEST_F(JniFrameTest, RangesMustLieWithinTheArray) {
    FakeByteArray array = Bytes(8, 0);
    jbyteArray ref = FakeJniEnv::Ref(array);
    JNIEnv* env = fake.Env();

    EXPECT_TRUE(IsRangeInArray(env, ref, 0, 8));
    EXPECT_TRUE(IsRangeInArray(env, ref, 8, 0)) << "an empty range at the end is inside";
    EXPECT_TRUE(IsRangeInArray(env, ref, 3, 5));

    EXPECT_FALSE(IsRangeInArray(env, nullptr, 0, 0));
    EXPECT_FALSE(IsRangeInArray(env, ref, -1, 2));
    EXPECT_FALSE(IsRangeInArray(env, ref, 0, -1));
    EXPECT_FALSE(IsRangeInArray(env, ref, 3, 6));
    EXPECT_FALSE(IsRangeInArray(env, ref, 9, 0));
    // Sums that wrap around in 32 bits.
    EXPECT_FALSE(IsRangeInArray(env, ref, 1, INT_MAX));
    EXPECT_FALSE(IsRangeInArray(env, ref, INT_MAX, 1));
    EXPECT_FALSE(IsRangeInArray(env, ref, INT_MAX, INT_MAX));
    EXPECT_FALSE(IsRangeInArray(env, ref, INT_MIN, INT_MAX));
}

TEST_F(JniFrameTest, AWriteCopiesOnlyItsRangeOutOfTheArray) {
    FakeByteArray array({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    const ByteRangeCopy copy(fake.Env(), FakeJniEnv::Ref(array), 3, 4);
    ASSERT_TRUE(copy);
    ASSERT_EQ(copy.Size(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(copy.Data(), copy.Data() + 4),
              (std::vector<uint8_t>{3, 4, 5, 6}));
    EXPECT_EQ(array.gets, (std::vector<Region>{{3, 4}}));
    EXPECT_TRUE(array.sets.empty());

    const ByteRangeCopy empty(fake.Env(), FakeJniEnv::Ref(array), 10, 0);
    EXPECT_TRUE(empty) << "an empty range is a valid write of nothing";
    EXPECT_EQ(empty.Size(), 0u);
    EXPECT_NE(empty.Data(), nullptr);
}

// Small ranges are copied into room inside the copy and large ones onto the
// heap; either way the copy holds exactly the range, whatever the array held
// before or after it.
TEST_F(JniFrameTest, RangesEitherSideOfTheInlineRoomCopyExactlyTheirBytes) {
    const uint32_t inlineBytes = ByteRangeCopy::kInlineBytes;
    for (const uint32_t size : {1u, inlineBytes - 1, inlineBytes, inlineBytes + 1, 65536u}) {
        std::vector<jbyte> elements(size + 10);
        for (size_t i = 0; i < elements.size(); ++i) {
            elements[i] = static_cast<jbyte>(i * 31 + (i >> 8));
        }
        FakeByteArray array(elements);
        const ByteRangeCopy copy(fake.Env(), FakeJniEnv::Ref(array), 7, static_cast<jint>(size));
        ASSERT_TRUE(copy) << size;
        ASSERT_EQ(copy.Size(), size);
        EXPECT_EQ(std::memcmp(copy.Data(), elements.data() + 7, size), 0) << size;
        EXPECT_EQ(array.gets, (std::vector<Region>{{7, static_cast<jsize>(size)}})) << size;
    }
}

// A thread keeps the block of its last large write for the next one. Copies
// alive at the same time must still get blocks of their own, and a reused
// block must hold the new range, not what the last write left in it.
TEST_F(JniFrameTest, LargeCopiesReuseABlockWithoutSharingIt) {
    const uint32_t size = 64 * 1024;
    std::vector<jbyte> first(size, 0x11);
    std::vector<jbyte> second(size / 2, 0x22);
    FakeByteArray a(first);
    FakeByteArray b(second);
    const uint8_t* reused = nullptr;
    {
        const ByteRangeCopy warm(fake.Env(), FakeJniEnv::Ref(a), 0, static_cast<jint>(size));
        ASSERT_TRUE(warm);
        reused = warm.Data();
    }
    const ByteRangeCopy outer(fake.Env(), FakeJniEnv::Ref(a), 0, static_cast<jint>(size));
    ASSERT_TRUE(outer);
    EXPECT_EQ(outer.Data(), reused) << "the kept block serves the next large write";
    {
        const ByteRangeCopy inner(fake.Env(), FakeJniEnv::Ref(b), 0,
                                  static_cast<jint>(second.size()));
        ASSERT_TRUE(inner);
        EXPECT_NE(inner.Data(), outer.Data());
        EXPECT_EQ(std::memcmp(inner.Data(), second.data(), second.size()), 0);
    }
    EXPECT_EQ(std::memcmp(outer.Data(), first.data(), size), 0)
        << "a copy made meanwhile must not write into a block in use";
}

// A block larger than a thread keeps goes back to the heap: the block kept
// from an ordinary chunk stays the one the next chunk gets.
TEST_F(JniFrameTest, AHugeCopyDoesNotTakeThePlaceOfTheKeptBlock) {
    const uint32_t chunk = 64 * 1024;
    const uint32_t huge = ByteRangeCopy::kKeptBytes + 1;
    std::vector<jbyte> elements(huge, 0x33);
    FakeByteArray array(elements);
    const uint8_t* kept = nullptr;
    {
        const ByteRangeCopy copy(fake.Env(), FakeJniEnv::Ref(array), 0, static_cast<jint>(chunk));
        ASSERT_TRUE(copy);
        kept = copy.Data();
    }
    {
        const ByteRangeCopy copy(fake.Env(), FakeJniEnv::Ref(array), 0, static_cast<jint>(huge));
        ASSERT_TRUE(copy);
        EXPECT_NE(copy.Data(), kept);
        EXPECT_EQ(std::memcmp(copy.Data(), elements.data(), huge), 0);
    }
    const ByteRangeCopy next(fake.Env(), FakeJniEnv::Ref(array), 0, static_cast<jint>(chunk));
    ASSERT_TRUE(next);
    EXPECT_EQ(next.Data(), kept);
}

TEST_F(JniFrameTest, ARangeOutsideTheArrayCopiesNothing) {
    FakeByteArray array = Bytes(10, 7);
    jbyteArray ref = FakeJniEnv::Ref(array);
    EXPECT_FALSE(ByteRangeCopy(fake.Env(), nullptr, 0, 1));
    EXPECT_FALSE(ByteRangeCopy(fake.Env(), ref, -1, 1));
    EXPECT_FALSE(ByteRangeCopy(fake.Env(), ref, 0, -1));
    EXPECT_FALSE(ByteRangeCopy(fake.Env(), ref, 5, 6));
    EXPECT_FALSE(ByteRangeCopy(fake.Env(), ref, 2, INT_MAX));
    EXPECT_TRUE(array.gets.empty());
}

TEST_F(JniFrameTest, AReadCopiesBackOnlyTheBytesItRead) {
    FakeByteArray array = Bytes(32, 0x55);
    ByteReadTarget target(fake.Env(), FakeJniEnv::Ref(array), 20);
    ASSERT_TRUE(target);
    ASSERT_EQ(target.Capacity(), 20u);
    std::memset(target.Data(), 0xA1, 7);

    EXPECT_EQ(target.CopyBack(7), 7u);
    EXPECT_EQ(array.sets, (std::vector<Region>{{0, 7}}));
    EXPECT_TRUE(array.gets.empty()) << "a read never copies the array in";
    for (size_t i = 0; i < array.elements.size(); ++i) {
        EXPECT_EQ(static_cast<uint8_t>(array.elements[i]), i < 7 ? 0xA1 : 0x55) << "index " << i;
    }

    array.sets.clear();
    EXPECT_EQ(target.CopyBack(0), 0u);
    EXPECT_TRUE(array.sets.empty()) << "a read of nothing touches nothing";
    EXPECT_EQ(target.CopyBack(1000), 20u) << "never more than the length asked";
}

TEST_F(JniFrameTest, AReadIntoABadRangeHasNoRoom) {
    FakeByteArray array = Bytes(4, 0);
    jbyteArray ref = FakeJniEnv::Ref(array);
    EXPECT_FALSE(ByteReadTarget(fake.Env(), nullptr, 0));
    EXPECT_FALSE(ByteReadTarget(fake.Env(), ref, -1));
    EXPECT_FALSE(ByteReadTarget(fake.Env(), ref, 5));
    ByteReadTarget none(fake.Env(), ref, 0);
    EXPECT_TRUE(none);
    EXPECT_EQ(none.Capacity(), 0u);
    EXPECT_TRUE(array.sets.empty());
}

TEST_F(JniFrameTest, AHugeReadNeverAllocatesMoreThanOneChunk) {
    FakeByteArray huge = FakeByteArray::Claiming(INT_MAX);
    ByteReadTarget target(fake.Env(), FakeJniEnv::Ref(huge), INT_MAX);
    ASSERT_TRUE(target);
    EXPECT_EQ(target.Capacity(), kMaxReadChunk);
    EXPECT_TRUE(huge.gets.empty());
    EXPECT_TRUE(huge.sets.empty());
}

// --- Int lists ---------------------------------------------------------------------

TEST_F(JniFrameTest, AListCopiesBackOnlyTheEntriesItWroteAndThatFit) {
    FakeIntArray wide(std::vector<jint>(20, -1));
    IntListTarget list(fake.Env(), FakeJniEnv::Ref(wide), 10);
    ASSERT_TRUE(list);
    ASSERT_EQ(list.Capacity(), 10u);
    for (jint i = 0; i < 3; ++i) {
        list.Data()[i] = 100 + i;
    }
    EXPECT_EQ(list.CopyBack(3), 3u);
    EXPECT_EQ(wide.sets, (std::vector<Region>{{0, 3}}));
    EXPECT_EQ(wide.elements[2], 102);
    EXPECT_EQ(wide.elements[3], -1);

    // The filler may write all its entries even into a short array's room;
    // the copy stops at the array's end.
    FakeIntArray narrow(std::vector<jint>(4, -1));
    IntListTarget shortList(fake.Env(), FakeJniEnv::Ref(narrow), 10);
    for (jint i = 0; i < 10; ++i) {
        shortList.Data()[i] = i;
    }
    EXPECT_EQ(shortList.CopyBack(10), 4u);
    EXPECT_EQ(narrow.elements, (std::vector<jint>{0, 1, 2, 3}));

    IntListTarget nowhere(fake.Env(), nullptr, 10);
    EXPECT_TRUE(nowhere) << "the list can be made without a place to put it";
    EXPECT_EQ(nowhere.CopyBack(5), 0u);
}

// --- Flags -------------------------------------------------------------------------

TEST(CompletionFlagTest, StoresWriteTheWholeWordAndReadsTakeTheLowByte) {
    CompletionFlag flag{0xFFFFFF01u};
    StoreFlag(flag, JNI_FALSE);
    EXPECT_EQ(flag.load(), 0u);
    StoreFlag(flag, JNI_TRUE);
    EXPECT_EQ(flag.load(), 1u);

    flag.store(0x100u);
    EXPECT_EQ(LoadFlag(flag), JNI_FALSE);
    flag.store(0x201u);
    EXPECT_EQ(LoadFlag(flag), 1);
}

}  // namespace
}  // namespace zelp::jni
