#include "bench_fixtures.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "fake_sysfs.h"

namespace zelp::bench {

namespace fs = std::filesystem;

namespace {

// sysfs lives in memory, so its stand-in does too where the machine has a
// tmpfs at /dev/shm; a disk file system would add its own look-up costs to
// every figure walked over the tree.
fs::path TreeFolder() {
    std::error_code error;
    if (fs::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0) {
        return "/dev/shm";
    }
    return fs::temp_directory_path();
}

}  // namespace

FakeUsbTree::FakeUsbTree() {
    std::string pattern = (TreeFolder() / "zelp-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_strRoot = pattern;
    fs::create_directories(fs::path(m_strRoot) / "sys/class/usbmisc");
    fs::create_directories(fs::path(m_strRoot) / "dev/usb");
    fs::create_directories(fs::path(m_strRoot) / "nodes");
}

FakeUsbTree::~FakeUsbTree() {
    std::error_code ignored;
    fs::remove_all(m_strRoot, ignored);
}

void FakeUsbTree::AddPrinter(unsigned number, const char* vendorHex, const char* productHex,
                             const std::string& serial, const std::string& node) {
    testsupport::AddFakeUsbPrinter(m_strRoot, number, vendorHex, productHex, serial.c_str(), node);
}

std::string FakeUsbTree::AddFileNode(const std::string& name) {
    const fs::path file = fs::path(m_strRoot) / "nodes" / name;
    std::ofstream{file};
    return file.string();
}

std::string FakeUsbTree::AddNullNode(const std::string& name) {
    const fs::path node = fs::path(m_strRoot) / "nodes" / name;
    if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        return node.string();
    }
    return AddFileNode(name);
}

void LayOutListTree(FakeUsbTree& tree, unsigned count) {
    const unsigned stride = count / 5;
    for (unsigned number = 0; number < count; ++number) {
        const bool listed = number % stride == stride / 2 && number / stride < 5;
        char serial[16];
        std::snprintf(serial, sizeof serial, "%06u", 100000 + number);
        tree.AddPrinter(number, listed ? kListedVendorHex : kOtherVendorHex,
                        listed ? kListedProductHex : kOtherProductHex, serial,
                        tree.AddFileNode("lp" + std::to_string(number)));
    }
}

PtyPeer::PtyPeer() : m_master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0) {
        m_strSlave = ::ptsname(m_master);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
}

PtyPeer::~PtyPeer() {
    if (m_master >= 0) {
        ::close(m_master);
    }
}

size_t PtyPeer::Discard() {
    size_t total = 0;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(m_master, buffer, sizeof buffer)) > 0) {
        total += static_cast<size_t>(n);
    }
    return total;
}

}  // namespace zelp::bench
