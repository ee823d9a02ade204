// What the backend relies on in usblp, lp, ppdev and the sysfs walk, checked
// on the models here and, in the kernel suite's machine, on the real drivers
// (driver_nodes.h). Named *OnDriver* so that the machine runs exactly these.
#include <linux/lp.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <thread>

#include "driver_nodes.h"
#include "native/platform/linux/device_control.h"
#include "native/platform/linux/device_names.h"
#include "native/platform/linux/usb_sysfs.h"

namespace zelp::linuxbk {
namespace {

using namespace testing;

// The sysfs layout the device list and the open rest on: the class entry, its
// `device` link to the interface, the USB device above it with the ids and a
// serial only when the device has a serial string, kept as the text it is.
TEST(UsbSysfsOnDriverTest, EveryPrinterIsListedWithItsIdsAndSerialAndItsPathOpensIt) {
    UsbPrinterTree tree;
    const std::vector<UsbPrinterNode> found = ListUsbPrinters(tree.Sysfs());
    ASSERT_EQ(found.size(), kDriverTestPrinters.size());
    LinuxPlatform os(tree.Sysfs(), tree.Dev());
    HDEVINFO set = os.SetupDiGetClassDevsA(&kGuidDevinterfaceUsbPrint, nullptr, nullptr,
                                           DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    const std::vector<std::string> paths = InterfacePathsOf(os, set);
    os.SetupDiDestroyDeviceInfoList(set);
    ASSERT_EQ(paths.size(), kDriverTestPrinters.size());

    for (size_t i = 0; i < found.size(); ++i) {
        const DriverTestPrinter& expected = kDriverTestPrinters[i];
        SCOPED_TRACE(paths[i]);
        std::printf("lp%u: %04x:%04x serial %s, path %s\n", found[i].number, found[i].vendorId,
                    found[i].productId, found[i].serial ? found[i].serial->c_str() : "(absent)",
                    paths[i].c_str());
        EXPECT_EQ(found[i].number, expected.number);
        EXPECT_EQ(found[i].vendorId, expected.vendorId);
        EXPECT_EQ(found[i].productId, expected.productId);
        EXPECT_EQ(found[i].serial, expected.serial);
        EXPECT_EQ(paths[i], FormatUsbInterfacePath(expected.vendorId, expected.productId,
                                                   expected.serial, expected.number));
        HANDLE device = OpenDevice(os, paths[i]);
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
        EXPECT_EQ(OpenDevice(os, paths[i]), INVALID_HANDLE_VALUE);
        EXPECT_EQ(os.GetLastError(), ERROR_SHARING_VIOLATION);
        os.CloseHandle(device);
    }
}

// Closing a usblp node drops blocks still in flight, and usblp reports
// POLLOUT only once the last one has gone: until then the write is pending.
TEST(UsbWriteOnDriverTest, AWriteEndsOnlyOnceThePrinterHasTakenItAll) {
    std::unique_ptr<PrinterSide> printer = UsbPrinterSide();
    std::shared_ptr<Device> device = printer->Open();
    int capacity = 0;
    device->WithFd([&](int fd) { capacity = ::fcntl(fd, F_GETPIPE_SZ); });
    // The model pipe takes nearly a page's worth at once without sending it
    // on; usblp takes a block at a time, and the gadget about 80 KiB.
    const size_t size = printer->Real() ? 256 * 1024 : static_cast<size_t>(capacity) - 100;
    const std::vector<uint8_t> data = Pattern(size, 3);
    printer->StopTaking();
    OVERLAPPED record{};
    DWORD count = 0;
    ASSERT_FALSE(device->Submit(WriteRequest(data, record), &count));
    ASSERT_EQ(kobj::LastErrorCode(), ERROR_IO_PENDING);
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(device->Result(&record, &count, false)) << "not all taken, not done";
    EXPECT_EQ(kobj::LastErrorCode(), ERROR_IO_INCOMPLETE);

    printer->StartTaking();
    std::vector<uint8_t> received;
    std::thread taker([&] { received = printer->Received(size, 30s); });
    EXPECT_TRUE(device->Result(&record, &count, true));
    taker.join();
    EXPECT_EQ(count, size);
    EXPECT_EQ(received, data);
    device->Shutdown();
}

// Neither lp nor ppdev reports writability through poll(): the write is
// driven by trying again after a pause until every byte is out.
TEST(ParallelWriteOnDriverTest, LpAndPpdevDriveAWriteToItsEndWithoutPoll) {
    for (DeviceKind kind : {DeviceKind::ParallelLp, DeviceKind::ParallelPpdev}) {
        const char* name = kind == DeviceKind::ParallelLp ? "lp" : "ppdev";
        SCOPED_TRACE(name);
        std::unique_ptr<PrinterSide> printer = ParallelPrinterSide(kind);
        std::shared_ptr<Device> device = printer->Open();
        if (printer->Real()) {
            uint8_t status = 0;
            DWORD returned = 0;
            EXPECT_EQ(ControlDevice(*device, IOCTL_PAR_QUERY_INFORMATION, {nullptr, 0, &status, 1},
                                    &returned),
                      ERROR_SUCCESS);
            std::printf("%s: status byte 0x%02x\n", name, status);
            EXPECT_EQ(status & (PARALLEL_SELECTED | PARALLEL_OFF_LINE), PARALLEL_SELECTED);
        }
        const std::vector<uint8_t> data = Pattern(16 * 1024, 9);
        OVERLAPPED record{};
        DWORD count = 0;
        std::vector<uint8_t> received;
        std::thread reader([&] { received = printer->Received(data.size(), 60s); });
        BOOL done = device->Submit(WriteRequest(data, record), &count);
        if (!done) {
            ASSERT_EQ(kobj::LastErrorCode(), ERROR_IO_PENDING);
            done = device->Result(&record, &count, true);
        }
        reader.join();
        EXPECT_TRUE(done);
        EXPECT_EQ(count, data.size());
        EXPECT_EQ(received, data);
        device->Shutdown();
    }
}

}  // namespace
}  // namespace zelp::linuxbk
