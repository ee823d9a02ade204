// A program that takes a USB printer as libusb programs do (CUPS' usb
// backend, ipp-usb): it detaches the kernel's driver from the interface and
// claims it through usbfs, then keeps it until killed. Test code for the
// kernel suite's doctor checks: never installed.
//
//   zelp_usbfs_claim /dev/bus/usb/BBB/DDD INTERFACE
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zelp_usbfs_claim /dev/bus/usb/BBB/DDD INTERFACE\n");
        return 1;
    }
    const int fd = ::open(argv[1], O_RDWR | O_CLOEXEC);
    unsigned int interface = static_cast<unsigned int>(std::atoi(argv[2]));
    usbdevfs_ioctl detach{};
    detach.ifno = static_cast<int>(interface);
    detach.ioctl_code = USBDEVFS_DISCONNECT;
    // Without a driver bound the detach fails with ENODATA, which libusb ignores too.
    if (fd < 0 || (::ioctl(fd, USBDEVFS_IOCTL, &detach) < 0 && errno != ENODATA) ||
        ::ioctl(fd, USBDEVFS_CLAIMINTERFACE, &interface) < 0) {
        std::perror(argv[1]);
        return 2;
    }
    std::printf("claimed\n");
    std::fflush(stdout);
    for (;;) {
        ::pause();
    }
}
