// Takes typed values off the front of a fuzzer's input. Running out is not an
// error: every value then reads as zero or empty, so any input is a valid
// program for the targets.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zelp::fuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_pData(data), m_nSize(size) {}

    bool Empty() const { return m_nAt >= m_nSize; }
    size_t Remaining() const { return m_nSize - m_nAt; }

    uint8_t Byte() { return Empty() ? 0 : m_pData[m_nAt++]; }

    uint32_t U32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value = (value << 8) | Byte();
        }
        return value;
    }

    // One of `count` choices.
    size_t Choice(size_t count) { return count == 0 ? 0 : Byte() % count; }

    template <class T, size_t N>
    const T& Pick(const T (&choices)[N]) {
        return choices[Choice(N)];
    }

    // Up to `most` bytes: a length byte, then that many bytes (or what is left).
    std::string Bytes(size_t most) {
        const size_t length = std::min<size_t>({Byte(), most, Remaining()});
        std::string bytes(reinterpret_cast<const char*>(m_pData + m_nAt), length);
        m_nAt += length;
        return bytes;
    }

    // Everything that is left.
    std::string Rest() {
        std::string bytes(reinterpret_cast<const char*>(m_pData + m_nAt), Remaining());
        m_nAt = m_nSize;
        return bytes;
    }

private:
    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nAt = 0;
};

// A broken promise ends the run the way a crash does, so the fuzzer keeps the
// input that showed it.
inline void Require(bool holds, const char* promise) {
    if (!holds) {
        std::fprintf(stderr, "broken promise: %s\n", promise);
        std::abort();
    }
}

}  // namespace zelp::fuzz
