// One overlapped transfer's record with its own fresh event (manual reset,
// unsignalled, unnamed), closed when the transfer is over. Whoever owns one
// waits for a pending transfer to complete before letting it go: the system
// writes into the record until then.
#pragma once

#include "native/platform.h"

namespace zelp {

// How an overlapped call ended, as the port logic tells the cases apart.
enum class TransferEnd {
    kFailedAtOnce,  // FALSE with an error other than ERROR_IO_PENDING: nothing ran
    kSucceeded,     // done at once, or completed successfully
    kFailed,        // ran, then completed with an error; it may have moved bytes
    kTimedOut,      // ran out of time and was cancelled
};

class TransferRecord {
public:
    TransferRecord() : m_record{} {
        m_record.hEvent = Os().CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~TransferRecord() {
        if (m_record.hEvent != nullptr) {
            Os().CloseHandle(m_record.hEvent);
        }
    }
    TransferRecord(const TransferRecord&) = delete;
    TransferRecord& operator=(const TransferRecord&) = delete;

    bool HasEvent() const { return m_record.hEvent != nullptr; }
    HANDLE Event() const { return m_record.hEvent; }
    OVERLAPPED* get() { return &m_record; }

    // Ends the call that `started` is the result of, waiting for a pending
    // transfer however long it takes. `count` is the bytes moved.
    TransferEnd Finish(HANDLE device, BOOL started, DWORD& count);

    // The same within `timeoutMs`. A transfer that runs out of time is
    // cancelled and its completion waited for, because the system owns the
    // record and the buffer until then; one that completed just as it was
    // cancelled still counts as done.
    TransferEnd FinishWithin(HANDLE device, BOOL started, DWORD timeoutMs, DWORD& count);

private:
    OVERLAPPED m_record;
};

}  // namespace zelp
