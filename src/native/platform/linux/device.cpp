#include "native/platform/linux/device.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

#include "native/platform/common/test_seam.h"
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

short EventsFor(const TransferState& transfer) {
    return transfer.direction == TransferState::Direction::Read ? POLLIN : POLLOUT;
}

}  // namespace

Device::Device(UniqueFd fd, UniqueFd wakeFd, DeviceKind kind)
    : m_kind(kind),
      m_strategy(StrategyFor(kind)),
      m_fd(std::move(fd)),
      m_wakeFd(std::move(wakeFd)) {}

// --- Issuing and observing transfers ---------------------------------------------

BOOL Device::Submit(const TransferRequest& request, LPDWORD count) {
    // Nothing queued, driven or closing, and no other first try under way:
    // this transfer may try the device at once, with no lock.
    uint32_t idle = 0;
    if (m_nClaim.compare_exchange_strong(idle, kAtOnceBusy)) {
        return SubmitAtOnce(request, count);
    }
    return SubmitQueued(request, count);
}

namespace {

TransferState TransferFor(const TransferRequest& request, DWORD limitMs) {
    TransferState transfer;
    transfer.direction = request.direction;
    transfer.buffer = request.buffer;
    transfer.length = request.length;
    transfer.record = request.record;
    transfer.limitMs = limitMs;
    transfer.started = true;
    return transfer;
}

bool IsSettled(const TransferState& transfer) {
    const bool isWrite = transfer.direction == TransferState::Direction::Write;
    return transfer.length == 0 || (isWrite && transfer.moved == transfer.length && !transfer.sent);
}

}  // namespace

BOOL Device::SubmitAtOnce(const TransferRequest& request, LPDWORD count) {
    const bool isRead = request.direction == TransferState::Direction::Read;
    TransferState first =
        TransferFor(request, isRead ? m_dwReadLimitMs.load() : m_dwWriteLimitMs.load());
    const uint64_t cancels = m_nCancels.load();
    // Where a try is a quick non-blocking call the clock is read only for a
    // transfer still pending after it; ppdev's tries may take a jiffy each.
    if (m_strategy.readiness == Readiness::RetryAfterPause) {
        StartTimeout(first);
    }
    request.record->Internal = STATUS_PENDING;
    request.record->InternalHigh = 0;
    Verdict verdict = Verdict::GoOn;
    bool tried = false;
    while (verdict == Verdict::GoOn) {
        if (IsSettled(first)) {
            first.error = ERROR_SUCCESS;
            verdict = Verdict::Over;
        } else if (tried && StopsBetweenTries(first, cancels)) {
            verdict = Verdict::Over;
        } else {
            verdict = Judge(first, Attempt(first));
            tried = true;
            kobj::seam::Reach(kobj::seam::Place::TryMade);
        }
    }
    if (verdict == Verdict::Over) {
        return EndAtOnce(first, request, count);
    }
    return JoinQueue(first, request, cancels);
}

// A first try that goes on moving bytes is a transfer under way, and heeds
// what a queued one heeds between two system calls: a CancelIo or a close
// since it was issued ends it aborted, its port time-out successfully. Where
// a try is a quick call, the time-out runs from the second one: only a write
// that goes on pays for reading the clock.
bool Device::StopsBetweenTries(TransferState& transfer, uint64_t cancels) {
    if (m_nCancels.load() != cancels) {
        transfer.error = ERROR_OPERATION_ABORTED;
        return true;
    }
    if (transfer.limitMs == 0 || transfer.sent) {
        return false;
    }
    if (transfer.deadline == Instant::max()) {
        StartTimeout(transfer);
        return false;
    }
    if (Passed(transfer.deadline)) {
        transfer.error = ERROR_SUCCESS;
        return true;
    }
    return false;
}

// A first try that ended the transfer: it completes as any transfer does,
// with its record filled in and its event set. One that moved bytes before
// it failed or was aborted was under way: it says so with ERROR_IO_PENDING,
// and its completion, already in the record, tells what moved, as every
// completion does. Only a transfer that moved nothing fails at once.
inline BOOL Device::EndAtOnce(TransferState& transfer, const TransferRequest& request,
                              LPDWORD count) {
    transfer.record->InternalHigh = transfer.moved;
    transfer.record->Internal = CompletionStatusFor(transfer.error);
    if (request.event != nullptr && *request.event) {
        (*request.event)->Set();
    }
    ReleaseClaim();
    if (transfer.error != ERROR_SUCCESS) {
        kobj::SetLastErrorCode(transfer.moved != 0 ? ERROR_IO_PENDING : transfer.error);
        return FALSE;
    }
    if (count != nullptr) {
        *count = static_cast<DWORD>(transfer.moved);
    }
    return TRUE;
}

// A first try that has to wait: the transfer goes to the head of the queue,
// ahead of any issued while it tried, unless a cancel or a close came
// meanwhile, which ends it as it would have ended a queued one.
BOOL Device::JoinQueue(const TransferState& transfer, const TransferRequest& request,
                       uint64_t cancels) {
    auto pending = std::make_shared<Transfer>();
    static_cast<TransferState&>(*pending) = transfer;
    if (request.event != nullptr) {
        pending->event = *request.event;
    }
    if (pending->deadline == Instant::max()) {
        StartTimeout(*pending);
    }
    std::unique_lock<std::mutex> lock(m_lock);
    if (m_bClosed || m_nCancels.load() != cancels) {
        lock.unlock();
        pending->error = ERROR_OPERATION_ABORTED;
        return EndAtOnce(*pending, request, nullptr);
    }
    if (pending->event) {
        pending->event->ResetAndAttach(weak_from_this());
    }
    m_queue.push_front(pending);
    NoteQueueLocked();
    m_nClaim.fetch_and(~kAtOnceBusy);
    lock.unlock();
    m_turn.notify_all();
    kobj::SetLastErrorCode(ERROR_IO_PENDING);
    return FALSE;
}

void Device::ReleaseClaim() {
    // Whoever waits on the queue side waits for this try to end; a transfer
    // queued meanwhile is the head now, and its time-out starts.
    if ((m_nClaim.fetch_and(~kAtOnceBusy) & kQueueBusy) != 0) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            PromoteHead();
        }
        m_turn.notify_all();
    }
}

void Device::NoteQueueLocked() {
    if (!m_queue.empty() || m_bDriving || m_bClosed) {
        m_nClaim.fetch_or(kQueueBusy);
    } else {
        m_nClaim.fetch_and(~kQueueBusy);
    }
}

BOOL Device::SubmitQueued(const TransferRequest& request, LPDWORD count) {
    std::unique_lock<std::mutex> lock(m_lock);
    if (m_bClosed) {
        kobj::SetLastErrorCode(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const bool isRead = request.direction == TransferState::Direction::Read;
    auto transfer = std::make_shared<Transfer>();
    static_cast<TransferState&>(*transfer) =
        TransferFor(request, isRead ? m_dwReadLimitMs.load() : m_dwWriteLimitMs.load());
    transfer->started = false;
    if (request.event != nullptr) {
        transfer->event = *request.event;
    }
    transfer->record->Internal = STATUS_PENDING;
    transfer->record->InternalHigh = 0;
    if (transfer->event) {
        transfer->event->ResetAndAttach(weak_from_this());
    }
    m_queue.push_back(transfer);
    NoteQueueLocked();
    // Behind a first try under way, the time-out starts when that one ends.
    if (!AtOnceBusy()) {
        PromoteHead();
    }
    // The queue was busy a moment ago; if it has emptied since, and no first
    // try is under way, this transfer tries now, on the issuing thread.
    if (m_queue.size() == 1 && !m_bDriving && !AtOnceBusy()) {
        m_bDriving = true;
        while (!transfer->done && !AdvanceHead(lock)) {
        }
        m_bDriving = false;
        NoteQueueLocked();
        m_turn.notify_all();
    }
    if (!transfer->done) {
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
        if (m_bDriving || AtOnceBusy()) {
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
    NoteQueueLocked();
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
    NoteQueueLocked();
    m_turn.notify_all();
}

// One try at the head transfer. True when the head now waits for the device;
// false when something changed (bytes moved, a transfer ended).
bool Device::AdvanceHead(std::unique_lock<std::mutex>& lock) {
    if (m_queue.empty()) {
        return false;
    }
    // No first try is under way while the queue is driven, so the head is the
    // head and its time-out runs. The release of a first try starts it too,
    // but only after giving back the claim, and a waiter that takes the lock
    // in between drives first: its poll() for a head whose time-out had not
    // started would have no limit, and starting it later does not wake it.
    PromoteHead();
    std::shared_ptr<Transfer> head = m_queue.front();
    if (IsSettled(*head)) {
        Complete(*head, ERROR_SUCCESS);
        return false;
    }
    m_pInFlight = head.get();
    lock.unlock();
    // The system call for the head, made without the lock (ppdev may take a
    // jiffy per call, and CancelIo must not wait for that). The driving role
    // keeps the descriptor open and the head in place meanwhile.
    const Step step = Attempt(*head);
    lock.lock();
    m_pInFlight = nullptr;
    switch (Judge(*head, step)) {
        case Verdict::Over:
            Complete(*head, head->error);
            return false;
        case Verdict::GoOn:
            return false;
        case Verdict::Waits:
            break;
    }
    return true;
}

// The one non-blocking system call a try makes.
inline Step Device::Attempt(TransferState& transfer) {
    const int fd = m_fd.Get();
    if (transfer.sent) {
        // Accepted already; the device says POLLOUT once it has gone out.
        const short revents = PollNow(fd, POLLOUT);
        Step step;
        step.outcome = (revents & (POLLHUP | POLLERR)) != 0 ? StepOutcome::PeerGone
                       : (revents & POLLOUT) != 0           ? StepOutcome::EndOfData
                                                            : StepOutcome::Blocked;
        return step;
    }
    auto* bytes = static_cast<uint8_t*>(transfer.buffer) + transfer.moved;
    const size_t left = transfer.length - transfer.moved;
    if (transfer.direction == TransferState::Direction::Read) {
        return TryRead(fd, m_strategy, bytes, left);
    }
    return TryWrite(fd, m_strategy, bytes, left);
}

inline Device::Verdict Device::Judge(TransferState& transfer, const Step& step) {
    auto over = [&](DWORD error) {
        transfer.error = error;
        return Verdict::Over;
    };
    auto peerGone = [&] {
        m_bPeerGone.store(true);
        // A read with a port time-out would end empty anyway: it ends now.
        // Any other transfer cannot be served.
        const bool readWithTimeout =
            transfer.direction == TransferState::Direction::Read && transfer.limitMs != 0;
        return over(readWithTimeout ? ERROR_SUCCESS : ERROR_DEVICE_NOT_CONNECTED);
    };
    if (transfer.cancelRequested) {
        transfer.moved += step.moved;
        return over(ERROR_OPERATION_ABORTED);
    }
    switch (step.outcome) {
        case StepOutcome::Moved:
            transfer.moved += step.moved;
            if (transfer.direction == TransferState::Direction::Read) {
                return over(ERROR_SUCCESS);  // a read ends as soon as anything arrived
            }
            if (transfer.moved == transfer.length && m_strategy.writeWaitsUntilSent) {
                transfer.sent = true;
            }
            // A write that keeps moving a little per call is still bound
            // by its port time-out.
            if (transfer.moved < transfer.length && transfer.deadline != Instant::max() &&
                Passed(transfer.deadline)) {
                return over(ERROR_SUCCESS);
            }
            return Verdict::GoOn;
        case StepOutcome::EndOfData:
            return over(ERROR_SUCCESS);
        case StepOutcome::PeerGone:
            return peerGone();
        case StepOutcome::Failed:
            m_dwCommErrors.fetch_or(CE_IOE);
            return over(step.error);
        case StepOutcome::Blocked:
            break;
    }
    if (transfer.hangUpSeen && m_strategy.pollShowsHangUp) {
        return peerGone();
    }
    if (Passed(transfer.deadline)) {
        // The port time-out ends a transfer successfully with what it moved.
        return over(ERROR_SUCCESS);
    }
    return Verdict::Waits;
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
    NoteQueueLocked();
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

void Device::StartTimeout(TransferState& transfer) {
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
    // A first try under way sees this when it comes to join the queue.
    m_nCancels.fetch_add(1);
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
    m_bClosed = true;   // before the cancel, so that nothing new is queued behind it
    NoteQueueLocked();  // and no first try begins
    CancelAllLocked();
    m_turn.wait(
        lock, [this] { return !m_bDriving && m_nUsers == 0 && m_queue.empty() && !AtOnceBusy(); });
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
    m_dwReadLimitMs.store(timeouts.ReadTotalTimeoutConstant);
    m_dwWriteLimitMs.store(timeouts.WriteTotalTimeoutConstant);
}

bool Device::PeerGone() {
    bool gone = false;
    WithFd([&](int fd) { gone = m_strategy.pollShowsHangUp && PollReportsHangUp(fd); });
    if (gone) {
        m_bPeerGone.store(true);
    }
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bPeerGone.load() || m_bClosed;
}

DWORD Device::TakeCommErrors() {
    const bool gone = PeerGone();
    DWORD errors = m_dwCommErrors.exchange(0);
    if (gone) {
        errors |= CE_DNS;
    }
    return errors;
}

}  // namespace zelp::linuxbk
