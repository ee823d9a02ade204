// The loop of `zelp send` that both kinds of printer share: blocks from the
// input to the printer, the progress bar, and the account of what went out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "cli/commands.h"
#include "cli/input_source.h"

namespace zelp::cli {

// Sends one block; true when all of it went out.
using BlockWriter = std::function<bool(const uint8_t* data, uint32_t size)>;

struct SendOutcome {
    uint64_t sent = 0;          // bytes of the blocks that went out whole
    bool bWriteFailed = false;  // a block did not go out whole
    std::string readError;      // the input failed
    double seconds = 0;
};

SendOutcome SendBlocks(InputSource& input, uint32_t blockSize, const BlockWriter& write,
                       Console& console);

// "sent 16.0 KiB (16384 bytes) from job.prn to <target> in 0.3 s"
std::string SendSummary(const SendOutcome& outcome, const InputSource& input,
                        const std::string& target);

}  // namespace zelp::cli
