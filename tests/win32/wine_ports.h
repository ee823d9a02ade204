// The two ends of the pty pair that the Wine test session joins (see
// cmake/win32/wine-session): a parallel port the library writes to, and a
// serial port at which the test reads what came out of it.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace zelp::test {

// The DOS name of a port given by the session, or "" outside one.
inline std::string SessionPort(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr ? std::string(value) : std::string();
}

inline std::string LptPortName() {
    return SessionPort("ZELP_TEST_LPT");
}
inline std::string LptPeerName() {
    return SessionPort("ZELP_TEST_LPT_PEER");
}

inline constexpr const char* kNoSessionHint =
    "ZELP_TEST_LPT / ZELP_TEST_LPT_PEER are not set: run the Windows tests through ctest, "
    "whose wine_session_start fixture creates the ports";

// The far end of the parallel port: reads what the port sent, synchronously.
class LptPeer {
public:
    explicit LptPeer(const std::string& name)
        : m_hPort(::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr)) {
        if (IsOpen()) {
            Drain();
        }
    }
    ~LptPeer() {
        if (IsOpen()) {
            ::CloseHandle(m_hPort);
        }
    }
    LptPeer(const LptPeer&) = delete;
    LptPeer& operator=(const LptPeer&) = delete;

    bool IsOpen() const { return m_hPort != INVALID_HANDLE_VALUE; }

    // Up to `count` bytes, collected until they are all there or nothing more
    // comes for a few seconds: the bytes cross a relay process on their way.
    std::vector<BYTE> Receive(size_t count) {
        SetReadTimeout(0, 5000);
        std::vector<BYTE> bytes(count);
        size_t received = 0;
        while (received < count) {
            DWORD got = 0;
            if (!::ReadFile(m_hPort, bytes.data() + received, static_cast<DWORD>(count - received),
                            &got, nullptr) ||
                got == 0) {
                break;
            }
            received += got;
        }
        bytes.resize(received);
        return bytes;
    }

private:
    // Leftovers of an earlier test would be taken for this one's bytes.
    void Drain() {
        SetReadTimeout(MAXDWORD, 0);
        BYTE scrap[256];
        DWORD got = 0;
        while (::ReadFile(m_hPort, scrap, sizeof(scrap), &got, nullptr) && got > 0) {
        }
    }

    void SetReadTimeout(DWORD interval, DWORD total) {
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = interval;
        timeouts.ReadTotalTimeoutConstant = total;
        ::SetCommTimeouts(m_hPort, &timeouts);
    }

    HANDLE m_hPort;
};

}  // namespace zelp::test
