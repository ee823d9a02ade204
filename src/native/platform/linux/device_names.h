// The names under which the port logic asks for devices, and the nodes they
// stand for. Pure text work: no system calls, so tests and fuzzers link it
// directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelp::linuxbk {

// 1 to 9 for "LPTn" and "\\.\LPTn" (any case, an optional trailing ':');
// nothing for any other name.
std::optional<unsigned> LptNumberFromName(std::string_view name);

// "<devRoot>/parport<n-1>": the ppdev node behind LPTn.
std::string ParallelNodePath(const std::string& devRoot, unsigned lptNumber);

// "<devRoot>/usb/lp<n>": the usblp node of printer n.
std::string UsbPrinterNodePath(const std::string& devRoot, unsigned printerNumber);

// The interface path the USB printer n is known by:
// \\?\usb#vid_xxxx&pid_xxxx#FIELD#{28d78fad-5a12-11d1-ae5b-0000f803a8c2},
// FIELD being the serial string (made safe for the path) followed by "&lpN",
// or "&lpN" alone when the device has no serial string. The printer number
// keeps paths unique even when two printers share a serial string, and the
// numeric value of the field still reads up to the '&'.
std::string FormatUsbInterfacePath(uint16_t vendorId, uint16_t productId,
                                   const std::optional<std::string>& serial,
                                   unsigned printerNumber);

// The printer number n of a path in that form; nothing for any other text.
std::optional<unsigned> UsbPrinterNumberFromPath(std::string_view path);

// The serial string as it may appear inside a path: '#' separates the path's
// fields and control characters have no business there, so each becomes '_'.
std::string SerialFieldText(std::string_view serial);

// Case-insensitive equality of two ASCII texts (device paths compare so).
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace zelp::linuxbk
