// Calls the ParallelPort natives as the JVM would, with a fake JNI
// environment, over virtual printers on virtual time.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_jni_env.h"
#include "native/platform/sim/sim_platform.h"
#include "parallel/parallel_natives.h"

namespace zelp::test {

// One thread's view of the natives: a JNI environment belongs to one thread,
// as in a real JVM.
class JavaSide {
public:
    bool Open(const char16_t* name) {
        if (name == nullptr) {
            return Java_com_quenrix_zel_comm_ParallelPort_openParallelPort(Env(), nullptr, nullptr);
        }
        FakeString text{name};
        return Java_com_quenrix_zel_comm_ParallelPort_openParallelPort(Env(), nullptr,
                                                                       FakeJniEnv::Ref(text));
    }
    bool Close() {
        return Java_com_quenrix_zel_comm_ParallelPort_closeParallelPort(Env(), nullptr);
    }
    bool Write(FakeByteArray& data, jint offset, jint length) {
        return Java_com_quenrix_zel_comm_ParallelPort_writeData(
            Env(), nullptr, FakeJniEnv::Ref(data), offset, length);
    }
    bool WriteNull(jint offset, jint length) {
        return Java_com_quenrix_zel_comm_ParallelPort_writeData(Env(), nullptr, nullptr, offset,
                                                                length);
    }
    jint Read(FakeByteArray& buffer, jint length) {
        return Java_com_quenrix_zel_comm_ParallelPort_readData(Env(), nullptr,
                                                               FakeJniEnv::Ref(buffer), length);
    }
    jint ReadNull(jint length) {
        return Java_com_quenrix_zel_comm_ParallelPort_readData(Env(), nullptr, nullptr, length);
    }
    bool Detect() {
        return Java_com_quenrix_zel_comm_ParallelPort_detectParallelPort(Env(), nullptr);
    }
    bool SetWriteComplete(bool value) {
        return Java_com_quenrix_zel_comm_ParallelPort_setWriteComplete(
            Env(), nullptr, value ? JNI_TRUE : JNI_FALSE);
    }
    bool IsWriteComplete() {
        return Java_com_quenrix_zel_comm_ParallelPort_isWriteComplete(Env(), nullptr);
    }
    bool SetReadComplete(bool value) {
        return Java_com_quenrix_zel_comm_ParallelPort_setReadComplete(Env(), nullptr,
                                                                      value ? JNI_TRUE : JNI_FALSE);
    }
    bool IsReadComplete() {
        return Java_com_quenrix_zel_comm_ParallelPort_isReadComplete(Env(), nullptr);
    }

    FakeJniEnv fake;

private:
    JNIEnv* Env() { return fake.Env(); }
};

inline FakeByteArray BytesOf(const std::string& text) {
    return FakeByteArray(std::vector<jbyte>(text.begin(), text.end()));
}

inline std::string TextOf(const FakeByteArray& array, size_t count) {
    return std::string(array.elements.begin(), array.elements.begin() + count);
}

class ParallelNativesTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim.AddParallelPort("LPT1");
        sim.AddParallelPort("LPT2");
    }

    void TearDown() override {
        // The port goes before the platform it was opened on.
        java.Close();
        EXPECT_EQ(java.fake.exceptions, 0) << "a real JVM would have raised an exception";
        EXPECT_EQ(java.fake.stringCharsOut, 0);
    }

    sim::SimPlatform sim;
    ScopedPlatform scope{sim};
    JavaSide java;
};

}  // namespace zelp::test
