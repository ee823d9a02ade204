// The printer's answer to the identity command: a marker '7' 'a', then the
// identity text up to a carriage return, all within one read. Pure: no
// platform calls, so tests and fuzzers link it directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelp {

struct IdentityReplyScan {
    // The read held the marker (a read without one counts as empty).
    bool bMarker = false;
    // The read held the marker and, after it, a carriage return: `text` is the answer.
    bool bDone = false;
    // The bytes after the last marker seen, up to the carriage return when bDone.
    std::string text;
};

// Scans the bytes of one read. A marker that lies across two reads is not
// seen, and nothing carries over from an earlier read: the answer always
// comes from the one read that held both the marker and the carriage return.
IdentityReplyScan ScanIdentityReply(const uint8_t* bytes, size_t received);

// A read of at most one byte, or one without the marker, is an empty one.
inline bool IsEmptyIdentityRead(size_t received, const IdentityReplyScan& scan) {
    return received <= 1 || !scan.bMarker;
}

// The identity text as the device list uses it: at most `maxChars`
// characters, and never past a zero byte.
std::string IdentityTextForList(const std::string& text, size_t maxChars);

}  // namespace zelp
