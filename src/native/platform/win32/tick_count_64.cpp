// Windows XP and Server 2003 have no GetTickCount64: it came with Vista. Our
// own code never calls it, but the static winpthreads that std::thread,
// std::mutex and std::condition_variable bring along imports it to measure
// its timed waits (a condition variable's wait_for, a timed mutex). One
// missing import and the Windows loader refuses the whole DLL, so every
// program and DLL of a Windows build links this file: it defines the import's
// pointer itself, and the linker, which finds it defined before it reaches
// kernel32's import library, takes ours and imports nothing.
#include "native/platform/win32/tick_count_64.h"

#include <windows.h>

#include <atomic>

namespace zelp {

std::uint64_t ExtendTickCount(std::uint64_t last, std::uint32_t now) {
    std::uint64_t laps = last >> 32;
    if (now < static_cast<std::uint32_t>(last)) {
        ++laps;
    }
    return (laps << 32) | now;
}

// The last count returned is the whole state: its high half counts the laps.
// A caller stores its count only if no other has stored since it read the
// state, and it read GetTickCount after that, so the counts never go back
// and two threads racing across a wrap count it once. A wrap goes unseen
// only if nothing asks for 49.7 days: the counts then lag the system's by a
// lap, yet still never go back, and a time-out measured on them comes out
// right.
std::uint64_t TickCount64() {
    static std::atomic<std::uint64_t> s_last{0};
    std::uint64_t last = s_last.load();
    for (;;) {
        const std::uint64_t next = ExtendTickCount(last, ::GetTickCount());
        if (s_last.compare_exchange_weak(last, next)) {
            return next;
        }
    }
}

namespace {

ULONGLONG WINAPI TickCount64Import() {
    return TickCount64();
}

}  // namespace

}  // namespace zelp

// The pointer a call through `__declspec(dllimport) GetTickCount64` reads,
// under the name the compiler gives it (i686 decorates __stdcall names).
#if defined(__i386__)
#define ZELP_TICK_COUNT_64_IMPORT "__imp__GetTickCount64@0"
#else
#define ZELP_TICK_COUNT_64_IMPORT "__imp_GetTickCount64"
#endif
extern "C" ULONGLONG(WINAPI* const zelpTickCount64Import)() __asm__(ZELP_TICK_COUNT_64_IMPORT);
extern "C" ULONGLONG(WINAPI* const zelpTickCount64Import)() = zelp::TickCount64Import;
