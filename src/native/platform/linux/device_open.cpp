#include "native/platform/linux/device_open.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "native/platform/linux/error_codes.h"

namespace zelp::linuxbk {

namespace {

constexpr unsigned kPpdevMajor = 99;
constexpr unsigned kLpMajor = 6;
constexpr unsigned kUsbClassMajor = 180;

OpenedNode Failure(DWORD error) {
    OpenedNode node;
    node.error = error;
    return node;
}

// Every byte from 0x00 to 0xFF must pass unchanged, and a modem-control
// hang-up must not concern us: raw mode, local line, receiver on.
DWORD MakeTerminalRaw(int fd) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return ErrorFromIoErrno(errno);
    }
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        return ErrorFromIoErrno(errno);
    }
    return ERROR_SUCCESS;
}

// ppdev refuses transfers and most requests until the port is claimed.
// PPEXCL is not asked for: with the lp driver loaded it makes the claim fail.
DWORD ClaimParallelPort(int fd) {
    if (::ioctl(fd, PPCLAIM) != 0) {
        return ErrorFromOpenErrno(errno);
    }
    return ERROR_SUCCESS;
}

DWORD PrepareNode(int fd, DeviceKind kind) {
    switch (kind) {
        case DeviceKind::Terminal:
            return MakeTerminalRaw(fd);
        case DeviceKind::ParallelPpdev:
            return ClaimParallelPort(fd);
        default:
            return ERROR_SUCCESS;
    }
}

}  // namespace

DeviceKind KindOfNode(int fd, const struct stat& info) {
    if (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode)) {
        return DeviceKind::RegularFile;
    }
    if (!S_ISCHR(info.st_mode)) {
        return DeviceKind::Stream;
    }
    switch (major(info.st_rdev)) {
        case kPpdevMajor:
            return DeviceKind::ParallelPpdev;
        case kLpMajor:
            return DeviceKind::ParallelLp;
        case kUsbClassMajor:
            return DeviceKind::UsbPrinter;
        default:
            break;
    }
    return ::isatty(fd) ? DeviceKind::Terminal : DeviceKind::Stream;
}

DWORD TakeExclusiveLock(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        return ERROR_SUCCESS;
    }
    // A file system without flock() leaves exclusivity to the kernel.
    return errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ERROR_SUCCESS;
}

OpenedNode OpenDeviceNode(const std::string& path, const std::shared_ptr<FdLedger>& ledger) {
    const int raw = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (raw < 0) {
        return Failure(ErrorFromOpenErrno(errno));
    }
    OpenedNode node;
    node.fd = UniqueFd(raw, ledger);
    if (const DWORD error = TakeExclusiveLock(raw); error != ERROR_SUCCESS) {
        return Failure(error);
    }
    struct stat info {};
    if (::fstat(raw, &info) != 0) {
        return Failure(ErrorFromOpenErrno(errno));
    }
    node.kind = KindOfNode(raw, info);
    if (const DWORD error = PrepareNode(raw, node.kind); error != ERROR_SUCCESS) {
        return Failure(error);
    }
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        return Failure(ErrorFromOpenErrno(errno));
    }
    node.wakeFd = UniqueFd(wake, ledger);
    return node;
}

}  // namespace zelp::linuxbk
