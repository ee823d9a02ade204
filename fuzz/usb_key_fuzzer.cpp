// The text rules of USB discovery over arbitrary device paths, keys and
// serial texts: the serial field of a path, the numeric value of a text, the
// model key and the match that combines them.
#include <cerrno>
#include <cstdlib>
#include <string>

#include "fuzz_input.h"
#include "usb/usb_key.h"

using zelp::fuzz::FuzzInput;
using zelp::fuzz::Require;

namespace {

// "vid_" + 4..8 hex digits + "&pid_" + 4..8 hex digits.
bool IsWellFormedKey(const std::string& key) {
    const size_t amp = key.find("&pid_");
    if (key.rfind("vid_", 0) != 0 || amp == std::string::npos) {
        return false;
    }
    const std::string vendor = key.substr(4, amp - 4);
    const std::string product = key.substr(amp + 5);
    for (const std::string& id : {vendor, product}) {
        if (id.size() < 4 || id.size() > 8 || id.find_first_not_of("0123456789abcdef") != id.npos) {
            return false;
        }
    }
    return true;
}

// The C library's reading of the same text, where it does not overflow.
void CheckAgainstStrtoll(const std::string& text) {
    const std::string upToNul = text.substr(0, text.find('\0'));
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(upToNul.c_str(), &end, 10);
    if (errno == ERANGE) {
        return;
    }
    const auto wrapped = static_cast<int32_t>(static_cast<uint32_t>(value));
    Require(zelp::NumericValue(text) == wrapped, "NumericValue reads a text as atol does");
}

void CheckSerialField(const std::string& path, const std::string& key) {
    const std::optional<std::string> field = zelp::ExtractSerialField(path, key);
    if (!field.has_value()) {
        Require(!zelp::PathMatches(path, key, 0) && !zelp::PathMatches(path, key, 1),
                "a path without a serial field matches nothing");
        return;
    }
    Require(path.find(key) != std::string::npos, "a field only follows the key");
    Require(field->size() <= zelp::kSerialFieldChars, "a field is at most six characters");
    Require(field->find('#') == std::string::npos, "a field never holds a '#'");
    Require(path.find(*field) != std::string::npos, "a field is part of its path");
    Require(zelp::PathMatches(path, key, zelp::NumericValue(*field)),
            "a path matches the value of its own field");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const std::string vendor = input.Bytes(24);
    const std::string product = input.Bytes(24);
    const std::string serial = input.Bytes(40);
    const std::string path = input.Rest();

    const std::string key = zelp::FormatUsbKey(vendor, product);
    Require(IsWellFormedKey(key), "the key is vid_XXXX&pid_XXXX in lower-case hex");
    for (const std::string& text : {vendor, product, serial, path}) {
        CheckAgainstStrtoll(text);
    }
    Require(zelp::WantedSerialValue(serial) == zelp::NumericValue(serial.substr(0, 20)),
            "a serial sought counts by its first twenty characters");

    // The path against the model's own key, and against a key taken from the
    // input itself, so that both found and missing keys are explored.
    CheckSerialField(path, key);
    CheckSerialField(path, serial);
    return 0;
}
