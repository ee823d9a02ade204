#include "parallel/parallel_port.h"

#include "native/transfer_record.h"

namespace zelp {

namespace {

OSVERSIONINFOA QueryVersion() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    // A failed query leaves the zeros, which mean "never negotiate".
    Os().GetVersionExA(&info);
    return info;
}

// The mask of each mode the port logic asks for; 0 for modes that do not exist.
unsigned short MaskOfMode(uint32_t mode) {
    switch (mode) {
        case 0:
            return kIeee1284MaskCentronics;
        case 1:
            return kIeee1284MaskCompatibility;
        case 2:
            return kIeee1284MaskNibble;
        default:
            return 0;
    }
}

constexpr BYTE kOffLineBits = PARALLEL_OFF_LINE | PARALLEL_POWER_OFF;
constexpr DWORD kCommOffLineBits = CE_IOE | CE_DNS;
constexpr DWORD kStatusBufferSize = 256;

}  // namespace

CParallelPort::CParallelPort() {
    const OSVERSIONINFOA info = QueryVersion();
    m_dwPlatformId = info.dwPlatformId;
    m_dwMajorVersion = info.dwMajorVersion;
    m_hMutex = Os().CreateMutexA(nullptr, FALSE, nullptr);
}

CParallelPort::~CParallelPort() {
    // The owner closes the port first; an object dropped with its port still
    // open must not leak the handle all the same.
    Close();
    if (m_hMutex != nullptr) {
        Os().CloseHandle(m_hMutex);
    }
}

HANDLE CParallelPort::Open(const char* portName) {
    // An open port is closed first, so that its handle is never lost.
    Close();
    HANDLE port = Os().CreateFileA(portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE || port == nullptr) {
        return nullptr;
    }
    m_hPort.store(port);
    m_bOnline.store(1);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = kReadTotalTimeoutMs;
    timeouts.WriteTotalTimeoutConstant = kWriteTotalTimeoutMs;
    Os().SetCommTimeouts(port, &timeouts);
    m_gate.Open();
    return port;
}

bool CParallelPort::Close() {
    // Operations still running on other threads finish before the handle goes.
    m_gate.Shut();
    HANDLE port = m_hPort.exchange(nullptr);
    if (port != nullptr) {
        Os().CloseHandle(port);
    }
    m_bBusy.store(0);
    return true;
}

bool CParallelPort::Write(const void* data, uint32_t length) {
    GateEntry entry(m_gate);
    if (!entry) {
        return false;
    }
    // Writes take turns here rather than queue up on the handle, so that a
    // close that began meanwhile ends the ones still waiting instead of
    // waiting out each one's time-out on a printer that stopped answering.
    std::lock_guard<std::mutex> turn(m_writeTurn);
    if (!m_gate.IsOpen()) {
        return false;
    }
    HANDLE port = m_hPort.load();
    // A refused negotiation does not stop the job: it goes out in whatever
    // mode the port is in.
    SwitchMode(port, 0);

    TransferRecord record;
    if (!record.HasEvent()) {
        return false;
    }
    DWORD written = 0;
    const BOOL started = Os().WriteFile(port, data, length, &written, record.get());
    // A write that ends short (paper out, the port's write time-out) is a
    // failure: the caller must not take a partial job for a printed one.
    return record.Finish(port, started, written) == TransferEnd::kSucceeded && written == length;
}

bool CParallelPort::Read(void* buffer, uint32_t& count, uint32_t length) {
    GateEntry entry(m_gate);
    if (!entry) {
        return false;
    }
    HANDLE port = m_hPort.load();
    TransferRecord record;
    if (!record.HasEvent()) {
        return false;
    }
    bool reverse = false;
    for (int attempt = 0; attempt < kReadModeTries && !reverse; ++attempt) {
        reverse = SwitchMode(port, 2);
    }
    if (!reverse) {
        return false;
    }
    DWORD received = 0;
    const BOOL started = Os().ReadFile(port, buffer, length, &received, record.get());
    // A read that was under way delivers what it moved even when its
    // completion reports an error (a printer that went away mid-answer):
    // those bytes did arrive. Only a read refused at once fails.
    const bool ran = record.Finish(port, started, received) != TransferEnd::kFailedAtOnce;
    SwitchMode(port, 0);
    if (!ran) {
        return false;
    }
    count = received;
    return true;
}

bool CParallelPort::IsOnline() {
    GateEntry entry(m_gate);
    if (!entry) {
        return false;
    }
    HANDLE port = m_hPort.load();
    m_bBusy.store(1);
    bool online = false;
    if (IsNtPlatform()) {
        // A query that failed says nothing about the printer; the zeroed
        // buffer would read as on line, so it counts as off line.
        const std::optional<BYTE> status = QueryStatusNt(port);
        online = status.has_value() && (*status & kOffLineBits) == 0;
    } else {
        online = IsOnlineComm(port);
    }
    m_bOnline.store(online ? 1 : 0);
    m_bBusy.store(0);
    return online;
}

std::optional<BYTE> CParallelPort::StatusByte() {
    GateEntry entry(m_gate);
    if (!entry || !IsNtPlatform()) {
        return std::nullopt;
    }
    return QueryStatusNt(m_hPort.load());
}

std::optional<BYTE> CParallelPort::QueryStatusNt(HANDLE port) {
    TransferRecord record;
    if (!record.HasEvent()) {
        return std::nullopt;
    }
    BYTE status[kStatusBufferSize] = {};
    DWORD returned = 0;
    const BOOL started = Os().DeviceIoControl(port, IOCTL_PAR_QUERY_INFORMATION, nullptr, 0, status,
                                              kStatusBufferSize, &returned, record.get());
    if (record.Finish(port, started, returned) != TransferEnd::kSucceeded) {
        return std::nullopt;
    }
    return status[0];
}

bool CParallelPort::IsOnlineComm(HANDLE port) {
    DWORD errors = 0;
    COMSTAT comstat{};
    if (!Os().ClearCommError(port, &errors, &comstat)) {
        return false;
    }
    return (errors & kCommOffLineBits) == 0;
}

bool CParallelPort::IsNtPlatform() {
    return QueryVersion().dwPlatformId == VER_PLATFORM_WIN32_NT;
}

bool CParallelPort::SetIeee1284Mode(uint32_t mode) {
    GateEntry entry(m_gate);
    return SwitchMode(entry ? m_hPort.load() : nullptr, mode);
}

bool CParallelPort::SwitchMode(HANDLE port, uint32_t mode) {
    // Only the NT 5 and 6 drivers take part in the negotiation; elsewhere the
    // port stays as it is and every mode counts as granted.
    if (port == nullptr || (m_dwMajorVersion != 5 && m_dwMajorVersion != 6)) {
        return true;
    }
    ParNegotiationMask query{};
    ParNegotiationMask modes{};
    DWORD returned = 0;
    Os().DeviceIoControl(port, IOCTL_PAR_GET_DEFAULT_MODES, &query, sizeof(query), &modes,
                         sizeof(modes), &returned, nullptr);
    const unsigned short mask = MaskOfMode(mode);
    if (mask == 0) {
        return false;
    }
    // Version 6 drivers only leave a reverse mode after a negotiation to none.
    if (m_dwMajorVersion == 6 && mode == 0 && !SendNegotiation(port, kIeee1284MaskNone)) {
        return false;
    }
    return SendNegotiation(port, mask);
}

bool CParallelPort::SendNegotiation(HANDLE port, unsigned short mask) {
    ParNegotiationMask masks{mask, mask};
    ParNegotiationMask granted{};
    DWORD returned = 0;
    return Os().DeviceIoControl(port, IOCTL_IEEE1284_NEGOTIATE, &masks, sizeof(masks), &granted,
                                sizeof(granted), &returned, nullptr) != FALSE;
}

}  // namespace zelp
