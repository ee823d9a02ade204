#include "usb/usb_key.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace zelp {
namespace {

TEST(UsbKeyTest, NumericValueFollowsAtolWithThirtyTwoBitWrap) {
    struct Case {
        const char* text;
        int32_t value;
    };
    const std::vector<Case> cases = {
        {"12", 12},
        {"0012", 12},
        {"000012", 12},
        {"  12", 12},
        {"\t\n\v\f\r 7", 7},
        {"+5", 5},
        {"-5", -5},
        {"12abc", 12},
        {"1 2", 1},
        {"", 0},
        {"abc", 0},
        {"-", 0},
        {"+-3", 0},
        {"- 3", 0},
        {"\x01"
         "3",
         0},  // not white space for atol
        {"2147483647", 2147483647},
        {"2147483648", -2147483647 - 1},
        {"4294967295", -1},
        {"4294967297", 1},
        {"-2147483649", 2147483647},
        {"99999999999999999999", 1661992959},  // 10^20 - 1 modulo 2^32
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NumericValue(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(UsbKeyTest, WantedSerialValueLooksAtTheFirstTwentyCharactersOnly) {
    // 25 digits: the value is that of the first 20, with wrap-around.
    EXPECT_EQ(WantedSerialValue("1234567890123456789012345"), NumericValue("12345678901234567890"));
    EXPECT_NE(WantedSerialValue("1234567890123456789012345"),
              NumericValue("1234567890123456789012345"));
    // Twenty blanks leave no digit within reach.
    EXPECT_EQ(WantedSerialValue(std::string(20, ' ') + "42"), 0);
    EXPECT_EQ(WantedSerialValue(std::string(19, ' ') + "42"), 4);
    EXPECT_EQ(WantedSerialValue("12"), 12);
}

TEST(UsbKeyTest, FormatUsbKeyPrintsBothIdsAsLowerCaseHex) {
    struct Case {
        const char* vendor;
        const char* product;
        const char* key;
    };
    const std::vector<Case> cases = {
        {"4660", "22136", "vid_1234&pid_5678"},     {"0", "", "vid_0000&pid_0000"},
        {"abc", "1", "vid_0000&pid_0001"},          {" 43981", "+255", "vid_abcd&pid_00ff"},
        {"-1", "65535", "vid_ffffffff&pid_ffff"},   {"65536", "1048575", "vid_10000&pid_fffff"},
        {"4294967297", "12x", "vid_0001&pid_000c"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatUsbKey(c.vendor, c.product), c.key) << c.vendor << " / " << c.product;
    }
}

constexpr const char* kKey = "vid_1234&pid_5678";

TEST(UsbKeyTest, ExtractSerialFieldTakesUpToSixCharactersAfterTheHashFollowingTheKey) {
    struct Case {
        std::string path;
        std::string key;
        std::optional<std::string> field;
    };
    const std::vector<Case> cases = {
        {"\\\\?\\usb#vid_1234&pid_5678#000012#{28d78fad}", kKey, "000012"},
        {"\\\\?\\usb#vid_1234&pid_5678#1234567#{guid}", kKey, "123456"},
        {"\\\\?\\usb#vid_1234&pid_5678#42", kKey, "42"},
        {"\\\\?\\usb#vid_1234&pid_5678##{guid}", kKey, ""},
        {"\\\\?\\usb#vid_1234&pid_5678&mi_00#7#x", kKey, "7"},
        {"\\\\?\\usb#vid_1234&pid_5678#ABC123&lp0#{guid}", kKey, "ABC123"},
        {"\\\\?\\usb#VID_1234&PID_5678#000012#{guid}", kKey, std::nullopt},
        {"\\\\?\\usb#vid_1234&pid_5679#000012#{guid}", kKey, std::nullopt},
        {"\\\\?\\usb#vid_1234&pid_5678", kKey, std::nullopt},
        {"\\\\?\\usb#vid_1234&pid_5678#", kKey, std::nullopt},
        {"", kKey, std::nullopt},
        // Only the first occurrence of the key counts.
        {"x#vid_1234&pid_5678#11#vid_1234&pid_5678#22", kKey, "11"},
        // An empty key is found at the start: the field follows the first '#'.
        {"\\\\?\\usb#vid_aaaa&pid_bbbb#99#{guid}", "", "vid_aa"},
        {"#000777#", "", "000777"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExtractSerialField(c.path, c.key), c.field) << c.path << " / " << c.key;
    }
}

TEST(UsbKeyTest, PathMatchesComparesTheFieldByNumericValue) {
    struct Case {
        std::string path;
        const char* serialSought;
        bool matches;
    };
    const std::string prefix = std::string("\\\\?\\usb#") + kKey + "#";
    const std::string suffix = "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
    const std::vector<Case> cases = {
        {prefix + "0012" + suffix, "12", true},
        {prefix + "0012" + suffix, "000012", true},
        {prefix + "0012" + suffix, "  12", true},
        {prefix + "0012" + suffix, "13", false},
        {prefix + "1234567" + suffix, "123456", true},
        {prefix + "1234567" + suffix, "1234567", false},
        {prefix + "ABCDEF" + suffix, "000000", true},
        {prefix + "ABCDEF" + suffix, "0", true},
        {prefix + "ABCDEF" + suffix, "", true},
        {prefix + "ABCDEF" + suffix, "abc", true},
        {prefix + "ABCDEF" + suffix, "1", false},
        {prefix + suffix, "", true},  // '##': an empty field of value 0
        {prefix + suffix, "5", false},
        {prefix + "ABC123&lp0" + suffix, "0", true},
        {prefix + "000777&lp3" + suffix, "777", true},
        {prefix + "000777&lp3" + suffix, "7773", false},
        {prefix.substr(0, prefix.size() - 1), "", false},  // no '#' after the key
        {prefix, "", false},                               // '#' as the last character
        {"\\\\?\\usb#VID_1234&PID_5678#000012" + suffix, "12", false},
        {prefix + "12345678901234567890123" + suffix, "123456", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PathMatches(c.path, kKey, WantedSerialValue(c.serialSought)), c.matches)
            << c.path << " sought " << '"' << c.serialSought << '"';
    }
}

TEST(UsbKeyTest, AShortFieldAfterALongOneHasOnlyItsOwnValue) {
    const std::string longer = std::string("p#") + kKey + "#654321#x";
    const std::string shorter = std::string("p#") + kKey + "#42#x";
    EXPECT_EQ(ExtractSerialField(longer, kKey), "654321");
    EXPECT_EQ(ExtractSerialField(shorter, kKey), "42");
    EXPECT_TRUE(PathMatches(shorter, kKey, 42));
    EXPECT_FALSE(PathMatches(shorter, kKey, 654321));
    EXPECT_FALSE(PathMatches(shorter, kKey, 424321));
}

TEST(UsbKeyTest, AnEmptyKeyMatchesTheFieldAfterThePathsFirstHash) {
    EXPECT_TRUE(PathMatches("\\\\?\\usb#000000#vid_1234", "", 0));
    EXPECT_TRUE(PathMatches("usb#17#vid_1234&pid_5678#99", "", 17));
    EXPECT_FALSE(PathMatches("usb#17#vid_1234&pid_5678#99", "", 99));
    EXPECT_FALSE(PathMatches("no hash at all", "", 0));
}

}  // namespace
}  // namespace zelp
