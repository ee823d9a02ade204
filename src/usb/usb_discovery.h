// The walk over the present USB printer interfaces, shared by the open of a
// slot, presence detection and the device list, and presence detection itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace zelp {

// Each path is copied into a buffer of this size; a longer path is passed over.
inline constexpr size_t kDevicePathBufferSize = 2048;

// How an operation wants its detail records: the open and the list use calloc
// and a device record, detection uses LocalAlloc and none.
enum class DetailAllocator { kCalloc, kLocalAlloc };

struct InterfaceWalkSettings {
    DetailAllocator allocator = DetailAllocator::kCalloc;
    bool bWithDeviceRecord = true;
};

enum class WalkStep { kGoOn, kStop };

// How a walk ended. A failed second detail call ends the whole operation: the
// caller treats it as its own not-found case.
enum class WalkEnd {
    kNoSet,         // the system gave no device information set
    kEnded,         // every interface was visited
    kStopped,       // the visitor asked to stop
    kDetailFailed,  // the device path of an interface could not be had
};

// Gets a zero-terminated device path (valid for the call) and says whether the
// walk goes on.
using DevicePathVisitor = std::function<WalkStep(const char* devicePath)>;

// Visits the present USB printer-class interfaces in member-index order. The
// device information set is released exactly once, whichever way the walk ends.
WalkEnd EnumUsbPrinterInterfaces(const InterfaceWalkSettings& settings,
                                 const DevicePathVisitor& visit);

// True when some present interface matches the slot's own key and the value of
// its recorded serial text. A slot never opened, or outside 0..254, has no
// printer.
bool IsUsbPrinterPresent(int32_t slot);

}  // namespace zelp
