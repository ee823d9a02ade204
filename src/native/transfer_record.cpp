#include "native/transfer_record.h"

namespace zelp {

TransferEnd TransferRecord::Finish(HANDLE device, BOOL started, DWORD& count) {
    if (started) {
        return TransferEnd::kSucceeded;
    }
    // Only FALSE with ERROR_IO_PENDING leaves a transfer under way.
    if (Os().GetLastError() != ERROR_IO_PENDING) {
        return TransferEnd::kFailedAtOnce;
    }
    return Os().GetOverlappedResult(device, &m_record, &count, TRUE) ? TransferEnd::kSucceeded
                                                                     : TransferEnd::kFailed;
}

TransferEnd TransferRecord::FinishWithin(HANDLE device, BOOL started, DWORD timeoutMs,
                                         DWORD& count) {
    if (started) {
        return TransferEnd::kSucceeded;
    }
    // Only FALSE with ERROR_IO_PENDING leaves a transfer under way.
    if (Os().GetLastError() != ERROR_IO_PENDING) {
        return TransferEnd::kFailedAtOnce;
    }
    const bool inTime = Os().WaitForSingleObject(m_record.hEvent, timeoutMs) == WAIT_OBJECT_0;
    if (!inTime) {
        Os().CancelIo(device);
    }
    if (Os().GetOverlappedResult(device, &m_record, &count, TRUE)) {
        return TransferEnd::kSucceeded;
    }
    return inTime ? TransferEnd::kFailed : TransferEnd::kTimedOut;
}

}  // namespace zelp
