// UTF-16 to UTF-8: converted whole first, copied out only when it fits, so
// a buffer too small is never written.
#include "native/platform/common/text_conversion.h"

#include <cstdint>
#include <string>

#include "native/platform/common/kernel_objects.h"

namespace zelp::kobj {

namespace {

// Appends one code point's UTF-8 form.
void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool IsHighSurrogate(uint32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(uint32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace

int Utf16ToUtf8(LPCWCH src, int srcLength, LPSTR dst, int dstSize) {
    if (src == nullptr || srcLength < -1 || dstSize < 0 || (dstSize > 0 && dst == nullptr)) {
        SetLastErrorCode(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = 0;
    if (srcLength == -1) {
        while (src[length] != 0) {
            ++length;
        }
        ++length;  // the terminator is converted too
    } else {
        length = static_cast<size_t>(srcLength);
    }
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const uint32_t unit = src[i];
        if (IsHighSurrogate(unit) && i + 1 < length && IsLowSurrogate(src[i + 1])) {
            const uint32_t low = src[++i];
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            out.push_back('?');
        } else {
            AppendUtf8(out, unit);
        }
    }
    if (out.size() > static_cast<size_t>(INT32_MAX)) {
        SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const int needed = static_cast<int>(out.size());
    if (dstSize == 0) {
        return needed;
    }
    if (needed > dstSize) {
        SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    out.copy(dst, out.size());
    return needed;
}

}  // namespace zelp::kobj
