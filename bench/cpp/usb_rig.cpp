#include "usb_rig.h"

#include <algorithm>

#include "usb/usb_natives.h"

namespace zelp::bench {

std::string SerialOf(unsigned number) {
    return std::to_string(100 + number);
}

void AddListedPrinter(FakeUsbTree& tree, unsigned number, const std::string& node) {
    tree.AddPrinter(number, kListedVendorHex, kListedProductHex, "000" + SerialOf(number), node);
}

UsbRig::UsbRig(const FakeUsbTree& tree, PlatformOps* (*wrap)(PlatformOps&))
    : m_os(tree.SysRoot(), tree.DevRoot()) {
    if (wrap != nullptr) {
        m_pWrapper.reset(wrap(m_os));
    }
    m_pScoped = std::make_unique<ScopedPlatform>(m_pWrapper ? *m_pWrapper : m_os);
}

UsbRig::~UsbRig() {
    for (int slot : std::vector<int>(m_openSlots)) {
        Close(slot);
    }
}

bool UsbRig::Open(int slot, unsigned number) {
    BenchString serial = BenchJniEnv::Text(SerialOf(number));
    BenchString vendor = BenchJniEnv::Text(kListedVendorText);
    BenchString product = BenchJniEnv::Text(kListedProductText);
    const bool opened =
        Java_dravn_usb_UsbDevice_openUsbPort(m_jni.Env(), nullptr, BenchJniEnv::Ref(serial), slot,
                                             BenchJniEnv::Ref(vendor), BenchJniEnv::Ref(product));
    m_openSlots.push_back(slot);
    return opened;
}

bool UsbRig::Close(int slot) {
    m_openSlots.erase(std::remove(m_openSlots.begin(), m_openSlots.end(), slot), m_openSlots.end());
    return Java_dravn_usb_UsbDevice_closeUsbPort(m_jni.Env(), nullptr, slot);
}

bool UsbRig::Write(BenchArray& data, int length, int timeoutMs, int slot) {
    return Java_dravn_usb_UsbDevice_writeData(m_jni.Env(), nullptr, BenchJniEnv::Bytes(data), 0,
                                              length, timeoutMs, slot);
}

int UsbRig::Read(BenchArray& data, int length, int slot) {
    return Java_dravn_usb_UsbDevice_readData(m_jni.Env(), nullptr, BenchJniEnv::Bytes(data), length,
                                             slot);
}

}  // namespace zelp::bench
