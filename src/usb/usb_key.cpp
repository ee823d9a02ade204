#include "usb/usb_key.h"

#include <cstdio>

namespace zelp {

namespace {

bool IsAtolSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Lower-case hexadecimal, at least four digits; a negative id shows its 32-bit
// two's complement, as printf's %x of the int does.
void AppendHexId(std::string& out, int32_t id) {
    char digits[16];
    const int written = std::snprintf(digits, sizeof(digits), "%04x", static_cast<uint32_t>(id));
    out.append(digits, static_cast<size_t>(written));
}

}  // namespace

int32_t NumericValue(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsAtolSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Unsigned arithmetic wraps by definition, which is the overflow we want.
    uint32_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
    }
    if (negative) {
        value = 0u - value;
    }
    return static_cast<int32_t>(value);
}

int32_t WantedSerialValue(std::string_view serialText) {
    return NumericValue(serialText.substr(0, kWantedSerialChars));
}

std::string FormatUsbKey(std::string_view vendorIdText, std::string_view productIdText) {
    std::string key = "vid_";
    AppendHexId(key, NumericValue(vendorIdText));
    key += "&pid_";
    AppendHexId(key, NumericValue(productIdText));
    return key;
}

std::optional<std::string> ExtractSerialField(std::string_view devicePath,
                                              std::string_view usbKey) {
    const size_t keyAt = devicePath.find(usbKey);
    if (keyAt == std::string_view::npos) {
        return std::nullopt;
    }
    const size_t hashAt = devicePath.find('#', keyAt);
    if (hashAt == std::string_view::npos || hashAt + 1 == devicePath.size()) {
        return std::nullopt;
    }
    const std::string_view rest = devicePath.substr(hashAt + 1);
    const std::string_view field = rest.substr(0, rest.find('#')).substr(0, kSerialFieldChars);
    return std::string(field);
}

bool PathMatches(std::string_view devicePath, std::string_view usbKey, int32_t wanted) {
    const std::optional<std::string> field = ExtractSerialField(devicePath, usbKey);
    return field.has_value() && NumericValue(*field) == wanted;
}

}  // namespace zelp
