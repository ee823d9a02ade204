// What each USB device slot remembers of its opens, for presence detection:
// the model key of its latest open and the serial text of its latest
// successful one. Each slot keeps its own key, so that opening a printer of
// another model in one slot never changes what another slot looks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zelp {

inline constexpr int32_t kUsbSlotCount = 255;

bool IsValidUsbSlot(int32_t slot);

struct UsbSlotRecord {
    std::string strKey;     // the key of the slot's latest open, successful or not
    std::string strSerial;  // the serial text of its latest successful open; empty before
};

// Written at every open of the slot, before the search, whether it then
// succeeds or not. Ignored for a slot outside 0..254.
void RecordKey(int32_t slot, std::string key);

// Written after a successful open: the serial text the printer was found by.
// Ignored for a slot outside 0..254. A close leaves both records as they are.
void RecordSerial(int32_t slot, std::string serial);

// A consistent copy of the slot's record; nothing for a slot that was never
// opened or lies outside 0..254.
std::optional<UsbSlotRecord> SnapshotSlot(int32_t slot);

// Forgets every slot's record, as at library load.
void ClearSlotRecords();

}  // namespace zelp
