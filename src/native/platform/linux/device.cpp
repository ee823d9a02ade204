#include "native/platform/linux/device.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

#include "native/platform/linux/error_codes.h"

namespace zelp::linuxbk {

namespace {

using kobj::Instant;
using kobj::SteadyClock;

// Waiters re-check at least this often, so an event set by hand (SetEvent)
// while another thread drives is noticed without that driver's help.
constexpr auto kTurnSlice = std::chrono::milliseconds(20);

bool Passed(Instant deadline) {
    return SteadyClock::now() >= deadline;
}

short EventsFor(const Transfer& transfer) {
    return transfer.direction == Transfer::Direction::Read ? POLLIN : POLLOUT;
}

}  // namespace

Device::Device(UniqueFd fd, UniqueFd wakeFd, DeviceKind kind)
    : m_kind(kind),
      m_strategy(StrategyFor(kind)),
      m_fd(std::move(fd)),
      m_wakeFd(std::move(wakeFd)) {}

// --- Issuing and observing transfers ---------------------------------------------

BOOL Device::Submit(const std::shared_ptr<Transfer>& transfer, LPDWORD count) {
    std::unique_lock<std::mutex> lock(m_lock);
    if (m_bClosed) {
        kobj::SetLastErrorCode(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const bool isRead = transfer->direction == Transfer::Direction::Read;
    transfer->limitMs =
        isRead ? m_timeouts.ReadTotalTimeoutConstant : m_timeouts.WriteTotalTimeoutConstant;
    transfer->record->Internal = STATUS_PENDING;
    transfer->record->InternalHigh = 0;
    if (transfer->event) {
        transfer->event->ResetAndAttach(weak_from_this());
    }
    m_queue.push_back(transfer);
    // A transfer that can finish at once does so now, on the issuing thread.
    const bool attemptNow = m_queue.size() == 1 && !m_bDriving;
    // Most of those finish, and then never need their time-out's deadline:
    // where a try is a quick non-blocking call, the clock is read only for
    // one that is still pending after it (ppdev may take a jiffy to try).
    bool timeoutUnstarted = attemptNow && m_strategy.readiness == Readiness::Poll;
    if (timeoutUnstarted) {
        transfer->started = true;
    } else {
        PromoteHead();
    }
    if (attemptNow) {
        m_bDriving = true;
        while (!transfer->done) {
            const bool waits = AdvanceHead(lock);
            if (timeoutUnstarted && !transfer->done) {
                StartTimeout(*transfer);
                timeoutUnstarted = false;
            }
            if (waits) {
                break;
            }
        }
        m_bDriving = false;
        m_turn.notify_all();
    }
    if (!transfer->done) {
        KeepPending(transfer);
        kobj::SetLastErrorCode(ERROR_IO_PENDING);
        return FALSE;
    }
    if (transfer->error != ERROR_SUCCESS) {
        kobj::SetLastErrorCode(transfer->error);
        return FALSE;
    }
    if (count != nullptr) {
        *count = static_cast<DWORD>(transfer->moved);
    }
    return TRUE;
}

void Device::KeepPending(const std::shared_ptr<Transfer>& transfer) {
    if (transfer.use_count() != 0) {
        return;  // owned by its shared_ptr already
    }
    // Lent by the issuer's frame: the queue takes a copy of its own before the
    // lock goes. Until now only holders of the lock have seen it.
    auto it = std::find(m_queue.begin(), m_queue.end(), transfer);
    if (it != m_queue.end()) {
        *it = std::make_shared<Transfer>(*transfer);
    }
}

BOOL Device::Result(LPOVERLAPPED record, LPDWORD count, bool wait) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (Holds(record) && !wait) {
            kobj::SetLastErrorCode(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
    }
    DriveWhile([&] { return !Holds(record); }, [&] { return Holds(record); }, Instant::max());
    std::lock_guard<std::mutex> guard(m_lock);
    if (count != nullptr) {
        *count = static_cast<DWORD>(record->InternalHigh);
    }
    const DWORD error = ErrorFromCompletionStatus(record->Internal);
    if (error != ERROR_SUCCESS) {
        kobj::SetLastErrorCode(error);
        return FALSE;
    }
    return TRUE;
}

bool Device::DriveUntil(kobj::Event& event, Instant deadline) {
    const DriveResult result =
        DriveWhile([&] { return event.IsSet(); }, [&] { return HoldsEvent(event); }, deadline);
    if (result == DriveResult::NothingToDrive) {
        // Not (or no longer) the event of one of our transfers: someone else
        // sets it, if anyone does.
        return event.WaitSignalledUntil(deadline);
    }
    return result == DriveResult::Done;
}

// --- Driving -----------------------------------------------------------------------

template <class DonePredicate, class PendingPredicate>
Device::DriveResult Device::DriveWhile(DonePredicate done, PendingPredicate pending,
                                       Instant deadline) {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        if (done()) {
            return DriveResult::Done;
        }
        if (!pending()) {
            return DriveResult::NothingToDrive;
        }
        if (m_bDriving) {
            if (!WaitTurn(lock, deadline)) {
                return done() ? DriveResult::Done : DriveResult::TimedOut;
            }
            continue;
        }
        // Even a wait of 0 ms gets one try at the device before it gives up.
        DriveOnce(lock, deadline);
        if (!done() && Passed(deadline)) {
            return DriveResult::TimedOut;
        }
    }
}

void Device::DriveOnce(std::unique_lock<std::mutex>& lock, Instant deadline) {
    m_bDriving = true;
    if (AdvanceHead(lock)) {
        std::shared_ptr<Transfer> head = m_queue.front();
        const Instant until = std::min(deadline, head->deadline);
        if (!Passed(until)) {
            const int fd = m_fd.Get();
            const int wakeFd = m_wakeFd.Get();
            const short events = EventsFor(*head);
            lock.unlock();
            const short revents = WaitUntilReady(fd, wakeFd, m_strategy, events, until);
            lock.lock();
            if ((revents & (POLLHUP | POLLERR)) != 0) {
                head->hangUpSeen = true;
            }
        }
    }
    m_bDriving = false;
    m_turn.notify_all();
}

// One try at the head transfer. True when the head now waits for the device;
// false when something changed (bytes moved, a transfer ended).
bool Device::AdvanceHead(std::unique_lock<std::mutex>& lock) {
    if (m_queue.empty()) {
        return false;
    }
    std::shared_ptr<Transfer> head = m_queue.front();
    const bool isWrite = head->direction == Transfer::Direction::Write;
    if (head->length == 0 || (isWrite && head->moved == head->length && !head->sent)) {
        Complete(*head, ERROR_SUCCESS);
        return false;
    }
    const Step step = AttemptHead(lock, *head);
    return Apply(*head, step);
}

// The system call for the head, made without the lock (ppdev may take a
// jiffy per call, and CancelIo must not wait for that). The driving role
// keeps the descriptor open and the head in place meanwhile.
Step Device::AttemptHead(std::unique_lock<std::mutex>& lock, Transfer& head) {
    const int fd = m_fd.Get();
    auto* bytes = static_cast<uint8_t*>(head.buffer) + head.moved;
    const size_t left = head.length - head.moved;
    m_pInFlight = &head;
    lock.unlock();
    Step step;
    if (head.sent) {
        // Accepted already; the device says POLLOUT once it has gone out.
        const short revents = PollNow(fd, POLLOUT);
        step.outcome = (revents & (POLLHUP | POLLERR)) != 0 ? StepOutcome::PeerGone
                       : (revents & POLLOUT) != 0           ? StepOutcome::EndOfData
                                                            : StepOutcome::Blocked;
    } else if (head.direction == Transfer::Direction::Read) {
        step = TryRead(fd, m_strategy, bytes, left);
    } else {
        step = TryWrite(fd, m_strategy, bytes, left);
    }
    lock.lock();
    m_pInFlight = nullptr;
    return step;
}

bool Device::Apply(Transfer& head, const Step& step) {
    if (head.cancelRequested) {
        head.moved += step.moved;
        Complete(head, ERROR_OPERATION_ABORTED);
        return false;
    }
    switch (step.outcome) {
        case StepOutcome::Moved:
            ApplyMoved(head, step.moved);
            return false;
        case StepOutcome::EndOfData:
            Complete(head, ERROR_SUCCESS);
            return false;
        case StepOutcome::PeerGone:
            ApplyPeerGone(head);
            return false;
        case StepOutcome::Failed:
            m_dwCommErrors |= CE_IOE;
            Complete(head, step.error);
            return false;
        case StepOutcome::Blocked:
            break;
    }
    if (head.hangUpSeen && m_strategy.pollShowsHangUp) {
        ApplyPeerGone(head);
        return false;
    }
    if (Passed(head.deadline)) {
        // The port time-out ends a transfer successfully with what it moved.
        Complete(head, ERROR_SUCCESS);
        return false;
    }
    return true;
}

void Device::ApplyMoved(Transfer& head, size_t moved) {
    head.moved += moved;
    if (head.direction == Transfer::Direction::Read) {
        // A read ends as soon as anything arrived.
        Complete(head, ERROR_SUCCESS);
    } else if (head.moved == head.length) {
        if (m_strategy.writeWaitsUntilSent) {
            head.sent = true;
        } else {
            Complete(head, ERROR_SUCCESS);
        }
    }
}

void Device::ApplyPeerGone(Transfer& head) {
    m_bPeerGone = true;
    // A read with a port time-out would end empty anyway: it ends now. Any
    // other transfer cannot be served.
    const bool readWithTimeout = head.direction == Transfer::Direction::Read && head.limitMs != 0;
    Complete(head, readWithTimeout ? ERROR_SUCCESS : ERROR_DEVICE_NOT_CONNECTED);
}

void Device::Complete(Transfer& transfer, DWORD error) {
    transfer.done = true;
    transfer.error = error;
    transfer.record->InternalHigh = transfer.moved;
    transfer.record->Internal = CompletionStatusFor(error);
    auto it = std::find_if(m_queue.begin(), m_queue.end(), [&](const std::shared_ptr<Transfer>& t) {
        return t.get() == &transfer;
    });
    if (it == m_queue.end()) {
        return;
    }
    std::shared_ptr<Transfer> keep = *it;  // the caller may hold only a reference
    if (it == m_queue.begin()) {
        m_queue.pop_front();  // the usual case, and far cheaper than erase
    } else {
        m_queue.erase(it);
    }
    if (transfer.event) {
        transfer.event->DetachAndSet();
    }
    PromoteHead();
    m_turn.notify_all();
}

// The port time-out of a transfer runs from when it becomes the head.
void Device::PromoteHead() {
    if (m_queue.empty() || m_queue.front()->started) {
        return;
    }
    Transfer& head = *m_queue.front();
    head.started = true;
    StartTimeout(head);
}

void Device::StartTimeout(Transfer& transfer) {
    if (transfer.limitMs != 0) {
        transfer.deadline = SteadyClock::now() + std::chrono::milliseconds(transfer.limitMs);
    }
}

bool Device::WaitTurn(std::unique_lock<std::mutex>& lock, Instant deadline) {
    if (Passed(deadline)) {
        return false;
    }
    const Instant slice = SteadyClock::now() + kTurnSlice;
    m_turn.wait_until(lock, std::min(deadline, slice));
    return true;
}

void Device::Wake() {
    const uint64_t one = 1;
    if (m_wakeFd.Valid()) {
        [[maybe_unused]] const ssize_t n = ::write(m_wakeFd.Get(), &one, sizeof one);
    }
}

bool Device::Holds(LPOVERLAPPED record) const {
    return std::any_of(m_queue.begin(), m_queue.end(),
                       [&](const std::shared_ptr<Transfer>& t) { return t->record == record; });
}

bool Device::HoldsEvent(const kobj::Event& event) const {
    return std::any_of(m_queue.begin(), m_queue.end(), [&](const std::shared_ptr<Transfer>& t) {
        return t->event.get() == &event;
    });
}

// --- Cancelling and closing ----------------------------------------------------------

void Device::CancelAll() {
    std::lock_guard<std::mutex> guard(m_lock);
    CancelAllLocked();
}

void Device::CancelAllLocked() {
    std::vector<std::shared_ptr<Transfer>> ending(m_queue.begin(), m_queue.end());
    for (const std::shared_ptr<Transfer>& transfer : ending) {
        if (transfer.get() == m_pInFlight) {
            // Its buffer is in a system call right now; the driver ends it
            // as soon as that call returns.
            transfer->cancelRequested = true;
        } else {
            Complete(*transfer, ERROR_OPERATION_ABORTED);
        }
    }
    Wake();
}

void Device::Shutdown() {
    std::unique_lock<std::mutex> lock(m_lock);
    m_bClosed = true;  // before the cancel, so that nothing new is queued behind it
    CancelAllLocked();
    m_turn.wait(lock, [this] { return !m_bDriving && m_nUsers == 0 && m_queue.empty(); });
    m_fd.Reset();
    m_wakeFd.Reset();
}

bool Device::EnterUse() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bClosed) {
        return false;
    }
    ++m_nUsers;
    return true;
}

void Device::LeaveUse() {
    std::lock_guard<std::mutex> guard(m_lock);
    --m_nUsers;
    m_turn.notify_all();
}

// --- Port settings and state ----------------------------------------------------------

void Device::SetTimeouts(const COMMTIMEOUTS& timeouts) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_timeouts = timeouts;
}

bool Device::PeerGone() {
    bool gone = false;
    WithFd([&](int fd) { gone = m_strategy.pollShowsHangUp && PollReportsHangUp(fd); });
    std::lock_guard<std::mutex> guard(m_lock);
    if (gone) {
        m_bPeerGone = true;
    }
    return m_bPeerGone || m_bClosed;
}

DWORD Device::TakeCommErrors() {
    const bool gone = PeerGone();
    std::lock_guard<std::mutex> guard(m_lock);
    DWORD errors = m_dwCommErrors;
    m_dwCommErrors = 0;
    if (gone) {
        errors |= CE_DNS;
    }
    return errors;
}

}  // namespace zelp::linuxbk
