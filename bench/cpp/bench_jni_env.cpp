#include "bench_jni_env.h"

#include <algorithm>

namespace zelp::bench {

namespace {

BenchString& Str(jstring text) {
    return *reinterpret_cast<BenchString*>(text);
}

BenchArray& Arr(jarray array) {
    return *reinterpret_cast<BenchArray*>(array);
}

jsize JNICALL GetStringLength(JNIEnv*, jstring text) {
    return static_cast<jsize>(Str(text).units.size());
}

// The units themselves, as a VM that pins strings hands them out.
const jchar* JNICALL GetStringChars(JNIEnv*, jstring text, jboolean* isCopy) {
    if (isCopy != nullptr) {
        *isCopy = JNI_FALSE;
    }
    return reinterpret_cast<const jchar*>(Str(text).units.c_str());
}

void JNICALL ReleaseStringChars(JNIEnv*, jstring, const jchar*) {}

jsize JNICALL GetArrayLength(JNIEnv*, jarray array) {
    const BenchArray& a = Arr(array);
    return static_cast<jsize>(a.isInt ? a.ints.size() : a.bytes.size());
}

// The library checks every range before it asks, so no bounds are checked here.
void JNICALL GetByteArrayRegion(JNIEnv*, jbyteArray array, jsize start, jsize length, jbyte* out) {
    std::copy_n(Arr(array).bytes.begin() + start, length, out);
}

void JNICALL SetByteArrayRegion(JNIEnv*, jbyteArray array, jsize start, jsize length,
                                const jbyte* in) {
    std::copy_n(in, length, Arr(array).bytes.begin() + start);
}

void JNICALL GetIntArrayRegion(JNIEnv*, jintArray array, jsize start, jsize length, jint* out) {
    std::copy_n(Arr(array).ints.begin() + start, length, out);
}

void JNICALL SetIntArrayRegion(JNIEnv*, jintArray array, jsize start, jsize length,
                               const jint* in) {
    std::copy_n(in, length, Arr(array).ints.begin() + start);
}

}  // namespace

BenchJniEnv::BenchJniEnv() {
    m_table.GetStringLength = &GetStringLength;
    m_table.GetStringChars = &GetStringChars;
    m_table.ReleaseStringChars = &ReleaseStringChars;
    m_table.GetArrayLength = &GetArrayLength;
    m_table.GetByteArrayRegion = &GetByteArrayRegion;
    m_table.SetByteArrayRegion = &SetByteArrayRegion;
    m_table.GetIntArrayRegion = &GetIntArrayRegion;
    m_table.SetIntArrayRegion = &SetIntArrayRegion;
    m_env.functions = &m_table;
}

BenchString BenchJniEnv::Text(const std::string& ascii) {
    return BenchString{std::u16string(ascii.begin(), ascii.end())};
}

BenchArray BenchJniEnv::ByteArray(size_t length) {
    BenchArray array;
    array.bytes.resize(length);
    for (size_t i = 0; i < length; ++i) {
        array.bytes[i] = static_cast<jbyte>(i * 7 + (i >> 8));
    }
    return array;
}

BenchArray BenchJniEnv::IntArray(size_t length) {
    BenchArray array;
    array.ints.resize(length);
    array.isInt = true;
    return array;
}

}  // namespace zelp::bench
