// The C++ figures. Every benchmark sets its own repetitions; their
// repetitions run interleaved in a random order, so the two sides of a ratio
// share whatever else the machine is doing.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "figures.h"

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 2;
    }
    zelp::bench::FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    zelp::bench::PrintFigures(reporter);
    return 0;
}
