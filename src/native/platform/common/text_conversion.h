// Text conversion with the Windows rules the port logic relies on: UTF-16 to
// UTF-8 with WideCharToMultiByte's sizing, never writing past the buffer.
#pragma once

#include "native/wintypes.h"

namespace zelp::kobj {

// The Windows conversion from UTF-16 to UTF-8, with its sizing rules
// (dstSize 0 asks for the size; a too-small buffer fails with
// ERROR_INSUFFICIENT_BUFFER). Lone surrogates become '?'.
int Utf16ToUtf8(LPCWCH src, int srcLength, LPSTR dst, int dstSize);

}  // namespace zelp::kobj
