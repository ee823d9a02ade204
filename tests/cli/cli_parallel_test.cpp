// zelp status and zelp send --port, run as programs against ptys standing in
// for parallel ports: what they print and the exit status scripts rely on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "fake_devices.h"

namespace zelp::cli::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(CliPortStatusTest, APortThatAnswersIsOnLineWithItsStatusInWords) {
    Pty printer;
    CliResult run = RunCli({"status", printer.SlavePath()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr(printer.SlavePath() + ": on line\n"));
    EXPECT_THAT(run.out, HasSubstr("status 0x80: selected\n"));

    // LPT1 is parport0 under the device root.
    FakeUsbTree tree;
    tree.AddParallelPort(0, printer.SlavePath());
    run = RunCli(tree.With({"status", "LPT1"}));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("LPT1 (" + tree.DevRoot() + "/parport0): on line"));
}

TEST(CliPortStatusTest, EachReasonAPortCannotBeOpenedHasItsStatusAndAdvice) {
    FakeUsbTree tree;
    CliResult run = RunCli(tree.With({"status", "LPT2"}));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr("cannot open LPT2 (" + tree.DevRoot() + "/parport1)"));
    EXPECT_THAT(run.err, HasSubstr("modprobe ppdev"));

    Pty printer;
    {
        DeviceHolder other(printer.SlavePath());
        ASSERT_TRUE(other.Holds());
        run = RunCli({"status", printer.SlavePath()});
        EXPECT_EQ(run.exitCode, 3);
        EXPECT_THAT(run.err, HasSubstr("in use by another program"));
    }

    // The parallel port's node gets a udev rule; a node of another kind the
    // commands that let the group at it.
    tree.AddParallelPort(0, printer.SlavePath());
    const std::string node = tree.DevRoot() + "/parport0";
    run = RunCli(WithoutAccessTo(printer.SlavePath(), tree.With({"status", "LPT1"})));
    EXPECT_EQ(run.exitCode, 4) << run.err;
    EXPECT_THAT(run.err, HasSubstr("cannot open LPT1 (" + node + "): permission denied"));
    EXPECT_THAT(run.err, HasSubstr(node + " belongs to group"));
    EXPECT_THAT(run.err, HasSubstr("SUBSYSTEM==\"ppdev\", KERNEL==\"parport[0-9]*\", GROUP="));
    EXPECT_THAT(run.out, Not(HasSubstr("on line")));

    run = RunCli(WithoutAccessTo(printer.SlavePath(), {"status", printer.SlavePath()}));
    EXPECT_EQ(run.exitCode, 4) << run.err;
    EXPECT_THAT(run.err, HasSubstr("sudo chgrp "));
}

TEST(CliPortSendTest, AFileAndStandardInputReachThePrinterWhole) {
    Pty printer;
    TempDir dir;
    const std::string job = Job(10 * 1024);
    const std::string file = dir / "job.prn";
    std::ofstream(file, std::ios::binary) << job;

    CliProcess fromFile(Launch({"send", "--port", printer.SlavePath(), file}));
    EXPECT_EQ(Text(printer.Read(job.size())), job);
    CliResult run = fromFile.Finish();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("sent 10.0 KiB (10240 bytes) from " + file + " to printer on " +
                                   printer.SlavePath()));

    const CliLaunch piped = Launch({"send", "--port", printer.SlavePath(), "-"}, "\x1b@label\x0c");
    CliProcess fromStdin(piped);
    EXPECT_EQ(Text(printer.Read(piped.stdinBytes.size())), piped.stdinBytes);
    run = fromStdin.Finish();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("sent 8 bytes from standard input"));
}

TEST(CliPortSendTest, NothingIsSentWhenTheInputOrThePortFails) {
    Pty printer;
    CliResult run = RunCli({"send", "--port", printer.SlavePath(), "/nonexistent/job.prn"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("cannot read /nonexistent/job.prn"));

    CliLaunch typed;
    typed.args = {"send", "--port", printer.SlavePath()};
    typed.bStdinIsTerminal = true;
    run = RunCli(typed);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("standard input is a terminal"));

    DeviceHolder other(printer.SlavePath());
    run = RunCli({"send", "--port", printer.SlavePath()}, "data");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_THAT(run.out, Not(HasSubstr("sent")));
    EXPECT_TRUE(printer.ReadAvailable().empty());
}

}  // namespace
}  // namespace zelp::cli::testing
