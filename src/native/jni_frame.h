// The frame every exported method shares: how Java strings, byte arrays and
// int arrays cross into native code and back, and how completion flags are
// kept.
//
// Two rules hold throughout. Nothing here raises a Java exception: ranges are
// checked before any element is touched, so the region calls never fail.
// And only the elements a call needs ever cross: a write copies its range out,
// a read copies back only what it read, so a Java thread's changes elsewhere in
// the array survive and the cost follows the range, not the array.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace zelp::jni {

// --- Strings ------------------------------------------------------------------

// A newly allocated, zero-terminated copy of the string in the system's ANSI
// code page, or null for a null string (or when memory runs out). The text
// ends at the string's first U+0000. Release it with FreeAnsi.
char* JStringToAnsi(JNIEnv* env, jstring text) noexcept;
void FreeAnsi(char* text) noexcept;

// The ANSI text of a Java string as an owned string; null gives "".
std::string JStringToString(JNIEnv* env, jstring text) noexcept;

// --- Array ranges -----------------------------------------------------------------

// Reads land in a native buffer of at most this many bytes: a read may deliver
// fewer bytes than asked, so a huge length never means a huge allocation.
inline constexpr uint32_t kMaxReadChunk = 64 * 1024;

// True when the array is not null and [offset, offset + length) lies within it.
bool IsRangeInArray(JNIEnv* env, jarray array, jint offset, jint length) noexcept;

// A native copy of the bytes [offset, offset + length) of a Java array.
class ByteRangeCopy {
public:
    // Ranges up to this size are copied into room inside the object, which
    // lives on the calling thread's stack: the common small write allocates
    // nothing. Larger ones get a heap block, which is kept for the next large
    // write (see kKeptBytes).
    static constexpr uint32_t kInlineBytes = 8 * 1024;

    // The largest block kept between writes (a few are kept, for writers on
    // several threads at once). A job goes out in chunks of one size, so
    // after the first chunk the rest allocate nothing; a rare huge write
    // still returns its block at once.
    static constexpr uint32_t kKeptBytes = 1024 * 1024;

    struct HeapBlock {
        std::unique_ptr<uint8_t[]> bytes;
        uint32_t size = 0;
    };

    // Copies the range when it lies within the array; otherwise (or when
    // memory runs out) the copy is invalid and nothing was read.
    ByteRangeCopy(JNIEnv* env, jbyteArray array, jint offset, jint length) noexcept;
    ~ByteRangeCopy();

    // Data() points into the object itself.
    ByteRangeCopy(const ByteRangeCopy&) = delete;
    ByteRangeCopy& operator=(const ByteRangeCopy&) = delete;

    explicit operator bool() const { return m_pBytes != nullptr; }
    const uint8_t* Data() const { return m_pBytes; }
    uint32_t Size() const { return m_nSize; }

private:
    uint8_t* m_pBytes = nullptr;
    uint32_t m_nSize = 0;
    std::unique_ptr<HeapBlock> m_pHeap;
    alignas(16) uint8_t m_inline[kInlineBytes];
};

// Native room for a read of up to `length` bytes into a Java array from
// index 0, bounded to kMaxReadChunk.
class ByteReadTarget {
public:
    // Invalid for a null array, a negative length or one beyond the array.
    ByteReadTarget(JNIEnv* env, jbyteArray array, jint length) noexcept;

    explicit operator bool() const { return m_pBytes != nullptr; }
    uint8_t* Data() { return m_pBytes.get(); }
    uint32_t Capacity() const { return m_nCapacity; }

    // Copies the first `count` bytes read (never more than the capacity) into
    // the array from index 0 and returns how many were copied.
    uint32_t CopyBack(uint32_t count) noexcept;

private:
    JNIEnv* m_pEnv;
    jbyteArray m_array;
    std::unique_ptr<uint8_t[]> m_pBytes;
    uint32_t m_nCapacity = 0;
};

// Native room for up to `capacity` int entries that a list fills and then
// hands to a Java array from index 0. The room does not depend on the array's
// length, so the filler can always write its fixed number of entries; the
// copy back stops at the end of the array.
class IntListTarget {
public:
    IntListTarget(JNIEnv* env, jintArray array, uint32_t capacity) noexcept;

    explicit operator bool() const { return m_pEntries != nullptr; }
    jint* Data() { return m_pEntries.get(); }
    uint32_t Capacity() const { return m_nCapacity; }

    // Copies the first `count` entries written into the array from index 0,
    // as far as the array reaches; returns how many were copied. A null
    // array takes none.
    uint32_t CopyBack(uint32_t count) noexcept;

private:
    JNIEnv* m_pEnv;
    jintArray m_array;
    std::unique_ptr<jint[]> m_pEntries;
    uint32_t m_nCapacity = 0;
};

// --- Completion flags --------------------------------------------------------------

// A completion flag is one 32-bit word whose low byte is a Java boolean:
// stores write the whole word, reads take the low byte.
using CompletionFlag = std::atomic<uint32_t>;

inline void StoreFlag(CompletionFlag& flag, jboolean value) {
    flag.store(static_cast<uint32_t>(value), std::memory_order_release);
}

inline jboolean LoadFlag(const CompletionFlag& flag) {
    return static_cast<jboolean>(flag.load(std::memory_order_acquire) & 0xFFu);
}

}  // namespace zelp::jni
