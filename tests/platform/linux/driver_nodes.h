// The printer devices behind the tests whose subject is a driver's behaviour
// (usblp, lp, ppdev, the sysfs walk). Here they are the models that stand in
// for those drivers: ptys, pipes, fake sysfs trees. In the kernel suite's
// machine (scripts/test-kernel) the same tests run on the real drivers'
// nodes, which these environment variables name:
//   ZELP_TEST_USBLP          /dev/usb/lpN, with ZELP_TEST_USBLP_PRINTER the
//                            control socket of its gadget printer
//   ZELP_TEST_LP, ZELP_TEST_PPDEV   /dev/lp0 and /dev/parport0, with
//                            ZELP_TEST_PARALLEL_OUT the file QEMU writes the
//                            port's bytes to
//   ZELP_TEST_SYSFS, ZELP_TEST_DEV  the real roots, holding kDriverTestPrinters
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "native/platform/linux/device.h"
#include "test_support.h"

namespace zelp::linuxbk::testing {

// The USB printers the sysfs tests expect: the ones tests/kernel/guest-suite
// makes as gadgets, which the model tree copies.
struct DriverTestPrinter {
    unsigned number;
    uint16_t vendorId;
    uint16_t productId;
    std::optional<std::string> serial;
};
extern const std::vector<DriverTestPrinter> kDriverTestPrinters;

// The sysfs and /dev roots holding kDriverTestPrinters: the real ones, or a
// fake tree laid out as the kernel does it, with ptys as the nodes.
class UsbPrinterTree {
public:
    UsbPrinterTree();
    bool Real() const { return m_bReal; }
    const std::string& Sysfs() const { return m_strSysfs; }
    const std::string& Dev() const { return m_strDev; }

private:
    bool m_bReal;
    std::string m_strSysfs;
    std::string m_strDev;
    std::unique_ptr<TempDir> m_pDir;
    std::vector<std::unique_ptr<Pty>> m_nodes;
};

// One printer's far side: what the host side's device is opened on, and what
// the printer makes of the bytes.
class PrinterSide {
public:
    virtual ~PrinterSide() = default;
    virtual bool Real() const = 0;
    // The device as the backend drives it, of the kind the driver's node has.
    virtual std::shared_ptr<Device> Open() = 0;
    // The printer stops taking data, or takes it again.
    virtual void StopTaking() = 0;
    virtual void StartTaking() = 0;
    // Waits until `count` bytes came since Open, at most `limit`; gives them.
    virtual std::vector<uint8_t> Received(size_t count, std::chrono::milliseconds limit) = 0;
};

// usblp (/dev/usb/lpN); the model is a pipe, whose POLLOUT, like usblp's,
// comes only once what was accepted has gone on.
std::unique_ptr<PrinterSide> UsbPrinterSide();

// lp or ppdev over QEMU's port; the model is a pty driven as that kind.
std::unique_ptr<PrinterSide> ParallelPrinterSide(DeviceKind kind);

}  // namespace zelp::linuxbk::testing
