// What the shipped Linux binaries define for themselves so that they load on
// glibc 2.17. They link against Debian 11's C library (glibc 2.31, unpacked
// by cmake/linux-floor/fetch-sysroot), where every function binds at its
// oldest version; but GCC 12's static libstdc++ and libgcc were compiled
// against Debian 12's glibc and call what only newer versions export. Each
// definition below stands in for one of those. All are hidden: the binary
// binds its own calls to them, and nothing outside sees them. Linked only
// into the builds made on that sysroot (cmake/linux-floor/glibc-floor.cmake);
// scripts/check-glibc-floor fails the build when something new slips past.
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#define ZELP_FLOOR_HIDDEN __attribute__((visibility("hidden")))

namespace {

constexpr long kNanosPerSecond = 1000000000L;

// The kernel's random source without glibc's wrapper (getrandom, glibc 2.25).
// Kernels before 3.17 lack the call; /dev/urandom serves there.
bool FillRandom(unsigned char* buffer, std::size_t length) {
    int fd = -1;
    while (length > 0) {
        long got = fd < 0 ? syscall(SYS_getrandom, buffer, length, 0) : read(fd, buffer, length);
        if (got < 0 && errno == ENOSYS && fd < 0) {
            fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                return false;
            }
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        buffer += got;
        length -= static_cast<std::size_t>(got);
    }
    if (fd >= 0) {
        close(fd);
    }
    return length == 0;
}

struct ThreadExit {
    void (*destroy)(void*);
    void* object;
    ThreadExit* next;
};

pthread_key_t g_threadExitKey;
pthread_once_t g_threadExitOnce = PTHREAD_ONCE_INIT;

// Runs a thread's list, newest first. A destructor that registers another
// starts a new list, which the key's next round runs.
void RunThreadExits(void* list) {
    for (auto* entry = static_cast<ThreadExit*>(list); entry != nullptr;) {
        ThreadExit* const next = entry->next;
        entry->destroy(entry->object);
        std::free(entry);
        entry = next;
    }
}

void CreateThreadExitKey() {
    pthread_key_create(&g_threadExitKey, RunThreadExits);
}

}  // namespace

extern "C" {

// thread_local objects with destructors, libstdc++'s own among them, register
// those through __cxa_thread_atexit_impl (glibc 2.18). As libstdc++ does where
// the C library lacks it, each thread keeps a list under a pthread key whose
// destructor runs it when the thread ends. Unlike glibc's, a thread that ends
// the process with exit() leaves its list alone, and nothing keeps the
// registering library loaded until the list has run: the JVM never unloads
// this one.
ZELP_FLOOR_HIDDEN int __cxa_thread_atexit_impl(void (*destroy)(void*), void* object, void*) {
    pthread_once(&g_threadExitOnce, CreateThreadExitKey);
    auto* entry = static_cast<ThreadExit*>(std::malloc(sizeof(ThreadExit)));
    if (entry == nullptr) {
        return -1;
    }
    *entry = {destroy, object, static_cast<ThreadExit*>(pthread_getspecific(g_threadExitKey))};
    if (pthread_setspecific(g_threadExitKey, entry) != 0) {
        std::free(entry);
        return -1;
    }
    return 0;
}

// GCC 12's libstdc++ reads this (glibc 2.32) to skip atomic operations while
// the process has a single thread. Zero says "there may be threads": always
// correct, and a JVM has many threads anyway.
ZELP_FLOOR_HIDDEN char __libc_single_threaded = 0;

// std::random_device (libstdc++'s random.o) reads getentropy (glibc 2.25),
// with the same contract: at most 256 bytes, all or an error.
ZELP_FLOOR_HIDDEN int getentropy(void* buffer, std::size_t length) noexcept {
    if (length > 256) {
        errno = EIO;
        return -1;
    }
    return FillRandom(static_cast<unsigned char*>(buffer), length) ? 0 : -1;
}

// std::random_device's default source where the C library has arc4random
// (glibc 2.36). glibc's never fails; nor may this one, so a kernel that
// gives no randomness ends the process rather than hand out a fixed value.
ZELP_FLOOR_HIDDEN std::uint32_t arc4random() {
    std::uint32_t value = 0;
    if (!FillRandom(reinterpret_cast<unsigned char*>(&value), sizeof value)) {
        __builtin_trap();
    }
    return value;
}

// std::condition_variable waits on the steady clock through
// pthread_cond_clockwait (glibc 2.30), from GCC 12's headers into our own
// code as into libstdc++. Before that call existed libstdc++ waited on the
// system clock for the same span, and so does this: a step of the wall clock
// during the wait shifts its end by that step. Every waiter of ours checks
// its own deadline when it wakes.
ZELP_FLOOR_HIDDEN int pthread_cond_clockwait(pthread_cond_t* cond, pthread_mutex_t* mutex,
                                             clockid_t clock, const struct timespec* deadline) {
    if (clock == CLOCK_REALTIME) {
        return pthread_cond_timedwait(cond, mutex, deadline);
    }
    if (clock != CLOCK_MONOTONIC) {
        return EINVAL;
    }
    timespec steady{};
    timespec wall{};
    clock_gettime(CLOCK_MONOTONIC, &steady);
    clock_gettime(CLOCK_REALTIME, &wall);
    const long long left = (deadline->tv_sec - steady.tv_sec) * 1LL * kNanosPerSecond +
                           (deadline->tv_nsec - steady.tv_nsec);
    if (left <= 0) {
        return ETIMEDOUT;
    }
    const long long end = wall.tv_nsec + left % kNanosPerSecond;
    timespec until{};
    until.tv_sec =
        static_cast<time_t>(wall.tv_sec + left / kNanosPerSecond + end / kNanosPerSecond);
    until.tv_nsec = static_cast<long>(end % kNanosPerSecond);
    return pthread_cond_timedwait(cond, mutex, &until);
}

#if !defined(__arm__)
// The unwinder of GCC 12's libgcc (libgcc_eh.a) finds the frame tables of the
// code an exception passes through with _dl_find_object (glibc 2.35), and
// has no other way once it was built where that function exists. This one
// walks the loaded objects with dl_iterate_phdr, as the unwinder itself did
// before. The layout is glibc's where the unwinder calls it (x86_64,
// aarch64: neither has dlfo_eh_dbase nor dlfo_eh_count); 32-bit ARM unwinds
// through tables of its own and never calls it.
struct dl_find_object {
    unsigned long long dlfo_flags;
    void* dlfo_map_start;
    void* dlfo_map_end;
    struct link_map* dlfo_link_map;
    void* dlfo_eh_frame;
    unsigned long long dlfo_reserved[7];
};

namespace {

int FindObjectOf(dl_phdr_info* info, std::size_t, void* data) {
    auto* found = static_cast<dl_find_object*>(data);
    const auto pc = reinterpret_cast<ElfW(Addr)>(found->dlfo_map_start);
    ElfW(Addr) low = ~ElfW(Addr){0};
    ElfW(Addr) high = 0;
    bool holds = false;
    void* frames = nullptr;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        const ElfW(Addr) start = info->dlpi_addr + segment.p_vaddr;
        if (segment.p_type == PT_GNU_EH_FRAME) {
            frames = reinterpret_cast<void*>(start);
        } else if (segment.p_type == PT_LOAD) {
            low = start < low ? start : low;
            high = start + segment.p_memsz > high ? start + segment.p_memsz : high;
            holds = holds || (pc >= start && pc < start + segment.p_memsz);
        }
    }
    if (!holds) {
        return 0;
    }
    found->dlfo_map_start = reinterpret_cast<void*>(low);
    found->dlfo_map_end = reinterpret_cast<void*>(high);
    found->dlfo_eh_frame = frames;
    return 1;
}

}  // namespace

ZELP_FLOOR_HIDDEN int _dl_find_object(void* pc, dl_find_object* result) {
    dl_find_object found{};
    found.dlfo_map_start = pc;  // the address sought, until an object holds it
    if (dl_iterate_phdr(FindObjectOf, &found) == 0) {
        return -1;
    }
    *result = found;
    return 0;
}
#endif

}  // extern "C"
