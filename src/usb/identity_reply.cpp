#include "usb/identity_reply.h"

namespace zelp {

namespace {
constexpr uint8_t kMarkerFirst = '7';
constexpr uint8_t kMarkerSecond = 'a';
constexpr uint8_t kCarriageReturn = 0x0D;
}  // namespace

IdentityReplyScan ScanIdentityReply(const uint8_t* bytes, size_t received) {
    IdentityReplyScan scan;
    if (bytes == nullptr || received <= 1) {
        return scan;
    }
    for (size_t i = 1; i < received; ++i) {
        if (!scan.bMarker) {
            if (bytes[i - 1] == kMarkerFirst && bytes[i] == kMarkerSecond) {
                scan.text.clear();
                scan.bMarker = true;
            }
        } else if (bytes[i] == kCarriageReturn) {
            scan.bDone = true;
            break;
        } else {
            // Everything else belongs to the text, a second marker and zero bytes included.
            scan.text.push_back(static_cast<char>(bytes[i]));
        }
    }
    return scan;
}

std::string IdentityTextForList(const std::string& text, size_t maxChars) {
    const size_t zero = text.find('\0');
    const size_t end = zero == std::string::npos ? text.size() : zero;
    return text.substr(0, end < maxChars ? end : maxChars);
}

}  // namespace zelp
