// The native methods called as a Java program calls them, with texts and
// byte arrays, through one thread's fake JNI environment.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "fake_jni_env.h"
#include "parallel/parallel_natives.h"
#include "usb/usb_natives.h"

namespace zelp::reliability {

using test::FakeByteArray;
using test::FakeIntArray;
using test::FakeJniEnv;
using test::FakeString;

class JavaCalls {
public:
    static constexpr const char16_t* kVendor = u"4660";    // 0x1234
    static constexpr const char16_t* kProduct = u"22136";  // 0x5678

    bool OpenUsb(jint slot, std::u16string serial) {
        FakeString text{std::move(serial)}, vendor{kVendor}, product{kProduct};
        return Java_dravn_usb_UsbDevice_openUsbPort(Env(), nullptr, FakeJniEnv::Ref(text), slot,
                                                    FakeJniEnv::Ref(vendor),
                                                    FakeJniEnv::Ref(product));
    }
    bool CloseUsb(jint slot) { return Java_dravn_usb_UsbDevice_closeUsbPort(Env(), nullptr, slot); }
    bool WriteUsb(jint slot, std::string_view job, jint timeoutMs) {
        FakeByteArray data = Bytes(job);
        return Java_dravn_usb_UsbDevice_writeData(Env(), nullptr, FakeJniEnv::Ref(data), 0,
                                                  static_cast<jint>(job.size()), timeoutMs, slot);
    }
    std::string ReadUsb(jint slot, jint length = 64) {
        FakeByteArray buffer(std::vector<jbyte>(static_cast<size_t>(length), 0));
        const jint n = Java_dravn_usb_UsbDevice_readData(Env(), nullptr, FakeJniEnv::Ref(buffer),
                                                         length, slot);
        return std::string(buffer.elements.begin(), buffer.elements.begin() + n);
    }
    bool DetectUsb(jint slot) {
        return Java_dravn_usb_UsbDevice_detectUsbDevice(Env(), nullptr, slot);
    }
    // The list's two arrays, as far as it filled them.
    std::vector<std::pair<jint, jint>> ListUsb(size_t room = 10) {
        FakeIntArray first(std::vector<jint>(room, -7)), second(std::vector<jint>(room, -7));
        FakeString vendor{kVendor}, product{kProduct};
        const jint count = Java_dravn_usb_UsbDevice_usbDeviceList(
            Env(), nullptr, FakeJniEnv::Ref(first), FakeJniEnv::Ref(second), 0,
            FakeJniEnv::Ref(vendor), FakeJniEnv::Ref(product));
        std::vector<std::pair<jint, jint>> entries;
        for (jint i = 0; i < count; ++i) {
            entries.emplace_back(first.elements[static_cast<size_t>(i)],
                                 second.elements[static_cast<size_t>(i)]);
        }
        return entries;
    }

    bool OpenParallel(std::u16string name) {
        FakeString text{std::move(name)};
        return Java_com_quenrix_zel_comm_ParallelPort_openParallelPort(Env(), nullptr,
                                                                       FakeJniEnv::Ref(text));
    }
    bool CloseParallel() {
        return Java_com_quenrix_zel_comm_ParallelPort_closeParallelPort(Env(), nullptr);
    }
    bool WriteParallel(std::string_view job) {
        FakeByteArray data = Bytes(job);
        return Java_com_quenrix_zel_comm_ParallelPort_writeData(
            Env(), nullptr, FakeJniEnv::Ref(data), 0, static_cast<jint>(job.size()));
    }
    std::string ReadParallel(jint length = 64) {
        FakeByteArray buffer(std::vector<jbyte>(static_cast<size_t>(length), 0));
        const jint n = Java_com_quenrix_zel_comm_ParallelPort_readData(
            Env(), nullptr, FakeJniEnv::Ref(buffer), length);
        return std::string(buffer.elements.begin(), buffer.elements.begin() + n);
    }
    bool DetectParallel() {
        return Java_com_quenrix_zel_comm_ParallelPort_detectParallelPort(Env(), nullptr);
    }

    static FakeByteArray Bytes(std::string_view text) {
        return FakeByteArray(std::vector<jbyte>(text.begin(), text.end()));
    }

    JNIEnv* Env() { return fake.Env(); }
    FakeJniEnv fake;
};

inline std::u16string Wide(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

}  // namespace zelp::reliability
