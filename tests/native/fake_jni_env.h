// A JNI environment just large enough for the frame: strings, byte arrays and
// int arrays, with the few environment functions the library calls.
//
// It behaves as a strict virtual machine would. Strings hand out a heap copy
// of exactly their own code units (no terminator), so a scan past the end is
// caught by the sanitizers. Region calls outside an array copy nothing and
// record the exception a real machine would raise. Every region call is
// logged, so a test can see exactly which elements crossed.
#pragma once

#include <jni.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zelp::test {

struct FakeString {
    std::u16string units;
};

struct Region {
    jsize start;
    jsize length;
    bool operator==(const Region&) const = default;
};

struct FakeArray {
    virtual ~FakeArray() = default;
    virtual jsize Length() const = 0;
    std::vector<Region> gets;
    std::vector<Region> sets;
};

template <class T>
struct FakeTypedArray : FakeArray {
    explicit FakeTypedArray(std::vector<T> initial) : elements(std::move(initial)) {}
    // An array that only claims a length, for sizes no test can afford to
    // allocate; any region call on it counts as an exception.
    static FakeTypedArray Claiming(jsize length) {
        FakeTypedArray array({});
        array.claimedLength = length;
        return array;
    }
    jsize Length() const override {
        return claimedLength >= 0 ? claimedLength : static_cast<jsize>(elements.size());
    }
    std::vector<T> elements;
    jsize claimedLength = -1;
};

using FakeByteArray = FakeTypedArray<jbyte>;
using FakeIntArray = FakeTypedArray<jint>;

class FakeJniEnv {
public:
    FakeJniEnv() {
        m_table.GetStringLength = &GetStringLength;
        m_table.GetStringChars = &GetStringChars;
        m_table.ReleaseStringChars = &ReleaseStringChars;
        m_table.GetArrayLength = &GetArrayLength;
        m_table.GetByteArrayRegion = &GetRegion<jbyteArray, jbyte>;
        m_table.SetByteArrayRegion = &SetRegion<jbyteArray, jbyte>;
        m_table.GetIntArrayRegion = &GetRegion<jintArray, jint>;
        m_table.SetIntArrayRegion = &SetRegion<jintArray, jint>;
        m_block.env.functions = &m_table;
        m_block.owner = this;
    }
    FakeJniEnv(const FakeJniEnv&) = delete;
    FakeJniEnv& operator=(const FakeJniEnv&) = delete;

    JNIEnv* Env() { return &m_block.env; }

    static jstring Ref(FakeString& s) { return reinterpret_cast<jstring>(&s); }
    static jbyteArray Ref(FakeByteArray& a) {
        return reinterpret_cast<jbyteArray>(static_cast<FakeArray*>(&a));
    }
    static jintArray Ref(FakeIntArray& a) {
        return reinterpret_cast<jintArray>(static_cast<FakeArray*>(&a));
    }

    // Calls a real machine would have answered with a pending exception.
    int exceptions = 0;
    // GetStringChars results not yet released.
    int stringCharsOut = 0;

private:
    struct Block {
        JNIEnv env;
        FakeJniEnv* owner;
    };

    static FakeJniEnv& Self(JNIEnv* env) { return *reinterpret_cast<Block*>(env)->owner; }
    static FakeString& Str(jstring s) { return *reinterpret_cast<FakeString*>(s); }
    static FakeArray& Arr(jarray a) { return *reinterpret_cast<FakeArray*>(a); }

    static jsize JNICALL GetStringLength(JNIEnv*, jstring s) {
        return static_cast<jsize>(Str(s).units.size());
    }

    static const jchar* JNICALL GetStringChars(JNIEnv* env, jstring s, jboolean* isCopy) {
        const std::u16string& units = Str(s).units;
        // A zero-length request still gets an address of its own, as from a VM.
        auto* copy = new jchar[units.empty() ? 1 : units.size()];
        std::copy(units.begin(), units.end(), copy);
        if (isCopy != nullptr) {
            *isCopy = JNI_TRUE;
        }
        ++Self(env).stringCharsOut;
        return copy;
    }

    static void JNICALL ReleaseStringChars(JNIEnv* env, jstring, const jchar* chars) {
        delete[] chars;
        --Self(env).stringCharsOut;
    }

    static jsize JNICALL GetArrayLength(JNIEnv*, jarray a) { return Arr(a).Length(); }

    static bool InBounds(const FakeArray& array, jsize start, jsize length) {
        return start >= 0 && length >= 0 &&
               static_cast<int64_t>(start) + length <= static_cast<int64_t>(array.Length());
    }

    template <class Ref, class T>
    static FakeTypedArray<T>& Typed(Ref a) {
        return static_cast<FakeTypedArray<T>&>(Arr(a));
    }

    template <class Ref, class T>
    static void JNICALL GetRegion(JNIEnv* env, Ref a, jsize start, jsize length, T* out) {
        FakeTypedArray<T>& array = Typed<Ref, T>(a);
        array.gets.push_back({start, length});
        if (!InBounds(array, start, length) || array.claimedLength >= 0) {
            ++Self(env).exceptions;
            return;
        }
        std::copy_n(array.elements.begin() + start, length, out);
    }

    template <class Ref, class T>
    static void JNICALL SetRegion(JNIEnv* env, Ref a, jsize start, jsize length, const T* in) {
        FakeTypedArray<T>& array = Typed<Ref, T>(a);
        array.sets.push_back({start, length});
        if (!InBounds(array, start, length) || array.claimedLength >= 0) {
            ++Self(env).exceptions;
            return;
        }
        std::copy_n(in, length, array.elements.begin() + start);
    }

    JNINativeInterface_ m_table{};
    Block m_block{};
};

}  // namespace zelp::test
