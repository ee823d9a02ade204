// The sim backend: virtual printers in memory, for tests and the demo.
//
// A test makes a SimPlatform (virtual time by default), puts it in force with
// ScopedPlatform, adds devices by path and scripts how they answer; afterwards
// it reads back every platform call in order and the bytes each device got.
//
// Test-facing methods that name a device throw std::invalid_argument when no
// device has that path: a typing slip in a test must not pass silently.
#pragma once

#include <chrono>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "native/platform.h"
#include "native/platform/sim/sim_clock.h"
#include "native/platform/sim/sim_types.h"

namespace zelp::sim {

namespace detail {
class State;
}

class SimPlatform final : public PlatformOps {
public:
    explicit SimPlatform(TimeMode mode = TimeMode::Virtual);
    ~SimPlatform() override;

    SimPlatform(const SimPlatform&) = delete;
    SimPlatform& operator=(const SimPlatform&) = delete;

    // --- Devices -----------------------------------------------------------------

    // A parallel port that CreateFileA(path) opens, on line. False when the
    // path is taken.
    bool AddParallelPort(std::string_view path);
    // A present USB printer interface with this device path; the enumeration
    // lists the present ones in the order they were added.
    bool AddUsbPrinter(std::string_view path);
    // Forgets every device, script, fault and recorded call; handles still
    // open stay valid but their devices are gone.
    void Reset();

    // Pulled out: pending and later transfers fail with
    // ERROR_DEVICE_NOT_CONNECTED, opens fail with ERROR_FILE_NOT_FOUND, the
    // status reads PARALLEL_POWER_OFF | PARALLEL_NOT_CONNECTED and the comm
    // errors CE_DNS. Plugging in makes a fresh device: old handles stay dead.
    void Unplug(std::string_view path);
    void PlugIn(std::string_view path);
    // Another program has it open: opens fail with ERROR_SHARING_VIOLATION.
    void HoldOpenElsewhere(std::string_view path, bool held);
    // Opens fail with `error` (ERROR_SUCCESS to open again).
    void FailOpen(std::string_view path, DWORD error);

    // --- Scripts -------------------------------------------------------------------

    // The standing answer to every write / read (see Behaviour).
    void SetWrites(std::string_view path, Behaviour behaviour);
    void SetReads(std::string_view path, Behaviour behaviour);
    // Stalled transfers of the device go on: writes move all their bytes now.
    void Unstall(std::string_view path);
    // Freezes the device's reads and writes: pending ones neither progress nor
    // time out, and waits for them block for real even on virtual time, until
    // Release, a cancel or an unplug. Device requests still answer. For tests
    // that need a transfer to stay in flight while another thread acts.
    void Hold(std::string_view path);
    void Release(std::string_view path);
    // Bytes the device sends, `afterMs` from now; one read takes from one reply.
    void QueueReply(std::string_view path, std::string_view bytes, DWORD afterMs = 0);
    // Whenever a write brings `trigger`, the replies are queued `delayMs` later.
    void Respond(std::string_view path, std::string_view trigger, std::vector<std::string> replies,
                 DWORD delayMs = 0);
    // Respond to the identity command (kIdentityCommand), e.g. {"7a47", "11\r"}.
    void AnswerIdentity(std::string_view path, std::vector<std::string> replies, DWORD delayMs = 0);
    // The status byte of IOCTL_PAR_QUERY_INFORMATION (default PARALLEL_SELECTED).
    void SetParallelStatus(std::string_view path, BYTE status);
    // The error word of ClearCommError, and making the call itself fail.
    void SetCommErrors(std::string_view path, DWORD errors);
    void FailClearCommError(std::string_view path, DWORD error);
    // Answers device requests with `code` (and, for negotiations, this read
    // mask) by `behaviour`, for the next `uses` of them (-1: all). The rule
    // given last wins; without a rule a request succeeds at once.
    void ScriptIoctl(std::string_view path, DWORD code, Behaviour behaviour, int uses = -1,
                     std::optional<unsigned short> mask = std::nullopt);
    // A cancel (CancelIo, or closing the handle) ends pending transfers this
    // late instead of at once: the completion writes into the record then.
    void SetCancelLatency(std::string_view path, DWORD ms);

    // The device expects exactly this conversation from now on.
    void SetChat(std::string_view path, Chat chat);
    // Every step taken and nothing unexpected came.
    bool ChatFinished(std::string_view path) const;
    // The mismatches and the steps not taken, one a line; empty when finished.
    std::string ChatReport(std::string_view path) const;

    // What GetVersionExA reports (default: major 5, VER_PLATFORM_WIN32_NT).
    void SetVersion(DWORD major, DWORD platformId);
    // The `nth` next call of `op` fails with `error`. Ops: CreateFileA,
    // CreateEventA, CreateMutexA, LocalAlloc, SetupDiGetClassDevsA, and
    // SetupDiGetDeviceInterfaceDetailA (counting only the calls with a buffer).
    void FailCall(std::string_view op, DWORD error, int nth = 1);
    // SetupDiEnumDeviceInterfaces fails with `error` at this member index,
    // until it is given ERROR_SUCCESS for that index.
    void FailEnumAt(DWORD memberIndex, DWORD error);

    // --- What happened ---------------------------------------------------------------

    std::vector<SimCall> Calls() const;
    // The calls on one device (its handles, and the opens of its path),
    // only those of `ops` unless that is empty.
    std::vector<SimCall> Calls(std::string_view path,
                               std::initializer_list<std::string_view> ops = {}) const;
    // What the driver saw: DeviceIoControl, WriteFile and ReadFile on the device.
    std::vector<SimCall> Requests(std::string_view path) const;
    std::vector<std::string> RequestSummaries(std::string_view path) const;
    void ClearCalls();
    // Blocks (real time) until `count` calls of `op` on the device have been
    // recorded; false after `limit`. For tests that hand work to another thread.
    bool WaitForCalls(std::string_view path, std::string_view op, size_t count,
                      std::chrono::milliseconds limit);

    // Every byte the device took, in order.
    std::string Received(std::string_view path) const;
    std::string TakeReceived(std::string_view path);

    // Open handles: devices, events and mutexes together, and by kind.
    size_t OpenHandleCount() const;
    size_t OpenDeviceHandleCount() const;
    size_t OpenEventCount() const;
    size_t OpenMutexCount() const;
    // Handles open on one device, those of earlier plug-ins included.
    size_t OpenCount(std::string_view path) const;
    size_t OpenDeviceInfoSetCount() const;
    size_t LocalAllocationCount() const;

    // The sim clock in milliseconds; virtual time moves forward by Advance,
    // ending the transfers that fall due on the way.
    uint64_t NowMs() const;
    void Advance(DWORD ms);

    // --- PlatformOps ------------------------------------------------------------------

    HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override;
    BOOL CloseHandle(HANDLE handle) override;
    BOOL ReadFile(HANDLE device, LPVOID buffer, DWORD length, LPDWORD count,
                  LPOVERLAPPED overlapped) override;
    BOOL WriteFile(HANDLE device, LPCVOID buffer, DWORD length, LPDWORD count,
                   LPOVERLAPPED overlapped) override;
    BOOL GetOverlappedResult(HANDLE device, LPOVERLAPPED overlapped, LPDWORD count,
                             BOOL wait) override;
    DWORD GetLastError() override;
    BOOL CancelIo(HANDLE device) override;
    BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) override;
    BOOL SetCommTimeouts(HANDLE device, LPCOMMTIMEOUTS timeouts) override;
    BOOL ClearCommError(HANDLE device, LPDWORD errors, LPCOMSTAT status) override;
    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                        LPCSTR name) override;
    BOOL SetEvent(HANDLE event) override;
    DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override;
    HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name) override;
    BOOL ReleaseMutex(HANDLE mutex) override;
    void Sleep(DWORD milliseconds) override;
    BOOL GetVersionExA(LPOSVERSIONINFOA info) override;
    int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH src, int srcLength, LPSTR dst,
                            int dstSize, LPCCH defaultChar, LPBOOL usedDefault) override;
    HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) override;
    HLOCAL LocalFree(HLOCAL memory) override;
    HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator, HWND parent,
                                  DWORD flags) override;
    BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* classGuid,
                                     DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA data) override;
    BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                          PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                          DWORD detailSize, PDWORD required,
                                          PSP_DEVINFO_DATA device) override;
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override;

private:
    bool AddDevice(std::string_view path, int kind);
    HANDLE OpenDevice(std::string_view path, SimCall& call);
    DWORD WaitForEvent(HANDLE handle, DWORD milliseconds);
    DWORD WaitForMutex(HANDLE handle, DWORD milliseconds);

    std::unique_ptr<detail::State> m_state;
};

// The real-time instance that the sim copy of the library runs on (the Java
// tests and the demo script it through the test-only control class).
SimPlatform& DefaultSim();

}  // namespace zelp::sim
