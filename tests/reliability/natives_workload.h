// The random workload of the stress tests: threads calling the nineteen
// native methods, as a Java program would, on all 255 USB slots (and a few
// outside them) and on the parallel port. Each write carries a tagged job;
// each call's result and the array elements it touched are checked against
// what the method may do; each close is timed.
#pragma once

#include <jni.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <string>
#include <vector>

#include "fake_jni_env.h"
#include "stress_support.h"

namespace zelp::stress {

struct WorkloadSettings {
    // Opens ask for the serial texts "1" .. this (some may match no printer).
    uint32_t usbSerials = 8;
    // The write time-outs the workload picks from; all finite.
    std::vector<jint> usbTimeouts;
    // Names the parallel opens pick from (some may name no port).
    std::vector<std::u16string> parallelNames;
    // What a close of each kind may take: the longest transfer it may have to
    // wait for, plus the margin.
    Millis usbCloseBound{0};
    Millis parallelCloseBound{0};
};

// One thread's state: its JNI environment, dice and job numbers.
struct Worker {
    Worker(uint32_t index, uint32_t seed) : id(index), dice(seed) {}
    const uint32_t id;
    Dice dice;
    test::FakeJniEnv fake;
    uint32_t seq = 0;
    uint64_t ops = 0;
    uint64_t badResults = 0;  // results or array accesses the method may not make
    JNIEnv* Env() { return fake.Env(); }
};

class NativesWorkload {
public:
    explicit NativesWorkload(WorkloadSettings settings) : m_settings(std::move(settings)) {}

    // Calls random methods until `until`, telling the watchdog about each.
    void Work(Worker& w, Watchdog& watchdog, Clock::time_point until);

    // Closes every slot and the parallel port, timing each close.
    void CloseEverything(Worker& w);

    const JobLedger& Ledger() const { return m_ledger; }
    const CloseTimes& Closes() const { return m_closes; }

private:
    void UsbOpen(Worker& w);
    void UsbClose(Worker& w);
    void UsbWrite(Worker& w);
    void UsbRead(Worker& w);
    void UsbDetect(Worker& w);
    void UsbList(Worker& w);
    void UsbFlags(Worker& w);
    void ParallelOpen(Worker& w);
    void ParallelClose(Worker& w);
    void ParallelWrite(Worker& w);
    void ParallelRead(Worker& w);
    void ParallelStatus(Worker& w);

    template <class Send>
    void WriteJob(Worker& w, Send send);
    template <class Receive>
    void ReadInto(Worker& w, Receive receive);

    struct Operation {
        const char* name;
        uint32_t weight;
        void (NativesWorkload::*run)(Worker&);
    };
    static const std::vector<Operation>& Operations();
    static const Operation& PickOperation(Dice& dice);

    const WorkloadSettings m_settings;
    JobLedger m_ledger;
    CloseTimes m_closes;
};

// Adds up every worker's counts: ops, and bad results together with any JNI
// misuse a real machine would have answered with an exception.
struct WorkerTotals {
    uint64_t ops = 0;
    uint64_t badResults = 0;
    uint64_t jniMisuse = 0;
};
WorkerTotals SumWorkers(const std::vector<std::unique_ptr<Worker>>& workers);

// Checks the streams the printers received against the workload's ledger,
// prints the run's figure line under `suite`, and fails the test for every
// promise the run broke.
void CheckRun(std::string_view suite, const NativesWorkload& workload,
              const std::vector<std::unique_ptr<Worker>>& workers,
              const std::vector<std::string>& streams, uint64_t faults, uint64_t handlesLeft);

}  // namespace zelp::stress
