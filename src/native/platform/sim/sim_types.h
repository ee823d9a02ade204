// The vocabulary a test uses to script virtual devices and to read back what
// the port logic asked of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "native/wintypes.h"

namespace zelp::sim {

// How a virtual device answers one transfer (a write, a read or a device
// request). Bytes move when the transfer ends, from or into the caller's
// buffer, so a caller that lets a pending buffer go early is caught.
struct Behaviour {
    enum class Ending {
        Complete,  // success with the bytes (reads: once a reply is queued)
        Fail,      // the transfer fails with `error`
        Stall,     // nothing more moves until un-stalled, cancelled or timed out
        Unplug,    // the device is pulled out while the transfer is pending
    };

    Ending ending = Ending::Complete;
    bool bPending = false;        // answer FALSE with ERROR_IO_PENDING first
    DWORD delayMs = 0;            // from the start of a pending transfer to its ending
    DWORD error = ERROR_SUCCESS;  // for Fail
    // The most bytes one transfer moves (a short transfer). For Stall: the
    // bytes accepted before the device stops taking more. For a pending
    // Fail: the bytes moved before the failure.
    std::optional<DWORD> limit;

    // Done when the call returns (a read: when a reply is queued by then).
    static Behaviour AtOnce();
    // Pending; ends after `ms` (a read: no sooner, and once a reply is queued).
    static Behaviour After(DWORD ms);
    // Pending; ends only at the port time-out, a cancel or an un-stall.
    static Behaviour Never();
    // FALSE with `error` at once.
    static Behaviour FailAtOnce(DWORD error);
    // Pending, then fails with `error` after `ms`.
    static Behaviour FailAfter(DWORD error, DWORD ms);
    // Pending; the device is gone `ms` later.
    static Behaviour UnplugAfter(DWORD ms);

    // The same, moving at most `bytes` (for Stall: accepting `bytes` first).
    Behaviour& Short(DWORD bytes);
};

// One platform call as the sim saw it, recorded when the call returns.
struct SimCall {
    uint64_t seq = 0;     // order of return, over all threads
    uint64_t timeMs = 0;  // the sim clock when the call returned
    std::string op;       // the operation's name, e.g. "DeviceIoControl"
    HANDLE handle = nullptr;
    std::string path;  // the device (device handles and CreateFileA)
    DWORD code = 0;    // DeviceIoControl: the request code
    // IOCTL_IEEE1284_NEGOTIATE: the masks asked for.
    std::optional<ParNegotiationMask> masks;
    // Transfers: bytes asked; DeviceIoControl: the input's size; waits and
    // Sleep: milliseconds; SetupDi calls: the flags, member index or buffer size.
    DWORD length = 0;
    std::string data;             // WriteFile: the bytes handed over
    COMMTIMEOUTS timeouts{};      // SetCommTimeouts
    uint64_t result = 0;          // the returned value, widened
    DWORD error = ERROR_SUCCESS;  // the caller's last error after the call

    // A short line for order assertions: "WriteFile 5",
    // "DeviceIoControl IEEE1284_NEGOTIATE 0x0001", "SetCommTimeouts read 10 write 2000".
    std::string Summary() const;
};

// A conversation a device expects: the driver-visible requests (WriteFile,
// ReadFile, DeviceIoControl) in order, each with the answer to give. A request
// that differs from the next expected one is answered with ERROR_GEN_FAILURE
// and reported beside what was expected.
class Chat {
public:
    struct Step {
        std::string op;  // "WriteFile", "ReadFile" or "DeviceIoControl"
        DWORD code = 0;
        std::optional<unsigned short> mask;  // negotiation: both masks
        std::optional<std::string> bytes;    // WriteFile: the bytes expected
        std::string reply;                   // ReadFile: queued when the read comes
        Behaviour answer;

        std::string Describe() const;
    };

    Chat& Write(std::string_view bytes, Behaviour answer = Behaviour::AtOnce());
    // A read of any length; `reply` (if any) is queued when it comes.
    Chat& Read(std::string_view reply, Behaviour answer = Behaviour::AtOnce());
    Chat& Ioctl(DWORD code, Behaviour answer = Behaviour::AtOnce());
    Chat& Negotiate(unsigned short mask, Behaviour answer = Behaviour::AtOnce());
    // Device requests are answered by the device's standing script and not
    // compared: the chat is about the data alone.
    Chat& TransfersOnly();

    const std::vector<Step>& Steps() const { return m_steps; }
    bool IsTransfersOnly() const { return m_bTransfersOnly; }

private:
    std::vector<Step> m_steps;
    bool m_bTransfersOnly = false;
};

// The bytes a USB printer is sent to ask for its identity.
inline constexpr std::string_view kIdentityCommand{
    "\x1d"
    "eREADVARI",
    10};

// Bytes as a readable C-like literal, for reports: "7a4711\r" -> "7a4711\x0d".
std::string DescribeBytes(std::string_view bytes);

// The name of a device request code, e.g. "IEEE1284_NEGOTIATE".
std::string IoctlName(DWORD code);

}  // namespace zelp::sim
