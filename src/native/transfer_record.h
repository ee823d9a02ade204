// One overlapped transfer's record with its own fresh event (manual reset,
// unsignalled, unnamed), closed when the transfer is over. Whoever owns one
// waits for a pending transfer to complete before letting it go: the system
// writes into the record until then.
#pragma once

#include "native/platform.h"

namespace zelp {

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

private:
    OVERLAPPED m_record;
};

}  // namespace zelp
