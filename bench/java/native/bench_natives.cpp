// The bench-only JNI library: never shipped, never loaded by the tests.
//
// It gives the JNI figures their yardsticks: an empty native method of the
// same shape as the flag poll, so the ratio shows our cost beyond the JVM's
// own call; and the printer's side of the ptys the pty figures write to,
// drained on a thread of its own so that both writers meet the same reader.
#include <fcntl.h>
#include <jni.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <new>
#include <thread>
#include <vector>

namespace {

// Reads and discards whatever the port sends, counting the bytes.
class Drain {
public:
    explicit Drain(int master) : m_master(master), m_thread([this] { Run(); }) {}
    ~Drain() {
        m_bStop.store(true);
        m_thread.join();
    }
    Drain(const Drain&) = delete;
    Drain& operator=(const Drain&) = delete;

    int64_t Count() const { return m_nBytes.load(std::memory_order_acquire); }

private:
    void Run() {
        std::vector<char> buffer(64 * 1024);
        while (!m_bStop.load()) {
            pollfd ready{m_master, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0 || (ready.revents & POLLIN) == 0) {
                continue;
            }
            const ssize_t n = ::read(m_master, buffer.data(), buffer.size());
            if (n > 0) {
                m_nBytes.fetch_add(n, std::memory_order_acq_rel);
            }
        }
    }

    const int m_master;
    std::atomic<int64_t> m_nBytes{0};
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

Drain* DrainOf(jlong handle) {
    return reinterpret_cast<Drain*>(static_cast<intptr_t>(handle));
}

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL Java_zelp_bench_BenchNatives_emptyFlag(JNIEnv*, jclass) {
    return JNI_FALSE;
}

// A pty master, or -1. The slave's line settings are left to whoever opens it.
JNIEXPORT jint JNICALL Java_zelp_bench_BenchPty_openMaster(JNIEnv*, jclass) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        return -1;
    }
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        ::close(master);
        return -1;
    }
    return master;
}

JNIEXPORT jstring JNICALL Java_zelp_bench_BenchPty_slavePath(JNIEnv* env, jclass, jint master) {
    char path[128];
    if (::ptsname_r(master, path, sizeof path) != 0) {
        return nullptr;
    }
    return env->NewStringUTF(path);
}

// A descriptor of the slave held by the peer, so the master never sees a
// hang-up while a port under test closes and opens it.
JNIEXPORT jint JNICALL Java_zelp_bench_BenchPty_holdSlave(JNIEnv* env, jclass, jstring path) {
    const char* name = env->GetStringUTFChars(path, nullptr);
    if (name == nullptr) {
        return -1;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    env->ReleaseStringUTFChars(path, name);
    return slave;
}

JNIEXPORT jlong JNICALL Java_zelp_bench_BenchPty_startDrain(JNIEnv*, jclass, jint master) {
    Drain* drain = new (std::nothrow) Drain(master);
    return static_cast<jlong>(reinterpret_cast<intptr_t>(drain));
}

JNIEXPORT jlong JNICALL Java_zelp_bench_BenchPty_drained(JNIEnv*, jclass, jlong handle) {
    return DrainOf(handle)->Count();
}

JNIEXPORT void JNICALL Java_zelp_bench_BenchPty_stopDrain(JNIEnv*, jclass, jlong handle) {
    delete DrainOf(handle);
}

JNIEXPORT void JNICALL Java_zelp_bench_BenchPty_close(JNIEnv*, jclass, jint fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

}  // extern "C"
