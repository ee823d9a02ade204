// The command line of zelp: what each command takes, and the message for
// each way of getting it wrong.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/arguments.h"

namespace zelp::cli {
namespace {

Invocation Parsed(const std::vector<std::string>& args) {
    const ParseResult result = ParseArguments(args);
    EXPECT_TRUE(result.invocation.has_value()) << result.error;
    return result.invocation.value_or(Invocation{});
}

std::string Refusal(const std::vector<std::string>& args) {
    const ParseResult result = ParseArguments(args);
    EXPECT_FALSE(result.invocation.has_value());
    return result.error;
}

TEST(CliArgumentsTest, UsbIdsAreDecimalOrHexadecimalWithinSixteenBits) {
    EXPECT_EQ(ParseUsbId("4660"), 0x1234);
    EXPECT_EQ(ParseUsbId("0x1234"), 0x1234);
    EXPECT_EQ(ParseUsbId("0X04B8"), 0x04b8);
    EXPECT_EQ(ParseUsbId("0"), 0);
    EXPECT_EQ(ParseUsbId("65535"), 0xFFFF);
    for (const char* bad : {"", "65536", "0x10000", "-1", "+5", "12a", "0x", "04b8", " 1", "1 "}) {
        EXPECT_EQ(ParseUsbId(bad), std::nullopt) << bad;
    }
}

TEST(CliArgumentsTest, EachCommandTakesItsOperands) {
    Invocation call = Parsed({"list", "0x1234", "22136"});
    EXPECT_EQ(call.command, Command::kList);
    EXPECT_EQ(call.model.vendorId, 0x1234);
    EXPECT_EQ(call.model.productId, 0x5678);

    call = Parsed({"detect", "1", "2", "000012"});
    EXPECT_EQ(call.command, Command::kDetect);
    EXPECT_EQ(call.serial, "000012") << "the serial text is kept as given";

    call = Parsed({"status", "LPT1"});
    EXPECT_EQ(call.command, Command::kStatus);
    EXPECT_EQ(call.portName, "LPT1");

    EXPECT_THAT(Refusal({"list", "1"}), ::testing::HasSubstr("list takes VENDOR PRODUCT"));
    EXPECT_THAT(Refusal({"detect", "1", "2"}), ::testing::HasSubstr("VENDOR PRODUCT SERIAL"));
    EXPECT_THAT(Refusal({"status"}), ::testing::HasSubstr("status takes PORT"));
    EXPECT_THAT(Refusal({"status", "LPT1", "LPT2"}), ::testing::HasSubstr("status takes PORT"));
    EXPECT_THAT(Refusal({"list", "vendor", "2"}), ::testing::HasSubstr(": vendor"));
    EXPECT_THAT(Refusal({"list", "1", "70000"}), ::testing::HasSubstr(": 70000"));
    EXPECT_EQ(Refusal({"print", "x"}), "unknown command print");
    EXPECT_EQ(Refusal({}), "no command given");
}

TEST(CliArgumentsTest, SendGoesEitherToAUsbPrinterOrToAPort) {
    Invocation call = Parsed({"send", "--usb", "0x1234", "0x5678", "12", "job.prn"});
    EXPECT_TRUE(call.bToUsb);
    EXPECT_EQ(call.serial, "12");
    EXPECT_EQ(call.inputPath, "job.prn");
    EXPECT_EQ(call.timeoutMs, kDefaultUsbTimeoutMs);

    call = Parsed({"send", "job.prn", "--timeout=-1", "--usb", "1", "2", "3"});
    EXPECT_EQ(call.timeoutMs, -1) << "options may come anywhere";
    EXPECT_EQ(call.inputPath, "job.prn");

    call = Parsed({"send", "--port", "/dev/lp0", "-"});
    EXPECT_FALSE(call.bToUsb);
    EXPECT_EQ(call.portName, "/dev/lp0");
    EXPECT_EQ(call.inputPath, "-");
    EXPECT_EQ(Parsed({"send", "--port=LPT1"}).inputPath, "") << "standard input";

    EXPECT_THAT(Refusal({"send", "job.prn"}), ::testing::HasSubstr("either --usb"));
    EXPECT_THAT(Refusal({"send", "--usb", "1", "2", "3", "--port", "LPT1"}),
                ::testing::HasSubstr("either --usb"));
    EXPECT_EQ(Refusal({"send", "--usb", "1", "2"}), "--usb needs VENDOR PRODUCT SERIAL");
    EXPECT_EQ(Refusal({"send", "--port"}), "--port needs a value");
    EXPECT_THAT(Refusal({"send", "--port", "LPT1", "--timeout", "5"}),
                ::testing::HasSubstr("a parallel port's write time-out is 2 s"));
    EXPECT_EQ(Refusal({"send", "--port", "LPT1", "a", "b"}), "send takes at most one FILE");
    for (const char* bad : {"-2", "soon", "2147483648", ""}) {
        EXPECT_THAT(Refusal({"send", "--usb", "1", "2", "3", "--timeout", bad}),
                    ::testing::HasSubstr("--timeout takes milliseconds"))
            << bad;
    }
    EXPECT_EQ(Refusal({"status", "LPT1", "--port", "LPT2"}),
              "--usb, --port and --timeout belong to send");
}

// list, doctor and udev-rule take every printer when no model is named; doctor
// tells a port from a model by the number of operands.
TEST(CliArgumentsTest, TheSurveyingCommandsTakeAModelOrNothing) {
    struct Case {
        std::vector<std::string> args;
        Command command;
        bool bModel;
        std::string serial;
        std::string port;
    };
    for (const Case& c : {Case{{"list"}, Command::kList, false, "", ""},
                          Case{{"doctor"}, Command::kDoctor, false, "", ""},
                          Case{{"doctor", "LPT2"}, Command::kDoctor, false, "", "LPT2"},
                          Case{{"doctor", "1", "2"}, Command::kDoctor, true, "", ""},
                          Case{{"doctor", "1", "2", "00012"}, Command::kDoctor, true, "00012", ""},
                          Case{{"udev-rule"}, Command::kUdevRule, false, "", ""},
                          Case{{"udev-rule", "0x4b8", "514"}, Command::kUdevRule, true, "", ""}}) {
        const Invocation call = Parsed(c.args);
        EXPECT_EQ(call.command, c.command) << c.args[0];
        EXPECT_EQ(call.bModelGiven, c.bModel) << c.args.size();
        EXPECT_EQ(call.serial, c.serial);
        EXPECT_EQ(call.portName, c.port);
    }
    EXPECT_EQ(Parsed({"udev-rule", "0x4b8", "514"}).model.productId, 0x0202);
    EXPECT_THAT(Refusal({"doctor", "1", "2", "3", "4"}), ::testing::HasSubstr("or PORT"));
    EXPECT_THAT(Refusal({"doctor", "1", "x"}), ::testing::HasSubstr(": x"));
    EXPECT_THAT(Refusal({"udev-rule", "1"}), ::testing::HasSubstr("udev-rule takes VENDOR"));
}

TEST(CliArgumentsTest, HelpVersionAndTheHiddenRootsComeBeforeAnythingElse) {
    EXPECT_EQ(Parsed({"--help"}).command, Command::kHelp);
    EXPECT_EQ(Parsed({"send", "-h"}).command, Command::kHelp) << "help even for a bad command";
    EXPECT_EQ(Parsed({"--version"}).command, Command::kVersion);

    const Invocation call =
        Parsed({"--sysfs-root", "/t/sys", "status", "LPT1", "--dev-root=/t/dev"});
    EXPECT_EQ(call.sysfsRoot, "/t/sys");
    EXPECT_EQ(call.devRoot, "/t/dev");
    EXPECT_EQ(Refusal({"status", "LPT1", "--verbose"}), "unknown option --verbose");
    EXPECT_EQ(Parsed({"status", "--", "-odd-name"}).portName, "-odd-name");
}

TEST(CliArgumentsTest, TheHelpDocumentsEveryExitStatus) {
    const std::string help = UsageText();
    for (const char* line :
         {"  0  done", "  1  usage error", "  2  no such printer", "  3  busy",
          "  4  permission denied", "  5  time-out", "  6  the printer is off line"}) {
        EXPECT_THAT(help, ::testing::HasSubstr(line));
    }
    EXPECT_THAT(help, ::testing::Not(::testing::HasSubstr("--sysfs-root")));
}

}  // namespace
}  // namespace zelp::cli
