#include "native/platform/linux/device_control.h"

#include <linux/parport.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>

#include "test_support.h"

namespace zelp::linuxbk {
namespace {

using namespace testing;

class LinuxDeviceControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_hDevice = OpenDevice(m_os, m_pty.SlavePath());
        ASSERT_NE(m_hDevice, INVALID_HANDLE_VALUE);
    }
    void TearDown() override { m_os.CloseHandle(m_hDevice); }

    // The status byte, asked for as the parallel port's on-line test does.
    uint8_t QueryStatus(HANDLE device) {
        uint8_t buffer[256] = {};
        DWORD returned = 0;
        EXPECT_TRUE(m_os.DeviceIoControl(device, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, buffer,
                                         sizeof buffer, &returned, nullptr));
        EXPECT_EQ(returned, 1u);
        return buffer[0];
    }

    Pty m_pty;
    LinuxPlatform m_os{"/nonexistent-sysfs", "/nonexistent-dev"};
    HANDLE m_hDevice = INVALID_HANDLE_VALUE;
};

TEST_F(LinuxDeviceControlTest, PeerOnLineUntilItHangsUpThenPoweredOff) {
    EXPECT_EQ(QueryStatus(m_hDevice), PARALLEL_SELECTED);
    DWORD errors = 0xFFFF;
    COMSTAT status{};
    ASSERT_TRUE(m_os.ClearCommError(m_hDevice, &errors, &status));
    EXPECT_EQ(errors, 0u);
    ASSERT_TRUE(m_os.ClearCommError(m_hDevice, &errors, nullptr));

    m_pty.CloseMaster();
    EXPECT_EQ(QueryStatus(m_hDevice), PARALLEL_POWER_OFF);
    ASSERT_TRUE(m_os.ClearCommError(m_hDevice, &errors, nullptr));
    EXPECT_EQ(errors & CE_DNS, CE_DNS);
}

TEST_F(LinuxDeviceControlTest, NegotiationOnAStreamSucceedsWithoutEffect) {
    for (unsigned short mask : {kIeee1284MaskCentronics, kIeee1284MaskNibble, kIeee1284MaskNone}) {
        ParNegotiationMask in{mask, mask};
        ParNegotiationMask out{0xAAAA, 0xAAAA};
        DWORD returned = 0;
        ASSERT_TRUE(m_os.DeviceIoControl(m_hDevice, IOCTL_IEEE1284_NEGOTIATE, &in, sizeof in, &out,
                                         sizeof out, &returned, nullptr));
        EXPECT_EQ(returned, 4u);
        EXPECT_EQ(out.usReadMask, mask);
        EXPECT_EQ(out.usWriteMask, mask);
    }
    ParNegotiationMask modes{};
    DWORD returned = 0;
    ParNegotiationMask in{};
    EXPECT_TRUE(m_os.DeviceIoControl(m_hDevice, IOCTL_PAR_GET_DEFAULT_MODES, &in, sizeof in, &modes,
                                     sizeof modes, &returned, nullptr));
    EXPECT_EQ(returned, 4u);

    // The bytes still pass after all that.
    DWORD n = 0;
    ASSERT_TRUE(m_os.WriteFile(m_hDevice, "ok", 2, &n, nullptr));
    EXPECT_EQ(m_pty.Read(2).size(), 2u);
}

TEST_F(LinuxDeviceControlTest, OverlappedRequestCompletesAtOnce) {
    Overlapped io(m_os);
    uint8_t status = 0;
    DWORD returned = 0;
    ASSERT_TRUE(m_os.DeviceIoControl(m_hDevice, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, &status, 1,
                                     &returned, &io));
    EXPECT_TRUE(io.Signalled());
    EXPECT_EQ(io.Record().InternalHigh, 1u);
    DWORD count = 0;
    EXPECT_TRUE(m_os.GetOverlappedResult(m_hDevice, &io, &count, TRUE));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(status, PARALLEL_SELECTED);
}

TEST_F(LinuxDeviceControlTest, MalformedOrUnknownRequestsAreRefused) {
    DWORD returned = 0;
    uint8_t out[4];
    EXPECT_FALSE(m_os.DeviceIoControl(m_hDevice, 0x00160010 /* another parallel request */, nullptr,
                                      0, out, sizeof out, &returned, nullptr));
    EXPECT_EQ(m_os.GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(m_os.DeviceIoControl(m_hDevice, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, out, 0,
                                      &returned, nullptr));
    EXPECT_EQ(m_os.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(m_os.DeviceIoControl(m_hDevice, IOCTL_PAR_GET_DEFAULT_MODES, nullptr, 0, out, 2,
                                      &returned, nullptr));
    EXPECT_EQ(m_os.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(m_os.DeviceIoControl(m_hDevice, IOCTL_IEEE1284_NEGOTIATE, nullptr, 0, out,
                                      sizeof out, &returned, nullptr));
    EXPECT_EQ(m_os.GetLastError(), ERROR_INVALID_PARAMETER);
    HANDLE event = m_os.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(m_os.DeviceIoControl(event, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, out,
                                      sizeof out, &returned, nullptr));
    EXPECT_EQ(m_os.GetLastError(), ERROR_INVALID_HANDLE);
    m_os.CloseHandle(event);
}

TEST_F(LinuxDeviceControlTest, RegularFileIsAlwaysOnLine) {
    TempDir tmp;
    std::ofstream(tmp / "spool") << "";
    HANDLE file = OpenDevice(m_os, tmp / "spool");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(QueryStatus(file), PARALLEL_SELECTED);
    DWORD errors = 1;
    ASSERT_TRUE(m_os.ClearCommError(file, &errors, nullptr));
    EXPECT_EQ(errors, 0u);
    m_os.CloseHandle(file);
}

TEST(PpdevModeTest, NegotiationMasksMapToIeee1284Modes) {
    auto mode = [](unsigned short read, unsigned short write) {
        return PpdevModeForMask(ParNegotiationMask{read, write});
    };
    EXPECT_EQ(mode(kIeee1284MaskCentronics, kIeee1284MaskCentronics), IEEE1284_MODE_COMPAT);
    EXPECT_EQ(mode(kIeee1284MaskCompatibility, kIeee1284MaskCompatibility), IEEE1284_MODE_COMPAT);
    EXPECT_EQ(mode(kIeee1284MaskNibble, kIeee1284MaskNibble), IEEE1284_MODE_NIBBLE);
    EXPECT_EQ(mode(kIeee1284MaskByte, kIeee1284MaskByte), IEEE1284_MODE_BYTE);
    // Reading in nibble mode while writing Centronics: the read mode is
    // negotiated, a write goes back to compatibility by itself.
    EXPECT_EQ(mode(kIeee1284MaskNibble, kIeee1284MaskCentronics), IEEE1284_MODE_NIBBLE);
    EXPECT_EQ(mode(kIeee1284MaskByte | kIeee1284MaskNibble, 0), IEEE1284_MODE_BYTE);
    EXPECT_FALSE(mode(kIeee1284MaskNone, kIeee1284MaskNone).has_value());
    EXPECT_EQ(mode(kIeee1284MaskChannelNibble, kIeee1284MaskChannelNibble), -1);
}

}  // namespace
}  // namespace zelp::linuxbk
