#include "usb/device_list.h"

#include <algorithm>

#include "native/platform.h"
#include "native/transfer_record.h"
#include "usb/identity_reply.h"
#include "usb/usb_discovery.h"
#include "usb/usb_key.h"

namespace zelp {

namespace {

// The device of one identity query, closed on every way out.
class QueryDevice {
public:
    explicit QueryDevice(const char* path)
        : m_hDevice(Os().CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OVERLAPPED, nullptr)) {}
    ~QueryDevice() {
        if (IsOpen()) {
            Os().CloseHandle(m_hDevice);
        }
    }
    QueryDevice(const QueryDevice&) = delete;
    QueryDevice& operator=(const QueryDevice&) = delete;

    bool IsOpen() const { return m_hDevice != INVALID_HANDLE_VALUE && m_hDevice != nullptr; }
    HANDLE get() const { return m_hDevice; }

private:
    const HANDLE m_hDevice;
};

// Whether a transfer of the query ended in time. What its completion says
// is not needed: a read delivers what it moved even when it ended with an
// error, and the command's byte count is not checked.
bool EndedInTime(TransferEnd end) {
    return end == TransferEnd::kSucceeded || end == TransferEnd::kFailed;
}

bool SendIdentityCommand(HANDLE device) {
    TransferRecord record;
    if (!record.HasEvent()) {
        return false;
    }
    DWORD written = 0;
    const BOOL started =
        Os().WriteFile(device, kIdentityCommand, sizeof(kIdentityCommand), &written, record.get());
    return EndedInTime(record.FinishWithin(device, started, kIdentityWriteTimeoutMs, written));
}

enum class ReadOutcome { kAnswered, kEmpty, kMarkerOnly, kFailed };

ReadOutcome ReadIdentityReply(HANDLE device, std::string& text) {
    uint8_t buffer[kIdentityReadSize] = {};
    TransferRecord record;
    if (!record.HasEvent()) {
        return ReadOutcome::kFailed;
    }
    DWORD received = 0;
    const BOOL started = Os().ReadFile(device, buffer, kIdentityReadSize, &received, record.get());
    if (!EndedInTime(record.FinishWithin(device, started, kIdentityReadTimeoutMs, received))) {
        return ReadOutcome::kFailed;
    }
    received = std::min<DWORD>(received, kIdentityReadSize);
    const IdentityReplyScan scan = ScanIdentityReply(buffer, received);
    if (IsEmptyIdentityRead(received, scan)) {
        return ReadOutcome::kEmpty;
    }
    if (!scan.bDone) {
        return ReadOutcome::kMarkerOnly;
    }
    text = scan.text;
    return ReadOutcome::kAnswered;
}

}  // namespace

bool QueryPrinterId(const char* devicePath, std::string& identityText) {
    QueryDevice device(devicePath);
    if (!device.IsOpen()) {
        return false;
    }
    if (!SendIdentityCommand(device.get())) {
        return false;
    }
    int empties = 0;
    while (true) {
        Os().Sleep(1);
        std::string text;
        switch (ReadIdentityReply(device.get(), text)) {
            case ReadOutcome::kAnswered:
                identityText = IdentityTextForList(text, kIdentityTextChars);
                return true;
            case ReadOutcome::kFailed:
                return false;
            case ReadOutcome::kEmpty:
                if (++empties >= kIdentityMaxEmptyReads) {
                    return false;
                }
                break;
            case ReadOutcome::kMarkerOnly:
                // A marker without its end is not an empty read: read on.
                break;
        }
    }
}

uint32_t ListDevices(int32_t* first, int32_t* second, uint32_t capacity,
                     const std::string& vendorIdText, const std::string& productIdText) {
    capacity = std::min(capacity, kMaxListedPrinters);
    if (capacity == 0 || first == nullptr || second == nullptr) {
        return 0;
    }
    const std::string usbKey = FormatUsbKey(vendorIdText, productIdText);
    uint32_t count = 0;
    EnumUsbPrinterInterfaces({}, [&](const char* path) {
        const std::optional<std::string> field = ExtractSerialField(path, usbKey);
        if (!field.has_value()) {
            return WalkStep::kGoOn;
        }
        const int32_t value = NumericValue(*field);
        if (value != 0) {
            first[count] = value;
            second[count] = value;
            ++count;
        } else {
            std::string identity;
            if (!QueryPrinterId(path, identity)) {
                return WalkStep::kGoOn;
            }
            first[count] = NumericValue(identity);
            second[count] = 0;
            ++count;
        }
        return count >= capacity ? WalkStep::kStop : WalkStep::kGoOn;
    });
    return count;
}

}  // namespace zelp
