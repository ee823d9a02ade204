// The ten native methods of dravn.usb.UsbDevice.
//
// Each slot (0..254) has its port object, its two completion flags and, in
// the slot records, the key and serial that detection looks for. A slot
// outside that range is treated as an empty slot and touches no table.
//
// Each call takes its own reference to the slot's port, so no port is
// destroyed while another thread is inside it; a close waits, inside
// CUsbPort::Close, for the transfers running on the printer. Opens and closes
// of one slot are serialised among themselves; the data path takes no lock
// beyond reading the slot, and the port's own mutex orders its transfers.
#include "usb/usb_natives.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "native/jni_frame.h"
#include "native/port_slot.h"
#include "usb/device_list.h"
#include "usb/usb_discovery.h"
#include "usb/usb_key.h"
#include "usb/usb_port.h"
#include "usb/usb_slots.h"

using zelp::CUsbPort;
using zelp::kUsbSlotCount;
using zelp::jni::CompletionFlag;

namespace {

using PortRef = zelp::PortSlot<CUsbPort>::Ref;

using SlotPorts = std::array<zelp::PortSlot<CUsbPort>, kUsbSlotCount>;
using SlotFlags = std::array<CompletionFlag, kUsbSlotCount>;

// The tables live as long as the process: ports the Java side left open are
// neither closed nor destroyed at unload, when the backend may be gone and
// other JVM threads may still be inside a method.
std::array<std::mutex, kUsbSlotCount>& g_slotLifecycle = *new std::array<std::mutex, kUsbSlotCount>;

}  // namespace

SlotPorts& g_pUsbPort = *new SlotPorts;
SlotFlags& g_bUsbWriteComplete = *new SlotFlags{};
SlotFlags& g_bUsbReadComplete = *new SlotFlags{};

namespace {

PortRef SlotPort(jint slot) {
    if (!zelp::IsValidUsbSlot(slot)) {
        return nullptr;
    }
    return g_pUsbPort[static_cast<size_t>(slot)].Get();
}

// The slot's port, made on the slot's first open; an existing one is reused.
PortRef SlotPortForOpen(size_t index) {
    PortRef port = g_pUsbPort[index].Get();
    if (port != nullptr) {
        return port;
    }
    try {
        port = std::make_shared<CUsbPort>();
    } catch (...) {
        return nullptr;
    }
    g_pUsbPort[index].Exchange(port);
    return port;
}

bool OpenSlot(jint slot, const std::string& serial, const std::string& vendor,
              const std::string& product) {
    if (!zelp::IsValidUsbSlot(slot)) {
        return false;
    }
    const auto index = static_cast<size_t>(slot);
    std::lock_guard<std::mutex> lifecycle(g_slotLifecycle[index]);
    PortRef port = SlotPortForOpen(index);
    if (port == nullptr) {
        return false;
    }
    // Detection looks for the model of the slot's latest open, found or not.
    zelp::RecordKey(slot, zelp::FormatUsbKey(vendor, product));
    if (port->Open(serial, vendor, product) == nullptr) {
        return false;
    }
    zelp::RecordSerial(slot, port->Serial());
    return true;
}

void CloseSlot(jint slot) {
    if (!zelp::IsValidUsbSlot(slot)) {
        return;
    }
    const auto index = static_cast<size_t>(slot);
    std::lock_guard<std::mutex> lifecycle(g_slotLifecycle[index]);
    PortRef port = g_pUsbPort[index].Exchange(nullptr);
    if (port != nullptr) {
        port->Close();
    }
}

CompletionFlag* FlagOf(SlotFlags& flags, jint slot) {
    return zelp::IsValidUsbSlot(slot) ? &flags[static_cast<size_t>(slot)] : nullptr;
}

jboolean StoreSlotFlag(SlotFlags& flags, jint slot, jboolean value) {
    if (CompletionFlag* flag = FlagOf(flags, slot)) {
        zelp::jni::StoreFlag(*flag, value);
    }
    return value;
}

jboolean LoadSlotFlag(SlotFlags& flags, jint slot) {
    const CompletionFlag* flag = FlagOf(flags, slot);
    return flag != nullptr ? zelp::jni::LoadFlag(*flag) : JNI_FALSE;
}

// How many entries a list may write: no more than either array holds, and
// never more than a list has.
uint32_t ListCapacity(JNIEnv* env, jintArray first, jintArray second) {
    if (first == nullptr || second == nullptr) {
        return 0;
    }
    const jsize shorter = std::min(env->GetArrayLength(first), env->GetArrayLength(second));
    return std::min(static_cast<uint32_t>(std::max<jsize>(shorter, 0)), zelp::kMaxListedPrinters);
}

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL Java_dravn_usb_UsbDevice_openUsbPort(JNIEnv* env, jclass,
                                                                jstring serialText, jint slot,
                                                                jstring vendorIdText,
                                                                jstring productIdText) {
    const std::string serial = zelp::jni::JStringToString(env, serialText);
    const std::string vendor = zelp::jni::JStringToString(env, vendorIdText);
    const std::string product = zelp::jni::JStringToString(env, productIdText);
    return OpenSlot(slot, serial, vendor, product) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_dravn_usb_UsbDevice_closeUsbPort(JNIEnv*, jclass, jint slot) {
    CloseSlot(slot);
    return JNI_TRUE;
}

JNIEXPORT jboolean JNICALL Java_dravn_usb_UsbDevice_writeData(JNIEnv* env, jclass, jbyteArray data,
                                                              jint offset, jint length,
                                                              jint timeoutMs, jint slot) {
    PortRef port = SlotPort(slot);
    if (port == nullptr) {
        return JNI_FALSE;
    }
    const zelp::jni::ByteRangeCopy bytes(env, data, offset, length);
    // -1 reaches the wait as INFINITE.
    if (!bytes || !port->Write(bytes.Data(), bytes.Size(), static_cast<uint32_t>(timeoutMs))) {
        return JNI_FALSE;
    }
    zelp::jni::StoreFlag(g_bUsbWriteComplete[static_cast<size_t>(slot)], JNI_TRUE);
    return JNI_TRUE;
}

JNIEXPORT jboolean JNICALL Java_dravn_usb_UsbDevice_setWriteComplete(JNIEnv*, jclass,
                                                                     jboolean value, jint slot) {
    return StoreSlotFlag(g_bUsbWriteComplete, slot, value);
}

JNIEXPORT jboolean JNICALL Java_dravn_usb_UsbDevice_isWriteComplete(JNIEnv*, jclass, jint slot) {
    return LoadSlotFlag(g_bUsbWriteComplete, slot);
}

JNIEXPORT jint JNICALL Java_dravn_usb_UsbDevice_readData(JNIEnv* env, jclass, jbyteArray data,
                                                         jint length, jint slot) {
    if (!zelp::IsValidUsbSlot(slot)) {
        return 0;
    }
    uint32_t count = 0;
    PortRef port = SlotPort(slot);
    zelp::jni::ByteReadTarget target(env, data, length);
    uint32_t read = 0;
    if (port != nullptr && target && port->Read(target.Data(), read, target.Capacity())) {
        count = target.CopyBack(read);
    }
    // Every read ends by setting its flag, whatever it achieved.
    zelp::jni::StoreFlag(g_bUsbReadComplete[static_cast<size_t>(slot)], JNI_TRUE);
    return static_cast<jint>(count);
}

JNIEXPORT jboolean JNICALL Java_dravn_usb_UsbDevice_setReadComplete(JNIEnv*, jclass, jboolean value,
                                                                    jint slot) {
    return StoreSlotFlag(g_bUsbReadComplete, slot, value);
}

JNIEXPORT jboolean JNICALL Java_dravn_usb_UsbDevice_isReadComplete(JNIEnv*, jclass, jint slot) {
    return LoadSlotFlag(g_bUsbReadComplete, slot);
}

JNIEXPORT jboolean JNICALL Java_dravn_usb_UsbDevice_detectUsbDevice(JNIEnv*, jclass, jint slot) {
    return zelp::IsUsbPrinterPresent(slot) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jint JNICALL Java_dravn_usb_UsbDevice_usbDeviceList(JNIEnv* env, jclass, jintArray first,
                                                              jintArray second, jint,
                                                              jstring vendorIdText,
                                                              jstring productIdText) {
    // The list needs no slot: it makes no object and touches no table.
    const uint32_t capacity = ListCapacity(env, first, second);
    const std::string vendor = zelp::jni::JStringToString(env, vendorIdText);
    const std::string product = zelp::jni::JStringToString(env, productIdText);
    zelp::jni::IntListTarget firstEntries(env, first, capacity);
    zelp::jni::IntListTarget secondEntries(env, second, capacity);
    if (capacity == 0 || !firstEntries || !secondEntries) {
        return 0;
    }
    const uint32_t count =
        zelp::ListDevices(firstEntries.Data(), secondEntries.Data(), capacity, vendor, product);
    // Only the entries written go back; the rest of each array is the caller's.
    secondEntries.CopyBack(count);
    firstEntries.CopyBack(count);
    return static_cast<jint>(count);
}

}  // extern "C"
