// The sim's bookkeeping: finding devices and handles, the call record, the
// injected faults, and the answers of scripts and chats.
#include <cstdio>
#include <stdexcept>

#include "native/platform/sim/sim_state.h"

namespace zelp::sim::detail {

namespace {

// The record keeps the most recent calls only, so that a long demo on the
// real-time sim does not grow without end.
constexpr size_t kRecordLimit = 1u << 17;

std::string DescribeRequest(const SimCall& call) {
    std::string text = call.Summary();
    if (call.op == "WriteFile") {
        text += " " + DescribeBytes(call.data);
    }
    return text;
}

bool StepMatches(const Chat::Step& step, const SimCall& call) {
    if (step.op != call.op) {
        return false;
    }
    if (step.op == "DeviceIoControl") {
        if (step.code != call.code) {
            return false;
        }
        if (step.mask && !(call.masks && call.masks->usReadMask == *step.mask &&
                           call.masks->usWriteMask == *step.mask)) {
            return false;
        }
    }
    return !step.bytes || *step.bytes == call.data;
}

bool RuleMatches(const IoctlRule& rule, const SimCall& call) {
    if (rule.uses == 0 || rule.code != call.code) {
        return false;
    }
    return !rule.mask || (call.masks && call.masks->usReadMask == *rule.mask);
}

}  // namespace

std::shared_ptr<VirtualDevice> State::FindDevice(std::string_view path) const {
    auto it = devices.find(path);
    return it == devices.end() ? nullptr : it->second;
}

std::shared_ptr<DeviceHandle> State::FindDeviceHandle(HANDLE handle) const {
    return handles.FindAs<DeviceHandle>(handle);
}

VirtualDevice& State::Device(std::string_view path) const {
    auto device = FindDevice(path);
    if (!device) {
        throw std::invalid_argument("sim: no virtual device " + std::string(path));
    }
    return *device;
}

void State::Note(SimCall call, uint64_t result) {
    call.seq = nextSeq++;
    call.timeMs = clock.Now();
    call.result = result;
    call.error = kobj::LastErrorCode();
    calls.push_back(std::move(call));
    if (calls.size() > kRecordLimit) {
        calls.pop_front();
    }
    changed.notify_all();
}

bool State::TakeFault(std::string_view op, DWORD& error) {
    bool bFired = false;
    for (auto it = faults.begin(); it != faults.end();) {
        if (it->op == op && --it->remaining == 0) {
            if (!bFired) {
                error = it->error;
                bFired = true;
            }
            it = faults.erase(it);
        } else {
            ++it;
        }
    }
    return bFired;
}

std::optional<Behaviour> State::ChatAnswer(VirtualDevice& device, const SimCall& call) {
    if (!device.chat || (call.op == "DeviceIoControl" && device.chat->chat.IsTransfersOnly())) {
        return std::nullopt;
    }
    ChatRun& run = *device.chat;
    const auto& steps = run.chat.Steps();
    std::string mismatch;
    if (run.next >= steps.size()) {
        mismatch = "expected nothing more, came " + DescribeRequest(call);
    } else if (!StepMatches(steps[run.next], call)) {
        mismatch = "step " + std::to_string(run.next + 1) + ": expected " +
                   steps[run.next].Describe() + ", came " + DescribeRequest(call);
    }
    if (!mismatch.empty()) {
        std::fprintf(stderr, "sim chat on %s: %s\n", device.path.c_str(), mismatch.c_str());
        run.mismatches.push_back(std::move(mismatch));
        return Behaviour::FailAtOnce(ERROR_GEN_FAILURE);
    }
    const Chat::Step& step = steps[run.next++];
    if (!step.reply.empty()) {
        device.replies.push_back(Reply{step.reply, clock.Now()});
    }
    return step.answer;
}

std::optional<Behaviour> State::RuleAnswer(VirtualDevice& device, const SimCall& call) {
    // The rule given last wins, so a test can override an earlier one.
    for (auto it = device.ioctlRules.rbegin(); it != device.ioctlRules.rend(); ++it) {
        if (RuleMatches(*it, call)) {
            if (it->uses > 0) {
                --it->uses;
            }
            return it->behaviour;
        }
    }
    return std::nullopt;
}

void State::QueueReplies(VirtualDevice& device, const std::vector<std::string>& replies,
                         uint64_t at) {
    for (const std::string& reply : replies) {
        device.replies.push_back(Reply{reply, at});
    }
    changed.notify_all();
}

}  // namespace zelp::sim::detail
