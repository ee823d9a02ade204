// The rules zelp udev-rule prints, read by udev's grammar (udev(7)): this
// machine's udev (Debian 12's 252) has no `udevadm verify`, which came in 253.
// A rule udev cannot parse is skipped with a line in the journal nobody reads,
// and the printers keep their old group: the fault this catches.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "cli/system_setup.h"

namespace zelp::cli {
namespace {

// KEY or KEY{ATTRIBUTE}, an operator, a value in double quotes.
const std::regex kPair(
    R"re(\s*([A-Z]+)(\{([A-Za-z0-9_]+)\})?\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*)re");

struct Rule {
    std::map<std::string, std::string> matches;      // key (with attribute) -> value
    std::map<std::string, std::string> assignments;  // key -> value
};

// One rule line as udev splits it, or a failure naming the part it refused.
Rule ParseRule(const std::string& line) {
    static const std::set<std::string> kMatchKeys = {"SUBSYSTEM",  "KERNEL",  "ATTRS", "ATTR",
                                                     "SUBSYSTEMS", "DRIVERS", "ACTION"};
    static const std::set<std::string> kAssignKeys = {"GROUP", "MODE", "OWNER"};
    Rule rule;
    std::stringstream parts(line);
    std::string part;
    while (std::getline(parts, part, ',')) {
        std::smatch pair;
        EXPECT_TRUE(std::regex_match(part, pair, kPair)) << "not KEY OP \"VALUE\": " << part;
        if (pair.empty()) {
            continue;
        }
        const std::string key = pair[1].str() + (pair[2].matched ? pair[2].str() : "");
        const bool bMatch = pair[4] == "==" || pair[4] == "!=";
        EXPECT_EQ(bMatch ? kMatchKeys.count(pair[1]) : kAssignKeys.count(pair[1]), 1u)
            << pair[1] << " cannot take " << pair[4];
        EXPECT_EQ(pair[2].matched, pair[1] == "ATTRS" || pair[1] == "ATTR") << part;
        (bMatch ? rule.matches : rule.assignments)[key] = pair[5];
    }
    return rule;
}

std::vector<Rule> ParseRules(const std::string& text) {
    std::vector<Rule> rules;
    std::stringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] != '#') {
            rules.push_back(ParseRule(line));
        }
    }
    return rules;
}

TEST(CliUdevRuleTest, EveryRuleParsesAndGivesItsNodesToGroupLp) {
    const std::vector<Rule> all = ParseRules(UdevRules(std::nullopt).value());
    const std::vector<Rule> one = ParseRules(UdevRules(UsbModel{0x04B8, 0x0202}).value());
    ASSERT_EQ(all.size(), 2u) << "USB printers and parallel ports";
    ASSERT_EQ(one.size(), 1u) << "that model's USB printers only";
    for (const Rule& rule : {all[0], all[1], one[0]}) {
        EXPECT_EQ(rule.assignments.at("GROUP"), "lp");
        EXPECT_EQ(rule.assignments.at("MODE"), "0660");
        EXPECT_EQ(rule.matches.count("SUBSYSTEM"), 1u) << "a rule for every device would be wrong";
    }
    // sysfs writes the ids as four lower-case hex digits, and udev compares text.
    EXPECT_EQ(one[0].matches.at("ATTRS{idVendor}"), "04b8");
    EXPECT_EQ(one[0].matches.at("ATTRS{idProduct}"), "0202");
    EXPECT_EQ(one[0].matches.at("SUBSYSTEM"), all[0].matches.at("SUBSYSTEM"));
}

}  // namespace
}  // namespace zelp::cli
