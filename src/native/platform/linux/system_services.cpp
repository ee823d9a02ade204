// The operations that need no device: events, mutexes, pauses, the version,
// text conversion and memory.
#include <cstdlib>
#include <thread>

#include "native/platform/linux/linux_platform.h"

namespace zelp::linuxbk {

namespace {

// The version the port logic was written against: NT 5.1, on which it
// negotiates the IEEE 1284 mode with one request per switch.
constexpr DWORD kReportedMajor = 5;
constexpr DWORD kReportedMinor = 1;
constexpr DWORD kReportedBuild = 2600;
constexpr UINT kCodePageUtf8 = 65001;

BOOL Fail(DWORD error) {
    kobj::SetLastErrorCode(error);
    return FALSE;
}

// Whether the conversion will put '?' for a lone surrogate.
bool HasLoneSurrogate(LPCWCH src, int srcLength) {
    const bool toTerminator = srcLength == -1;
    for (int i = 0; toTerminator ? src[i] != 0 : i < srcLength; ++i) {
        const unsigned unit = src[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        const bool next = toTerminator ? src[i + 1] != 0 : i + 1 < srcLength;
        if (high && next && src[i + 1] >= 0xDC00 && src[i + 1] <= 0xDFFF) {
            ++i;
        } else if (high || low) {
            return true;
        }
    }
    return false;
}

}  // namespace

namespace {

// Named objects would be shared between processes: not offered here.
[[gnu::noinline]] HANDLE RefuseNamedObject() {
    kobj::SetLastErrorCode(ERROR_NOT_SUPPORTED);
    return nullptr;
}

}  // namespace

HANDLE LinuxPlatform::CreateEventA(LPSECURITY_ATTRIBUTES /*security*/, BOOL manualReset,
                                   BOOL initialState, LPCSTR name) {
    if (name != nullptr) {
        return RefuseNamedObject();
    }
    // Each transfer makes, uses and closes its event on one thread.
    return m_handles.InsertOwnEvent(manualReset != FALSE, initialState != FALSE);
}

BOOL LinuxPlatform::SetEvent(HANDLE event) {
    return kobj::SetEventOf(m_handles, event) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

DWORD LinuxPlatform::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return kobj::WaitForObject(m_handles, handle, milliseconds);
}

HANDLE LinuxPlatform::CreateMutexA(LPSECURITY_ATTRIBUTES /*security*/, BOOL initialOwner,
                                   LPCSTR name) {
    if (name != nullptr) {
        return RefuseNamedObject();
    }
    return m_handles.Insert(std::make_shared<kobj::Mutex>(initialOwner != FALSE));
}

BOOL LinuxPlatform::ReleaseMutex(HANDLE mutex) {
    kobj::Mutex* object = m_handles.Borrow<kobj::Mutex>(mutex);
    if (object == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    return object->Release() ? TRUE : Fail(ERROR_NOT_OWNER);
}

void LinuxPlatform::Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

BOOL LinuxPlatform::GetVersionExA(LPOSVERSIONINFOA info) {
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    info->dwMajorVersion = kReportedMajor;
    info->dwMinorVersion = kReportedMinor;
    info->dwBuildNumber = kReportedBuild;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    info->szCSDVersion[0] = '\0';
    return TRUE;
}

int LinuxPlatform::WideCharToMultiByte(UINT codePage, DWORD /*flags*/, LPCWCH src, int srcLength,
                                       LPSTR dst, int dstSize, LPCCH /*defaultChar*/,
                                       LPBOOL usedDefault) {
    // The ANSI code page of this system is UTF-8.
    if (codePage != CP_ACP && codePage != kCodePageUtf8) {
        kobj::SetLastErrorCode(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int result = kobj::Utf16ToUtf8(src, srcLength, dst, dstSize);
    if (result != 0 && usedDefault != nullptr) {
        *usedDefault = HasLoneSurrogate(src, srcLength) ? TRUE : FALSE;
    }
    return result;
}

HLOCAL LinuxPlatform::LocalAlloc(UINT flags, SIZE_T bytes) {
    // At least one byte, so that a successful allocation is never null.
    const SIZE_T size = bytes == 0 ? 1 : bytes;
    void* memory = (flags & LMEM_ZEROINIT) != 0 ? std::calloc(1, size) : std::malloc(size);
    if (memory == nullptr) {
        kobj::SetLastErrorCode(ERROR_NOT_ENOUGH_MEMORY);
    }
    return memory;
}

HLOCAL LinuxPlatform::LocalFree(HLOCAL memory) {
    std::free(memory);
    return nullptr;
}

}  // namespace zelp::linuxbk
