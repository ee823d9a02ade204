#include "native/platform/linux/io_strategy.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>

#include "native/platform/linux/error_codes.h"

namespace zelp::linuxbk {

namespace {

// Readiness, zero read, EIO is hang-up, printer errors wait, write waits until sent, POLLHUP.
constexpr IoStrategy kRegularFile{Readiness::Poll, ZeroRead::Completes, false, false, false, false};
constexpr IoStrategy kStream{Readiness::Poll, ZeroRead::Completes, false, false, false, true};
constexpr IoStrategy kTerminal{Readiness::Poll, ZeroRead::PeerGone, true, false, false, true};
// ppdev polls only for interrupts, and a non-blocking write that moved
// nothing returns 0: both are driven by trying again after a pause.
constexpr IoStrategy kPpdev{
    Readiness::RetryAfterPause, ZeroRead::NothingYet, false, true, false, false};
// lp does not implement poll() at all: the file always reads as ready.
constexpr IoStrategy kLp{
    Readiness::RetryAfterPause, ZeroRead::NothingYet, false, true, false, false};
// usblp: a read of 0 bytes is a zero-length packet, a complete (empty) read.
constexpr IoStrategy kUsblp{Readiness::Poll, ZeroRead::Completes, false, false, true, true};

constexpr int kPauseMs = 1;

bool IsTransient(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

bool IsPeerLoss(int error) {
    return error == ENODEV || error == ENXIO || error == ESHUTDOWN;
}

// Sorts an errno that a read or write gave into what the transfer makes of it.
Step StepFromErrno(int error, const IoStrategy& strategy) {
    if (IsTransient(error)) {
        return {StepOutcome::Blocked};
    }
    if (strategy.printerErrorsMeanNotReady && (error == ENOSPC || error == EIO)) {
        return {StepOutcome::Blocked};
    }
    if ((strategy.eioMeansHangUp && error == EIO) || IsPeerLoss(error)) {
        return {StepOutcome::PeerGone};
    }
    return {StepOutcome::Failed, 0, ErrorFromIoErrno(error)};
}

Step StepFromZeroRead(ZeroRead meaning) {
    switch (meaning) {
        case ZeroRead::Completes:
            return {StepOutcome::EndOfData};
        case ZeroRead::PeerGone:
            return {StepOutcome::PeerGone};
        case ZeroRead::NothingYet:
            break;
    }
    return {StepOutcome::Blocked};
}

void DrainWakeFd(int wakeFd) {
    uint64_t count = 0;
    while (::read(wakeFd, &count, sizeof count) > 0) {
    }
}

}  // namespace

const IoStrategy& StrategyFor(DeviceKind kind) {
    switch (kind) {
        case DeviceKind::RegularFile:
            return kRegularFile;
        case DeviceKind::Terminal:
            return kTerminal;
        case DeviceKind::ParallelPpdev:
            return kPpdev;
        case DeviceKind::ParallelLp:
            return kLp;
        case DeviceKind::UsbPrinter:
            return kUsblp;
        case DeviceKind::Stream:
            break;
    }
    return kStream;
}

Step TryRead(int fd, const IoStrategy& strategy, void* buffer, size_t length) {
    const ssize_t n = ::read(fd, buffer, length);
    if (n > 0) {
        return {StepOutcome::Moved, static_cast<size_t>(n)};
    }
    if (n == 0) {
        return StepFromZeroRead(strategy.zeroRead);
    }
    return StepFromErrno(errno, strategy);
}

Step WriteStepFor(ssize_t written, int error, const IoStrategy& strategy) {
    if (written == 0) {
        // Nothing went out (ppdev says so with 0 rather than EAGAIN).
        return {StepOutcome::Blocked};
    }
    return StepFromErrno(error, strategy);
}

int PollTimeoutUntil(kobj::Instant until) {
    if (until == kobj::Instant::max()) {
        return -1;
    }
    const auto left = until - kobj::SteadyClock::now();
    if (left <= kobj::SteadyClock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

short WaitUntilReady(int fd, int wakeFd, const IoStrategy& strategy, short events,
                     kobj::Instant until) {
    int timeout = PollTimeoutUntil(until);
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {fd, events, 0}};
    nfds_t count = 2;
    if (strategy.readiness == Readiness::RetryAfterPause) {
        timeout = (timeout < 0) ? kPauseMs : std::min(timeout, kPauseMs);
        count = 1;
    }
    if (::poll(fds, count, timeout) <= 0) {
        return 0;
    }
    if (fds[0].revents != 0) {
        DrainWakeFd(wakeFd);
    }
    return count == 2 ? fds[1].revents : 0;
}

short PollNow(int fd, short events) {
    pollfd probe{fd, events, 0};
    if (::poll(&probe, 1, 0) < 0) {
        return 0;
    }
    return probe.revents;
}

bool PollReportsHangUp(int fd) {
    return (PollNow(fd, POLLIN | POLLOUT) & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace zelp::linuxbk
