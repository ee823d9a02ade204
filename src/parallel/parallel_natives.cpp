// The nine native methods of com.quenrix.zel.comm.ParallelPort.
//
// Each method converts its arguments, takes its own reference to the current
// port, makes one call and sets a flag where it must. Holding a reference for
// the length of the call is what keeps a port alive while a close or a new
// open on another thread replaces it; the close itself waits, inside
// CParallelPort::Close, until the operations on the port have ended.
//
// Only open and close are serialised among themselves, so that two of them
// can never lose a port handle between them. The data path takes no lock
// beyond reading the current port.
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "native/jni_frame.h"
#include "native/port_slot.h"
#include "parallel/parallel_natives.h"
#include "parallel/parallel_port.h"

using zelp::CParallelPort;
using zelp::jni::CompletionFlag;

namespace {

using PortRef = std::shared_ptr<CParallelPort>;

// The current port (or none) and the two completion flags of the class.
// They live as long as the process: a port the Java side left open is neither
// closed nor destroyed at unload, when other JVM threads may still be inside
// a method.
zelp::PortSlot<CParallelPort>& g_pParallelPort = *new zelp::PortSlot<CParallelPort>;
CompletionFlag g_bParallelWriteComplete{0};
CompletionFlag g_bParallelReadComplete{0};

std::mutex& g_parallelLifecycle = *new std::mutex;

PortRef CurrentPort() {
    return g_pParallelPort.Get();
}

// Closes and lets go of the current port, if any. The caller holds the
// lifecycle lock.
void RetireCurrentPort() {
    PortRef port = g_pParallelPort.Exchange(nullptr);
    if (port != nullptr) {
        port->Close();
    }
}

PortRef NewPort() noexcept {
    try {
        return std::make_shared<CParallelPort>();
    } catch (...) {
        return nullptr;
    }
}

bool OpenPort(const std::string& name) {
    std::lock_guard<std::mutex> lifecycle(g_parallelLifecycle);
    // A port left open by the caller is closed, never dropped with its handle;
    // a port whose open failed holds nothing and is simply replaced.
    RetireCurrentPort();
    PortRef port = NewPort();
    if (port == nullptr) {
        return false;
    }
    const bool opened = port->Open(name.c_str()) != nullptr;
    g_pParallelPort.Exchange(std::move(port));
    return opened;
}

void ClosePort() {
    std::lock_guard<std::mutex> lifecycle(g_parallelLifecycle);
    RetireCurrentPort();
}

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL
Java_com_quenrix_zel_comm_ParallelPort_openParallelPort(JNIEnv* env, jclass, jstring portName) {
    return OpenPort(zelp::jni::JStringToString(env, portName)) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_quenrix_zel_comm_ParallelPort_closeParallelPort(JNIEnv*,
                                                                                    jclass) {
    ClosePort();
    return JNI_TRUE;
}

JNIEXPORT jboolean JNICALL Java_com_quenrix_zel_comm_ParallelPort_writeData(JNIEnv* env, jclass,
                                                                            jbyteArray data,
                                                                            jint offset,
                                                                            jint length) {
    PortRef port = CurrentPort();
    if (port == nullptr) {
        return JNI_FALSE;
    }
    const zelp::jni::ByteRangeCopy bytes(env, data, offset, length);
    if (!bytes || !port->Write(bytes.Data(), bytes.Size())) {
        return JNI_FALSE;
    }
    zelp::jni::StoreFlag(g_bParallelWriteComplete, JNI_TRUE);
    return JNI_TRUE;
}

JNIEXPORT jboolean JNICALL Java_com_quenrix_zel_comm_ParallelPort_setWriteComplete(JNIEnv*, jclass,
                                                                                   jboolean value) {
    zelp::jni::StoreFlag(g_bParallelWriteComplete, value);
    return value;
}

JNIEXPORT jboolean JNICALL Java_com_quenrix_zel_comm_ParallelPort_isWriteComplete(JNIEnv*, jclass) {
    return zelp::jni::LoadFlag(g_bParallelWriteComplete);
}

JNIEXPORT jint JNICALL Java_com_quenrix_zel_comm_ParallelPort_readData(JNIEnv* env, jclass,
                                                                       jbyteArray buffer,
                                                                       jint length) {
    uint32_t count = 0;
    PortRef port = CurrentPort();
    zelp::jni::ByteReadTarget target(env, buffer, length);
    uint32_t read = 0;
    if (port != nullptr && target && port->Read(target.Data(), read, target.Capacity())) {
        count = target.CopyBack(read);
    }
    // Every read ends by setting its flag, whatever it achieved.
    zelp::jni::StoreFlag(g_bParallelReadComplete, JNI_TRUE);
    return static_cast<jint>(count);
}

JNIEXPORT jboolean JNICALL Java_com_quenrix_zel_comm_ParallelPort_setReadComplete(JNIEnv*, jclass,
                                                                                  jboolean value) {
    zelp::jni::StoreFlag(g_bParallelReadComplete, value);
    return value;
}

JNIEXPORT jboolean JNICALL Java_com_quenrix_zel_comm_ParallelPort_isReadComplete(JNIEnv*, jclass) {
    return zelp::jni::LoadFlag(g_bParallelReadComplete);
}

JNIEXPORT jboolean JNICALL Java_com_quenrix_zel_comm_ParallelPort_detectParallelPort(JNIEnv*,
                                                                                     jclass) {
    PortRef port = CurrentPort();
    return (port != nullptr && port->IsOnline()) ? JNI_TRUE : JNI_FALSE;
}

}  // extern "C"
