#include "cli/progress.h"

#include "cli/report.h"

namespace zelp::cli {

Progress::Progress(std::ostream* terminal, std::optional<uint64_t> total)
    : m_pTerminal(terminal), m_total(total) {}

void Progress::Update(uint64_t sent) {
    if (m_pTerminal == nullptr) {
        return;
    }
    // Back to the start of the line, and clear what a longer line left.
    *m_pTerminal << '\r' << ProgressLine(sent, m_total, kBarWidth) << "\x1b[K" << std::flush;
    m_bDrawn = true;
}

void Progress::Finish() {
    if (m_pTerminal != nullptr && m_bDrawn) {
        *m_pTerminal << '\n' << std::flush;
    }
    m_bDrawn = false;
}

}  // namespace zelp::cli
