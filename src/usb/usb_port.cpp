#include "usb/usb_port.h"

#include "native/transfer_record.h"

#include "usb/usb_discovery.h"
#include "usb/usb_key.h"

namespace zelp {

namespace {

// Holds the port's mutex and marks one direction busy for a transfer. The busy
// word is cleared before the mutex goes, so that whoever sees it clear knows
// the transfer is over.
class TransferLock {
public:
    TransferLock(HANDLE mutex, std::atomic<uint32_t>& busy)
        : m_hMutex(mutex),
          m_busy(busy),
          m_bHeld(Os().WaitForSingleObject(mutex, INFINITE) == WAIT_OBJECT_0) {}
    ~TransferLock() {
        if (m_bHeld) {
            m_busy.store(0);
            Os().ReleaseMutex(m_hMutex);
        }
    }
    TransferLock(const TransferLock&) = delete;
    TransferLock& operator=(const TransferLock&) = delete;

    explicit operator bool() const { return m_bHeld; }
    void MarkBusy() { m_busy.store(1); }

private:
    const HANDLE m_hMutex;
    std::atomic<uint32_t>& m_busy;
    const bool m_bHeld;
};

bool IsUsableHandle(HANDLE handle) {
    return handle != INVALID_HANDLE_VALUE && handle != nullptr;
}

}  // namespace

CUsbPort::CUsbPort() : m_hMutex(Os().CreateMutexA(nullptr, FALSE, nullptr)) {}

CUsbPort::~CUsbPort() {
    // The owner closes first; an object dropped with its printer still open
    // must not leak the handle all the same.
    Close();
    if (m_hMutex != nullptr) {
        Os().CloseHandle(m_hMutex);
    }
}

HANDLE CUsbPort::Open(const std::string& serialText, const std::string& vendorIdText,
                      const std::string& productIdText) {
    std::lock_guard<std::mutex> guard(m_lifecycle);
    // Opening again must not lose the handle already held, nor keep the
    // printer locked against the new open.
    CloseDevice();
    const std::string usbKey = FormatUsbKey(vendorIdText, productIdText);
    PassEnd end = OpenPass(usbKey, serialText);
    // A printer without a numeric serial stands in for one that is absent or
    // cannot be opened, unless that was already what was sought.
    if (end == PassEnd::kNotFound && WantedSerialValue(serialText) != 0) {
        end = OpenPass(usbKey, std::string(kUnnumberedSerial));
    }
    if (end != PassEnd::kOpened) {
        return nullptr;
    }
    m_gate.Open();
    return m_hDevice.load();
}

CUsbPort::PassEnd CUsbPort::OpenPass(const std::string& usbKey, const std::string& serialText) {
    const int32_t wanted = WantedSerialValue(serialText);
    HANDLE device = nullptr;
    const WalkEnd end = EnumUsbPrinterInterfaces({}, [&](const char* path) {
        if (!PathMatches(path, usbKey, wanted)) {
            return WalkStep::kGoOn;
        }
        // Only the first match is tried: a printer held open elsewhere is not
        // replaced by another with the same serial.
        device = Os().CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
        return WalkStep::kStop;
    });
    if (end == WalkEnd::kNoSet || end == WalkEnd::kDetailFailed) {
        return PassEnd::kGiveUp;
    }
    if (!IsUsableHandle(device)) {
        return PassEnd::kNotFound;
    }
    m_strSerial = serialText;
    m_hDevice.store(device);
    return PassEnd::kOpened;
}

bool CUsbPort::Close() {
    std::lock_guard<std::mutex> guard(m_lifecycle);
    CloseDevice();
    return true;
}

void CUsbPort::CloseDevice() {
    // Transfers still running on other threads end before the handle goes, and
    // none can start on it afterwards.
    m_gate.Shut();
    HANDLE device = m_hDevice.exchange(nullptr);
    if (device != nullptr) {
        Os().CloseHandle(device);
    }
    m_strSerial.clear();
    m_bWriteBusy.store(0);
    m_bReadBusy.store(0);
}

bool CUsbPort::Write(const void* data, uint32_t length, uint32_t timeoutMs) {
    GateEntry entry(m_gate);
    if (!entry) {
        return false;
    }
    TransferLock lock(m_hMutex, m_bWriteBusy);
    // A close that began while this write waited for its turn ends it here.
    if (!lock || !m_gate.IsOpen()) {
        return false;
    }
    lock.MarkBusy();
    const HANDLE device = m_hDevice.load();
    TransferRecord record;
    if (!record.HasEvent()) {
        return false;
    }
    DWORD written = 0;
    const BOOL started = Os().WriteFile(device, data, length, &written, record.get());
    // A short write is a failure: the caller must not take part of a job for
    // a printed one.
    return record.FinishWithin(device, started, timeoutMs, written) == TransferEnd::kSucceeded &&
           written == length;
}

bool CUsbPort::Read(void* buffer, uint32_t& count, uint32_t length) {
    // The mutex comes first, so that a read on a closed printer still waits
    // its turn behind a running write.
    TransferLock lock(m_hMutex, m_bReadBusy);
    if (!lock) {
        return false;
    }
    GateEntry entry(m_gate);
    if (!entry) {
        return true;
    }
    lock.MarkBusy();
    const HANDLE device = m_hDevice.load();
    TransferRecord record;
    if (!record.HasEvent()) {
        return false;
    }
    DWORD received = 0;
    const BOOL started = Os().ReadFile(device, buffer, length, &received, record.get());
    const TransferEnd end = record.FinishWithin(device, started, kReadTimeoutMs, received);
    // A read that completed in time delivers what it moved even when its
    // completion reports an error (a printer pulled out mid-answer): those
    // bytes did arrive.
    if (end != TransferEnd::kSucceeded && end != TransferEnd::kFailed) {
        return false;
    }
    count = received;
    return true;
}

std::string CUsbPort::Serial() const {
    std::lock_guard<std::mutex> guard(m_lifecycle);
    return m_strSerial;
}

}  // namespace zelp
