// One parallel port opened by name for exclusive, overlapped use: writes,
// reads over the IEEE 1284 reverse channel, and the on-line test. On system
// major versions 5 and 6 it asks the driver for the mode each direction needs
// around every transfer.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <mutex>

#include "native/platform.h"
#include "native/use_gate.h"

namespace zelp {

class CParallelPort {
public:
    CParallelPort();
    virtual ~CParallelPort();

    CParallelPort(const CParallelPort&) = delete;
    CParallelPort& operator=(const CParallelPort&) = delete;

    // The new port handle, or null when the port could not be opened.
    HANDLE Open(const char* portName);

    // Waits until no operation is using the port, then closes it. Always true.
    bool Close();

    // True only when all `length` bytes were written.
    bool Write(const void* data, uint32_t length);

    // Reads at most `length` bytes; `count` is written only when true is
    // returned (a read that ended with nothing received is a success of 0).
    bool Read(void* buffer, uint32_t& count, uint32_t length);

    bool IsOnline();
    bool IsNtPlatform();

    // The printer's status byte (PARALLEL_* bits) as the driver reports it,
    // for those who need more than on line or not; nothing when the port is
    // not open, the platform has no status query, or the query failed.
    std::optional<BYTE> StatusByte();

    // Negotiates IEEE 1284 mode 0 (Centronics), 1 (compatibility) or 2 (nibble).
    bool SetIeee1284Mode(uint32_t mode);

    bool IsOpen() const { return m_hPort.load() != nullptr; }

    // How often a read asks for nibble mode before it gives up.
    static constexpr int kReadModeTries = 3;

    // Port time-outs set at open, in milliseconds.
    static constexpr DWORD kReadTotalTimeoutMs = 10;
    static constexpr DWORD kWriteTotalTimeoutMs = 2000;

private:
    // The negotiation on a handle the caller already holds through the gate.
    bool SwitchMode(HANDLE port, uint32_t mode);
    std::optional<BYTE> QueryStatusNt(HANDLE port);
    bool IsOnlineComm(HANDLE port);
    bool SendNegotiation(HANDLE port, unsigned short mask);

    std::atomic<HANDLE> m_hPort{nullptr};
    DWORD m_dwPlatformId = 0;
    DWORD m_dwMajorVersion = 0;
    std::atomic<uint32_t> m_bBusy{0};
    std::atomic<uint32_t> m_bOnline{0};
    HANDLE m_hMutex = nullptr;
    UseGate m_gate;
    // One write on the handle at a time (see Write).
    std::mutex m_writeTurn;
};

}  // namespace zelp
