#include "native/platform/win32/win32_platform.h"

namespace zelp {

HANDLE Win32Platform::CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                                  LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                  HANDLE templateFile) {
    return ::CreateFileA(path, access, shareMode, security, disposition, flags, templateFile);
}

BOOL Win32Platform::CloseHandle(HANDLE handle) {
    return ::CloseHandle(handle);
}

BOOL Win32Platform::ReadFile(HANDLE device, LPVOID buffer, DWORD length, LPDWORD count,
                             LPOVERLAPPED overlapped) {
    return ::ReadFile(device, buffer, length, count, overlapped);
}

BOOL Win32Platform::WriteFile(HANDLE device, LPCVOID buffer, DWORD length, LPDWORD count,
                              LPOVERLAPPED overlapped) {
    return ::WriteFile(device, buffer, length, count, overlapped);
}

BOOL Win32Platform::GetOverlappedResult(HANDLE device, LPOVERLAPPED overlapped, LPDWORD count,
                                        BOOL wait) {
    return ::GetOverlappedResult(device, overlapped, count, wait);
}

DWORD Win32Platform::GetLastError() {
    return ::GetLastError();
}

BOOL Win32Platform::CancelIo(HANDLE device) {
    return ::CancelIo(device);
}

BOOL Win32Platform::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                    DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    return ::DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
}

BOOL Win32Platform::SetCommTimeouts(HANDLE device, LPCOMMTIMEOUTS timeouts) {
    return ::SetCommTimeouts(device, timeouts);
}

BOOL Win32Platform::ClearCommError(HANDLE device, LPDWORD errors, LPCOMSTAT status) {
    return ::ClearCommError(device, errors, status);
}

HANDLE Win32Platform::CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset,
                                   BOOL initialState, LPCSTR name) {
    return ::CreateEventA(security, manualReset, initialState, name);
}

BOOL Win32Platform::SetEvent(HANDLE event) {
    return ::SetEvent(event);
}

DWORD Win32Platform::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return ::WaitForSingleObject(handle, milliseconds);
}

HANDLE Win32Platform::CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name) {
    return ::CreateMutexA(security, initialOwner, name);
}

BOOL Win32Platform::ReleaseMutex(HANDLE mutex) {
    return ::ReleaseMutex(mutex);
}

void Win32Platform::Sleep(DWORD milliseconds) {
    ::Sleep(milliseconds);
}

BOOL Win32Platform::GetVersionExA(LPOSVERSIONINFOA info) {
    // The headers deprecate the call because manifest-less programs are told
    // an old version. That is the answer the parallel logic is written for:
    // it negotiates on the versions the driver of that era understood.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return ::GetVersionExA(info);
#pragma GCC diagnostic pop
}

int Win32Platform::WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH src, int srcLength,
                                       LPSTR dst, int dstSize, LPCCH defaultChar,
                                       LPBOOL usedDefault) {
    return ::WideCharToMultiByte(codePage, flags, src, srcLength, dst, dstSize, defaultChar,
                                 usedDefault);
}

HLOCAL Win32Platform::LocalAlloc(UINT flags, SIZE_T bytes) {
    return ::LocalAlloc(flags, bytes);
}

HLOCAL Win32Platform::LocalFree(HLOCAL memory) {
    return ::LocalFree(memory);
}

HDEVINFO Win32Platform::SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator, HWND parent,
                                             DWORD flags) {
    return ::SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
}

BOOL Win32Platform::SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device,
                                                const GUID* classGuid, DWORD memberIndex,
                                                PSP_DEVICE_INTERFACE_DATA data) {
    return ::SetupDiEnumDeviceInterfaces(set, device, classGuid, memberIndex, data);
}

BOOL Win32Platform::SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                     PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                     DWORD detailSize, PDWORD required,
                                                     PSP_DEVINFO_DATA device) {
    return ::SetupDiGetDeviceInterfaceDetailA(set, data, detail, detailSize, required, device);
}

BOOL Win32Platform::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    return ::SetupDiDestroyDeviceInfoList(set);
}

}  // namespace zelp
