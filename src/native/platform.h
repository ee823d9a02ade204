// The platform operations: the only door from the port logic to an operating
// system. The interface speaks Windows (names, argument order, result
// conventions), so that the port logic reads like the Windows code it is and a
// Windows backend is a pass-through. A backend author reads this header and
// nothing else.
//
// Conventions every backend keeps, as Windows does:
//  - A BOOL result is TRUE on success. After FALSE (or INVALID_HANDLE_VALUE,
//    or a null handle where noted) GetLastError() on the same thread tells why.
//    Last-error values are thread-local; a successful call may leave any value.
//  - A HANDLE is opaque. Handles of devices, events and mutexes share one
//    space; CloseHandle ends any of them. A handle is never 0 and never
//    INVALID_HANDLE_VALUE. Using a closed handle fails with ERROR_INVALID_HANDLE,
//    on every thread, from the moment CloseHandle returns. A value is never
//    handed out while it still names an open object; where HANDLE has 32 bits
//    a closed value may come back, but only after every other value has been
//    used since.
//  - A thread may end at any point, and may still call these operations from
//    the destructors of its thread storage, whatever their order.
//  - Overlapped I/O: WriteFile, ReadFile and DeviceIoControl with an OVERLAPPED
//    record either finish at once (TRUE, or FALSE with an error other than
//    ERROR_IO_PENDING) or leave the transfer pending (FALSE with
//    ERROR_IO_PENDING). Only then is it pending. A transfer that moved bytes
//    never fails at once: if it ended with an error before the call returned,
//    the call says ERROR_IO_PENDING and its completion, already there, tells
//    the error and the bytes. A pending transfer owns its record and buffer
//    until it has completed and the caller has observed that
//    (WaitForSingleObject on its event returned WAIT_OBJECT_0, or
//    GetOverlappedResult with wait TRUE returned). On completion the record's
//    event is set.
//  - Transfers on one handle progress in the order they were issued and never
//    interleave their bytes.
//  - CancelIo(h) ends every pending transfer issued on h promptly: each
//    completes with ERROR_OPERATION_ABORTED (keeping the bytes it moved), and
//    its event is set. The caller then waits for the completion before the
//    record and buffer go.
//  - A backend may make a pending transfer progress only while some thread
//    waits for it (WaitForSingleObject, GetOverlappedResult with wait TRUE):
//    a backend without threads of its own does exactly that.
//  - Port time-outs set with SetCommTimeouts bound every later transfer on that
//    handle: a transfer whose total time-out runs out completes successfully
//    with the bytes moved so far (possibly none).
//  - A transfer under way heeds CancelIo, a close and its time-out between any
//    two of its system calls, also while the call that issued it still runs.
#pragma once

#include <atomic>

#include "native/wintypes.h"

namespace zelp {

class PlatformOps {
public:
    virtual ~PlatformOps() = default;

    // --- Files and devices -------------------------------------------------

    // Opens a device. The logic always passes GENERIC_READ | GENERIC_WRITE,
    // share mode 0 (exclusive: a second open of an open device fails with
    // ERROR_SHARING_VIOLATION), OPEN_EXISTING and FILE_FLAG_OVERLAPPED.
    // Returns INVALID_HANDLE_VALUE on failure (ERROR_FILE_NOT_FOUND,
    // ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_DEV_NOT_EXIST...).
    // Does not block beyond the open itself.
    virtual HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                               LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                               HANDLE templateFile) = 0;

    // Ends a handle of any kind. Pending transfers on a device handle are
    // abandoned (as by CancelIo); FALSE with ERROR_INVALID_HANDLE for a handle
    // that is not open (null included).
    virtual BOOL CloseHandle(HANDLE handle) = 0;

    // Overlapped transfer (record not null): see the conventions above; done
    // and *count are written only when the call returns TRUE. Without a
    // record the call is synchronous and waits for the end of the transfer.
    // A read may deliver fewer bytes than asked, and at a port time-out none.
    virtual BOOL ReadFile(HANDLE device, LPVOID buffer, DWORD length, LPDWORD count,
                          LPOVERLAPPED overlapped) = 0;
    virtual BOOL WriteFile(HANDLE device, LPCVOID buffer, DWORD length, LPDWORD count,
                           LPOVERLAPPED overlapped) = 0;

    // The outcome of a transfer issued with this record. With wait FALSE and
    // the transfer still pending: FALSE with ERROR_IO_INCOMPLETE. With wait
    // TRUE: blocks until the transfer completes (it may drive it). On
    // completion *count is the bytes moved and the result tells whether the
    // transfer succeeded (FALSE with its error, e.g. ERROR_OPERATION_ABORTED).
    virtual BOOL GetOverlappedResult(HANDLE device, LPOVERLAPPED overlapped, LPDWORD count,
                                     BOOL wait) = 0;

    // The calling thread's last error.
    virtual DWORD GetLastError() = 0;

    // Ends every pending transfer issued on the handle with
    // ERROR_OPERATION_ABORTED; never blocks for long. TRUE also when nothing
    // was pending.
    virtual BOOL CancelIo(HANDLE device) = 0;

    // Device requests: IOCTL_PAR_QUERY_INFORMATION (out: the one-byte status,
    // PARALLEL_* bits), IOCTL_PAR_GET_DEFAULT_MODES (out: a 4-byte mask
    // record), IOCTL_IEEE1284_NEGOTIATE (in and out: ParNegotiationMask).
    // Without a record the call is synchronous. FALSE with ERROR_NOT_SUPPORTED
    // (or ERROR_INVALID_PARAMETER) when the device does not know the request,
    // ERROR_GEN_FAILURE when the device refuses it.
    virtual BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                 DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) = 0;

    // Port time-outs for later transfers on the handle (see conventions).
    // Only the total constants are honoured; 0 means no limit.
    virtual BOOL SetCommTimeouts(HANDLE device, LPCOMMTIMEOUTS timeouts) = 0;

    // The device's error bits (CE_*); CE_DNS or CE_IOE when the device is gone
    // or failing. The COMSTAT record may be null.
    virtual BOOL ClearCommError(HANDLE device, LPDWORD errors, LPCOMSTAT status) = 0;

    // --- Synchronisation -----------------------------------------------------

    // A new unnamed event (the logic always asks for manual reset, unsignalled).
    // Null on failure.
    virtual HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                                LPCSTR name) = 0;
    virtual BOOL SetEvent(HANDLE event) = 0;

    // Waits for an event or a mutex. WAIT_OBJECT_0 when signalled (a mutex is
    // then owned by the calling thread, recursively), WAIT_TIMEOUT after
    // milliseconds (INFINITE: no limit, and the wait ends only with the object
    // taken), WAIT_FAILED for a bad handle. Waiting
    // on the event of a pending transfer may drive that transfer.
    virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) = 0;

    // A new unnamed mutex, not owned unless initialOwner. Null on failure.
    virtual HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name) = 0;
    // FALSE with ERROR_NOT_OWNER when the calling thread does not own it.
    virtual BOOL ReleaseMutex(HANDLE mutex) = 0;

    // Pauses the calling thread.
    virtual void Sleep(DWORD milliseconds) = 0;

    // --- System ----------------------------------------------------------------

    // Fills dwMajorVersion, dwMinorVersion, dwBuildNumber and dwPlatformId.
    // FALSE with ERROR_INSUFFICIENT_BUFFER unless dwOSVersionInfoSize is
    // sizeof(OSVERSIONINFOA), as Windows answers.
    virtual BOOL GetVersionExA(LPOSVERSIONINFOA info) = 0;

    // UTF-16 to the ANSI code page (UTF-8 where the system has no other).
    // srcLength -1 means up to and including the terminating zero. With
    // dstSize 0, returns the bytes needed and writes nothing. Otherwise returns
    // the bytes written, or 0 with ERROR_INSUFFICIENT_BUFFER when they do not
    // fit. Characters the code page lacks (and lone surrogates) become '?'.
    virtual int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH src, int srcLength,
                                    LPSTR dst, int dstSize, LPCCH defaultChar,
                                    LPBOOL usedDefault) = 0;

    // Zero-filled memory with LMEM_ZEROINIT; null on failure. LocalFree
    // returns null on success.
    virtual HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) = 0;
    virtual HLOCAL LocalFree(HLOCAL memory) = 0;

    // --- Device-interface enumeration ------------------------------------------

    // The set of present interfaces of a class (the logic passes
    // kGuidDevinterfaceUsbPrint and DIGCF_PRESENT | DIGCF_DEVICEINTERFACE).
    // INVALID_HANDLE_VALUE on failure. The set is a snapshot: devices plugged
    // in or out later are seen by the next set. Released with
    // SetupDiDestroyDeviceInfoList.
    virtual HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator, HWND parent,
                                          DWORD flags) = 0;

    // The interface with the given member index (from 0). FALSE with
    // ERROR_NO_MORE_ITEMS past the last one, ERROR_INVALID_USER_BUFFER when
    // data->cbSize is not
    // sizeof(SP_DEVICE_INTERFACE_DATA) of the build's architecture.
    virtual BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device,
                                             const GUID* classGuid, DWORD memberIndex,
                                             PSP_DEVICE_INTERFACE_DATA data) = 0;

    // The interface's device path. With no buffer (or one too small):
    // FALSE with ERROR_INSUFFICIENT_BUFFER and *required (if given) set to
    // offsetof(DevicePath) + path length + 1. With a large enough buffer whose
    // cbSize is sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A): TRUE and the path.
    // A wrong cbSize, here or in a device record, gives ERROR_INVALID_USER_BUFFER.
    virtual BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                  PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                  DWORD detailSize, PDWORD required,
                                                  PSP_DEVINFO_DATA device) = 0;

    virtual BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) = 0;
};

namespace detail {
extern std::atomic<PlatformOps*> g_pInForce;
PlatformOps& InstallDefaultPlatform();
}  // namespace detail

// The platform in force. The port logic reaches the system only through this.
inline PlatformOps& Os() {
    PlatformOps* ops = detail::g_pInForce.load(std::memory_order_acquire);
    return ops != nullptr ? *ops : detail::InstallDefaultPlatform();
}

// The backend a library build was linked with. Each shipped library links
// exactly one definition (win32, linux or sim).
PlatformOps& DefaultPlatform();

// Puts a backend in force for the life of this object (tests do this), then
// restores the one before. Not meant to be nested across threads.
class ScopedPlatform {
public:
    explicit ScopedPlatform(PlatformOps& ops);
    ~ScopedPlatform();
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;

private:
    PlatformOps* m_pPrevious;
};

}  // namespace zelp
