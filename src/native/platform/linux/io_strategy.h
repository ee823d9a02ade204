// How each kind of device is driven without threads of our own: whether its
// readiness can be waited for with poll() or only found out by trying again
// after a short pause, and what its drivers mean by the odd results (a write
// of 0 bytes, a read of 0 bytes, EIO). The choice lives here and nowhere else.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include <cstddef>

#include "native/platform/common/kernel_objects.h"
#include "native/wintypes.h"

namespace zelp::linuxbk {

enum class DeviceKind {
    RegularFile,    // always ready; a read of 0 bytes is the end of the file
    Stream,         // FIFO, socket or a character device that polls properly
    Terminal,       // pty or serial tty, in raw mode
    ParallelPpdev,  // /dev/parportN (ppdev)
    ParallelLp,     // /dev/lpN (the lp driver)
    UsbPrinter,     // /dev/usb/lpN (usblp)
};

enum class Readiness {
    Poll,             // poll() tells when to try again
    RetryAfterPause,  // poll() says nothing useful: try again after a short pause
};

// What a read() of 0 bytes means on the device.
enum class ZeroRead {
    Completes,   // the read is over: end of file, or a zero-length packet
    PeerGone,    // a hung-up terminal reads 0 bytes forever
    NothingYet,  // no data for now
};

struct IoStrategy {
    Readiness readiness;
    ZeroRead zeroRead;
    // A terminal whose peer hung up answers reads and writes with EIO.
    bool eioMeansHangUp;
    // lp answers ENOSPC (paper out) and EIO (off line, fault) while the
    // printer is not ready, and ppdev answers EIO when a reverse-channel read
    // finds nothing to negotiate with; the transfer waits, up to its time-out.
    bool printerErrorsMeanNotReady;
    // usblp accepts the last block before it has gone out, and closing drops
    // blocks in flight: a write ends only when poll() reports POLLOUT.
    bool writeWaitsUntilSent;
    // A hung-up peer shows as POLLHUP (ttys, FIFOs, usblp).
    bool pollShowsHangUp;
};

const IoStrategy& StrategyFor(DeviceKind kind);

// The outcome of one non-blocking system call on behalf of a transfer.
enum class StepOutcome {
    Moved,      // some bytes moved (`moved`); the transfer may want more
    Blocked,    // nothing moved now; wait for readiness and try again
    EndOfData,  // the read is over with what it has
    PeerGone,   // the other side hung up
    Failed,     // a hard error (`error`)
};

struct Step {
    StepOutcome outcome;
    size_t moved = 0;
    DWORD error = ERROR_SUCCESS;
};

Step TryRead(int fd, const IoStrategy& strategy, void* buffer, size_t length);

// What a write(2) that moved nothing (`written` 0 or -1, with `error`) means.
Step WriteStepFor(ssize_t written, int error, const IoStrategy& strategy);

inline Step TryWrite(int fd, const IoStrategy& strategy, const void* buffer, size_t length) {
    const ssize_t n = ::write(fd, buffer, length);
    if (n > 0) {
        return {StepOutcome::Moved, static_cast<size_t>(n)};
    }
    return WriteStepFor(n, errno, strategy);
}

// Waits until the device looks ready for `events` (POLLIN or POLLOUT), the
// wake descriptor is signalled, or `until` passes. Returns the device's
// revents (0 when it was not the device that ended the wait). Devices whose
// readiness cannot be polled get a pause of about a millisecond instead.
short WaitUntilReady(int fd, int wakeFd, const IoStrategy& strategy, short events,
                     kobj::Instant until);

// The device's revents for `events` right now, without waiting.
short PollNow(int fd, short events);

// True when poll() reports the peer gone (hang-up, error, or a dead fd).
bool PollReportsHangUp(int fd);

// Milliseconds for poll() until `until`, rounded up; -1 for no limit.
int PollTimeoutUntil(kobj::Instant until);

}  // namespace zelp::linuxbk
