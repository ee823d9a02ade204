// Fake device trees for the runs of zelp: USB printers as sysfs shows them,
// with ptys as their /dev/usb/lpN nodes, and ways to make a node busy or out
// of the user's reach.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_process.h"
#include "fake_sysfs.h"
#include "test_support.h"

namespace zelp::cli::testing {

using linuxbk::testing::Pty;
using linuxbk::testing::TempDir;

class FakeUsbTree {
public:
    FakeUsbTree() {
        // Readable by everyone: some runs drop to another user.
        std::filesystem::permissions(m_dir.Path(), std::filesystem::perms::owner_all |
                                                       std::filesystem::perms::group_read |
                                                       std::filesystem::perms::group_exec |
                                                       std::filesystem::perms::others_read |
                                                       std::filesystem::perms::others_exec);
    }

    // usblp printer lpN of a model (hex ids as sysfs writes them), its node
    // linked to `node`; no serial string when `serial` is null.
    void AddPrinter(unsigned number, const char* vendorHex, const char* productHex,
                    const char* serial, const std::string& node) {
        testsupport::AddFakeUsbPrinter(m_dir.Path(), number, vendorHex, productHex, serial, node);
    }

    // A parallel port node <dev>/parportN linked to `node`.
    void AddParallelPort(unsigned number, const std::string& node) {
        std::filesystem::create_directories(m_dir.Path() + "/dev");
        std::filesystem::create_symlink(node, DevRoot() + "/parport" + std::to_string(number));
    }

    std::string SysfsRoot() const { return m_dir.Path() + "/sys"; }
    std::string DevRoot() const { return m_dir.Path() + "/dev"; }

    // The arguments that point zelp at this tree.
    std::vector<std::string> With(std::vector<std::string> args) const {
        args.insert(args.end(), {"--sysfs-root", SysfsRoot(), "--dev-root", DevRoot()});
        return args;
    }

private:
    TempDir m_dir;
};

// Another program holding a device open, with the lock our backend honours.
class DeviceHolder {
public:
    explicit DeviceHolder(const std::string& node)
        : m_fd(::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        if (m_fd >= 0) {
            ::flock(m_fd, LOCK_EX | LOCK_NB);
        }
    }
    ~DeviceHolder() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    bool Holds() const { return m_fd >= 0; }

private:
    int m_fd;
};

// A run of zelp by a user who may not open `node`: as root, the run drops to
// an unprivileged user (a pty's node is not theirs); otherwise the node loses
// its permissions.
inline CliLaunch WithoutAccessTo(const std::string& node, std::vector<std::string> args) {
    CliLaunch launch;
    launch.args = std::move(args);
    if (::geteuid() == 0) {
        launch.runAsUser = 65534;
    } else {
        ::chmod(node.c_str(), 0);
    }
    return launch;
}

inline CliLaunch Launch(std::vector<std::string> args, std::string stdinBytes = "") {
    CliLaunch launch;
    launch.args = std::move(args);
    launch.stdinBytes = std::move(stdinBytes);
    return launch;
}

inline std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// `size` bytes of a pattern that holds every byte value.
inline std::string Job(size_t size) {
    std::string job(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        job[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    }
    return job;
}

}  // namespace zelp::cli::testing
