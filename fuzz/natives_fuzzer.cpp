// The nineteen exported methods in arbitrary order with arbitrary arguments
// (slots in and out of range, any offsets and lengths, null arrays, short
// time-outs), against virtual printers on virtual time whose scripts the
// input also changes as it goes: faults, short writes, printers pulled out.
//
// After every call: no array element outside the call's range was read or
// written, a read returns no more than it was asked for, a write reported
// done delivered exactly its range, and a real JVM would have raised nothing.
// After every input: with every port closed, no handle, device-information
// set or allocation is left.
#include <climits>
#include <set>
#include <string>
#include <vector>

#include "fake_jni_env.h"
#include "fuzz_input.h"
#include "native/platform/sim/sim_platform.h"
#include "parallel/parallel_natives.h"
#include "usb/usb_natives.h"
#include "usb/usb_slots.h"

using zelp::fuzz::FuzzInput;
using zelp::fuzz::Require;
using zelp::sim::Behaviour;
using zelp::test::FakeByteArray;
using zelp::test::FakeIntArray;
using zelp::test::FakeJniEnv;
using zelp::test::FakeString;
using zelp::test::Region;

namespace {

const std::vector<std::string> kUsbPrinters = {
    "\\\\?\\usb#vid_1234&pid_5678#000001#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}",
    "\\\\?\\usb#vid_1234&pid_5678#000002#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}",
    "\\\\?\\usb#vid_1234&pid_5678#000000#{28d78fad-5a12-11d1-ae5b-0000f803a8c3}",
    "\\\\?\\usb#vid_1234&pid_5678#000000#{28d78fad-5a12-11d1-ae5b-0000f803a8c4}",
    "\\\\?\\usb#vid_04b8&pid_0202#000001#{28d78fad-5a12-11d1-ae5b-0000f803a8c5}",
};
const std::vector<std::string> kParallelPorts = {"LPT1", "LPT2"};

class Session {
public:
    explicit Session(zelp::sim::SimPlatform& sim, FuzzInput& input) : m_sim(sim), m_input(input) {}

    void RunOneCall();
    void CloseEverything();

private:
    JNIEnv* Env() { return m_fake.Env(); }

    jint Slot() {
        static constexpr jint kSlots[] = {0, 1, 2, 3, 0, 1, 254, 255, -1, INT_MIN, INT_MAX, 100};
        const jint slot = m_input.Pick(kSlots);
        if (zelp::IsValidUsbSlot(slot)) {
            m_touched.insert(slot);
        }
        return slot;
    }
    jint Int() {
        static constexpr jint kInts[] = {0, 1, 2, 5, 16, 63, 64, 65, -1, INT_MIN, INT_MAX};
        const size_t pick = m_input.Choice(12);
        return pick < 11 ? kInts[pick] : static_cast<jint>(m_input.U32());
    }
    jint TimeoutMs() {
        // Finite only: an endless wait on a printer that never answers would
        // have nobody to end it on virtual time.
        static constexpr jint kTimeouts[] = {0, 1, 5, 50, 1000};
        return m_input.Pick(kTimeouts);
    }
    std::u16string Text(std::initializer_list<const char16_t*> usual) {
        const size_t pick = m_input.Choice(usual.size() + 1);
        if (pick < usual.size()) {
            return usual.begin()[pick];
        }
        const std::string raw = m_input.Bytes(24);
        return std::u16string(raw.begin(), raw.end());
    }

    void OpenUsb();
    void WriteUsb();
    void ReadUsb();
    void ListUsb();
    void OpenParallel();
    void WriteParallel();
    void ReadParallel();
    void Script();

    template <class Send>
    void Write(Send send);
    template <class Receive>
    void Read(Receive receive);

    // What each printer has received so far, in a fixed order.
    std::vector<std::string> Received() const {
        std::vector<std::string> received;
        for (const auto* paths : {&kUsbPrinters, &kParallelPorts}) {
            for (const auto& path : *paths) {
                received.push_back(m_sim.Received(path));
            }
        }
        return received;
    }

    zelp::sim::SimPlatform& m_sim;
    FuzzInput& m_input;
    FakeJniEnv m_fake;
    std::set<jint> m_touched;
};

void Session::OpenUsb() {
    FakeString serial{Text({u"1", u"2", u"0", u"000002", u" +2xyz"})};
    FakeString vendor{Text({u"4660", u"4660", u"1208"})};
    FakeString product{Text({u"22136", u"22136", u"514"})};
    const bool nulls = m_input.Choice(8) == 0;
    Java_dravn_usb_UsbDevice_openUsbPort(Env(), nullptr, nulls ? nullptr : FakeJniEnv::Ref(serial),
                                         Slot(), FakeJniEnv::Ref(vendor),
                                         nulls ? nullptr : FakeJniEnv::Ref(product));
}

// A write reported done delivered its range and nothing else; no write wrote
// into its array or read past its range.
template <class Send>
void Session::Write(Send send) {
    const std::string bytes = m_input.Bytes(64);
    FakeByteArray array(std::vector<jbyte>(bytes.begin(), bytes.end()));
    const jint offset = Int();
    const jint length = Int();
    const bool null = m_input.Choice(8) == 0;
    const std::vector<std::string> before = Received();
    const bool ok = send(null ? nullptr : FakeJniEnv::Ref(array), offset, length);
    const std::vector<std::string> after = Received();
    const bool inRange = !null && offset >= 0 && length >= 0 &&
                         int64_t{offset} + length <= static_cast<int64_t>(bytes.size());
    Require(array.sets.empty(), "a write never writes into its array");
    Require(array.gets.empty() || (inRange && array.gets == std::vector<Region>{{offset, length}}),
            "a write copies its own range or nothing");
    Require(!ok || inRange, "a write of a bad range fails");
    if (ok) {
        // One printer got exactly the range; the others got nothing.
        std::string delivered;
        size_t printers = 0;
        for (size_t i = 0; i < before.size(); ++i) {
            Require(after[i].starts_with(before[i]), "a printer never loses what it received");
            delivered += after[i].substr(before[i].size());
            printers += after[i].size() > before[i].size() ? 1 : 0;
        }
        Require(printers <= 1, "one write reaches one printer");
        Require(delivered == bytes.substr(static_cast<size_t>(offset), static_cast<size_t>(length)),
                "a write reported done delivered exactly its range");
    }
}

// A read gives 0 .. length bytes and copies back exactly those.
template <class Receive>
void Session::Read(Receive receive) {
    const jint length = Int();
    const size_t size = m_input.Choice(70);
    FakeByteArray array(std::vector<jbyte>(size, 0x55));
    const bool null = m_input.Choice(8) == 0;
    const jint count = receive(null ? nullptr : FakeJniEnv::Ref(array), length);
    Require(count >= 0 && count <= std::max(length, 0) &&
                static_cast<size_t>(count) <= (null ? 0 : size),
            "a read returns no more than it was asked for and has room for");
    const std::vector<Region> copied =
        count > 0 ? std::vector<Region>{{0, count}} : std::vector<Region>{};
    Require(array.sets == copied && array.gets.empty(), "a read copies back only what it read");
}

void Session::WriteUsb() {
    const jint slot = Slot();
    const jint timeout = TimeoutMs();
    Write([&](jbyteArray data, jint offset, jint length) {
        return Java_dravn_usb_UsbDevice_writeData(Env(), nullptr, data, offset, length, timeout,
                                                  slot) != JNI_FALSE;
    });
}

void Session::ReadUsb() {
    const jint slot = Slot();
    Read([&](jbyteArray data, jint length) {
        return Java_dravn_usb_UsbDevice_readData(Env(), nullptr, data, length, slot);
    });
    Require(!zelp::IsValidUsbSlot(slot) ||
                Java_dravn_usb_UsbDevice_isReadComplete(Env(), nullptr, slot) == JNI_TRUE,
            "every read sets its slot's flag");
}

void Session::ListUsb() {
    constexpr jint kUntouched = -7;
    FakeIntArray first(std::vector<jint>(m_input.Choice(14), kUntouched));
    FakeIntArray second(std::vector<jint>(m_input.Choice(14), kUntouched));
    FakeString vendor{Text({u"4660", u"1208"})};
    FakeString product{Text({u"22136", u"514"})};
    const bool nullFirst = m_input.Choice(8) == 0;
    const jint count = Java_dravn_usb_UsbDevice_usbDeviceList(
        Env(), nullptr, nullFirst ? nullptr : FakeJniEnv::Ref(first), FakeJniEnv::Ref(second),
        Int(), FakeJniEnv::Ref(vendor), FakeJniEnv::Ref(product));
    const size_t room =
        nullFirst ? 0 : std::min({first.elements.size(), second.elements.size(), size_t{10}});
    Require(count >= 0 && static_cast<size_t>(count) <= room, "a list fits its arrays");
    for (const FakeIntArray* array : {&first, &second}) {
        for (size_t i = static_cast<size_t>(count); i < array->elements.size(); ++i) {
            Require(array->elements[i] == kUntouched, "a list leaves the rest of its arrays");
        }
    }
}

void Session::OpenParallel() {
    FakeString name{Text({u"LPT1", u"LPT2", u"\\\\.\\LPT1", u""})};
    Java_com_quenrix_zel_comm_ParallelPort_openParallelPort(
        Env(), nullptr, m_input.Choice(8) == 0 ? nullptr : FakeJniEnv::Ref(name));
}

void Session::WriteParallel() {
    Write([&](jbyteArray data, jint offset, jint length) {
        return Java_com_quenrix_zel_comm_ParallelPort_writeData(Env(), nullptr, data, offset,
                                                                length) != JNI_FALSE;
    });
}

void Session::ReadParallel() {
    Read([&](jbyteArray data, jint length) {
        return Java_com_quenrix_zel_comm_ParallelPort_readData(Env(), nullptr, data, length);
    });
}

// Changes how one printer answers from now on.
void Session::Script() {
    const bool usb = m_input.Choice(2) == 0;
    const std::string& path = usb ? kUsbPrinters[m_input.Choice(kUsbPrinters.size())]
                                  : kParallelPorts[m_input.Choice(kParallelPorts.size())];
    const DWORD ms = m_input.Byte();
    const DWORD bytes = m_input.Byte() % 8;
    const Behaviour behaviours[] = {
        Behaviour::AtOnce(),
        Behaviour::After(ms),
        Behaviour::Never(),
        Behaviour::FailAtOnce(ERROR_GEN_FAILURE),
        Behaviour::FailAfter(ERROR_DEVICE_NOT_CONNECTED, ms),
        Behaviour::UnplugAfter(ms),
        Behaviour::AtOnce().Short(bytes),
        Behaviour::Never().Short(bytes),
    };
    const Behaviour& behaviour = m_input.Pick(behaviours);
    switch (m_input.Choice(9)) {
        case 0:
            m_sim.SetWrites(path, behaviour);
            break;
        case 1:
            m_sim.SetReads(path, behaviour);
            break;
        case 2:
            m_sim.QueueReply(path, m_input.Bytes(16), ms);
            break;
        case 3:
            m_sim.Unplug(path);
            break;
        case 4:
            m_sim.PlugIn(path);
            break;
        case 5:
            m_sim.HoldOpenElsewhere(path, m_input.Choice(2) == 0);
            break;
        case 6:
            m_sim.SetParallelStatus(path, m_input.Byte());
            break;
        case 7:
            m_sim.ScriptIoctl(path, IOCTL_IEEE1284_NEGOTIATE,
                              Behaviour::FailAtOnce(ERROR_GEN_FAILURE), m_input.Byte() % 4);
            break;
        default: {
            static const char* const kOps[] = {
                "CreateFileA", "CreateEventA",         "CreateMutexA",
                "LocalAlloc",  "SetupDiGetClassDevsA", "SetupDiGetDeviceInterfaceDetailA"};
            m_sim.FailCall(m_input.Pick(kOps), ERROR_NOT_ENOUGH_MEMORY, 1 + m_input.Byte() % 3);
        }
    }
}

void Session::RunOneCall() {
    JNIEnv* env = Env();
    switch (m_input.Choice(20)) {
        case 0:
            OpenUsb();
            break;
        case 1:
            Java_dravn_usb_UsbDevice_closeUsbPort(env, nullptr, Slot());
            break;
        case 2:
            WriteUsb();
            break;
        case 3:
            Java_dravn_usb_UsbDevice_setWriteComplete(env, nullptr, m_input.Byte(), Slot());
            break;
        case 4:
            Java_dravn_usb_UsbDevice_isWriteComplete(env, nullptr, Slot());
            break;
        case 5:
            ReadUsb();
            break;
        case 6:
            Java_dravn_usb_UsbDevice_setReadComplete(env, nullptr, m_input.Byte(), Slot());
            break;
        case 7:
            Java_dravn_usb_UsbDevice_isReadComplete(env, nullptr, Slot());
            break;
        case 8:
            Java_dravn_usb_UsbDevice_detectUsbDevice(env, nullptr, Slot());
            break;
        case 9:
            ListUsb();
            break;
        case 10:
            OpenParallel();
            break;
        case 11:
            Java_com_quenrix_zel_comm_ParallelPort_closeParallelPort(env, nullptr);
            break;
        case 12:
            WriteParallel();
            break;
        case 13:
            Java_com_quenrix_zel_comm_ParallelPort_setWriteComplete(env, nullptr, m_input.Byte());
            break;
        case 14:
            Java_com_quenrix_zel_comm_ParallelPort_isWriteComplete(env, nullptr);
            break;
        case 15:
            ReadParallel();
            break;
        case 16:
            Java_com_quenrix_zel_comm_ParallelPort_setReadComplete(env, nullptr, m_input.Byte());
            break;
        case 17:
            Java_com_quenrix_zel_comm_ParallelPort_isReadComplete(env, nullptr);
            break;
        case 18:
            Java_com_quenrix_zel_comm_ParallelPort_detectParallelPort(env, nullptr);
            break;
        default:
            Script();
            break;
    }
    Require(m_fake.exceptions == 0, "a real JVM would have raised an exception");
    Require(m_fake.stringCharsOut == 0, "every string buffer is given back");
}

void Session::CloseEverything() {
    for (const jint slot : m_touched) {
        Java_dravn_usb_UsbDevice_closeUsbPort(Env(), nullptr, slot);
    }
    Java_com_quenrix_zel_comm_ParallelPort_closeParallelPort(Env(), nullptr);
    Require(m_sim.OpenHandleCount() == 0, "every handle, event and mutex is closed again");
    Require(m_sim.OpenDeviceInfoSetCount() == 0, "every device-information set is released");
    Require(m_sim.LocalAllocationCount() == 0, "every detail buffer is freed");
}

zelp::sim::SimPlatform& FreshPrinters() {
    // One sim for the whole run, on virtual time, its devices made anew for
    // each input; the library's tables live as long as the process anyway.
    static zelp::sim::SimPlatform* const sim = new zelp::sim::SimPlatform();
    static zelp::ScopedPlatform* const scope = new zelp::ScopedPlatform(*sim);
    (void)scope;
    sim->Reset();
    for (const auto& path : kUsbPrinters) {
        sim->AddUsbPrinter(path);
    }
    sim->AnswerIdentity(kUsbPrinters[2], {"7a", "4711\r"});
    for (const auto& path : kParallelPorts) {
        sim->AddParallelPort(path);
    }
    zelp::ClearSlotRecords();
    return *sim;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zelp::sim::SimPlatform& sim = FreshPrinters();
    FuzzInput input(data, size);
    Session session(sim, input);
    for (int calls = 0; calls < 64 && !input.Empty(); ++calls) {
        session.RunOneCall();
    }
    session.CloseEverything();
    return 0;
}
