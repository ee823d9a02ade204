#include "test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <stdexcept>

namespace zelp::linuxbk::testing {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelp-linux-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_strPath = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_strPath, ignored);
}

Pty::Pty() {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        throw std::runtime_error("no pty");
    }
    m_strSlave = ::ptsname(m_master);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty() {
    CloseMaster();
}

void Pty::CloseMaster() {
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

void Pty::Write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
    }
}

std::vector<uint8_t> Pty::Read(size_t count, std::chrono::milliseconds limit) {
    std::vector<uint8_t> bytes;
    const auto end = std::chrono::steady_clock::now() + limit;
    uint8_t chunk[4096];
    while (bytes.size() < count && std::chrono::steady_clock::now() < end) {
        const size_t want = std::min(sizeof chunk, count - bytes.size());
        const ssize_t n = ::read(m_master, chunk, want);
        if (n > 0) {
            bytes.insert(bytes.end(), chunk, chunk + n);
        } else {
            pollfd p{m_master, POLLIN, 0};
            ::poll(&p, 1, 20);
        }
    }
    return bytes;
}

std::vector<uint8_t> Pty::ReadAvailable() {
    std::vector<uint8_t> bytes;
    uint8_t chunk[4096];
    ssize_t n;
    while ((n = ::read(m_master, chunk, sizeof chunk)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

Overlapped::Overlapped(PlatformOps& os) : m_os(os) {
    m_record.hEvent = os.CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

Overlapped::~Overlapped() {
    m_os.CloseHandle(m_record.hEvent);
}

size_t CountOpenFds() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    }
    return bytes;
}

int OpenRawTerminal(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd, TCSANOW, &raw);
    return fd;
}

TransferRequest WriteRequest(const std::vector<uint8_t>& data, OVERLAPPED& record) {
    TransferRequest request;
    request.direction = TransferState::Direction::Write;
    request.buffer = const_cast<uint8_t*>(data.data());
    request.length = data.size();
    request.record = &record;
    return request;
}

HANDLE OpenDevice(PlatformOps& os, const std::string& path) {
    return os.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
}

void SetTotalTimeouts(PlatformOps& os, HANDLE device, DWORD readMs, DWORD writeMs) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = readMs;
    timeouts.WriteTotalTimeoutConstant = writeMs;
    os.SetCommTimeouts(device, &timeouts);
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

std::vector<std::string> InterfacePathsOf(PlatformOps& os, HDEVINFO set) {
    std::vector<std::string> paths;
    for (DWORD i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!os.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevinterfaceUsbPrint, i, &data)) {
            EXPECT_EQ(os.GetLastError(), ERROR_NO_MORE_ITEMS);
            return paths;
        }
        DWORD required = 0;
        EXPECT_FALSE(
            os.SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
        std::vector<std::byte> buffer(required);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        EXPECT_TRUE(
            os.SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, &device));
        paths.emplace_back(reinterpret_cast<const char*>(buffer.data()) +
                           offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath));
    }
}

}  // namespace zelp::linuxbk::testing
