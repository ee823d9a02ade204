// From discovery to data on the linux backend: a fake sysfs tree in a
// temporary folder describes the printers, and a pty stands in for the usblp
// device node, its master side playing the printer.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "fake_sysfs.h"
#include "native/platform.h"
#include "native/platform/linux/linux_platform.h"
#include "usb/usb_discovery.h"
#include "usb/usb_key.h"
#include "usb/usb_port.h"
#include "usb/usb_slots.h"

namespace zelp {
namespace {

namespace fs = std::filesystem;

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "zelp-usb-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

class PtyPrinter {
public:
    PtyPrinter() : m_master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0) {
            m_slave = ::ptsname(m_master);
        }
    }
    ~PtyPrinter() {
        if (m_master >= 0) {
            ::close(m_master);
        }
    }
    const std::string& SlavePath() const { return m_slave; }

    void Send(const std::string& bytes) {
        ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }

    // What the library wrote, until `count` bytes came or a generous bound
    // passed (the bound only keeps a broken build from hanging).
    std::string Take(size_t count) {
        std::string got;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (got.size() < count && std::chrono::steady_clock::now() < giveUp) {
            pollfd ready{m_master, POLLIN, 0};
            if (::poll(&ready, 1, 100) <= 0) {
                continue;
            }
            char buffer[512];
            const ssize_t n = ::read(m_master, buffer, sizeof(buffer));
            if (n > 0) {
                got.append(buffer, static_cast<size_t>(n));
            }
        }
        return got;
    }

private:
    int m_master;
    std::string m_slave;
};

TEST(UsbLinuxEndToEndTest, APrinterIsFoundOpenedWrittenReadDetectedClosedAndOpenedAgain) {
    TempFolder temp;
    ASSERT_FALSE(temp.Path().empty());
    PtyPrinter printer;
    PtyPrinter other;
    PtyPrinter unnumbered;
    ASSERT_FALSE(printer.SlavePath().empty());
    // Another model first, and one of ours without a serial number: neither
    // is the printer sought.
    testsupport::AddFakeUsbPrinter(temp.Path(), 0, "04b8", "0202", "000012", other.SlavePath());
    testsupport::AddFakeUsbPrinter(temp.Path(), 1, "1234", "5678", nullptr, unnumbered.SlavePath());
    testsupport::AddFakeUsbPrinter(temp.Path(), 2, "1234", "5678", "000012", printer.SlavePath());

    linuxbk::LinuxPlatform os((temp.Path() / "sys").string(), (temp.Path() / "dev").string());
    ScopedPlatform scoped(os);
    ClearSlotRecords();

    CUsbPort port;
    RecordKey(0, FormatUsbKey("4660", "22136"));
    ASSERT_NE(port.Open("12", "4660", "22136"), nullptr);
    EXPECT_EQ(port.Serial(), "12");
    RecordSerial(0, port.Serial());

    std::string job;
    for (int byte = 0; byte < 256; ++byte) {
        job += static_cast<char>(byte);
    }
    ASSERT_TRUE(port.Write(job.data(), static_cast<uint32_t>(job.size()), 5000));
    EXPECT_EQ(printer.Take(job.size()), job);

    printer.Send("7a4711\r");
    std::string reply;
    for (int attempt = 0; attempt < 50 && reply.size() < 7; ++attempt) {
        char buffer[64];
        uint32_t count = 0;
        if (port.Read(buffer, count, sizeof(buffer))) {
            reply.append(buffer, count);
        }
    }
    EXPECT_EQ(reply, "7a4711\r");

    EXPECT_TRUE(IsUsbPrinterPresent(0));
    // The open is exclusive: another port finds the printer taken and falls
    // back to the one without a serial number; a third finds both taken.
    CUsbPort second;
    ASSERT_NE(second.Open("12", "4660", "22136"), nullptr);
    EXPECT_EQ(second.Serial(), "000000");
    ASSERT_TRUE(second.Write("spare", 5, 5000));
    EXPECT_EQ(unnumbered.Take(5), "spare");
    CUsbPort third;
    EXPECT_EQ(third.Open("12", "4660", "22136"), nullptr);
    second.Close();

    EXPECT_TRUE(port.Close());
    EXPECT_TRUE(IsUsbPrinterPresent(0));
    ASSERT_NE(port.Open("12", "4660", "22136"), nullptr);
    ASSERT_TRUE(port.Write("again", 5, 5000));
    EXPECT_EQ(printer.Take(5), "again");
    EXPECT_TRUE(port.Close());

    // Pulled out: sysfs no longer lists it.
    fs::remove(temp.Path() / "sys/class/usbmisc/lp2");
    EXPECT_FALSE(IsUsbPrinterPresent(0));
    ClearSlotRecords();
}

}  // namespace
}  // namespace zelp
