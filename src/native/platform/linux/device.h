// One open device: its descriptor, its queue of overlapped transfers, and the
// driving of those transfers by whichever thread waits for them.
//
// We start no thread. A transfer that cannot finish at once waits in a FIFO
// queue; only the head moves, so transfers on one handle keep their order and
// never interleave. Any thread that waits for one of them may become the one
// driver of the device: it makes the head progress with non-blocking system
// calls and poll(), while other waiters sleep on a condition and take over
// when it leaves. CancelIo and CloseHandle wake the driver through an
// eventfd, so an abandoned poll() ends at once.
//
// Most transfers finish at their first try. One issued while nothing is
// queued or driven claims the device with one atomic step and makes that try
// on the issuing thread without the lock; only if it has to wait does it join
// the queue (at its head: it came first) and take the path above.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>

#include "native/platform/common/kernel_objects.h"
#include "native/platform/linux/io_strategy.h"
#include "native/platform/linux/unique_fd.h"
#include "native/wintypes.h"

namespace zelp::linuxbk {

// How far a transfer has come: everything of it but the event it sets.
struct TransferState {
    enum class Direction { Read, Write };

    Direction direction = Direction::Read;
    void* buffer = nullptr;  // never written for a write
    size_t length = 0;
    LPOVERLAPPED record = nullptr;

    size_t moved = 0;
    DWORD limitMs = 0;  // the port time-out in force when issued; 0 is none
    kobj::Instant deadline = kobj::Instant::max();
    bool started = false;          // has been the head: its time-out runs
    bool sent = false;             // every byte accepted, waiting until gone out
    bool hangUpSeen = false;       // poll() reported the peer gone
    bool cancelRequested = false;  // cancelled while a system call used its buffer
    bool done = false;
    DWORD error = ERROR_SUCCESS;
};

// A transfer in the queue.
struct Transfer : TransferState {
    std::shared_ptr<kobj::Event> event;  // may be null
};

// What WriteFile and ReadFile ask of a device.
struct TransferRequest {
    TransferState::Direction direction = TransferState::Direction::Read;
    void* buffer = nullptr;  // never written for a write
    size_t length = 0;
    LPOVERLAPPED record = nullptr;
    const std::shared_ptr<kobj::Event>* event = nullptr;  // may be null
};

class Device : public kobj::KernelObject,
               public kobj::WaitDriver,
               public std::enable_shared_from_this<Device> {
public:
    Device(UniqueFd fd, UniqueFd wakeFd, DeviceKind kind);

    DeviceKind Kind() const { return m_kind; }

    // Issues a transfer. TRUE when it finished at once (*count written);
    // otherwise FALSE with the last error: ERROR_IO_PENDING when it waits.
    BOOL Submit(const TransferRequest& request, LPDWORD count);

    // GetOverlappedResult for a record issued on this device.
    BOOL Result(LPOVERLAPPED record, LPDWORD count, bool wait);

    // Ends every pending transfer with ERROR_OPERATION_ABORTED.
    void CancelAll();

    // Abandons the pending transfers and closes the descriptors once no
    // thread uses them any more.
    void Shutdown();

    void SetTimeouts(const COMMTIMEOUTS& timeouts);

    // The comm error bits since the last call (CE_IOE), plus CE_DNS while the
    // peer is gone.
    DWORD TakeCommErrors();

    // True once the peer is known to be gone (hang-up, unplug).
    bool PeerGone();

    // Runs request(fd) with the descriptor kept open for its length; false
    // (and nothing run) when the device is closed.
    template <class Request>
    bool WithFd(Request&& request) {
        if (!EnterUse()) {
            return false;
        }
        request(m_fd.Get());
        LeaveUse();
        return true;
    }

    bool DriveUntil(kobj::Event& event, kobj::Instant deadline) override;

private:
    enum class DriveResult { Done, TimedOut, NothingToDrive };
    // What one try made of a transfer: it is over (with its error), it
    // moved and may go on at once, or it waits for the device.
    enum class Verdict { Over, GoOn, Waits };
    // m_nClaim: a transfer makes its first try outside the queue, and the
    // queue side (queued transfers, a driver, a close) is busy.
    static constexpr uint32_t kAtOnceBusy = 1;
    static constexpr uint32_t kQueueBusy = 2;

    BOOL SubmitAtOnce(const TransferRequest& request, LPDWORD count);
    BOOL SubmitQueued(const TransferRequest& request, LPDWORD count);
    bool StopsBetweenTries(TransferState& transfer, uint64_t cancels);
    BOOL EndAtOnce(TransferState& transfer, const TransferRequest& request, LPDWORD count);
    BOOL JoinQueue(const TransferState& transfer, const TransferRequest& request, uint64_t cancels);
    void ReleaseClaim();
    bool AtOnceBusy() const { return (m_nClaim.load() & kAtOnceBusy) != 0; }
    // Keeps kQueueBusy in step with the queue, the driver and the close.
    void NoteQueueLocked();
    Step Attempt(TransferState& transfer);
    Verdict Judge(TransferState& transfer, const Step& step);

    template <class DonePredicate, class PendingPredicate>
    DriveResult DriveWhile(DonePredicate done, PendingPredicate pending, kobj::Instant deadline);
    void DriveOnce(std::unique_lock<std::mutex>& lock, kobj::Instant deadline);
    bool AdvanceHead(std::unique_lock<std::mutex>& lock);
    void Complete(Transfer& transfer, DWORD error);
    void CancelAllLocked();
    void PromoteHead();
    static void StartTimeout(TransferState& transfer);
    bool WaitTurn(std::unique_lock<std::mutex>& lock, kobj::Instant deadline);
    void Wake();
    bool Holds(LPOVERLAPPED record) const;
    bool HoldsEvent(const kobj::Event& event) const;
    bool EnterUse();
    void LeaveUse();

    const DeviceKind m_kind;
    const IoStrategy& m_strategy;

    std::mutex m_lock;
    std::condition_variable m_turn;  // the driver left, a transfer ended, a user left
    UniqueFd m_fd;
    UniqueFd m_wakeFd;
    std::deque<std::shared_ptr<Transfer>> m_queue;
    Transfer* m_pInFlight = nullptr;  // the head while a system call uses its buffer
    bool m_bDriving = false;
    unsigned m_nUsers = 0;  // device requests running outside the lock
    bool m_bClosed = false;

    // Read without the lock by a transfer's first try.
    std::atomic<uint32_t> m_nClaim{0};
    std::atomic<uint64_t> m_nCancels{0};  // CancelIo calls so far
    std::atomic<bool> m_bPeerGone{false};
    std::atomic<DWORD> m_dwCommErrors{0};
    std::atomic<DWORD> m_dwReadLimitMs{0};  // the port time-outs; 0 is none
    std::atomic<DWORD> m_dwWriteLimitMs{0};
};

}  // namespace zelp::linuxbk
