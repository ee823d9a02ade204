// zelp list, detect and send --usb, run as programs against a fake sysfs tree
// whose printers are ptys: what they print and the exit status scripts rely on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <fstream>

#include "fake_devices.h"

namespace zelp::cli::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string kIdentityCommand = std::string("\x1d") + "eREADVARI";

// Two printers of model 1234:5678, one with the serial 000012 (lp1) and one
// without a serial (lp2), beside a printer of another model (lp0).
class CliUsbTest : public ::testing::Test {
protected:
    void SetUp() override {
        tree.AddPrinter(0, "04b8", "0202", "000012", other.SlavePath());
        tree.AddPrinter(1, "1234", "5678", "000012", numbered.SlavePath());
        tree.AddPrinter(2, "1234", "5678", nullptr, unnumbered.SlavePath());
    }

    Pty other;
    Pty numbered;
    Pty unnumbered;
    FakeUsbTree tree;
};

TEST_F(CliUsbTest, ListShowsTheSerialsAndAsksThePrinterWithoutOne) {
    CliProcess list(Launch(tree.With({"list", "0x1234", "0x5678"})));
    // The unnumbered printer gets the identity command and answers it.
    EXPECT_EQ(Text(unnumbered.Read(kIdentityCommand.size())), kIdentityCommand);
    unnumbered.Write("7a4711\r");
    CliResult run = list.Finish();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("2 printers 1234:5678:\n"));
    EXPECT_THAT(run.out, HasSubstr("  serial 12  (USB serial number)\n"));
    EXPECT_THAT(run.out,
                HasSubstr("  serial 4711  (asked: it has no numeric USB serial number)\n"));
    EXPECT_TRUE(numbered.ReadAvailable().empty()) << "a numbered printer is not asked";
    EXPECT_TRUE(other.ReadAvailable().empty()) << "another model is not asked";

    run = RunCli(tree.With({"list", "4660", "1"}));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr("no USB printer 1234:0001 is plugged in"));
}

TEST_F(CliUsbTest, DetectAnswersByTheSerialValue) {
    CliResult run = RunCli(tree.With({"detect", "4660", "22136", "12"}));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "present: USB printer 1234:5678 serial 12\n");

    run = RunCli(tree.With({"detect", "0x1234", "0x5678", "13"}));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "not present: USB printer 1234:5678 serial 13\n");

    // The roots may also come from the environment.
    ::setenv("ZELP_SYSFS_ROOT", tree.SysfsRoot().c_str(), 1);
    ::setenv("ZELP_DEV_ROOT", tree.DevRoot().c_str(), 1);
    run = RunCli({"detect", "0x04b8", "0x0202", "000012"});
    ::unsetenv("ZELP_SYSFS_ROOT");
    ::unsetenv("ZELP_DEV_ROOT");
    EXPECT_EQ(run.exitCode, 0) << run.err;
}

TEST_F(CliUsbTest, SendDeliversTheJobAndSaysWhichPrinterTookIt) {
    TempDir dir;
    const std::string job = Job(40 * 1024);
    const std::string file = dir / "job.prn";
    std::ofstream(file, std::ios::binary) << job;

    CliProcess send(Launch(tree.With({"send", "--usb", "0x1234", "0x5678", "12", file})));
    EXPECT_EQ(Text(numbered.Read(job.size())), job);
    CliResult run = send.Finish();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("sent 40.0 KiB (40960 bytes) from " + file +
                                   " to USB printer 1234:5678 serial 12 in "));
    EXPECT_EQ(run.err, "") << "no bar without a terminal";

    // No printer 99: the one without a serial stands in, as for the library's users.
    CliProcess standIn(Launch(tree.With({"send", "--usb", "0x1234", "0x5678", "99"}), "label"));
    EXPECT_EQ(Text(unnumbered.Read(5)), "label");
    run = standIn.Finish();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("no printer with serial 99 could be opened; using the printer"));
    EXPECT_THAT(run.out, HasSubstr("to USB printer 1234:5678 serial 000000"));
}

TEST_F(CliUsbTest, AStandInThatCannotBeOpenedIsNamedAsSuch) {
    DeviceHolder spooler(unnumbered.SlavePath());
    ASSERT_TRUE(spooler.Holds());
    CliResult run = RunCli(tree.With({"send", "--usb", "0x1234", "0x5678", "99"}), "x");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_THAT(run.err, HasSubstr("no USB printer 1234:5678 serial 99 is plugged in, and the "
                                   "printer of the model without a numeric serial number that "
                                   "would stand in (" +
                                   tree.DevRoot() + "/usb/lp2): in use by another program"));
    EXPECT_TRUE(numbered.ReadAvailable().empty()) << "the printer 12 is not a stand-in";
}

TEST_F(CliUsbTest, OnATerminalSendDrawsAProgressBar) {
    TempDir dir;
    const std::string job = Job(100 * 1024);
    const std::string file = dir / "job.prn";
    std::ofstream(file, std::ios::binary) << job;
    CliLaunch launch = Launch(tree.With({"send", "--usb", "4660", "22136", "12", file}));
    launch.bErrIsTerminal = true;

    CliProcess send(launch);
    EXPECT_EQ(numbered.Read(job.size()).size(), job.size());
    CliResult run = send.Finish();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("\r[###"));
    EXPECT_THAT(run.err, HasSubstr("[" + std::string(30, '#') + "] 100%  100.0 KiB of 100.0 KiB"));
    EXPECT_THAT(run.out, HasSubstr("sent 100.0 KiB (102400 bytes)"));
}

TEST(CliUsbFailureTest, EachReasonAPrinterCannotBeUsedHasItsStatusAndAdvice) {
    Pty printer;
    FakeUsbTree tree;
    tree.AddPrinter(3, "1234", "5678", "000012", printer.SlavePath());
    const std::string node = tree.DevRoot() + "/usb/lp3";

    CliResult run = RunCli(tree.With({"send", "--usb", "0x1234", "0x5678", "99"}), "x");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr("no USB printer 1234:5678 serial 99 is plugged in"));
    EXPECT_THAT(run.err, HasSubstr("zelp list 0x1234 0x5678"));

    {
        DeviceHolder spooler(printer.SlavePath());
        ASSERT_TRUE(spooler.Holds());
        run = RunCli(tree.With({"send", "--usb", "0x1234", "0x5678", "12"}), "x");
        EXPECT_EQ(run.exitCode, 3);
        EXPECT_THAT(run.err, HasSubstr("cannot open the USB printer 1234:5678 serial 12 (" + node +
                                       "): in use by another program"));
    }

    run = RunCli(WithoutAccessTo(
        printer.SlavePath(), tree.With({"send", "--usb", "0x1234", "0x5678", "12", "/dev/null"})));
    EXPECT_EQ(run.exitCode, 4) << run.err;
    EXPECT_THAT(run.err, HasSubstr("(" + node + "): permission denied"));
    EXPECT_THAT(run.err, HasSubstr("SUBSYSTEM==\"usbmisc\", KERNEL==\"lp[0-9]*\", "
                                   "ATTRS{idVendor}==\"1234\", ATTRS{idProduct}==\"5678\""));
    EXPECT_TRUE(printer.ReadAvailable().empty());
}

TEST(CliUsbFailureTest, APrinterThatStopsTakingDataTimesOut) {
    Pty printer;  // never reads: its buffers fill, and the write stalls
    FakeUsbTree tree;
    tree.AddPrinter(0, "1234", "5678", "000012", printer.SlavePath());
    CliResult run =
        RunCli(tree.With({"send", "--usb", "0x1234", "0x5678", "12", "--timeout", "200"}),
               Job(256 * 1024));
    EXPECT_EQ(run.exitCode, 5) << run.err;
    EXPECT_THAT(run.err, HasSubstr("time-out: the USB printer 1234:5678 serial 12 took no data "
                                   "for 200 ms; "));
    EXPECT_THAT(run.err, HasSubstr("may have received part of the block that failed"));
    EXPECT_THAT(run.out, Not(HasSubstr("sent")));
}

}  // namespace
}  // namespace zelp::cli::testing
