// The transfer engine: when a pending transfer ends, what it moves, and the
// waits that drive it. Nothing runs on a thread of its own: transfers move
// when some platform call looks at the clock, so a caller that never waits
// still sees them end at the right moment of sim time.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "native/platform/sim/sim_state.h"

namespace zelp::sim::detail {

namespace {

constexpr uint64_t kNever = SimClock::kNever;
constexpr ULONG_PTR kFailedStatus = 0xE0000000u;

// How long an endless wait in virtual time sits before it says so: such a
// wait needs another thread to act, and a test that forgot that would hang.
constexpr auto kEndlessWaitNotice = std::chrono::seconds(5);

// A held device freezes its data transfers; its device requests still answer,
// so that a port can get as far as the transfer a test wants in flight.
bool IsFrozen(const Transfer& transfer) {
    return transfer.kind != TransferKind::Ioctl && transfer.handle->device->bFrozen;
}

}  // namespace

ULONG_PTR EncodeStatus(DWORD error) {
    return error == ERROR_SUCCESS ? 0 : (kFailedStatus | error);
}

DWORD DecodeStatus(ULONG_PTR internal) {
    if (internal == 0) {
        return ERROR_SUCCESS;
    }
    if ((internal & 0xF0000000u) == kFailedStatus) {
        return static_cast<DWORD>(internal & 0x0FFFFFFFu);
    }
    return ERROR_GEN_FAILURE;
}

// --- Scheduling ----------------------------------------------------------------

bool State::IsHead(const Transfer& transfer) const {
    if (transfer.kind == TransferKind::Ioctl) {
        return true;
    }
    for (const auto& other : pending) {
        if (other.get() == &transfer) {
            return true;
        }
        if (other->handle == transfer.handle && other->kind == transfer.kind) {
            return false;
        }
    }
    return true;  // not queued yet: nothing is ahead of it
}

uint64_t State::EndingDue(const Transfer& transfer) const {
    const Behaviour& b = transfer.behaviour;
    const uint64_t after = LaterBy(transfer.startMs, b.delayMs);
    switch (b.ending) {
        case Behaviour::Ending::Complete:
            if (transfer.kind != TransferKind::Read) {
                return after;
            }
            if (transfer.handle->device->replies.empty()) {
                return kNever;
            }
            return std::max(after, transfer.handle->device->replies.front().availableAt);
        case Behaviour::Ending::Fail:
        case Behaviour::Ending::Unplug:
            return after;
        case Behaviour::Ending::Stall:
            return kNever;
    }
    return kNever;
}

uint64_t State::TimeoutDue(const Transfer& transfer) const {
    const COMMTIMEOUTS& timeouts = transfer.handle->timeouts;
    DWORD total = 0;
    if (transfer.kind == TransferKind::Read) {
        total = timeouts.ReadTotalTimeoutConstant;
    } else if (transfer.kind == TransferKind::Write) {
        total = timeouts.WriteTotalTimeoutConstant;
    }
    return total == 0 ? kNever : LaterBy(transfer.startMs, total);
}

uint64_t State::DueOf(const Transfer& transfer) const {
    if (transfer.bCancelled) {
        return transfer.cancelDueMs;
    }
    if (IsFrozen(transfer) || transfer.startMs == kNever) {
        return kNever;
    }
    return std::min(EndingDue(transfer), TimeoutDue(transfer));
}

uint64_t State::NextDue() const {
    uint64_t next = kNever;
    for (const auto& transfer : pending) {
        next = std::min(next, DueOf(*transfer));
    }
    return next;
}

bool State::CanFinishAtOnce(const Transfer& transfer) const {
    const Behaviour& b = transfer.behaviour;
    if (b.bPending || b.ending != Behaviour::Ending::Complete || IsFrozen(transfer) ||
        !IsHead(transfer)) {
        return false;
    }
    if (transfer.kind != TransferKind::Read) {
        return true;
    }
    const auto& replies = transfer.handle->device->replies;
    return !replies.empty() && replies.front().availableAt <= clock.Now();
}

void State::Start(Transfer& transfer, uint64_t at) {
    transfer.startMs = at;
    const Behaviour& b = transfer.behaviour;
    if (transfer.kind == TransferKind::Write && b.ending == Behaviour::Ending::Stall && b.limit) {
        transfer.moved = MoveWritten(transfer, std::min(*b.limit, transfer.length), at);
    }
}

void State::StartNextAfter(const Transfer& transfer, uint64_t at) {
    if (transfer.kind == TransferKind::Ioctl) {
        return;
    }
    for (const auto& other : pending) {
        if (other->handle == transfer.handle && other->kind == transfer.kind) {
            if (other->startMs == kNever) {
                Start(*other, at);
            }
            return;
        }
    }
}

// --- Moving bytes --------------------------------------------------------------

DWORD State::MoveWritten(Transfer& transfer, DWORD upTo, uint64_t at) {
    if (upTo <= transfer.moved) {
        return transfer.moved;
    }
    VirtualDevice& device = *transfer.handle->device;
    const std::string chunk(static_cast<const char*>(transfer.source) + transfer.moved,
                            upTo - transfer.moved);
    device.received += chunk;
    for (const Responder& responder : device.responders) {
        if (chunk.find(responder.trigger) != std::string::npos) {
            QueueReplies(device, responder.replies, LaterBy(at, responder.delayMs));
        }
    }
    return upTo;
}

DWORD State::MoveRead(Transfer& transfer) {
    auto& replies = transfer.handle->device->replies;
    if (replies.empty()) {
        return 0;
    }
    std::string& front = replies.front().bytes;
    DWORD n = std::min<DWORD>(transfer.length, static_cast<DWORD>(front.size()));
    n = std::min(n, transfer.behaviour.limit.value_or(n));
    if (n > 0) {
        std::memcpy(transfer.buffer, front.data(), n);
    }
    front.erase(0, n);
    if (front.empty()) {
        replies.pop_front();
    }
    return n;
}

DWORD State::MoveIoctlOutput(Transfer& transfer) {
    const DeviceHandle& handle = *transfer.handle;
    std::string output;
    if (transfer.code == IOCTL_PAR_QUERY_INFORMATION) {
        const BYTE gone = PARALLEL_POWER_OFF | PARALLEL_NOT_CONNECTED;
        output.assign(1, static_cast<char>(handle.Alive() ? handle.device->status : gone));
    } else if (transfer.code == IOCTL_PAR_GET_DEFAULT_MODES) {
        const ParNegotiationMask modes{kIeee1284MaskNibble, kIeee1284MaskCentronics};
        output.assign(reinterpret_cast<const char*>(&modes), sizeof(modes));
    } else if (transfer.code == IOCTL_IEEE1284_NEGOTIATE) {
        output = transfer.input;  // what was asked for is what is granted
    }
    const DWORD n = std::min<DWORD>(transfer.length, static_cast<DWORD>(output.size()));
    if (n > 0) {
        std::memcpy(transfer.buffer, output.data(), n);
    }
    return n;
}

DWORD State::MoveBytes(Transfer& transfer, uint64_t at) {
    switch (transfer.kind) {
        case TransferKind::Write: {
            const DWORD upTo =
                std::min(transfer.length, transfer.behaviour.limit.value_or(transfer.length));
            return MoveWritten(transfer, upTo, at);
        }
        case TransferKind::Read:
            return MoveRead(transfer);
        case TransferKind::Ioctl:
            return MoveIoctlOutput(transfer);
    }
    return 0;
}

// --- Endings -------------------------------------------------------------------

void State::Finish(Transfer& transfer, DWORD error, DWORD moved, uint64_t at) {
    auto it = std::find_if(pending.begin(), pending.end(),
                           [&](const auto& p) { return p.get() == &transfer; });
    if (it == pending.end()) {
        return;
    }
    const std::shared_ptr<Transfer> keep = *it;
    pending.erase(it);
    transfer.moved = moved;
    transfer.record->InternalHigh = moved;
    transfer.record->Internal = EncodeStatus(error);
    if (transfer.hEvent != nullptr) {
        if (auto event = handles.FindAs<kobj::Event>(transfer.hEvent)) {
            event->Set();
        }
    }
    StartNextAfter(transfer, at);
    changed.notify_all();
}

void State::End(Transfer& transfer, uint64_t at) {
    const Behaviour& b = transfer.behaviour;
    switch (b.ending) {
        case Behaviour::Ending::Complete:
            Finish(transfer, ERROR_SUCCESS, MoveBytes(transfer, at), at);
            break;
        case Behaviour::Ending::Fail:
            // A failure given a limit moves that much first, as a device
            // that breaks off part-way does.
            Finish(transfer, b.error, b.limit ? MoveBytes(transfer, at) : transfer.moved, at);
            break;
        case Behaviour::Ending::Unplug:
            UnplugDevice(*transfer.handle->device, at);
            break;
        case Behaviour::Ending::Stall:
            break;
    }
}

void State::Complete(Transfer& transfer, uint64_t at) {
    if (transfer.bCancelled) {
        Finish(transfer, ERROR_OPERATION_ABORTED, transfer.moved, at);
    } else if (EndingDue(transfer) <= TimeoutDue(transfer)) {
        End(transfer, at);
    } else {
        // The port's total time-out: a success with whatever moved so far.
        Finish(transfer, ERROR_SUCCESS, transfer.moved, at);
    }
}

void State::Progress() {
    const uint64_t now = clock.Now();
    for (;;) {
        std::shared_ptr<Transfer> first;
        uint64_t firstDue = kNever;
        for (const auto& transfer : pending) {
            const uint64_t due = DueOf(*transfer);
            if (due <= now && due < firstDue) {
                first = transfer;
                firstDue = due;
            }
        }
        if (!first) {
            return;
        }
        // Ending at its own due time keeps the transfers queued behind it exact.
        Complete(*first, firstDue);
    }
}

// --- Outside events --------------------------------------------------------------

namespace {

template <class Match>
std::vector<std::shared_ptr<Transfer>> Select(const std::vector<std::shared_ptr<Transfer>>& pending,
                                              Match match) {
    std::vector<std::shared_ptr<Transfer>> chosen;
    for (const auto& transfer : pending) {
        if (match(*transfer)) {
            chosen.push_back(transfer);
        }
    }
    return chosen;
}

}  // namespace

void State::CancelTransfers(const DeviceHandle& handle, uint64_t at) {
    const auto chosen = Select(
        pending, [&](const Transfer& t) { return t.handle.get() == &handle && !t.bCancelled; });
    const DWORD latency = handle.device->cancelLatencyMs;
    for (const auto& transfer : chosen) {
        if (latency == 0) {
            Finish(*transfer, ERROR_OPERATION_ABORTED, transfer->moved, at);
        } else {
            transfer->bCancelled = true;
            transfer->cancelDueMs = LaterBy(at, latency);
        }
    }
    changed.notify_all();
}

void State::UnplugDevice(VirtualDevice& device, uint64_t at) {
    device.bPresent = false;
    const auto chosen = Select(pending, [&](const Transfer& t) {
        return t.handle->device.get() == &device && !t.bCancelled;
    });
    for (const auto& transfer : chosen) {
        Finish(*transfer, ERROR_DEVICE_NOT_CONNECTED, transfer->moved, at);
    }
    changed.notify_all();
}

void State::Unstall(VirtualDevice& device, uint64_t at) {
    for (const auto& transfer : pending) {
        Behaviour& b = transfer->behaviour;
        if (transfer->handle->device.get() == &device && b.ending == Behaviour::Ending::Stall) {
            b = Behaviour::AtOnce();
            if (transfer->startMs != kNever) {
                transfer->startMs = at;
            }
        }
    }
    Progress();
    changed.notify_all();
}

void State::Thaw(VirtualDevice& device, uint64_t at) {
    device.bFrozen = false;
    // Time stood still for the device: its time-outs run from now on.
    for (const auto& transfer : pending) {
        if (transfer->handle->device.get() == &device && transfer->startMs != kNever) {
            transfer->startMs = at;
        }
    }
    Progress();
    changed.notify_all();
}

// --- Issue and wait ----------------------------------------------------------------

BOOL State::Issue(std::unique_lock<std::mutex>& guard, std::shared_ptr<Transfer> transfer,
                  LPDWORD count) {
    const Behaviour& b = transfer->behaviour;
    if (b.ending == Behaviour::Ending::Fail && !b.bPending) {
        kobj::SetLastErrorCode(b.error);
        return FALSE;
    }
    OVERLAPPED local{};
    const bool bSynchronous = transfer->record == nullptr;
    if (bSynchronous) {
        transfer->record = &local;
    }
    transfer->hEvent = transfer->record->hEvent;
    if (auto event = handles.FindAs<kobj::Event>(transfer->hEvent)) {
        event->Reset();
    }
    const uint64_t now = clock.Now();
    if (CanFinishAtOnce(*transfer)) {
        transfer->startMs = now;
        pending.push_back(transfer);
        Finish(*transfer, ERROR_SUCCESS, MoveBytes(*transfer, now), now);
        if (count != nullptr) {
            *count = transfer->moved;
        }
        return TRUE;
    }
    transfer->record->Internal = STATUS_PENDING;
    transfer->record->InternalHigh = 0;
    pending.push_back(transfer);
    if (IsHead(*transfer)) {
        Start(*transfer, now);
    }
    changed.notify_all();
    if (!bSynchronous) {
        kobj::SetLastErrorCode(ERROR_IO_PENDING);
        return FALSE;
    }
    WaitFor(
        guard, kNever, [&] { return !IsPending(&local); }, [&] { return RecordFrozen(&local); });
    const DWORD error = DecodeStatus(local.Internal);
    if (count != nullptr) {
        *count = static_cast<DWORD>(local.InternalHigh);
    }
    if (error != ERROR_SUCCESS) {
        kobj::SetLastErrorCode(error);
        return FALSE;
    }
    return TRUE;
}

bool State::WaitFor(std::unique_lock<std::mutex>& guard, uint64_t deadline,
                    const std::function<bool()>& done, const std::function<bool()>& frozen) {
    bool bNoticed = false;
    for (;;) {
        Progress();
        if (done()) {
            return true;
        }
        if (clock.Now() >= deadline) {
            return false;
        }
        const uint64_t wake = std::min(NextDue(), deadline);
        if (!clock.IsVirtual()) {
            if (wake == kNever) {
                changed.wait(guard);
            } else {
                changed.wait_until(guard, clock.RealInstant(wake));
            }
        } else if (wake != kNever && !frozen()) {
            clock.AdvanceTo(wake);
        } else if (changed.wait_for(guard, kEndlessWaitNotice) == std::cv_status::timeout &&
                   !bNoticed) {
            bNoticed = true;
            std::fprintf(stderr,
                         "sim: a wait on virtual time has nothing to wait for; "
                         "it needs another thread to act\n");
        }
    }
}

bool State::IsPending(const OVERLAPPED* record) const {
    return std::any_of(pending.begin(), pending.end(),
                       [&](const auto& t) { return t->record == record; });
}

bool State::AwaitsFrozen(HANDLE event) const {
    return std::any_of(pending.begin(), pending.end(), [&](const auto& t) {
        return t->hEvent == event && !t->bCancelled && IsFrozen(*t);
    });
}

bool State::RecordFrozen(const OVERLAPPED* record) const {
    return std::any_of(pending.begin(), pending.end(), [&](const auto& t) {
        return t->record == record && !t->bCancelled && IsFrozen(*t);
    });
}

}  // namespace zelp::sim::detail
