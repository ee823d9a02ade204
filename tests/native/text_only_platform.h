// A platform that only converts text (UTF-16 to UTF-8, with the sizing rules
// of the real backends) and fails every other operation. The frame needs no
// more, and a frame test that reached a device would be a bug worth seeing.
#pragma once

#include "native/platform.h"
#include "native/platform/common/kernel_objects.h"

namespace zelp::test {

class TextOnlyPlatform : public PlatformOps {
public:
    int WideCharToMultiByte(UINT, DWORD, LPCWCH src, int srcLength, LPSTR dst, int dstSize, LPCCH,
                            LPBOOL) override {
        ++conversions;
        return kobj::Utf16ToUtf8(src, srcLength, dst, dstSize);
    }

    int conversions = 0;

    // Everything below fails: the frame has no business here.
    HANDLE CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) override {
        return INVALID_HANDLE_VALUE;
    }
    BOOL CloseHandle(HANDLE) override { return FALSE; }
    BOOL ReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) override { return FALSE; }
    BOOL WriteFile(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) override { return FALSE; }
    BOOL GetOverlappedResult(HANDLE, LPOVERLAPPED, LPDWORD, BOOL) override { return FALSE; }
    DWORD GetLastError() override { return ERROR_NOT_SUPPORTED; }
    BOOL CancelIo(HANDLE) override { return FALSE; }
    BOOL DeviceIoControl(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD,
                         LPOVERLAPPED) override {
        return FALSE;
    }
    BOOL SetCommTimeouts(HANDLE, LPCOMMTIMEOUTS) override { return FALSE; }
    BOOL ClearCommError(HANDLE, LPDWORD, LPCOMSTAT) override { return FALSE; }
    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) override { return nullptr; }
    BOOL SetEvent(HANDLE) override { return FALSE; }
    DWORD WaitForSingleObject(HANDLE, DWORD) override { return WAIT_FAILED; }
    HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR) override { return nullptr; }
    BOOL ReleaseMutex(HANDLE) override { return FALSE; }
    void Sleep(DWORD) override {}
    BOOL GetVersionExA(LPOSVERSIONINFOA) override { return FALSE; }
    HLOCAL LocalAlloc(UINT, SIZE_T) override { return nullptr; }
    HLOCAL LocalFree(HLOCAL memory) override { return memory; }
    HDEVINFO SetupDiGetClassDevsA(const GUID*, LPCSTR, HWND, DWORD) override {
        return INVALID_HANDLE_VALUE;
    }
    BOOL SetupDiEnumDeviceInterfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD,
                                     PSP_DEVICE_INTERFACE_DATA) override {
        return FALSE;
    }
    BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                                          PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD, PDWORD,
                                          PSP_DEVINFO_DATA) override {
        return FALSE;
    }
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO) override { return FALSE; }
};

}  // namespace zelp::test
