// The test-facing side of the sim: adding and scripting devices, and reading
// back what happened.
#include "native/platform/sim/sim_platform.h"

#include <algorithm>

#include "native/platform/sim/sim_state.h"

namespace zelp::sim {

using detail::DeviceKind;
using detail::VirtualDevice;
using Guard = std::lock_guard<std::mutex>;

SimPlatform::SimPlatform(TimeMode mode) : m_state(std::make_unique<detail::State>(mode)) {}

SimPlatform::~SimPlatform() = default;

// --- Devices ---------------------------------------------------------------------

bool SimPlatform::AddDevice(std::string_view path, int kind) {
    Guard guard(m_state->lock);
    if (m_state->FindDevice(path)) {
        return false;
    }
    auto device = std::make_shared<VirtualDevice>();
    device->path = std::string(path);
    device->kind = static_cast<DeviceKind>(kind);
    m_state->devices.emplace(device->path, device);
    if (device->kind == DeviceKind::Usb) {
        m_state->usbOrder.push_back(device);
    }
    return true;
}

bool SimPlatform::AddParallelPort(std::string_view path) {
    return AddDevice(path, static_cast<int>(DeviceKind::Parallel));
}

bool SimPlatform::AddUsbPrinter(std::string_view path) {
    return AddDevice(path, static_cast<int>(DeviceKind::Usb));
}

void SimPlatform::Reset() {
    Guard guard(m_state->lock);
    detail::State& s = *m_state;
    const uint64_t now = s.clock.Now();
    for (auto& [path, device] : s.devices) {
        s.UnplugDevice(*device, now);
        device->bRemoved = true;
    }
    s.devices.clear();
    s.usbOrder.clear();
    s.calls.clear();
    s.faults.clear();
    s.enumFaults.clear();
    s.versionMajor = 5;
    s.platformId = VER_PLATFORM_WIN32_NT;
}

void SimPlatform::Unplug(std::string_view path) {
    Guard guard(m_state->lock);
    m_state->UnplugDevice(m_state->Device(path), m_state->clock.Now());
}

void SimPlatform::PlugIn(std::string_view path) {
    Guard guard(m_state->lock);
    VirtualDevice& device = m_state->Device(path);
    if (!device.bPresent) {
        device.bPresent = true;
        ++device.generation;
        device.nOpenThisGeneration = 0;
    }
    m_state->changed.notify_all();
}

void SimPlatform::HoldOpenElsewhere(std::string_view path, bool held) {
    Guard guard(m_state->lock);
    m_state->Device(path).bHeldElsewhere = held;
}

void SimPlatform::FailOpen(std::string_view path, DWORD error) {
    Guard guard(m_state->lock);
    m_state->Device(path).openError = error;
}

// --- Scripts -----------------------------------------------------------------------

void SimPlatform::SetWrites(std::string_view path, Behaviour behaviour) {
    Guard guard(m_state->lock);
    m_state->Device(path).writes = behaviour;
}

void SimPlatform::SetReads(std::string_view path, Behaviour behaviour) {
    Guard guard(m_state->lock);
    m_state->Device(path).reads = behaviour;
}

void SimPlatform::Unstall(std::string_view path) {
    Guard guard(m_state->lock);
    m_state->Unstall(m_state->Device(path), m_state->clock.Now());
}

void SimPlatform::Hold(std::string_view path) {
    Guard guard(m_state->lock);
    m_state->Device(path).bFrozen = true;
}

void SimPlatform::Release(std::string_view path) {
    Guard guard(m_state->lock);
    m_state->Thaw(m_state->Device(path), m_state->clock.Now());
}

void SimPlatform::QueueReply(std::string_view path, std::string_view bytes, DWORD afterMs) {
    Guard guard(m_state->lock);
    const uint64_t at = LaterBy(m_state->clock.Now(), afterMs);
    m_state->QueueReplies(m_state->Device(path), {std::string(bytes)}, at);
}

void SimPlatform::Respond(std::string_view path, std::string_view trigger,
                          std::vector<std::string> replies, DWORD delayMs) {
    Guard guard(m_state->lock);
    m_state->Device(path).responders.push_back(
        detail::Responder{std::string(trigger), std::move(replies), delayMs});
}

void SimPlatform::AnswerIdentity(std::string_view path, std::vector<std::string> replies,
                                 DWORD delayMs) {
    Respond(path, kIdentityCommand, std::move(replies), delayMs);
}

void SimPlatform::SetParallelStatus(std::string_view path, BYTE status) {
    Guard guard(m_state->lock);
    m_state->Device(path).status = status;
}

void SimPlatform::SetCommErrors(std::string_view path, DWORD errors) {
    Guard guard(m_state->lock);
    m_state->Device(path).commErrors = errors;
}

void SimPlatform::FailClearCommError(std::string_view path, DWORD error) {
    Guard guard(m_state->lock);
    m_state->Device(path).clearCommFailure = error;
}

void SimPlatform::ScriptIoctl(std::string_view path, DWORD code, Behaviour behaviour, int uses,
                              std::optional<unsigned short> mask) {
    Guard guard(m_state->lock);
    m_state->Device(path).ioctlRules.push_back(detail::IoctlRule{code, mask, behaviour, uses});
}

void SimPlatform::SetCancelLatency(std::string_view path, DWORD ms) {
    Guard guard(m_state->lock);
    m_state->Device(path).cancelLatencyMs = ms;
}

void SimPlatform::SetChat(std::string_view path, Chat chat) {
    Guard guard(m_state->lock);
    m_state->Device(path).chat = detail::ChatRun{std::move(chat), 0, {}};
}

bool SimPlatform::ChatFinished(std::string_view path) const {
    Guard guard(m_state->lock);
    const VirtualDevice& device = m_state->Device(path);
    return device.chat && device.chat->mismatches.empty() &&
           device.chat->next == device.chat->chat.Steps().size();
}

std::string SimPlatform::ChatReport(std::string_view path) const {
    Guard guard(m_state->lock);
    const VirtualDevice& device = m_state->Device(path);
    if (!device.chat) {
        return "no chat on " + device.path + "\n";
    }
    std::string report;
    for (const std::string& mismatch : device.chat->mismatches) {
        report += mismatch + "\n";
    }
    const auto& steps = device.chat->chat.Steps();
    for (size_t i = device.chat->next; i < steps.size(); ++i) {
        report += "step " + std::to_string(i + 1) + " not taken: " + steps[i].Describe() + "\n";
    }
    return report;
}

void SimPlatform::SetVersion(DWORD major, DWORD platformId) {
    Guard guard(m_state->lock);
    m_state->versionMajor = major;
    m_state->platformId = platformId;
}

void SimPlatform::FailCall(std::string_view op, DWORD error, int nth) {
    Guard guard(m_state->lock);
    m_state->faults.push_back(detail::Fault{std::string(op), std::max(nth, 1), error});
}

void SimPlatform::FailEnumAt(DWORD memberIndex, DWORD error) {
    Guard guard(m_state->lock);
    if (error == ERROR_SUCCESS) {
        m_state->enumFaults.erase(memberIndex);
    } else {
        m_state->enumFaults[memberIndex] = error;
    }
}

// --- What happened -------------------------------------------------------------------

std::vector<SimCall> SimPlatform::Calls() const {
    Guard guard(m_state->lock);
    return {m_state->calls.begin(), m_state->calls.end()};
}

std::vector<SimCall> SimPlatform::Calls(std::string_view path,
                                        std::initializer_list<std::string_view> ops) const {
    Guard guard(m_state->lock);
    std::vector<SimCall> chosen;
    for (const SimCall& call : m_state->calls) {
        const bool bWanted =
            ops.size() == 0 || std::find(ops.begin(), ops.end(), call.op) != ops.end();
        if (call.path == path && bWanted) {
            chosen.push_back(call);
        }
    }
    return chosen;
}

std::vector<SimCall> SimPlatform::Requests(std::string_view path) const {
    return Calls(path, {"DeviceIoControl", "WriteFile", "ReadFile"});
}

std::vector<std::string> SimPlatform::RequestSummaries(std::string_view path) const {
    std::vector<std::string> summaries;
    for (const SimCall& call : Requests(path)) {
        summaries.push_back(call.Summary());
    }
    return summaries;
}

void SimPlatform::ClearCalls() {
    Guard guard(m_state->lock);
    m_state->calls.clear();
}

bool SimPlatform::WaitForCalls(std::string_view path, std::string_view op, size_t count,
                               std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> guard(m_state->lock);
    auto enough = [&] {
        return static_cast<size_t>(std::count_if(
                   m_state->calls.begin(), m_state->calls.end(),
                   [&](const SimCall& c) { return c.path == path && c.op == op; })) >= count;
    };
    return m_state->changed.wait_for(guard, limit, enough);
}

std::string SimPlatform::Received(std::string_view path) const {
    Guard guard(m_state->lock);
    return m_state->Device(path).received;
}

std::string SimPlatform::TakeReceived(std::string_view path) {
    Guard guard(m_state->lock);
    std::string taken;
    taken.swap(m_state->Device(path).received);
    return taken;
}

size_t SimPlatform::OpenHandleCount() const {
    return m_state->handles.Count();
}

size_t SimPlatform::OpenDeviceHandleCount() const {
    Guard guard(m_state->lock);
    return m_state->nDeviceHandles;
}

size_t SimPlatform::OpenEventCount() const {
    Guard guard(m_state->lock);
    return m_state->nEvents;
}

size_t SimPlatform::OpenMutexCount() const {
    Guard guard(m_state->lock);
    return m_state->nMutexes;
}

size_t SimPlatform::OpenCount(std::string_view path) const {
    Guard guard(m_state->lock);
    return m_state->Device(path).nOpenHandles;
}

size_t SimPlatform::OpenDeviceInfoSetCount() const {
    Guard guard(m_state->lock);
    return m_state->deviceInfoSets.size();
}

size_t SimPlatform::LocalAllocationCount() const {
    Guard guard(m_state->lock);
    return m_state->allocations.size();
}

uint64_t SimPlatform::NowMs() const {
    return m_state->clock.Now();
}

void SimPlatform::Advance(DWORD ms) {
    Guard guard(m_state->lock);
    m_state->clock.AdvanceTo(LaterBy(m_state->clock.Now(), ms));
    m_state->Progress();
}

}  // namespace zelp::sim
