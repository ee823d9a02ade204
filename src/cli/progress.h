// The progress bar of `zelp send`, drawn over itself on a terminal. Where
// there is no terminal nothing is drawn: logs get the summary line alone.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>

namespace zelp::cli {

class Progress {
public:
    // `terminal` is null when the output is no terminal.
    Progress(std::ostream* terminal, std::optional<uint64_t> total);

    void Update(uint64_t sent);
    // Leaves the last state of the bar on its own line.
    void Finish();

    static constexpr size_t kBarWidth = 30;

private:
    std::ostream* m_pTerminal;
    std::optional<uint64_t> m_total;
    bool m_bDrawn = false;
};

}  // namespace zelp::cli
