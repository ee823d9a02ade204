// Printers played by the test over real kernel objects, for the linux backend:
// the master side of a pty drains what the library writes (or stops reading,
// or hangs up, as a printer that is full or switched off), and a fake sysfs
// tree lists such ptys as USB printers.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "native/platform/linux/linux_platform.h"
#include "test_support.h"

namespace zelp::reliability {

using linuxbk::testing::Pty;
using linuxbk::testing::TempDir;

class PtyPrinter {
public:
    PtyPrinter();
    ~PtyPrinter();
    PtyPrinter(const PtyPrinter&) = delete;
    PtyPrinter& operator=(const PtyPrinter&) = delete;

    const std::string& Path() const { return m_pty.SlavePath(); }

    // A full printer: what the library writes piles up in the pty until the
    // kernel's buffer is full and the writes stall.
    void StopReading() { m_bReading.store(false); }
    void ResumeReading() { m_bReading.store(true); }
    // Switched off: the master side goes, and the pty with it.
    void HangUp();
    // Whenever the received bytes end with `trigger`, `reply` is sent.
    void AnswerWith(std::string trigger, std::string reply);
    // Sends bytes for the library to read.
    void Send(const std::string& bytes);

    std::string Received() const;
    // Waits until `count` bytes came in all, or a generous bound passed.
    bool WaitForBytes(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Waits until nothing has come for `quiet`, while reading.
    void WaitUntilQuiet(std::chrono::milliseconds quiet);

private:
    void Drain();

    Pty m_pty;
    std::atomic<bool> m_bReading{true};
    std::atomic<bool> m_bHangUp{false};
    std::atomic<bool> m_bGone{false};
    std::atomic<bool> m_bStop{false};
    std::atomic<int64_t> m_lastByteMs{0};
    mutable std::mutex m_lock;
    std::string m_received;
    std::string m_trigger;
    std::string m_reply;
    std::thread m_drain;
};

// sysfs and /dev trees in a temporary folder, with USB printers whose device
// nodes are links to ptys (or to nothing, for a printer that has just gone).
class FakeUsbTree {
public:
    // lpN of the given ids; a null serial means the printer has none.
    void AddPrinter(unsigned number, const char* vendorHex, const char* productHex,
                    const char* serial, const std::string& node);

    std::string SysRoot() const { return m_dir / "sys"; }
    std::string DevRoot() const { return m_dir / "dev"; }
    std::string operator/(const std::string& name) const { return m_dir / name; }

private:
    TempDir m_dir;
};

}  // namespace zelp::reliability
