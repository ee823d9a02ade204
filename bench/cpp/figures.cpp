#include "figures.h"

#include <algorithm>
#include <cstdio>

namespace zelp::bench {

namespace {

double NanosecondsPerUnit(benchmark::TimeUnit unit) {
    switch (unit) {
        case benchmark::kNanosecond:
            return 1;
        case benchmark::kMicrosecond:
            return 1e3;
        case benchmark::kMillisecond:
            return 1e6;
        case benchmark::kSecond:
            return 1e9;
    }
    return 1;
}

std::string KeyOf(const benchmark::BenchmarkReporter::Run& run) {
    const std::string& args = run.run_name.args;
    return run.run_name.function_name + (args.empty() ? "" : "/" + args);
}

// A figure that could not be measured prints no value; scripts/bench then
// counts it as missed.
void PrintMissing(const char* name, const std::string& why) {
    std::printf("figure %s - %s\n", name, why.c_str());
}

// ours / theirs of two medians; `invert` gives theirs / ours (a throughput
// ratio from two times per iteration).
void PrintRatio(const FigureReporter& reporter, const char* name, const std::string& ours,
                const std::string& theirs, bool invert) {
    for (const std::string* side : {&ours, &theirs}) {
        if (const auto error = reporter.Error(*side)) {
            PrintMissing(name, *side + ": " + *error);
            return;
        }
    }
    const std::vector<double> a = reporter.Times(ours);
    const std::vector<double> b = reporter.Times(theirs);
    if (a.empty() || b.empty()) {
        PrintMissing(name, "not run");
        return;
    }
    const double ma = Median(a);
    const double mb = Median(b);
    std::printf("figure %s %.4f %s=%.4gns %s=%.4gns repetitions=%zu/%zu\n", name,
                invert ? mb / ma : ma / mb, ours.c_str(), ma, theirs.c_str(), mb, a.size(),
                b.size());
}

void PrintCounter(const FigureReporter& reporter, const char* name, const std::string& bench,
                  const std::string& counter, int decimals = 1) {
    if (const auto error = reporter.Error(bench)) {
        PrintMissing(name, bench + ": " + *error);
        return;
    }
    const std::vector<double> values = reporter.Counters(bench, counter);
    if (values.empty()) {
        PrintMissing(name, "not run");
        return;
    }
    std::printf("figure %s %.*f %s.%s repetitions=%zu\n", name, decimals, Median(values),
                bench.c_str(), counter.c_str(), values.size());
}

void PrintMedianMilliseconds(const FigureReporter& reporter, const char* name,
                             const std::string& bench) {
    if (const auto error = reporter.Error(bench)) {
        PrintMissing(name, bench + ": " + *error);
        return;
    }
    const std::vector<double> times = reporter.Times(bench);
    if (times.empty()) {
        PrintMissing(name, "not run");
        return;
    }
    std::printf("figure %s %.4f ms median of %zu, max %.4f ms\n", name, Median(times) / 1e6,
                times.size(), *std::max_element(times.begin(), times.end()) / 1e6);
}

}  // namespace

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

void FigureReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.run_type != Run::RT_Iteration) {
            continue;
        }
        if (run.error_occurred) {
            m_errors[KeyOf(run)] = run.error_message;
            continue;
        }
        Repetition repetition;
        repetition.nanoseconds = run.GetAdjustedRealTime() * NanosecondsPerUnit(run.time_unit);
        for (const auto& [counter, value] : run.counters) {
            repetition.counters[counter] = value.value;
        }
        m_runs[KeyOf(run)].push_back(repetition);
    }
    ConsoleReporter::ReportRuns(runs);
}

std::vector<double> FigureReporter::Times(const std::string& name) const {
    std::vector<double> times;
    if (auto it = m_runs.find(name); it != m_runs.end()) {
        for (const Repetition& repetition : it->second) {
            times.push_back(repetition.nanoseconds);
        }
    }
    return times;
}

std::vector<double> FigureReporter::Counters(const std::string& name,
                                             const std::string& counter) const {
    std::vector<double> values;
    if (auto it = m_runs.find(name); it != m_runs.end()) {
        for (const Repetition& repetition : it->second) {
            if (auto found = repetition.counters.find(counter);
                found != repetition.counters.end()) {
                values.push_back(found->second);
            }
        }
    }
    return values;
}

std::optional<std::string> FigureReporter::Error(const std::string& name) const {
    if (auto it = m_errors.find(name); it != m_errors.end()) {
        return it->second;
    }
    return std::nullopt;
}

void PrintFigures(const FigureReporter& reporter) {
    PrintRatio(reporter, "native_write", "BM_PortWriteNull", "BM_RawWriteNull", true);
    // Not a figure: the plain loop with only a close gate and a write lock
    // around each write, against the plain loop, the ceiling for native_write.
    PrintRatio(reporter, "info_guarded_write", "BM_GuardedRawWriteNull", "BM_RawWriteNull", true);
    PrintRatio(reporter, "list_255", "BM_ListDevices/255", "BM_SysfsFloorWalk/255", false);
    PrintCounter(reporter, "list_linear", "BM_ListGrowth", "growth", 4);
    // Not a figure: how the plain walk itself grows from 25 to 255 printers
    // on this machine, the yardstick for list_linear.
    PrintCounter(reporter, "info_floor_linear", "BM_FloorGrowth", "growth", 4);
    PrintRatio(reporter, "slot_isolation", "BM_Slot1WriteWhileSlot0TimesOut", "BM_Slot1WriteAlone",
               false);
    PrintMedianMilliseconds(reporter, "close_latency", "BM_CloseUsbPortAfterTransfer");
    PrintCounter(reporter, "memory_growth", "BM_MixedCallsHeap", "growth_bytes");
    PrintCounter(reporter, "memory_per_slot", "BM_OpenSlotsHeap", "bytes_per_slot");
}

}  // namespace zelp::bench
