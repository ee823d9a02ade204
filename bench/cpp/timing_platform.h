// A platform that passes every call to another one and notes when the last
// GetOverlappedResult returned: the moment a transfer's end was known to the
// port logic, which the close latency is measured from.
#pragma once

#include <atomic>
#include <chrono>

#include "native/platform.h"

namespace zelp::bench {

class TimingPlatform : public PlatformOps {
public:
    using Clock = std::chrono::steady_clock;

    explicit TimingPlatform(PlatformOps& inner) : m_inner(inner) {}

    Clock::time_point LastTransferEnd() const {
        return Clock::time_point(Clock::duration(m_lastResult.load()));
    }

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
    PlatformOps& m_inner;
    std::atomic<Clock::rep> m_lastResult{0};
};

}  // namespace zelp::bench
