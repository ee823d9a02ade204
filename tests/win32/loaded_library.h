// The shipped DLL as a JVM meets it: loaded from its folder, every native
// method found by its plain JNI name with GetProcAddress, and called with a
// JNI environment (a small one of our own, fake_jni_env.h) through the JNI
// calling convention. Nothing of the library is linked into the program.
#pragma once

#include <jni.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelp::test {

// The Java classes the library serves and their native methods: a JVM
// resolves each one by name at its first call. New classes join this table.
struct JavaClassNatives {
    const char* prefix;
    std::vector<const char*> methods;
};

inline const JavaClassNatives kJavaClasses[] = {
    {"Java_com_quenrix_zel_comm_ParallelPort_",
     {"openParallelPort", "closeParallelPort", "writeData", "setWriteComplete", "isWriteComplete",
      "readData", "setReadComplete", "isReadComplete", "detectParallelPort"}},
    {"Java_dravn_usb_UsbDevice_",
     {"openUsbPort", "closeUsbPort", "writeData", "setWriteComplete", "isWriteComplete", "readData",
      "setReadComplete", "isReadComplete", "detectUsbDevice", "usbDeviceList"}},
};

inline const JavaClassNatives& kParallelPort = kJavaClasses[0];
inline const JavaClassNatives& kUsbDevice = kJavaClasses[1];

inline std::string LibraryPath() {
    // The tests live in bin/, the library in lib/ beside it.
    char self[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, length);
    path.resize(path.find_last_of("\\/"));
    path.resize(path.find_last_of("\\/") + 1);
    return path + "lib\\LibIoZelp.dll";
}

using OpenFn = jboolean(JNICALL*)(JNIEnv*, jclass, jstring);
using NoArgFn = jboolean(JNICALL*)(JNIEnv*, jclass);
using WriteFn = jboolean(JNICALL*)(JNIEnv*, jclass, jbyteArray, jint, jint);
using ReadFn = jint(JNICALL*)(JNIEnv*, jclass, jbyteArray, jint);
using SetFlagFn = jboolean(JNICALL*)(JNIEnv*, jclass, jboolean);
using UsbOpenFn = jboolean(JNICALL*)(JNIEnv*, jclass, jstring, jint, jstring, jstring);
using UsbSlotFn = jboolean(JNICALL*)(JNIEnv*, jclass, jint);
using UsbWriteFn = jboolean(JNICALL*)(JNIEnv*, jclass, jbyteArray, jint, jint, jint, jint);
using UsbReadFn = jint(JNICALL*)(JNIEnv*, jclass, jbyteArray, jint, jint);
using UsbSetFlagFn = jboolean(JNICALL*)(JNIEnv*, jclass, jboolean, jint);
using UsbListFn = jint(JNICALL*)(JNIEnv*, jclass, jintArray, jintArray, jint, jstring, jstring);

class LoadedLibrary : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_hLibrary = ::LoadLibraryA(LibraryPath().c_str()); }
    static void TearDownTestSuite() {
        if (s_hLibrary != nullptr) {
            ::FreeLibrary(s_hLibrary);
            s_hLibrary = nullptr;
        }
    }

    void SetUp() override {
        ASSERT_NE(s_hLibrary, nullptr) << LibraryPath() << ": error " << ::GetLastError();
    }

    template <class Fn>
    Fn Native(const JavaClassNatives& javaClass, const char* method) {
        const std::string name = std::string(javaClass.prefix) + method;
        FARPROC entry = ::GetProcAddress(s_hLibrary, name.c_str());
        EXPECT_NE(entry, nullptr) << name;
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(entry));
    }
    template <class Fn>
    Fn ParallelPort(const char* method) {
        return Native<Fn>(kParallelPort, method);
    }
    template <class Fn>
    Fn UsbDevice(const char* method) {
        return Native<Fn>(kUsbDevice, method);
    }

    static inline HMODULE s_hLibrary = nullptr;
};

}  // namespace zelp::test
