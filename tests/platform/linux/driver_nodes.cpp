#include "driver_nodes.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "fake_sysfs.h"
#include "native/platform/linux/device_open.h"

namespace zelp::linuxbk::testing {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::optional<std::string> Env(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

std::string Hex4(uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", id);
    return text;
}

UniqueFd WakeFd() {
    return UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK), nullptr);
}

// A real driver's node opened as the backend opens it; its kind must be the
// one the driver's major number gives.
std::shared_ptr<Device> OpenRealNode(const std::string& path, DeviceKind expected) {
    OpenedNode node = OpenDeviceNode(path, nullptr);
    if (!node.fd.Valid()) {
        throw std::runtime_error(path + " does not open: error " + std::to_string(node.error));
    }
    if (node.kind != expected) {
        throw std::runtime_error(path + " is not of the expected kind");
    }
    return std::make_shared<Device>(std::move(node.fd), std::move(node.wakeFd), node.kind);
}

// One line to a gadget printer's control socket (tests/kernel/gadget_printer.cpp).
std::string AskGadget(const std::string& socketPath, const std::string& command) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    const std::string line = command + "\n";
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        if (fd >= 0) {
            ::close(fd);
        }
        throw std::runtime_error("no gadget printer at " + socketPath);
    }
    std::string answer;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') {
        answer.push_back(c);
    }
    ::close(fd);
    return answer;
}

class PipeUsbPrinter : public PrinterSide {
public:
    bool Real() const override { return false; }
    std::shared_ptr<Device> Open() override {
        int ends[2];
        if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) {
            throw std::runtime_error("no pipe");
        }
        m_readEnd = UniqueFd(ends[0], nullptr);
        return std::make_shared<Device>(UniqueFd(ends[1], nullptr), WakeFd(),
                                        DeviceKind::UsbPrinter);
    }
    void StopTaking() override { m_bTaking = false; }
    void StartTaking() override { m_bTaking = true; }
    std::vector<uint8_t> Received(size_t count, std::chrono::milliseconds limit) override {
        const auto end = Clock::now() + limit;
        uint8_t chunk[65536];
        while (m_bTaking && m_received.size() < count && Clock::now() < end) {
            const ssize_t n = ::read(m_readEnd.Get(), chunk, sizeof chunk);
            if (n > 0) {
                m_received.insert(m_received.end(), chunk, chunk + n);
            } else {
                pollfd p{m_readEnd.Get(), POLLIN, 0};
                ::poll(&p, 1, 20);
            }
        }
        return m_received;
    }

private:
    UniqueFd m_readEnd;
    bool m_bTaking = true;
    std::vector<uint8_t> m_received;
};

class GadgetUsbPrinter : public PrinterSide {
public:
    GadgetUsbPrinter(std::string node, std::string control)
        : m_strNode(std::move(node)), m_strControl(std::move(control)) {}
    ~GadgetUsbPrinter() override {
        try {
            AskGadget(m_strControl, "read on");
        } catch (const std::exception&) {
            // The printer went with its machine; nothing is left to restore.
        }
    }

    bool Real() const override { return true; }
    std::shared_ptr<Device> Open() override {
        Ask("read on");
        Ask("reset");
        return OpenRealNode(m_strNode, DeviceKind::UsbPrinter);
    }
    void StopTaking() override { Ask("read off"); }
    void StartTaking() override { Ask("read on"); }
    std::vector<uint8_t> Received(size_t count, std::chrono::milliseconds limit) override {
        AskGadget(m_strControl,
                  "wait " + std::to_string(count) + " " + std::to_string(limit.count()));
        std::ifstream record(m_strControl.substr(0, m_strControl.rfind('.')) + ".rec",
                             std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(record), {});
    }

private:
    void Ask(const std::string& command) {
        const std::string answer = AskGadget(m_strControl, command);
        if (answer.rfind("ok", 0) != 0) {
            throw std::runtime_error(command + ": " + answer);
        }
    }

    std::string m_strNode;
    std::string m_strControl;
};

class PtyParallelPrinter : public PrinterSide {
public:
    explicit PtyParallelPrinter(DeviceKind kind) : m_kind(kind) {}
    bool Real() const override { return false; }
    std::shared_ptr<Device> Open() override {
        return std::make_shared<Device>(UniqueFd(OpenRawTerminal(m_pty.SlavePath()), nullptr),
                                        WakeFd(), m_kind);
    }
    void StopTaking() override {}
    void StartTaking() override {}
    std::vector<uint8_t> Received(size_t count, std::chrono::milliseconds limit) override {
        return m_pty.Read(count, limit);
    }

private:
    DeviceKind m_kind;
    Pty m_pty;
};

// QEMU's port writes every byte it is given to a file on the host, which the
// machine sees through its shared folder.
class QemuParallelPrinter : public PrinterSide {
public:
    QemuParallelPrinter(std::string node, DeviceKind kind, std::string output)
        : m_strNode(std::move(node)), m_kind(kind), m_strOutput(std::move(output)) {}
    bool Real() const override { return true; }
    std::shared_ptr<Device> Open() override {
        m_start = FileSize();
        return OpenRealNode(m_strNode, m_kind);
    }
    void StopTaking() override {}
    void StartTaking() override {}
    std::vector<uint8_t> Received(size_t count, std::chrono::milliseconds limit) override {
        const auto end = Clock::now() + limit;
        while (FileSize() < m_start + count && Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::ifstream file(m_strOutput, std::ios::binary);
        file.seekg(static_cast<std::streamoff>(m_start));
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
    }

private:
    size_t FileSize() const {
        struct stat info {};
        return ::stat(m_strOutput.c_str(), &info) == 0 ? static_cast<size_t>(info.st_size) : 0;
    }

    std::string m_strNode;
    DeviceKind m_kind;
    std::string m_strOutput;
    size_t m_start = 0;
};

}  // namespace

const std::vector<DriverTestPrinter> kDriverTestPrinters = {
    {0, 0x1234, 0x5678, "123456"},
    {1, 0x1234, 0x5678, std::nullopt},
    {2, 0x1234, 0x5678, "AbC-12.x_Z"},
    {3, 0x1234, 0x5679, "123456"},
};

UsbPrinterTree::UsbPrinterTree() {
    const std::optional<std::string> sysfs = Env("ZELP_TEST_SYSFS");
    m_bReal = sysfs.has_value();
    if (m_bReal) {
        m_strSysfs = *sysfs;
        m_strDev = Env("ZELP_TEST_DEV").value_or("/dev");
        return;
    }
    m_pDir = std::make_unique<TempDir>();
    for (const DriverTestPrinter& printer : kDriverTestPrinters) {
        m_nodes.push_back(std::make_unique<Pty>());
        testsupport::AddFakeUsbPrinter(
            m_pDir->Path(), printer.number, Hex4(printer.vendorId).c_str(),
            Hex4(printer.productId).c_str(), printer.serial ? printer.serial->c_str() : nullptr,
            m_nodes.back()->SlavePath());
    }
    // usbmisc also holds devices that are no printers.
    fs::create_directories(m_pDir->Path() + "/sys/devices/hid/hiddev0");
    fs::create_directory_symlink("../../devices/hid/hiddev0",
                                 m_pDir->Path() + "/sys/class/usbmisc/hiddev0");
    m_strSysfs = m_pDir->Path() + "/sys";
    m_strDev = m_pDir->Path() + "/dev";
}

std::unique_ptr<PrinterSide> UsbPrinterSide() {
    const std::optional<std::string> node = Env("ZELP_TEST_USBLP");
    if (!node) {
        return std::make_unique<PipeUsbPrinter>();
    }
    return std::make_unique<GadgetUsbPrinter>(*node, Env("ZELP_TEST_USBLP_PRINTER").value_or(""));
}

std::unique_ptr<PrinterSide> ParallelPrinterSide(DeviceKind kind) {
    const std::optional<std::string> node =
        Env(kind == DeviceKind::ParallelLp ? "ZELP_TEST_LP" : "ZELP_TEST_PPDEV");
    if (!node) {
        return std::make_unique<PtyParallelPrinter>(kind);
    }
    return std::make_unique<QemuParallelPrinter>(*node, kind,
                                                 Env("ZELP_TEST_PARALLEL_OUT").value_or(""));
}

}  // namespace zelp::linuxbk::testing
