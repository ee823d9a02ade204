#include "usb/usb_slots.h"

#include <array>
#include <mutex>
#include <utility>

namespace zelp {

namespace {

struct SlotEntry {
    bool bOpened = false;
    UsbSlotRecord record;
};

// One lock for the whole table: writes are rare (an open) and reads are short
// copies, and a detection must never see a string half written.
std::mutex g_slotLock;
std::array<SlotEntry, kUsbSlotCount> g_slotRecords;

}  // namespace

bool IsValidUsbSlot(int32_t slot) {
    return slot >= 0 && slot < kUsbSlotCount;
}

void RecordKey(int32_t slot, std::string key) {
    if (!IsValidUsbSlot(slot)) {
        return;
    }
    std::lock_guard<std::mutex> guard(g_slotLock);
    SlotEntry& entry = g_slotRecords[static_cast<size_t>(slot)];
    entry.bOpened = true;
    entry.record.strKey = std::move(key);
}

void RecordSerial(int32_t slot, std::string serial) {
    if (!IsValidUsbSlot(slot)) {
        return;
    }
    std::lock_guard<std::mutex> guard(g_slotLock);
    g_slotRecords[static_cast<size_t>(slot)].record.strSerial = std::move(serial);
}

std::optional<UsbSlotRecord> SnapshotSlot(int32_t slot) {
    if (!IsValidUsbSlot(slot)) {
        return std::nullopt;
    }
    std::lock_guard<std::mutex> guard(g_slotLock);
    const SlotEntry& entry = g_slotRecords[static_cast<size_t>(slot)];
    if (!entry.bOpened) {
        return std::nullopt;
    }
    return entry.record;
}

void ClearSlotRecords() {
    std::lock_guard<std::mutex> guard(g_slotLock);
    g_slotRecords.fill(SlotEntry{});
}

}  // namespace zelp
