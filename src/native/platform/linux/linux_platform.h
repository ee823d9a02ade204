// The platform operations on Linux: parallel ports (ppdev, lp), terminals,
// FIFOs and files standing in for them, and USB printers (usblp, found
// through sysfs). Overlapped transfers make progress while a caller waits
// for them; the backend starts no thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "native/platform.h"
#include "native/platform/common/kernel_objects.h"
#include "native/platform/linux/device_control.h"
#include "native/platform/linux/unique_fd.h"

namespace zelp::linuxbk {

class Device;

class LinuxPlatform : public PlatformOps {
public:
    // The roots under which sysfs and the device nodes are looked for. The
    // shipped library passes "/sys" and "/dev"; tests lay out fake trees.
    LinuxPlatform(std::string sysfsRoot, std::string devRoot);
    ~LinuxPlatform() override;

    LinuxPlatform(const LinuxPlatform&) = delete;
    LinuxPlatform& operator=(const LinuxPlatform&) = delete;

    // Handles of every kind (devices, events, mutexes, device-information
    // sets) that are open right now.
    size_t OpenHandleCount() const { return m_handles.Count(); }
    // File descriptors this backend holds right now.
    size_t OpenFdCount() const { return m_fdLedger->Count(); }

    HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override;
    BOOL CloseHandle(HANDLE handle) override;
    BOOL ReadFile(HANDLE device, LPVOID buffer, DWORD length, LPDWORD count,
                  LPOVERLAPPED overlapped) override;
    BOOL WriteFile(HANDLE device, LPCVOID buffer, DWORD length, LPDWORD count,
                   LPOVERLAPPED overlapped) override;
    BOOL GetOverlappedResult(HANDLE device, LPOVERLAPPED overlapped, LPDWORD count,
                             BOOL wait) override;
    DWORD GetLastError() override;
    BOOL CancelIo(HANDLE device) override;
    BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) override;
    BOOL SetCommTimeouts(HANDLE device, LPCOMMTIMEOUTS timeouts) override;
    BOOL ClearCommError(HANDLE device, LPDWORD errors, LPCOMSTAT status) override;

    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                        LPCSTR name) override;
    BOOL SetEvent(HANDLE event) override;
    DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override;
    HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name) override;
    BOOL ReleaseMutex(HANDLE mutex) override;
    void Sleep(DWORD milliseconds) override;

    BOOL GetVersionExA(LPOSVERSIONINFOA info) override;
    int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH src, int srcLength, LPSTR dst,
                            int dstSize, LPCCH defaultChar, LPBOOL usedDefault) override;
    HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) override;
    HLOCAL LocalFree(HLOCAL memory) override;

    HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator, HWND parent,
                                  DWORD flags) override;
    BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* classGuid,
                                     DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA data) override;
    BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                          PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                          DWORD detailSize, PDWORD required,
                                          PSP_DEVINFO_DATA device) override;
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override;

private:
    struct NodePath {
        std::string path;
        DWORD error = ERROR_SUCCESS;
    };

    NodePath NodePathFor(const std::string& name) const;
    NodePath UsbNodePathFor(const std::string& name, unsigned printerNumber) const;
    // Good until this thread's next FindDevice (see HandleTable::Borrow).
    Device* FindDevice(HANDLE handle) const;
    BOOL IssueTransfer(HANDLE device, void* buffer, DWORD length, LPDWORD count,
                       LPOVERLAPPED overlapped, bool isRead);
    // The general forms of the calls whose usual case is served first: kept
    // apart (and out of line) so that the usual case stays small.
    // (Each takes its arguments in registers, so that the usual case can
    // hand over to it without a frame of its own.)
    [[gnu::noinline]] BOOL ReadAnyFile(HANDLE device, void* buffer, DWORD length, LPDWORD count,
                                       LPOVERLAPPED overlapped);
    [[gnu::noinline]] BOOL WriteAnyFile(HANDLE device, void* buffer, DWORD length, LPDWORD count,
                                        LPOVERLAPPED overlapped);
    BOOL IssueAnyTransfer(HANDLE device, void* buffer, DWORD length, LPDWORD count,
                          LPOVERLAPPED overlapped, bool isRead);
    struct ControlCall {
        HANDLE handle;
        DWORD code;
        ControlBuffers buffers;
        LPDWORD returned;
        LPOVERLAPPED overlapped;
    };
    [[gnu::noinline]] BOOL ControlAnyDevice(const ControlCall& call);
    [[gnu::noinline]] BOOL CloseAnyHandle(HANDLE handle);
    std::vector<std::string> UsbPrinterInterfacePaths() const;

    const std::string m_strSysfsRoot;
    const std::string m_strDevRoot;
    std::shared_ptr<FdLedger> m_fdLedger = std::make_shared<FdLedger>();
    kobj::HandleTable m_handles;
};

}  // namespace zelp::linuxbk
