// Faults over real kernel objects on the linux backend: a printer that stops
// reading (a pty or FIFO whose far side no longer drains it), one that hangs
// up in the middle of a job, and one whose device node is gone by the time it
// is opened. Each call gives false or 0, within its time-out; the port works
// again after a close; no byte of a job reported written is lost; and every
// descriptor is given back.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <future>

#include "java_calls.h"
#include "linux_fixture.h"
#include "native/platform.h"
#include "parallel/parallel_port.h"
#include "stress_support.h"
#include "usb/usb_slots.h"

namespace zelp::reliability {
namespace {

using stress::Clock;
using stress::CloseMargin;
using stress::Millis;

// More than any pty or pipe buffers, so that a printer that stops reading
// stalls the write for certain.
const std::string kBigJob(4 * 1024 * 1024, 'x');

template <class Call>
Millis Timed(Call call) {
    const Clock::time_point start = Clock::now();
    call();
    return std::chrono::duration_cast<Millis>(Clock::now() - start);
}

class LinuxFaultTest : public ::testing::Test {
protected:
    LinuxFaultTest() { ClearSlotRecords(); }

    // Every test here follows one fault through; the reliability report
    // adds them up.
    void TearDown() override { stress::PrintFigures("faults-linux", {{"faults", 1}}); }

    // Everything the library opened is closed again: the process holds as
    // many descriptors as before the library came in (the test's printers
    // made and ready by then).
    void ExpectNothingLeftOpen(size_t fdsBefore) {
        EXPECT_EQ(os.OpenHandleCount(), 0u);
        EXPECT_EQ(os.OpenFdCount(), 0u);
        EXPECT_EQ(linuxbk::testing::CountOpenFds(), fdsBefore);
    }

    FakeUsbTree tree;
    linuxbk::LinuxPlatform os{tree.SysRoot(), tree.DevRoot()};
    ScopedPlatform scope{os};
    JavaCalls java;
};

size_t FdsNow() {
    return linuxbk::testing::CountOpenFds();
}

TEST_F(LinuxFaultTest, AParallelPrinterThatStopsReadingFailsTheWriteAtItsTimeOut) {
    PtyPrinter printer;
    const size_t fds = FdsNow();
    ASSERT_TRUE(java.OpenParallel(Wide(printer.Path())));
    ASSERT_TRUE(java.WriteParallel("<job 1>"));
    ASSERT_TRUE(printer.WaitForBytes(7));

    printer.StopReading();
    bool written = true;
    const Millis took = Timed([&] { written = java.WriteParallel(kBigJob); });
    EXPECT_FALSE(written);
    EXPECT_LE(took, Millis(CParallelPort::kWriteTotalTimeoutMs) + CloseMargin());
    EXPECT_LE(Timed([&] { java.CloseParallel(); }), CloseMargin());
    EXPECT_FALSE(java.DetectParallel()) << "no port is open";

    printer.ResumeReading();
    ASSERT_TRUE(java.OpenParallel(Wide(printer.Path())));
    EXPECT_TRUE(java.WriteParallel("<job 3>"));
    EXPECT_TRUE(java.CloseParallel());
    ExpectNothingLeftOpen(fds);

    printer.WaitUntilQuiet(Millis(200));
    const std::string received = printer.Received();
    ASSERT_TRUE(received.starts_with("<job 1>")) << received.substr(0, 40);
    ASSERT_TRUE(received.ends_with("<job 3>"));
    EXPECT_EQ(received.find_first_not_of('x', 7), received.size() - 7)
        << "only a first part of the failed job lies between";
}

TEST_F(LinuxFaultTest, APrinterThatHangsUpMidJobFailsItsWriteAndReadsNothing) {
    auto printer = std::make_unique<PtyPrinter>();
    const size_t fds = FdsNow();
    ASSERT_TRUE(java.OpenParallel(Wide(printer->Path())));
    printer->StopReading();
    auto pending = std::async(std::launch::async, [&] { return java.WriteParallel(kBigJob); });
    std::this_thread::sleep_for(Millis(100));
    const Clock::time_point hungUp = Clock::now();
    printer->HangUp();
    EXPECT_FALSE(pending.get());
    EXPECT_LE(std::chrono::duration_cast<Millis>(Clock::now() - hungUp),
              Millis(CParallelPort::kWriteTotalTimeoutMs) + CloseMargin());
    EXPECT_EQ(java.ReadParallel(), "");
    EXPECT_FALSE(java.DetectParallel()) << "a peer that hung up is off line";
    EXPECT_LE(Timed([&] { java.CloseParallel(); }), CloseMargin());

    // Another printer on the same port name works at once.
    printer = std::make_unique<PtyPrinter>();
    ASSERT_TRUE(java.OpenParallel(Wide(printer->Path())));
    EXPECT_TRUE(java.WriteParallel("<next>"));
    EXPECT_TRUE(printer->WaitForBytes(6));
    EXPECT_TRUE(java.CloseParallel());
    ExpectNothingLeftOpen(fds);
}

TEST_F(LinuxFaultTest, AFifoNobodyDrainsFailsTheWriteAtItsTimeOutAndClosesAtOnce) {
    const std::string fifo = tree / "printer.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const size_t fds = FdsNow();
    ASSERT_TRUE(java.OpenParallel(Wide(fifo)));
    bool written = true;
    const Millis took = Timed([&] { written = java.WriteParallel(kBigJob); });
    EXPECT_FALSE(written);
    EXPECT_LE(took, Millis(CParallelPort::kWriteTotalTimeoutMs) + CloseMargin());
    EXPECT_LE(Timed([&] { java.CloseParallel(); }), CloseMargin());
    ExpectNothingLeftOpen(fds);

    // With a reader at the far side, the next job goes through whole.
    auto reader = std::async(std::launch::async, [&] {
        std::string got;
        const int fd = ::open(fifo.c_str(), O_RDONLY);
        char chunk[256];
        ssize_t n = 0;
        while (fd >= 0 && got.size() < 6 && (n = ::read(fd, chunk, sizeof(chunk))) > 0) {
            got.append(chunk, static_cast<size_t>(n));
        }
        ::close(fd);
        return got;
    });
    ASSERT_TRUE(java.OpenParallel(Wide(fifo)));
    EXPECT_TRUE(java.WriteParallel("<next>"));
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(reader.get(), "<next>");
    EXPECT_TRUE(java.CloseParallel());
}

TEST_F(LinuxFaultTest, AUsbPrinterThatStopsReadingFailsTheWriteAtTheCallersTimeOut) {
    PtyPrinter printer;
    const size_t fds = FdsNow();
    tree.AddPrinter(0, "1234", "5678", "000012", printer.Path());
    constexpr jint kSlot = 3;
    constexpr jint kTimeoutMs = 300;
    ASSERT_TRUE(java.OpenUsb(kSlot, u"12"));
    ASSERT_TRUE(java.WriteUsb(kSlot, "<job 1>", kTimeoutMs));

    printer.StopReading();
    bool written = true;
    const Millis took = Timed([&] { written = java.WriteUsb(kSlot, kBigJob, kTimeoutMs); });
    EXPECT_FALSE(written);
    EXPECT_LE(took, Millis(kTimeoutMs) + CloseMargin());
    EXPECT_GE(took, Millis(kTimeoutMs - 50)) << "the write gave up before its time-out";
    EXPECT_EQ(java.ReadUsb(kSlot), "");
    EXPECT_LE(Timed([&] { java.CloseUsb(kSlot); }), CloseMargin());
    EXPECT_TRUE(java.DetectUsb(kSlot)) << "still plugged in";

    printer.ResumeReading();
    ASSERT_TRUE(java.OpenUsb(kSlot, u"12"));
    EXPECT_TRUE(java.WriteUsb(kSlot, "<job 3>", 5000));
    EXPECT_TRUE(java.CloseUsb(kSlot));
    ExpectNothingLeftOpen(fds);

    printer.WaitUntilQuiet(Millis(200));
    const std::string received = printer.Received();
    ASSERT_TRUE(received.starts_with("<job 1>"));
    ASSERT_TRUE(received.ends_with("<job 3>"));
    EXPECT_EQ(received.find_first_not_of('x', 7), received.size() - 7);
}

TEST_F(LinuxFaultTest, AUsbPrinterThatHangsUpMidJobFailsItsWriteAndTheSlotClosesAtOnce) {
    PtyPrinter printer;
    const size_t fds = FdsNow();
    tree.AddPrinter(0, "1234", "5678", "000012", printer.Path());
    constexpr jint kSlot = 0;
    ASSERT_TRUE(java.OpenUsb(kSlot, u"12"));
    printer.StopReading();
    auto pending =
        std::async(std::launch::async, [&] { return java.WriteUsb(kSlot, kBigJob, 10000); });
    std::this_thread::sleep_for(Millis(100));
    printer.HangUp();
    EXPECT_EQ(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "a hung-up printer must end the write long before its time-out";
    EXPECT_FALSE(pending.get());
    EXPECT_EQ(java.ReadUsb(kSlot), "");
    EXPECT_LE(Timed([&] { java.CloseUsb(kSlot); }), CloseMargin());
    EXPECT_FALSE(java.OpenUsb(kSlot, u"12")) << "its node is gone";
    EXPECT_TRUE(java.CloseUsb(kSlot));
    ExpectNothingLeftOpen(fds - 1);  // the printer's side of the pty went with it
}

TEST_F(LinuxFaultTest, APrinterWhoseNodeIsGoneByItsIdentityQueryIsLeftOutOfTheList) {
    PtyPrinter answering;
    answering.AnswerWith(
        "\x1d"
        "eREADVARI",
        "7a4711\r");
    const size_t fds = FdsNow();
    tree.AddPrinter(0, "1234", "5678", nullptr, tree / "gone-before-the-open");
    tree.AddPrinter(1, "1234", "5678", nullptr, answering.Path());
    tree.AddPrinter(2, "1234", "5678", "000012", tree / "also-gone");
    using Entries = std::vector<std::pair<jint, jint>>;
    EXPECT_EQ(java.ListUsb(), (Entries{{4711, 0}, {12, 12}}));
    ExpectNothingLeftOpen(fds);
}

}  // namespace
}  // namespace zelp::reliability
