// The natives of zelp.sim.VirtualPrinters: the test-only Java control class
// that adds and scripts the virtual printers of the sim copy of the library.
//
// Nothing may escape into the JVM: a name that names no virtual device is
// ignored (or gives false), never an exception.
#include <jni.h>

#include <string>

#include "native/jni_frame.h"
#include "native/platform/sim/sim_platform.h"

namespace {

using zelp::jni::JStringToString;
using zelp::sim::DefaultSim;
using zelp::sim::SimPlatform;

template <class Action>
bool Script(Action action) noexcept {
    try {
        action(DefaultSim());
        return true;
    } catch (...) {
        return false;
    }
}

// The bytes of a Java array; empty for a null array.
std::string ArrayBytes(JNIEnv* env, jbyteArray array) {
    if (array == nullptr) {
        return {};
    }
    std::string bytes(static_cast<size_t>(env->GetArrayLength(array)), '\0');
    if (!bytes.empty()) {
        env->GetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()),
                                reinterpret_cast<jbyte*>(bytes.data()));
    }
    return bytes;
}

DWORD NonNegative(jint value) {
    return value < 0 ? 0u : static_cast<DWORD>(value);
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_zelp_sim_VirtualPrinters_reset(JNIEnv*, jclass) {
    Script([](SimPlatform& sim) { sim.Reset(); });
}

JNIEXPORT jboolean JNICALL Java_zelp_sim_VirtualPrinters_addParallelPrinter(JNIEnv* env, jclass,
                                                                            jstring name) {
    const std::string path = JStringToString(env, name);
    bool bAdded = false;
    Script([&](SimPlatform& sim) { bAdded = sim.AddParallelPort(path); });
    return bAdded ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_zelp_sim_VirtualPrinters_addUsbPrinter(JNIEnv* env, jclass,
                                                                       jstring devicePath) {
    const std::string path = JStringToString(env, devicePath);
    bool bAdded = false;
    Script([&](SimPlatform& sim) { bAdded = sim.AddUsbPrinter(path); });
    return bAdded ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_zelp_sim_VirtualPrinters_unplug(JNIEnv* env, jclass, jstring name) {
    const std::string path = JStringToString(env, name);
    Script([&](SimPlatform& sim) { sim.Unplug(path); });
}

JNIEXPORT void JNICALL Java_zelp_sim_VirtualPrinters_plugIn(JNIEnv* env, jclass, jstring name) {
    const std::string path = JStringToString(env, name);
    Script([&](SimPlatform& sim) { sim.PlugIn(path); });
}

JNIEXPORT void JNICALL Java_zelp_sim_VirtualPrinters_holdOpenElsewhere(JNIEnv* env, jclass,
                                                                       jstring name,
                                                                       jboolean held) {
    const std::string path = JStringToString(env, name);
    Script([&](SimPlatform& sim) { sim.HoldOpenElsewhere(path, held != JNI_FALSE); });
}

JNIEXPORT void JNICALL Java_zelp_sim_VirtualPrinters_queueReply(JNIEnv* env, jclass, jstring name,
                                                                jbyteArray bytes) {
    const std::string path = JStringToString(env, name);
    const std::string reply = ArrayBytes(env, bytes);
    Script([&](SimPlatform& sim) { sim.QueueReply(path, reply); });
}

JNIEXPORT void JNICALL Java_zelp_sim_VirtualPrinters_answerIdentity(JNIEnv* env, jclass,
                                                                    jstring name, jstring reply) {
    const std::string path = JStringToString(env, name);
    const std::string text = JStringToString(env, reply);
    Script([&](SimPlatform& sim) { sim.AnswerIdentity(path, {text}); });
}

JNIEXPORT jbyteArray JNICALL Java_zelp_sim_VirtualPrinters_takeReceived(JNIEnv* env, jclass,
                                                                        jstring name) {
    const std::string path = JStringToString(env, name);
    std::string received;
    Script([&](SimPlatform& sim) { received = sim.TakeReceived(path); });
    jbyteArray array = env->NewByteArray(static_cast<jsize>(received.size()));
    if (array != nullptr && !received.empty()) {
        env->SetByteArrayRegion(array, 0, static_cast<jsize>(received.size()),
                                reinterpret_cast<const jbyte*>(received.data()));
    }
    return array;
}

JNIEXPORT void JNICALL Java_zelp_sim_VirtualPrinters_setParallelStatus(JNIEnv* env, jclass,
                                                                       jstring name, jint status) {
    const std::string path = JStringToString(env, name);
    Script([&](SimPlatform& sim) { sim.SetParallelStatus(path, static_cast<BYTE>(status)); });
}

JNIEXPORT void JNICALL Java_zelp_sim_VirtualPrinters_setWriteDelayMillis(JNIEnv* env, jclass,
                                                                         jstring name, jint ms) {
    const std::string path = JStringToString(env, name);
    const DWORD delay = NonNegative(ms);
    Script([&](SimPlatform& sim) {
        sim.SetWrites(
            path, delay == 0 ? zelp::sim::Behaviour::AtOnce() : zelp::sim::Behaviour::After(delay));
    });
}

JNIEXPORT void JNICALL Java_zelp_sim_VirtualPrinters_setWriteStalled(JNIEnv* env, jclass,
                                                                     jstring name,
                                                                     jboolean stalled) {
    const std::string path = JStringToString(env, name);
    Script([&](SimPlatform& sim) {
        if (stalled != JNI_FALSE) {
            sim.SetWrites(path, zelp::sim::Behaviour::Never());
        } else {
            sim.SetWrites(path, zelp::sim::Behaviour::AtOnce());
            sim.Unstall(path);
        }
    });
}

JNIEXPORT jint JNICALL Java_zelp_sim_VirtualPrinters_openHandleCount(JNIEnv*, jclass) {
    size_t count = 0;
    Script([&](SimPlatform& sim) { count = sim.OpenHandleCount(); });
    return static_cast<jint>(count);
}

}  // extern "C"
