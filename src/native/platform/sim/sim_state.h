// Inside the sim: the virtual devices, their handles and pending transfers,
// the call record, and the engine that moves transfers along the sim clock.
// Only the sim's own sources include this.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "native/platform/common/kernel_objects.h"
#include "native/platform/sim/sim_clock.h"
#include "native/platform/sim/sim_types.h"

namespace zelp::sim::detail {

enum class DeviceKind { Parallel, Usb };

// Bytes the device will send; one read takes from the front one at most.
struct Reply {
    std::string bytes;
    uint64_t availableAt = 0;
};

// Replies the device queues when a write brings `trigger`.
struct Responder {
    std::string trigger;
    std::vector<std::string> replies;
    DWORD delayMs = 0;
};

// A scripted answer to device requests with this code (and these masks).
struct IoctlRule {
    DWORD code = 0;
    std::optional<unsigned short> mask;
    Behaviour behaviour;
    int uses = -1;  // how many requests it answers; -1 for all
};

struct ChatRun {
    Chat chat;
    size_t next = 0;
    std::vector<std::string> mismatches;
};

struct VirtualDevice {
    std::string path;
    DeviceKind kind = DeviceKind::Parallel;
    bool bPresent = true;
    bool bRemoved = false;  // forgotten by a reset; its handles are dead
    bool bHeldElsewhere = false;
    bool bFrozen = false;     // transfers neither progress nor time out
    uint64_t generation = 1;  // counts plug-ins: handles of an earlier one are dead
    DWORD openError = ERROR_SUCCESS;
    Behaviour writes;
    Behaviour reads;
    std::vector<IoctlRule> ioctlRules;
    BYTE status = PARALLEL_SELECTED;
    DWORD commErrors = 0;
    DWORD clearCommFailure = ERROR_SUCCESS;
    DWORD cancelLatencyMs = 0;
    std::deque<Reply> replies;
    std::string received;
    std::vector<Responder> responders;
    std::optional<ChatRun> chat;
    size_t nOpenHandles = 0;         // every generation
    size_t nOpenThisGeneration = 0;  // the ones that make an open exclusive
};

struct DeviceHandle : kobj::KernelObject {
    std::shared_ptr<VirtualDevice> device;
    uint64_t generation = 0;
    HANDLE handle = nullptr;
    COMMTIMEOUTS timeouts{};

    bool Alive() const {
        return device->bPresent && !device->bRemoved && generation == device->generation;
    }
};

enum class TransferKind { Read, Write, Ioctl };

struct Transfer {
    TransferKind kind = TransferKind::Write;
    std::shared_ptr<DeviceHandle> handle;
    OVERLAPPED* record = nullptr;
    HANDLE hEvent = nullptr;
    void* buffer = nullptr;        // reads: where the bytes land; ioctls: the output
    const void* source = nullptr;  // writes: the caller's bytes
    DWORD length = 0;              // bytes asked; ioctls: the output's size
    DWORD code = 0;                // ioctls
    std::string input;             // ioctls: a copy of the request's input
    Behaviour behaviour;
    uint64_t startMs = SimClock::kNever;  // when it reached the head of its queue
    DWORD moved = 0;
    bool bCancelled = false;
    uint64_t cancelDueMs = SimClock::kNever;
};

struct Fault {
    std::string op;
    int remaining = 1;  // calls of `op` until it fires
    DWORD error = ERROR_SUCCESS;
};

class State {
public:
    explicit State(TimeMode mode) : clock(mode) {}

    std::mutex lock;
    std::condition_variable changed;
    SimClock clock;
    kobj::HandleTable handles;

    std::map<std::string, std::shared_ptr<VirtualDevice>, std::less<>> devices;
    std::vector<std::shared_ptr<VirtualDevice>> usbOrder;
    std::vector<std::shared_ptr<Transfer>> pending;  // in the order issued
    size_t nDeviceHandles = 0;
    size_t nEvents = 0;
    size_t nMutexes = 0;

    std::map<uintptr_t, std::vector<std::string>> deviceInfoSets;
    uintptr_t nextDeviceInfoSet = 0x7000;
    std::set<void*> allocations;

    std::deque<SimCall> calls;
    uint64_t nextSeq = 1;
    std::vector<Fault> faults;
    std::map<DWORD, DWORD> enumFaults;  // member index -> error
    DWORD versionMajor = 5;
    DWORD platformId = VER_PLATFORM_WIN32_NT;

    // --- Devices and handles (sim_state.cpp) ---
    std::shared_ptr<VirtualDevice> FindDevice(std::string_view path) const;
    std::shared_ptr<DeviceHandle> FindDeviceHandle(HANDLE handle) const;
    // The device a test names; a missing one is an error in the test itself.
    VirtualDevice& Device(std::string_view path) const;
    void Note(SimCall call, uint64_t result);
    bool TakeFault(std::string_view op, DWORD& error);
    // The answer of the device's chat to a driver-visible request, if it has one.
    std::optional<Behaviour> ChatAnswer(VirtualDevice& device, const SimCall& call);
    std::optional<Behaviour> RuleAnswer(VirtualDevice& device, const SimCall& call);
    void QueueReplies(VirtualDevice& device, const std::vector<std::string>& replies, uint64_t at);

    // --- The engine (sim_engine.cpp); all with `lock` held ---
    // Starts a transfer: done at once (TRUE), failed at once, or pending.
    BOOL Issue(std::unique_lock<std::mutex>& guard, std::shared_ptr<Transfer> transfer,
               LPDWORD count);
    // Completes every transfer whose ending is due on the clock.
    void Progress();
    // Waits until `done` or the deadline, driving transfers (and, in virtual
    // time, moving the clock). `frozen` says the awaited transfer cannot move
    // until someone else acts: then even virtual time waits for real.
    bool WaitFor(std::unique_lock<std::mutex>& guard, uint64_t deadline,
                 const std::function<bool()>& done, const std::function<bool()>& frozen);
    void CancelTransfers(const DeviceHandle& handle, uint64_t at);
    void UnplugDevice(VirtualDevice& device, uint64_t at);
    void Unstall(VirtualDevice& device, uint64_t at);
    void Thaw(VirtualDevice& device, uint64_t at);
    bool IsPending(const OVERLAPPED* record) const;
    bool AwaitsFrozen(HANDLE event) const;
    bool RecordFrozen(const OVERLAPPED* record) const;

private:
    bool IsHead(const Transfer& transfer) const;
    uint64_t EndingDue(const Transfer& transfer) const;
    uint64_t TimeoutDue(const Transfer& transfer) const;
    uint64_t DueOf(const Transfer& transfer) const;
    uint64_t NextDue() const;
    bool CanFinishAtOnce(const Transfer& transfer) const;
    void Start(Transfer& transfer, uint64_t at);
    void Complete(Transfer& transfer, uint64_t at);
    void End(Transfer& transfer, uint64_t at);
    DWORD MoveBytes(Transfer& transfer, uint64_t at);
    DWORD MoveWritten(Transfer& transfer, DWORD upTo, uint64_t at);
    DWORD MoveRead(Transfer& transfer);
    DWORD MoveIoctlOutput(Transfer& transfer);
    void Finish(Transfer& transfer, DWORD error, DWORD moved, uint64_t at);
    void StartNextAfter(const Transfer& transfer, uint64_t at);
};

// The status word a finished transfer leaves in OVERLAPPED::Internal.
ULONG_PTR EncodeStatus(DWORD error);
DWORD DecodeStatus(ULONG_PTR internal);

}  // namespace zelp::sim::detail
