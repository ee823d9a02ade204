// Real kernel objects for the backend tests: temporary folders, ptys whose
// master side the test plays, and records with their events.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "native/platform/linux/device.h"
#include "native/platform/linux/linux_platform.h"

namespace zelp::linuxbk::testing {

using namespace std::chrono_literals;

// A fresh folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_strPath; }
    std::string operator/(const std::string& name) const { return m_strPath + "/" + name; }

private:
    std::string m_strPath;
};

// A pseudo-terminal: the backend opens the slave, the test plays the master.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& SlavePath() const { return m_strSlave; }
    int Master() const { return m_master; }

    void Write(const std::vector<uint8_t>& bytes);
    void Write(const std::string& text) { Write(std::vector<uint8_t>(text.begin(), text.end())); }
    // Reads until `count` bytes came or `limit` passed (a bound against hangs).
    std::vector<uint8_t> Read(size_t count, std::chrono::milliseconds limit = 10s);
    // Whatever is there right now.
    std::vector<uint8_t> ReadAvailable();
    // Hangs up, as a printer that is switched off.
    void CloseMaster();

private:
    int m_master = -1;
    std::string m_strSlave;
};

// An OVERLAPPED record with its own manual-reset event.
class Overlapped {
public:
    explicit Overlapped(PlatformOps& os);
    ~Overlapped();
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;

    OVERLAPPED* operator&() { return &m_record; }
    OVERLAPPED& Record() { return m_record; }
    HANDLE Event() const { return m_record.hEvent; }
    bool Signalled() { return m_os.WaitForSingleObject(m_record.hEvent, 0) == WAIT_OBJECT_0; }

private:
    PlatformOps& m_os;
    OVERLAPPED m_record{};
};

// Descriptors this process has open (from /proc/self/fd).
size_t CountOpenFds();

std::vector<uint8_t> Pattern(size_t size, uint8_t seed);

// A terminal's node opened as the backend opens one: non-blocking, raw.
int OpenRawTerminal(const std::string& path);

// What WriteFile asks of a device for `data` with `record` (no event).
TransferRequest WriteRequest(const std::vector<uint8_t>& data, OVERLAPPED& record);

// Opens a device the way the port logic does: read-write, exclusive, overlapped.
HANDLE OpenDevice(PlatformOps& os, const std::string& path);

// Sets the port time-outs the parallel logic uses, or any others.
void SetTotalTimeouts(PlatformOps& os, HANDLE device, DWORD readMs, DWORD writeMs);

double MillisecondsSince(std::chrono::steady_clock::time_point start);

// Every path of a device-information set, read the way discovery reads them
// (each failed step is a test failure).
std::vector<std::string> InterfacePathsOf(PlatformOps& os, HDEVINFO set);

}  // namespace zelp::linuxbk::testing
