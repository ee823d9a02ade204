#include "natives_workload.h"

#include <algorithm>
#include <climits>
#include <memory>

#include <gtest/gtest.h>

#include "parallel/parallel_natives.h"
#include "usb/usb_natives.h"

namespace zelp::stress {

namespace {

using test::FakeByteArray;
using test::FakeIntArray;
using test::FakeJniEnv;
using test::FakeString;
using test::Region;

constexpr const char16_t* kVendor = u"4660";  // 0x1234
constexpr const char16_t* kOtherVendor = u"1208";
constexpr const char16_t* kProduct = u"22136";  // 0x5678
constexpr jint kSlotCount = 255;

// Each worker comes back to a slot of its own most of the time, so that jobs
// keep flowing while the others open, close and write across every slot.
jint PickSlot(Worker& w) {
    static constexpr jint kOutside[] = {-1, kSlotCount, 256, INT_MIN, INT_MAX};
    const uint32_t roll = w.dice.Below(100);
    if (roll < 40) {
        return static_cast<jint>(w.id % kSlotCount);
    }
    if (roll < 75) {
        return static_cast<jint>(w.dice.Below(16));  // a few busy slots meet often
    }
    if (roll < 97) {
        return static_cast<jint>(w.dice.Below(kSlotCount));
    }
    return w.dice.Pick(kOutside);
}

std::u16string Digits(uint32_t value) {
    const std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}

}  // namespace

// --- The USB methods ------------------------------------------------------------------------

void NativesWorkload::UsbOpen(Worker& w) {
    const jint slot = PickSlot(w);
    const bool home = slot == static_cast<jint>(w.id) && w.dice.Chance(80);
    const uint32_t wanted =
        home ? 1 + w.id % m_settings.usbSerials : 1 + w.dice.Below(m_settings.usbSerials);
    FakeString serial{w.dice.Chance(10) ? u"0" : Digits(wanted)};
    FakeString vendor{w.dice.Chance(5) ? kOtherVendor : kVendor};
    FakeString product{kProduct};
    // An open of a slot whose printer is open closes that one first.
    m_closes.Measure(m_settings.usbCloseBound, [&] {
        return Java_dravn_usb_UsbDevice_openUsbPort(w.Env(), nullptr, FakeJniEnv::Ref(serial), slot,
                                                    FakeJniEnv::Ref(vendor),
                                                    FakeJniEnv::Ref(product));
    });
}

void NativesWorkload::UsbClose(Worker& w) {
    const jint slot = PickSlot(w);
    const jboolean closed = m_closes.Measure(m_settings.usbCloseBound, [&] {
        return Java_dravn_usb_UsbDevice_closeUsbPort(w.Env(), nullptr, slot);
    });
    w.badResults += closed ? 0 : 1;
}

void NativesWorkload::UsbWrite(Worker& w) {
    const jint slot = PickSlot(w);
    const jint timeout =
        m_settings.usbTimeouts[w.dice.Below(static_cast<uint32_t>(m_settings.usbTimeouts.size()))];
    WriteJob(w, [&](jbyteArray data, jint offset, jint length) {
        return Java_dravn_usb_UsbDevice_writeData(w.Env(), nullptr, data, offset, length, timeout,
                                                  slot) != JNI_FALSE;
    });
}

void NativesWorkload::UsbRead(Worker& w) {
    const jint slot = PickSlot(w);
    ReadInto(w, [&](jbyteArray buffer, jint length) {
        return Java_dravn_usb_UsbDevice_readData(w.Env(), nullptr, buffer, length, slot);
    });
}

void NativesWorkload::UsbDetect(Worker& w) {
    Java_dravn_usb_UsbDevice_detectUsbDevice(w.Env(), nullptr, PickSlot(w));
}

// A list writes no more entries than it returns, nor more than either array
// or ten holds, and leaves the rest of each array alone.
void NativesWorkload::UsbList(Worker& w) {
    constexpr jint kUntouched = -7;
    FakeIntArray first(std::vector<jint>(w.dice.Below(13), kUntouched));
    FakeIntArray second(std::vector<jint>(w.dice.Below(13), kUntouched));
    FakeString vendor{kVendor};
    FakeString product{kProduct};
    const jint count = Java_dravn_usb_UsbDevice_usbDeviceList(
        w.Env(), nullptr, FakeJniEnv::Ref(first), FakeJniEnv::Ref(second), 0,
        FakeJniEnv::Ref(vendor), FakeJniEnv::Ref(product));
    const auto room =
        static_cast<jint>(std::min({first.elements.size(), second.elements.size(), size_t{10}}));
    bool untouched = true;
    for (const FakeIntArray* array : {&first, &second}) {
        for (size_t i = static_cast<size_t>(std::max(count, 0)); i < array->elements.size(); ++i) {
            untouched = untouched && array->elements[i] == kUntouched;
        }
    }
    w.badResults += (count < 0 || count > room || !untouched) ? 1 : 0;
}

void NativesWorkload::UsbFlags(Worker& w) {
    const jint slot = PickSlot(w);
    const jboolean value = w.dice.Chance(50) ? JNI_TRUE : JNI_FALSE;
    if (w.dice.Chance(50)) {
        Java_dravn_usb_UsbDevice_setWriteComplete(w.Env(), nullptr, value, slot);
        Java_dravn_usb_UsbDevice_isReadComplete(w.Env(), nullptr, slot);
    } else {
        Java_dravn_usb_UsbDevice_setReadComplete(w.Env(), nullptr, value, slot);
        Java_dravn_usb_UsbDevice_isWriteComplete(w.Env(), nullptr, slot);
    }
    // A slot outside the table has no flags, and so never a set one.
    const bool outside = slot < 0 || slot >= kSlotCount;
    if (outside && Java_dravn_usb_UsbDevice_isWriteComplete(w.Env(), nullptr, slot)) {
        ++w.badResults;
    }
}

// --- The parallel methods ---------------------------------------------------------------------

void NativesWorkload::ParallelOpen(Worker& w) {
    const auto& names = m_settings.parallelNames;
    FakeString name{names[w.dice.Below(static_cast<uint32_t>(names.size()))]};
    // Opening closes the port that was open before.
    m_closes.Measure(m_settings.parallelCloseBound, [&] {
        return Java_com_quenrix_zel_comm_ParallelPort_openParallelPort(w.Env(), nullptr,
                                                                       FakeJniEnv::Ref(name));
    });
}

void NativesWorkload::ParallelClose(Worker& w) {
    const jboolean closed = m_closes.Measure(m_settings.parallelCloseBound, [&] {
        return Java_com_quenrix_zel_comm_ParallelPort_closeParallelPort(w.Env(), nullptr);
    });
    w.badResults += closed ? 0 : 1;
}

void NativesWorkload::ParallelWrite(Worker& w) {
    WriteJob(w, [&](jbyteArray data, jint offset, jint length) {
        return Java_com_quenrix_zel_comm_ParallelPort_writeData(w.Env(), nullptr, data, offset,
                                                                length) != JNI_FALSE;
    });
}

void NativesWorkload::ParallelRead(Worker& w) {
    ReadInto(w, [&](jbyteArray buffer, jint length) {
        return Java_com_quenrix_zel_comm_ParallelPort_readData(w.Env(), nullptr, buffer, length);
    });
}

void NativesWorkload::ParallelStatus(Worker& w) {
    Java_com_quenrix_zel_comm_ParallelPort_detectParallelPort(w.Env(), nullptr);
    Java_com_quenrix_zel_comm_ParallelPort_setWriteComplete(
        w.Env(), nullptr, w.dice.Chance(50) ? JNI_TRUE : JNI_FALSE);
    Java_com_quenrix_zel_comm_ParallelPort_isReadComplete(w.Env(), nullptr);
}

// --- Shared checks ---------------------------------------------------------------------------

// A tagged job inside a larger array; now and then a call with no array or
// with a range past its end, which must send nothing and report false.
template <class Send>
void NativesWorkload::WriteJob(Worker& w, Send send) {
    const JobTag tag{w.id, ++w.seq};
    const size_t bodyLength = w.dice.Chance(10) ? 1000 + w.dice.Below(3000) : w.dice.Below(200);
    const std::string job = MakeJob(tag, bodyLength);
    const auto before = static_cast<jint>(w.dice.Below(8));
    std::vector<jbyte> elements(static_cast<size_t>(before), '.');
    elements.insert(elements.end(), job.begin(), job.end());
    elements.resize(elements.size() + w.dice.Below(8), '.');
    FakeByteArray array(std::move(elements));
    const bool bad = w.dice.Chance(3);
    const jint length =
        bad ? static_cast<jint>(array.elements.size()) - before + 1 : static_cast<jint>(job.size());
    const bool nullArray = bad && w.dice.Chance(30);
    const bool ok = send(nullArray ? nullptr : FakeJniEnv::Ref(array), before, length);
    if (bad) {
        w.badResults += (ok || !array.gets.empty()) ? 1 : 0;
        return;
    }
    ok ? m_ledger.Succeeded(tag, job.size()) : m_ledger.Failed(tag);
    // Only the job's own range may cross, and nothing may come back.
    const bool copiedRange = array.gets == std::vector<Region>{{before, length}};
    const bool copiedWhenSent = ok ? copiedRange : (array.gets.empty() || copiedRange);
    w.badResults += (copiedWhenSent && array.sets.empty()) ? 0 : 1;
}

// A read returns 0 .. length and copies back exactly what it returns.
template <class Receive>
void NativesWorkload::ReadInto(Worker& w, Receive receive) {
    static constexpr jint kLengths[] = {0, 1, 16, 128, 4096};
    const jint length = w.dice.Pick(kLengths);
    FakeByteArray buffer(std::vector<jbyte>(static_cast<size_t>(length) + w.dice.Below(8), 0));
    const jint count = receive(FakeJniEnv::Ref(buffer), length);
    const std::vector<Region> expected =
        count > 0 ? std::vector<Region>{{0, count}} : std::vector<Region>{};
    w.badResults += (count < 0 || count > length || buffer.sets != expected) ? 1 : 0;
}

// --- The run ------------------------------------------------------------------------------------

const std::vector<NativesWorkload::Operation>& NativesWorkload::Operations() {
    static const std::vector<Operation> kOps = {
        {"openUsbPort", 8, &NativesWorkload::UsbOpen},
        {"closeUsbPort", 5, &NativesWorkload::UsbClose},
        {"UsbDevice.writeData", 30, &NativesWorkload::UsbWrite},
        {"UsbDevice.readData", 6, &NativesWorkload::UsbRead},
        {"detectUsbDevice", 5, &NativesWorkload::UsbDetect},
        {"usbDeviceList", 2, &NativesWorkload::UsbList},
        {"UsbDevice flags", 4, &NativesWorkload::UsbFlags},
        {"openParallelPort", 3, &NativesWorkload::ParallelOpen},
        {"closeParallelPort", 2, &NativesWorkload::ParallelClose},
        {"ParallelPort.writeData", 12, &NativesWorkload::ParallelWrite},
        {"ParallelPort.readData", 3, &NativesWorkload::ParallelRead},
        {"detectParallelPort and flags", 3, &NativesWorkload::ParallelStatus},
    };
    return kOps;
}

const NativesWorkload::Operation& NativesWorkload::PickOperation(Dice& dice) {
    uint32_t total = 0;
    for (const Operation& op : Operations()) {
        total += op.weight;
    }
    uint32_t roll = dice.Below(total);
    for (const Operation& op : Operations()) {
        if (roll < op.weight) {
            return op;
        }
        roll -= op.weight;
    }
    return Operations().front();
}

void NativesWorkload::Work(Worker& w, Watchdog& watchdog, Clock::time_point until) {
    while (Clock::now() < until) {
        const Operation& op = PickOperation(w.dice);
        watchdog.Begin(w.id, op.name);
        (this->*op.run)(w);
        watchdog.End(w.id);
        ++w.ops;
    }
}

void NativesWorkload::CloseEverything(Worker& w) {
    for (jint slot = 0; slot < kSlotCount; ++slot) {
        m_closes.Measure(m_settings.usbCloseBound, [&] {
            return Java_dravn_usb_UsbDevice_closeUsbPort(w.Env(), nullptr, slot);
        });
    }
    ParallelClose(w);
}

WorkerTotals SumWorkers(const std::vector<std::unique_ptr<Worker>>& workers) {
    WorkerTotals totals;
    for (const auto& w : workers) {
        totals.ops += w->ops;
        totals.badResults += w->badResults;
        totals.jniMisuse += static_cast<uint64_t>(w->fake.exceptions + w->fake.stringCharsOut);
    }
    return totals;
}

void CheckRun(std::string_view suite, const NativesWorkload& workload,
              const std::vector<std::unique_ptr<Worker>>& workers,
              const std::vector<std::string>& streams, uint64_t faults, uint64_t handlesLeft) {
    const WorkerTotals totals = SumWorkers(workers);
    const JobLedger& ledger = workload.Ledger();
    const CloseTimes& closes = workload.Closes();
    const Verdict verdict = ledger.Check(streams);
    PrintFigures(suite, {{"ops", totals.ops},
                         {"faults", faults},
                         {"writes_ok", ledger.SucceededCount()},
                         {"bytes_ok", ledger.SucceededBytes()},
                         {"closes", closes.Count()},
                         {"longest_close_ms", closes.LongestMs()},
                         {"closes_over_bound", closes.OverBound()},
                         {"handles_left", handlesLeft},
                         {"lost_bytes", verdict.lostBytes},
                         {"doubled", verdict.doubledJobs},
                         {"out_of_order", verdict.outOfOrder},
                         {"bad_results", totals.badResults + totals.jniMisuse}});

    EXPECT_GT(ledger.SucceededCount(), 0u) << "the run wrote nothing at all";
    EXPECT_EQ(closes.OverBound(), 0u) << "longest close " << closes.LongestMs() << " ms";
    EXPECT_EQ(handlesLeft, 0u);
    EXPECT_EQ(verdict.lostJobs, 0u) << verdict.lostBytes << " bytes reported written never came";
    EXPECT_EQ(verdict.doubledJobs, 0u);
    EXPECT_EQ(verdict.outOfOrder, 0u);
    EXPECT_EQ(verdict.corrupt, 0u);
    EXPECT_EQ(verdict.phantoms, 0u);
    EXPECT_EQ(verdict.wholeButFailed, 0u) << "a job that went out whole was reported failed";
    EXPECT_EQ(totals.badResults, 0u);
    EXPECT_EQ(totals.jniMisuse, 0u) << "a real JVM would have raised an exception";
}

}  // namespace zelp::stress
