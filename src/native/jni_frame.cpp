#include "native/jni_frame.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <new>
#include <utility>

#include "native/platform.h"

namespace zelp::jni {

namespace {

// The text ends at the first U+0000, as a C string would; we only ever look
// at the string's own code units.
int UnitsBeforeNul(const jchar* chars, jsize length) {
    const jchar* end = std::find(chars, chars + length, jchar{0});
    return static_cast<int>(end - chars);
}

// The code page decides how many bytes a character takes (UTF-8 needs up to
// three per UTF-16 unit), so we ask it for the size instead of guessing, and
// never cut a character in half.
char* ConvertToAnsi(const jchar* chars, int units) {
    const LPCWCH wide = reinterpret_cast<LPCWCH>(chars);
    int size = 0;
    if (units > 0) {
        size = Os().WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
        size = std::max(size, 0);
    }
    char* ansi = new (std::nothrow) char[static_cast<size_t>(size) + 1]();
    if (ansi == nullptr || size == 0) {
        return ansi;
    }
    const int written =
        Os().WideCharToMultiByte(CP_ACP, 0, wide, units, ansi, size, nullptr, nullptr);
    // The zero fill terminates the text; a conversion that failed after all
    // leaves the empty string rather than a partial one.
    if (written <= 0) {
        ansi[0] = '\0';
    }
    return ansi;
}

// Room for at least one element, so that an empty range still has an address.
template <class T>
std::unique_ptr<T[]> AllocateRoom(uint32_t count) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[std::max<uint32_t>(count, 1)]());
}

// The heap blocks kept from the last large writes. A copy takes one out
// while it uses it, so two copies alive at once never share one. They are
// the process's, not kept per thread: where thread_local is emulated
// (mingw's emutls, in the Windows DLLs) a thread's destructors may run after
// its storage is gone, and freeing a block from there corrupts the heap.
using HeapBlock = ByteRangeCopy::HeapBlock;
std::atomic<HeapBlock*> g_spares[4];

// A kept block of at least `size` bytes, or null.
std::unique_ptr<HeapBlock> TakeSpare(uint32_t size) {
    for (std::atomic<HeapBlock*>& spare : g_spares) {
        if (spare.load(std::memory_order_relaxed) == nullptr) {
            continue;
        }
        std::unique_ptr<HeapBlock> block(spare.exchange(nullptr));
        if (block && block->size >= size) {
            return block;
        }
        HeapBlock* empty = nullptr;
        if (block && spare.compare_exchange_strong(empty, block.get())) {
            block.release();  // too small for this write; kept for another
        }
    }
    return nullptr;
}

// Keeps a block for a later write, where there is room.
void KeepSpare(std::unique_ptr<HeapBlock> block) {
    for (std::atomic<HeapBlock*>& spare : g_spares) {
        HeapBlock* empty = nullptr;
        if (spare.compare_exchange_strong(empty, block.get())) {
            block.release();
            return;
        }
    }
}

std::unique_ptr<HeapBlock> NewBlock(uint32_t size) {
    // Not zero-filled: the region call writes every byte, and filling first
    // would double the cost of a large write.
    std::unique_ptr<HeapBlock> block(new (std::nothrow) HeapBlock);
    if (block) {
        block->bytes.reset(new (std::nothrow) uint8_t[size]);
        block->size = block->bytes ? size : 0;
    }
    return block && block->bytes ? std::move(block) : nullptr;
}

}  // namespace

char* JStringToAnsi(JNIEnv* env, jstring text) noexcept {
    if (text == nullptr) {
        return nullptr;
    }
    const jsize length = env->GetStringLength(text);
    const jchar* chars = env->GetStringChars(text, nullptr);
    if (chars == nullptr) {
        return nullptr;
    }
    char* ansi = ConvertToAnsi(chars, UnitsBeforeNul(chars, length));
    env->ReleaseStringChars(text, chars);
    return ansi;
}

void FreeAnsi(char* text) noexcept {
    delete[] text;
}

std::string JStringToString(JNIEnv* env, jstring text) noexcept {
    std::unique_ptr<char, void (*)(char*)> ansi(JStringToAnsi(env, text), &FreeAnsi);
    if (ansi == nullptr) {
        return std::string();
    }
    try {
        return std::string(ansi.get());
    } catch (const std::bad_alloc&) {
        return std::string();
    }
}

bool IsRangeInArray(JNIEnv* env, jarray array, jint offset, jint length) noexcept {
    if (array == nullptr || offset < 0 || length < 0) {
        return false;
    }
    // In 64 bits the sum of two non-negative ints cannot wrap.
    const int64_t end = static_cast<int64_t>(offset) + static_cast<int64_t>(length);
    return end <= static_cast<int64_t>(env->GetArrayLength(array));
}

ByteRangeCopy::ByteRangeCopy(JNIEnv* env, jbyteArray array, jint offset, jint length) noexcept {
    if (!IsRangeInArray(env, array, offset, length)) {
        return;
    }
    const auto size = static_cast<uint32_t>(length);
    if (size <= kInlineBytes) {
        m_pBytes = m_inline;
    } else {
        m_pHeap = TakeSpare(size);
        if (!m_pHeap) {
            m_pHeap = NewBlock(size);
        }
        m_pBytes = m_pHeap ? m_pHeap->bytes.get() : nullptr;
    }
    if (m_pBytes == nullptr) {
        return;
    }
    m_nSize = size;
    if (m_nSize > 0) {
        env->GetByteArrayRegion(array, offset, length, reinterpret_cast<jbyte*>(m_pBytes));
    }
}

ByteRangeCopy::~ByteRangeCopy() {
    if (m_pHeap && m_pHeap->size <= kKeptBytes) {
        KeepSpare(std::move(m_pHeap));
    }
}

ByteReadTarget::ByteReadTarget(JNIEnv* env, jbyteArray array, jint length) noexcept
    : m_pEnv(env), m_array(array) {
    if (!IsRangeInArray(env, array, 0, length)) {
        return;
    }
    const uint32_t capacity = std::min(static_cast<uint32_t>(length), kMaxReadChunk);
    m_pBytes = AllocateRoom<uint8_t>(capacity);
    if (m_pBytes != nullptr) {
        m_nCapacity = capacity;
    }
}

uint32_t ByteReadTarget::CopyBack(uint32_t count) noexcept {
    const uint32_t copied = std::min(count, m_nCapacity);
    if (copied > 0) {
        m_pEnv->SetByteArrayRegion(m_array, 0, static_cast<jsize>(copied),
                                   reinterpret_cast<const jbyte*>(m_pBytes.get()));
    }
    return copied;
}

IntListTarget::IntListTarget(JNIEnv* env, jintArray array, uint32_t capacity) noexcept
    : m_pEnv(env), m_array(array), m_pEntries(AllocateRoom<jint>(capacity)) {
    if (m_pEntries != nullptr) {
        m_nCapacity = capacity;
    }
}

uint32_t IntListTarget::CopyBack(uint32_t count) noexcept {
    if (m_array == nullptr) {
        return 0;
    }
    const auto arrayLength =
        static_cast<uint32_t>(std::max<jsize>(m_pEnv->GetArrayLength(m_array), 0));
    const uint32_t copied = std::min({count, m_nCapacity, arrayLength});
    if (copied > 0) {
        m_pEnv->SetIntArrayRegion(m_array, 0, static_cast<jsize>(copied), m_pEntries.get());
    }
    return copied;
}

}  // namespace zelp::jni
