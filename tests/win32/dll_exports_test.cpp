// The shipped DLL through its exports, with nothing behind it but what Wine
// offers: named pipes, an empty USB printer class, and the session's LPT2.
#include <jni.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "fake_jni_env.h"
#include "loaded_library.h"
#include "wine_ports.h"

// A 32-bit JVM calls every native method as __stdcall: a jni.h whose JNICALL
// says otherwise (JDK 24 and later, or a Linux jni_md.h) builds a library
// that unbalances the JVM's stack on each call. On x86_64 both are the one
// calling convention of the system.
static_assert(std::is_same_v<void(JNICALL*)(), void(__stdcall*)()>,
              "JNICALL is not __stdcall: the Windows jni_md.h was not used");

namespace zelp::test {
namespace {

// The names in the DLL's export directory, read the way the loader reads them.
std::vector<std::string> ExportedNames(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::vector<std::string> names;
    if (directory.Size == 0) {
        return names;
    }
    const auto* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    const auto* nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        names.emplace_back(reinterpret_cast<const char*>(base + nameRvas[i]));
    }
    return names;
}

TEST_F(LoadedLibrary, ExportsExactlyWholeJavaClassesUnderPlainNames) {
    const std::vector<std::string> exported = ExportedNames(s_hLibrary);
    const std::set<std::string> names(exported.begin(), exported.end());
    std::set<std::string> expected;
    for (const JavaClassNatives& javaClass : kJavaClasses) {
        size_t found = 0;
        for (const char* method : javaClass.methods) {
            const std::string name = std::string(javaClass.prefix) + method;
            found += ::GetProcAddress(s_hLibrary, name.c_str()) != nullptr ? 1 : 0;
            if (names.count(name) != 0) {
                expected.insert(name);
            }
        }
        EXPECT_EQ(found, javaClass.methods.size()) << javaClass.prefix;
    }
    // Nothing else leaves the library: no helpers, no decorated Java_...@N.
    EXPECT_EQ(names, expected);
}

TEST_F(LoadedLibrary, ParallelPortWithoutAPortFailsAndKeepsItsFlags) {
    FakeJniEnv jni;
    JNIEnv* env = jni.Env();
    FakeString absent{u"\\\\.\\LPT9"};
    FakeByteArray data({'a', 'b', 'c'});
    FakeByteArray buffer({0, 0, 0, 0});

    EXPECT_FALSE(ParallelPort<OpenFn>("openParallelPort")(env, nullptr, FakeJniEnv::Ref(absent)));
    EXPECT_EQ(jni.stringCharsOut, 0) << "the port name was not released";

    EXPECT_FALSE(ParallelPort<SetFlagFn>("setWriteComplete")(env, nullptr, JNI_FALSE));
    EXPECT_FALSE(ParallelPort<WriteFn>("writeData")(env, nullptr, FakeJniEnv::Ref(data), 0, 3));
    EXPECT_FALSE(ParallelPort<NoArgFn>("isWriteComplete")(env, nullptr));
    EXPECT_TRUE(ParallelPort<SetFlagFn>("setWriteComplete")(env, nullptr, JNI_TRUE));
    EXPECT_TRUE(ParallelPort<NoArgFn>("isWriteComplete")(env, nullptr));

    // Every read sets its flag, even one that had nothing to read from.
    ParallelPort<SetFlagFn>("setReadComplete")(env, nullptr, JNI_FALSE);
    EXPECT_EQ(ParallelPort<ReadFn>("readData")(env, nullptr, FakeJniEnv::Ref(buffer), 4), 0);
    EXPECT_TRUE(ParallelPort<NoArgFn>("isReadComplete")(env, nullptr));
    EXPECT_EQ(buffer.elements, std::vector<jbyte>({0, 0, 0, 0}));

    EXPECT_FALSE(ParallelPort<NoArgFn>("detectParallelPort")(env, nullptr));
    EXPECT_TRUE(ParallelPort<NoArgFn>("closeParallelPort")(env, nullptr));
    EXPECT_EQ(jni.exceptions, 0);
}

TEST_F(LoadedLibrary, ParallelPortWritesItsRangeThroughLpt2) {
    const std::string lpt = LptPortName();
    ASSERT_FALSE(lpt.empty()) << kNoSessionHint;
    LptPeer peer(LptPeerName());
    ASSERT_TRUE(peer.IsOpen());

    FakeJniEnv jni;
    JNIEnv* env = jni.Env();
    FakeString name{std::u16string(lpt.begin(), lpt.end())};
    FakeByteArray job({'-', '-', '\x1b', '@', 'H', 'i', '\r', '\n', '\x0c', '-'});
    FakeByteArray buffer({9, 9});

    ASSERT_TRUE(ParallelPort<OpenFn>("openParallelPort")(env, nullptr, FakeJniEnv::Ref(name)));
    ParallelPort<SetFlagFn>("setWriteComplete")(env, nullptr, JNI_FALSE);
    EXPECT_TRUE(ParallelPort<WriteFn>("writeData")(env, nullptr, FakeJniEnv::Ref(job), 2, 7));
    EXPECT_TRUE(ParallelPort<NoArgFn>("isWriteComplete")(env, nullptr));
    EXPECT_EQ(peer.Receive(7), std::vector<BYTE>({0x1b, '@', 'H', 'i', '\r', '\n', 0x0c}));

    // Wine's port refuses the switch to reverse mode, so nothing is read.
    ParallelPort<SetFlagFn>("setReadComplete")(env, nullptr, JNI_FALSE);
    EXPECT_EQ(ParallelPort<ReadFn>("readData")(env, nullptr, FakeJniEnv::Ref(buffer), 2), 0);
    EXPECT_TRUE(ParallelPort<NoArgFn>("isReadComplete")(env, nullptr));
    EXPECT_EQ(buffer.elements, std::vector<jbyte>({9, 9}));

    EXPECT_TRUE(ParallelPort<NoArgFn>("closeParallelPort")(env, nullptr));
    // After a close, a write has no port to go to.
    EXPECT_FALSE(ParallelPort<WriteFn>("writeData")(env, nullptr, FakeJniEnv::Ref(job), 0, 1));
    EXPECT_EQ(jni.exceptions, 0);
}

// Under Wine the USB printer class has no members: discovery walks Windows'
// own (empty) interface list with records of this build's size.
TEST_F(LoadedLibrary, UsbDeviceWithoutPrintersFindsNoneAndKeepsTheArrays) {
    FakeJniEnv jni;
    JNIEnv* env = jni.Env();
    FakeString serial{u"1042"};
    FakeString vendor{u"0x1234"};
    FakeString product{u"0x5678"};
    FakeIntArray first(std::vector<jint>(10, -1));
    FakeIntArray second(std::vector<jint>(10, -2));
    FakeByteArray data({1, 2, 3});

    EXPECT_FALSE(UsbDevice<UsbOpenFn>("openUsbPort")(env, nullptr, FakeJniEnv::Ref(serial), 3,
                                                     FakeJniEnv::Ref(vendor),
                                                     FakeJniEnv::Ref(product)));
    EXPECT_EQ(UsbDevice<UsbListFn>("usbDeviceList")(
                  env, nullptr, FakeJniEnv::Ref(first), FakeJniEnv::Ref(second), 3,
                  FakeJniEnv::Ref(vendor), FakeJniEnv::Ref(product)),
              0);
    EXPECT_EQ(first.elements, std::vector<jint>(10, -1));
    EXPECT_EQ(second.elements, std::vector<jint>(10, -2));
    EXPECT_FALSE(UsbDevice<UsbSlotFn>("detectUsbDevice")(env, nullptr, 3));

    EXPECT_FALSE(
        UsbDevice<UsbWriteFn>("writeData")(env, nullptr, FakeJniEnv::Ref(data), 0, 3, 100, 3));
    UsbDevice<UsbSetFlagFn>("setReadComplete")(env, nullptr, JNI_FALSE, 3);
    EXPECT_EQ(UsbDevice<UsbReadFn>("readData")(env, nullptr, FakeJniEnv::Ref(data), 3, 3), 0);
    EXPECT_TRUE(UsbDevice<UsbSlotFn>("isReadComplete")(env, nullptr, 3));
    EXPECT_EQ(data.elements, std::vector<jbyte>({1, 2, 3}));

    EXPECT_TRUE(UsbDevice<UsbSlotFn>("closeUsbPort")(env, nullptr, 3));
    EXPECT_EQ(jni.stringCharsOut, 0);
    EXPECT_EQ(jni.exceptions, 0);
}

}  // namespace
}  // namespace zelp::test
