#include "native/platform/linux/device_names.h"

#include <cstdio>

namespace zelp::linuxbk {

namespace {

constexpr std::string_view kLocalDevicePrefix = "\\\\.\\";
constexpr std::string_view kUsbPathPrefix = "\\\\?\\usb#";
constexpr std::string_view kUsbPrintClassSuffix = "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
constexpr std::string_view kPrinterNumberMarker = "&lp";
constexpr size_t kMaxPrinterNumberDigits = 6;

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           EqualsIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::optional<unsigned> DecimalNumber(std::string_view digits, size_t maxDigits) {
    if (digits.empty() || digits.size() > maxDigits) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (char c : digits) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

std::optional<unsigned> LptNumberFromName(std::string_view name) {
    if (StartsWithIgnoringCase(name, kLocalDevicePrefix)) {
        name.remove_prefix(kLocalDevicePrefix.size());
    }
    if (!name.empty() && name.back() == ':') {
        name.remove_suffix(1);
    }
    if (name.size() != 4 || !StartsWithIgnoringCase(name, "lpt")) {
        return std::nullopt;
    }
    const char digit = name[3];
    if (digit < '1' || digit > '9') {
        return std::nullopt;
    }
    return static_cast<unsigned>(digit - '0');
}

std::string ParallelNodePath(const std::string& devRoot, unsigned lptNumber) {
    return devRoot + "/parport" + std::to_string(lptNumber - 1);
}

std::string UsbPrinterNodePath(const std::string& devRoot, unsigned printerNumber) {
    return devRoot + "/usb/lp" + std::to_string(printerNumber);
}

std::string SerialFieldText(std::string_view serial) {
    std::string field(serial);
    for (char& c : field) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '#' || byte < 0x20 || byte == 0x7f) {
            c = '_';
        }
    }
    return field;
}

std::string FormatUsbInterfacePath(uint16_t vendorId, uint16_t productId,
                                   const std::optional<std::string>& serial,
                                   unsigned printerNumber) {
    char key[32];
    std::snprintf(key, sizeof key, "vid_%04x&pid_%04x#", vendorId, productId);
    std::string path(kUsbPathPrefix);
    path += key;
    if (serial) {
        path += SerialFieldText(*serial);
    }
    path += kPrinterNumberMarker;
    path += std::to_string(printerNumber);
    path += kUsbPrintClassSuffix;
    return path;
}

std::optional<unsigned> UsbPrinterNumberFromPath(std::string_view path) {
    if (!StartsWithIgnoringCase(path, kUsbPathPrefix) ||
        !EndsWithIgnoringCase(path, kUsbPrintClassSuffix)) {
        return std::nullopt;
    }
    std::string middle(path.substr(
        kUsbPathPrefix.size(), path.size() - kUsbPathPrefix.size() - kUsbPrintClassSuffix.size()));
    for (char& c : middle) {
        c = AsciiLower(c);
    }
    // The serial string may hold "&lp" itself; the number is the last one.
    const size_t marker = middle.rfind(kPrinterNumberMarker);
    if (marker == std::string_view::npos || middle.find('#') > marker) {
        return std::nullopt;
    }
    return DecimalNumber(std::string_view(middle).substr(marker + kPrinterNumberMarker.size()),
                         kMaxPrinterNumberDigits);
}

}  // namespace zelp::linuxbk
