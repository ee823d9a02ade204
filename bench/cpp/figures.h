// How the C++ figures come out of Google Benchmark: every repetition of every
// benchmark is kept (the repetitions of all benchmarks run interleaved in a
// random order, so a figure's two sides meet the same machine), and a figure
// is a ratio of two medians, or a median, or a counter, printed as one line
// `figure NAME VALUE detail...` for scripts/bench.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zelp::bench {

double Median(std::vector<double> values);

class FigureReporter : public benchmark::ConsoleReporter {
public:
    FigureReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override;

    // Real time per iteration of each repetition, in nanoseconds, of the
    // benchmark `name` ("Function" or "Function/arg").
    std::vector<double> Times(const std::string& name) const;
    // One user counter of each repetition.
    std::vector<double> Counters(const std::string& name, const std::string& counter) const;
    // Why a benchmark was given up, if it was.
    std::optional<std::string> Error(const std::string& name) const;

private:
    struct Repetition {
        double nanoseconds = 0;
        std::map<std::string, double> counters;
    };
    std::map<std::string, std::vector<Repetition>> m_runs;
    std::map<std::string, std::string> m_errors;
};

// Computes the C++ figures from what the reporter kept and prints them.
void PrintFigures(const FigureReporter& reporter);

}  // namespace zelp::bench
