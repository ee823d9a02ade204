// How a USB printer is named and recognised: the model's key in a device
// path, the serial field that follows it, and the numeric value that serial
// numbers are compared by. Pure text functions with no platform calls, so the
// unit tests and the fuzzers link them directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelp {

// The serial text of a printer that has no numeric serial number; what an
// open that fell back to such a printer records as its serial.
inline constexpr std::string_view kUnnumberedSerial = "000000";

// Only this many characters of a serial text sought take part in the value.
inline constexpr size_t kWantedSerialChars = 20;

// At most this many characters of a path's serial field count.
inline constexpr size_t kSerialFieldChars = 6;

// The value of a text read as atol reads it: leading white space, one
// optional sign, then decimal digits up to the first other character; 0 when
// there are none. Always 32 bits, wrapping modulo 2^32 on overflow, whatever
// width the C library's long has here.
int32_t NumericValue(std::string_view text);

// The value a serial text sought is compared by: that of its first 20
// characters.
int32_t WantedSerialValue(std::string_view serialText);

// "vid_%04x&pid_%04x" of the two id texts, each read as NumericValue reads it.
std::string FormatUsbKey(std::string_view vendorIdText, std::string_view productIdText);

// The serial field of a device path: the characters after the first '#' that
// follows the first occurrence of the key, up to the next '#', the end of the
// path or 6 characters. Nothing when the path lacks the key, lacks a '#'
// after it, or ends right after that '#'. An empty field (two '#' in a row)
// is a field.
std::optional<std::string> ExtractSerialField(std::string_view devicePath, std::string_view usbKey);

// True when the path has the key and a serial field whose value is `wanted`.
bool PathMatches(std::string_view devicePath, std::string_view usbKey, int32_t wanted);

}  // namespace zelp
