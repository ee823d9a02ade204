#include "cli/input_source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/input_file.h"

namespace zelp::cli {

std::optional<InputSource> InputSource::Open(const std::string& path, std::string& error) {
    if (path.empty() || path == "-") {
        if (::isatty(STDIN_FILENO) == 1) {
            error =
                "no FILE given, and standard input is a terminal: give a FILE or pipe the job in";
            return std::nullopt;
        }
        return InputSource(StandardInputFile(), false, "standard input", std::nullopt);
    }
    const int fd = OpenInputFile(path);
    if (fd < 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        error = "cannot read " + path + ": it is a folder";
        return std::nullopt;
    }
    std::optional<uint64_t> size;
    if (S_ISREG(info.st_mode)) {
        size = static_cast<uint64_t>(info.st_size);
    }
    return InputSource(fd, true, path, size);
}

InputSource::InputSource(int fd, bool bOwned, std::string name, std::optional<uint64_t> size)
    : m_fd(fd), m_bOwned(bOwned), m_strName(std::move(name)), m_size(size) {}

InputSource::InputSource(InputSource&& other) noexcept
    : m_fd(other.m_fd),
      m_bOwned(other.m_bOwned),
      m_strName(std::move(other.m_strName)),
      m_size(other.m_size) {
    other.m_bOwned = false;
}

InputSource::~InputSource() {
    if (m_bOwned) {
        ::close(m_fd);
    }
}

bool InputSource::Read(uint8_t* buffer, size_t room, size_t& got, std::string& error) {
    got = 0;
    // A pipe hands over what it has; keep reading so that every block but
    // the last is full.
    while (got < room) {
        const ssize_t n = ::read(m_fd, buffer + got, room - got);
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = "reading " + m_strName + " failed: " + std::strerror(errno);
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace zelp::cli
