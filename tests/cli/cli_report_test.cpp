// The words of zelp: errors, status bits, sizes and the progress bar.
#include <gtest/gtest.h>

#include "cli/report.h"

namespace zelp::cli {
namespace {

TEST(CliReportTest, OpenErrorsMapToTheExitStatusScriptsTestFor) {
    EXPECT_EQ(ExitCodeForOpenError(ERROR_FILE_NOT_FOUND), ExitCode::kNoPrinter);
    EXPECT_EQ(ExitCodeForOpenError(ERROR_PATH_NOT_FOUND), ExitCode::kNoPrinter);
    EXPECT_EQ(ExitCodeForOpenError(ERROR_DEV_NOT_EXIST), ExitCode::kNoPrinter);
    EXPECT_EQ(ExitCodeForOpenError(ERROR_DEVICE_NOT_CONNECTED), ExitCode::kNoPrinter);
    EXPECT_EQ(ExitCodeForOpenError(ERROR_SHARING_VIOLATION), ExitCode::kBusy);
    EXPECT_EQ(ExitCodeForOpenError(ERROR_ACCESS_DENIED), ExitCode::kPermission);
    EXPECT_EQ(ExitCodeForOpenError(ERROR_GEN_FAILURE), ExitCode::kIoFailure);
    EXPECT_EQ(ExitCodeForOpenError(12345), ExitCode::kIoFailure);

    EXPECT_EQ(DescribeError(ERROR_ACCESS_DENIED), "permission denied (error 5)");
    EXPECT_EQ(DescribeError(ERROR_SHARING_VIOLATION), "in use by another program (error 32)");
    EXPECT_EQ(DescribeError(4242), "error 4242");
}

TEST(CliReportTest, StatusBitsAreNamedMostTellingFirst) {
    EXPECT_EQ(StatusWords(PARALLEL_SELECTED), "selected");
    EXPECT_EQ(StatusWords(PARALLEL_SELECTED | PARALLEL_PAPER_EMPTY | PARALLEL_BUSY),
              "paper out, busy, selected");
    EXPECT_EQ(StatusWords(PARALLEL_POWER_OFF | PARALLEL_OFF_LINE), "powered off, off line");
    EXPECT_EQ(StatusWords(0xFF),
              "powered off, not connected, off line, paper out, busy, selected, auto-feed, "
              "initialising");
    EXPECT_EQ(StatusWords(0), "no status bits set");
}

TEST(CliReportTest, SizesModelsAndProgressReadAsPeopleWriteThem) {
    EXPECT_EQ(FormatBytes(0), "0 bytes");
    EXPECT_EQ(FormatBytes(1), "1 byte");
    EXPECT_EQ(FormatBytes(1023), "1023 bytes");
    EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
    EXPECT_EQ(FormatBytes(5 * 1024 * 1024 + 512 * 1024), "5.5 MiB");
    EXPECT_EQ(FormatBytes(3ull << 30), "3.0 GiB");

    EXPECT_EQ(FormatModel({0x04b8, 0x0202}), "04b8:0202");
    EXPECT_EQ(ModelArguments({0x04b8, 0x0202}), "0x04b8 0x0202");

    EXPECT_EQ(ProgressLine(0, 2048, 10), "[----------]   0%  0 bytes of 2.0 KiB");
    EXPECT_EQ(ProgressLine(1024, 4096, 8), "[##------]  25%  1.0 KiB of 4.0 KiB");
    EXPECT_EQ(ProgressLine(4096, 4096, 8), "[########] 100%  4.0 KiB of 4.0 KiB");
    // A file that grew while it was sent never overfills the bar.
    EXPECT_EQ(ProgressLine(5000, 4096, 4), "[####] 100%  4.9 KiB of 4.0 KiB");
    EXPECT_EQ(ProgressLine(3000, std::nullopt, 8), "2.9 KiB sent");
}

}  // namespace
}  // namespace zelp::cli
