// Our own spelling of the parallel driver's vocabulary (native/wintypes.h,
// which keeps <ntddpar.h> out because of its NONE and NIBBLE macros) against
// the system headers, and the record sizes of this build's architecture.
// The system's values are taken first; then its macros are dropped, so that
// wintypes.h defines ours, and the two are compared.
#include <windows.h>
#include <winioctl.h>
#include <setupapi.h>
#include <ntddpar.h>
#include <initguid.h>
#include <usbprint.h>

#include <gtest/gtest.h>

namespace sys {
constexpr DWORD kParQueryInformation = IOCTL_PAR_QUERY_INFORMATION;
constexpr DWORD kIeee1284Negotiate = IOCTL_IEEE1284_NEGOTIATE;
constexpr DWORD kParGetDefaultModes = IOCTL_PAR_GET_DEFAULT_MODES;
constexpr unsigned kStatusBits[] = {PARALLEL_INIT,     PARALLEL_AUTOFEED,  PARALLEL_PAPER_EMPTY,
                                    PARALLEL_OFF_LINE, PARALLEL_POWER_OFF, PARALLEL_NOT_CONNECTED,
                                    PARALLEL_BUSY,     PARALLEL_SELECTED};
constexpr unsigned short kModeMasks[] = {NONE,   CENTRONICS,     IEEE_COMPATIBILITY,
                                         NIBBLE, CHANNEL_NIBBLE, BYTE_BIDIR};
constexpr size_t kNegotiationMaskSize = sizeof(PARCLASS_NEGOTIATION_MASK);
}  // namespace sys

#undef IOCTL_PAR_QUERY_INFORMATION
#undef IOCTL_IEEE1284_NEGOTIATE
#undef IOCTL_PAR_GET_DEFAULT_MODES
#undef PARALLEL_INIT
#undef PARALLEL_AUTOFEED
#undef PARALLEL_PAPER_EMPTY
#undef PARALLEL_OFF_LINE
#undef PARALLEL_POWER_OFF
#undef PARALLEL_NOT_CONNECTED
#undef PARALLEL_BUSY
#undef PARALLEL_SELECTED

#include "native/wintypes.h"

static_assert(IOCTL_PAR_QUERY_INFORMATION == sys::kParQueryInformation);
static_assert(IOCTL_IEEE1284_NEGOTIATE == sys::kIeee1284Negotiate);
static_assert(IOCTL_PAR_GET_DEFAULT_MODES == sys::kParGetDefaultModes);

static_assert(PARALLEL_INIT == sys::kStatusBits[0]);
static_assert(PARALLEL_AUTOFEED == sys::kStatusBits[1]);
static_assert(PARALLEL_PAPER_EMPTY == sys::kStatusBits[2]);
static_assert(PARALLEL_OFF_LINE == sys::kStatusBits[3]);
static_assert(PARALLEL_POWER_OFF == sys::kStatusBits[4]);
static_assert(PARALLEL_NOT_CONNECTED == sys::kStatusBits[5]);
static_assert(PARALLEL_BUSY == sys::kStatusBits[6]);
static_assert(PARALLEL_SELECTED == sys::kStatusBits[7]);

static_assert(kIeee1284MaskNone == sys::kModeMasks[0]);
static_assert(kIeee1284MaskCentronics == sys::kModeMasks[1]);
static_assert(kIeee1284MaskCompatibility == sys::kModeMasks[2]);
static_assert(kIeee1284MaskNibble == sys::kModeMasks[3]);
static_assert(kIeee1284MaskChannelNibble == sys::kModeMasks[4]);
static_assert(kIeee1284MaskByte == sys::kModeMasks[5]);
static_assert(sizeof(ParNegotiationMask) == sys::kNegotiationMaskSize);

// The sizes Windows checks in cbSize: a 32-bit JVM loads the i686 build, a
// 64-bit one the x86_64 build, and each must send its own.
constexpr bool kIs32Bit = sizeof(void*) == 4;
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == (kIs32Bit ? 28 : 32));
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == (kIs32Bit ? 5 : 8));
static_assert(sizeof(SP_DEVINFO_DATA) == (kIs32Bit ? 28 : 32));
static_assert(sizeof(OVERLAPPED) == (kIs32Bit ? 20 : 32));

namespace {

TEST(WindowsHeaders, UsbPrinterClassGuidIsTheSystems) {
    EXPECT_TRUE(IsEqualGUID(kGuidDevinterfaceUsbPrint, GUID_DEVINTERFACE_USBPRINT));
}

}  // namespace
