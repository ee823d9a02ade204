// The native object behind one USB device slot: finds a printer by vendor id,
// product id and serial text among the present printer-class interfaces,
// opens it for exclusive overlapped use, writes with the caller's time-out,
// reads with a fixed 100 ms bound, and closes it once its transfers are over.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "native/platform.h"
#include "native/use_gate.h"

namespace zelp {

class CUsbPort {
public:
    CUsbPort();
    virtual ~CUsbPort();

    CUsbPort(const CUsbPort&) = delete;
    CUsbPort& operator=(const CUsbPort&) = delete;

    // The handle of the printer opened, or null. A printer this object already
    // has open is closed first. The first pass looks for the serial text's
    // value; when that finds no printer it can open and the value is not 0, a
    // second pass looks for a printer without a numeric serial ("000000").
    HANDLE Open(const std::string& serialText, const std::string& vendorIdText,
                const std::string& productIdText);

    // Waits until no transfer is using the printer, then closes it. Always true.
    bool Close();

    // True only when all `length` bytes went out within `timeoutMs`
    // (INFINITE, i.e. -1, waits without limit). False with no printer open.
    bool Write(const void* data, uint32_t length, uint32_t timeoutMs);

    // Reads at most `length` bytes within 100 ms; `count` is written only when
    // a transfer succeeded. With no printer open: true, `count` unwritten.
    bool Read(void* buffer, uint32_t& count, uint32_t length);

    // The serial text the open printer was found by: the text given to Open,
    // or "000000" after the second pass; empty when none is open.
    std::string Serial() const;

    bool IsOpen() const { return m_hDevice.load() != nullptr; }
    bool IsWriteBusy() const { return m_bWriteBusy.load() != 0; }
    bool IsReadBusy() const { return m_bReadBusy.load() != 0; }

    static constexpr DWORD kReadTimeoutMs = 100;

private:
    enum class PassEnd { kOpened, kNotFound, kGiveUp };

    PassEnd OpenPass(const std::string& usbKey, const std::string& serialText);
    void CloseDevice();

    std::atomic<HANDLE> m_hDevice{nullptr};
    std::string m_strSerial;
    std::atomic<uint32_t> m_bWriteBusy{0};
    std::atomic<uint32_t> m_bReadBusy{0};
    HANDLE m_hMutex = nullptr;

    // Lets Close wait for running transfers and keeps new ones off a handle
    // that is being closed.
    UseGate m_gate;
    // Orders Open and Close among themselves and guards m_strSerial.
    mutable std::mutex m_lifecycle;
};

}  // namespace zelp
