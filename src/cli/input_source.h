// What `zelp send` sends: a file or standard input, read block by block so a
// job of any size passes through a fixed buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zelp::cli {

class InputSource {
public:
    // A file, or standard input for "" and "-". Nothing, with `error` set,
    // when it cannot be read, or when standard input is a terminal: typing a
    // print job by hand is never what was meant.
    static std::optional<InputSource> Open(const std::string& path, std::string& error);

    InputSource(InputSource&& other) noexcept;
    InputSource& operator=(InputSource&&) = delete;
    InputSource(const InputSource&) = delete;
    ~InputSource();

    // Known for a regular file, so that progress can be shown as a share.
    std::optional<uint64_t> Size() const { return m_size; }
    const std::string& Name() const { return m_strName; }

    // Fills the buffer; fewer bytes only at the end of the input. False, with
    // `error` set, when reading failed.
    bool Read(uint8_t* buffer, size_t room, size_t& got, std::string& error);

private:
    InputSource(int fd, bool bOwned, std::string name, std::optional<uint64_t> size);

    int m_fd;
    bool m_bOwned;
    std::string m_strName;
    std::optional<uint64_t> m_size;
};

}  // namespace zelp::cli
