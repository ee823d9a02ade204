// A JNI environment for calling the exported methods from C++, as lean as
// the JVM's own for the few functions the library uses: strings, and byte and
// int arrays. It records nothing, so a million calls cost no memory of its own.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

namespace zelp::bench {

struct BenchString {
    std::u16string units;
};

struct BenchArray {
    std::vector<jbyte> bytes;
    std::vector<jint> ints;
    bool isInt = false;
};

class BenchJniEnv {
public:
    BenchJniEnv();
    BenchJniEnv(const BenchJniEnv&) = delete;
    BenchJniEnv& operator=(const BenchJniEnv&) = delete;

    JNIEnv* Env() { return &m_env; }

    static jstring Ref(BenchString& text) { return reinterpret_cast<jstring>(&text); }
    static jbyteArray Bytes(BenchArray& array) { return reinterpret_cast<jbyteArray>(&array); }
    static jintArray Ints(BenchArray& array) { return reinterpret_cast<jintArray>(&array); }

    static BenchString Text(const std::string& ascii);
    static BenchArray ByteArray(size_t length);
    static BenchArray IntArray(size_t length);

private:
    JNINativeInterface_ m_table{};
    JNIEnv m_env{};
};

}  // namespace zelp::bench
