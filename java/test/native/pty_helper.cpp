// The printer's side of a pseudo-terminal, for the Java tests: Java cannot
// open a pty master by itself. Never shipped.
//
// The helper keeps a descriptor of the slave open for the life of the pty, so
// that the master keeps working while the port under test is closed and
// opened again; and it puts the line in raw mode, so that every byte value
// crosses unchanged.
#include <fcntl.h>
#include <jni.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {

bool MakeRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return false;
    }
    cfmakeraw(&settings);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

int OpenMaster() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        return -1;
    }
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        close(master);
        return -1;
    }
    return master;
}

int WaitReadable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    int ready;
    do {
        ready = poll(&entry, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready;
}

}  // namespace

extern "C" {

// The master descriptor, or -1.
JNIEXPORT jint JNICALL Java_zelp_test_Pty_openMaster(JNIEnv*, jclass) {
    return OpenMaster();
}

// The slave's path, or null.
JNIEXPORT jstring JNICALL Java_zelp_test_Pty_slavePath(JNIEnv* env, jclass, jint master) {
    char path[128];
    if (ptsname_r(master, path, sizeof path) != 0) {
        return nullptr;
    }
    return env->NewStringUTF(path);
}

// Opens the slave in raw mode and returns its descriptor, or -1.
JNIEXPORT jint JNICALL Java_zelp_test_Pty_openSlave(JNIEnv* env, jclass, jstring path) {
    const char* name = env->GetStringUTFChars(path, nullptr);
    if (name == nullptr) {
        return -1;
    }
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    env->ReleaseStringUTFChars(path, name);
    if (slave >= 0 && !MakeRaw(slave)) {
        close(slave);
        return -1;
    }
    return slave;
}

// Up to buffer.length bytes: the count, 0 when nothing came in time, -1 when
// the other side is gone.
JNIEXPORT jint JNICALL Java_zelp_test_Pty_read(JNIEnv* env, jclass, jint fd, jbyteArray buffer,
                                               jint timeoutMs) {
    const int ready = WaitReadable(fd, timeoutMs);
    if (ready <= 0) {
        return ready == 0 ? 0 : -1;
    }
    std::vector<jbyte> bytes(static_cast<size_t>(env->GetArrayLength(buffer)));
    ssize_t got;
    do {
        got = read(fd, bytes.data(), bytes.size());
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        return -1;
    }
    env->SetByteArrayRegion(buffer, 0, static_cast<jsize>(got), bytes.data());
    return static_cast<jint>(got);
}

// Writes all the bytes; false when the line failed.
JNIEXPORT jboolean JNICALL Java_zelp_test_Pty_write(JNIEnv* env, jclass, jint fd, jbyteArray data) {
    std::vector<jbyte> bytes(static_cast<size_t>(env->GetArrayLength(data)));
    env->GetByteArrayRegion(data, 0, static_cast<jsize>(bytes.size()), bytes.data());
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return JNI_FALSE;
        }
        done += static_cast<size_t>(put);
    }
    return JNI_TRUE;
}

JNIEXPORT void JNICALL Java_zelp_test_Pty_close(JNIEnv*, jclass, jint fd) {
    if (fd >= 0) {
        close(fd);
    }
}

}  // extern "C"
