#include "cli/send_job.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include "cli/progress.h"
#include "cli/report.h"

namespace zelp::cli {

SendOutcome SendBlocks(InputSource& input, uint32_t blockSize, const BlockWriter& write,
                       Console& console) {
    const auto start = std::chrono::steady_clock::now();
    Progress progress(console.bErrIsTerminal ? &console.err : nullptr, input.Size());
    const std::unique_ptr<uint8_t[]> block(new uint8_t[blockSize]);
    SendOutcome outcome;
    while (true) {
        size_t got = 0;
        if (!input.Read(block.get(), blockSize, got, outcome.readError)) {
            break;
        }
        if (got == 0) {
            break;
        }
        if (!write(block.get(), static_cast<uint32_t>(got))) {
            outcome.bWriteFailed = true;
            break;
        }
        outcome.sent += got;
        progress.Update(outcome.sent);
    }
    progress.Finish();
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

std::string SendSummary(const SendOutcome& outcome, const InputSource& input,
                        const std::string& target) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", outcome.seconds);
    std::string amount = FormatBytes(outcome.sent);
    if (outcome.sent >= 1024) {
        amount += " (" + std::to_string(outcome.sent) + " bytes)";
    }
    return "sent " + amount + " from " + input.Name() + " to " + target + " in " + seconds;
}

}  // namespace zelp::cli
