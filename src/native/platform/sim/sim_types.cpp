#include "native/platform/sim/sim_types.h"

#include <cstdio>

namespace zelp::sim {

// --- Behaviour ---------------------------------------------------------------

Behaviour Behaviour::AtOnce() {
    return Behaviour{};
}

Behaviour Behaviour::After(DWORD ms) {
    Behaviour b;
    b.bPending = true;
    b.delayMs = ms;
    return b;
}

Behaviour Behaviour::Never() {
    Behaviour b;
    b.ending = Ending::Stall;
    b.bPending = true;
    return b;
}

Behaviour Behaviour::FailAtOnce(DWORD error) {
    Behaviour b;
    b.ending = Ending::Fail;
    b.error = error;
    return b;
}

Behaviour Behaviour::FailAfter(DWORD error, DWORD ms) {
    Behaviour b = FailAtOnce(error);
    b.bPending = true;
    b.delayMs = ms;
    return b;
}

Behaviour Behaviour::UnplugAfter(DWORD ms) {
    Behaviour b;
    b.ending = Ending::Unplug;
    b.bPending = true;
    b.delayMs = ms;
    return b;
}

Behaviour& Behaviour::Short(DWORD bytes) {
    limit = bytes;
    return *this;
}

// --- Names -------------------------------------------------------------------

namespace {

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%0*x", digits, value);
    return text;
}

std::string MaskText(const ParNegotiationMask& masks) {
    std::string text = Hex(masks.usReadMask, 4);
    if (masks.usWriteMask != masks.usReadMask) {
        text += "/" + Hex(masks.usWriteMask, 4);
    }
    return text;
}

std::string DescribeBehaviour(const Behaviour& b) {
    std::string text;
    switch (b.ending) {
        case Behaviour::Ending::Complete:
            text = "complete";
            break;
        case Behaviour::Ending::Fail:
            text = "fail " + std::to_string(b.error);
            break;
        case Behaviour::Ending::Stall:
            text = "stall";
            break;
        case Behaviour::Ending::Unplug:
            text = "unplug";
            break;
    }
    if (b.bPending) {
        text += " after pending " + std::to_string(b.delayMs) + " ms";
    }
    if (b.limit) {
        text += " moving at most " + std::to_string(*b.limit);
    }
    return text;
}

}  // namespace

std::string IoctlName(DWORD code) {
    switch (code) {
        case IOCTL_PAR_QUERY_INFORMATION:
            return "PAR_QUERY_INFORMATION";
        case IOCTL_PAR_GET_DEFAULT_MODES:
            return "PAR_GET_DEFAULT_MODES";
        case IOCTL_IEEE1284_NEGOTIATE:
            return "IEEE1284_NEGOTIATE";
        default:
            return Hex(code, 8);
    }
}

std::string DescribeBytes(std::string_view bytes) {
    std::string text = "\"";
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            text.push_back(static_cast<char>(c));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02x", c);
            text += escaped;
        }
    }
    return text + "\"";
}

std::string SimCall::Summary() const {
    if (op == "DeviceIoControl") {
        std::string text = op + " " + IoctlName(code);
        return masks ? text + " " + MaskText(*masks) : text;
    }
    if (op == "WriteFile" || op == "ReadFile") {
        return op + " " + std::to_string(length);
    }
    if (op == "SetCommTimeouts") {
        return op + " read " + std::to_string(timeouts.ReadTotalTimeoutConstant) + " write " +
               std::to_string(timeouts.WriteTotalTimeoutConstant);
    }
    return op;
}

// --- Chat --------------------------------------------------------------------

std::string Chat::Step::Describe() const {
    std::string text = op;
    if (op == "DeviceIoControl") {
        text += " " + IoctlName(code);
        if (mask) {
            text += " " + Hex(*mask, 4);
        }
    }
    if (bytes) {
        text += " " + DescribeBytes(*bytes);
    }
    if (!reply.empty()) {
        text += " giving " + DescribeBytes(reply);
    }
    return text + " (" + DescribeBehaviour(answer) + ")";
}

Chat& Chat::Write(std::string_view bytes, Behaviour answer) {
    Step step;
    step.op = "WriteFile";
    step.bytes = std::string(bytes);
    step.answer = answer;
    m_steps.push_back(std::move(step));
    return *this;
}

Chat& Chat::Read(std::string_view reply, Behaviour answer) {
    Step step;
    step.op = "ReadFile";
    step.reply = std::string(reply);
    step.answer = answer;
    m_steps.push_back(std::move(step));
    return *this;
}

Chat& Chat::Ioctl(DWORD code, Behaviour answer) {
    Step step;
    step.op = "DeviceIoControl";
    step.code = code;
    step.answer = answer;
    m_steps.push_back(std::move(step));
    return *this;
}

Chat& Chat::Negotiate(unsigned short mask, Behaviour answer) {
    Ioctl(IOCTL_IEEE1284_NEGOTIATE, answer);
    m_steps.back().mask = mask;
    return *this;
}

Chat& Chat::TransfersOnly() {
    m_bTransfersOnly = true;
    return *this;
}

}  // namespace zelp::sim
