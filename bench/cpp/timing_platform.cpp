#include "timing_platform.h"

namespace zelp::bench {

BOOL TimingPlatform::GetOverlappedResult(HANDLE device, LPOVERLAPPED overlapped, LPDWORD count,
                                         BOOL wait) {
    const BOOL result = m_inner.GetOverlappedResult(device, overlapped, count, wait);
    m_lastResult.store(Clock::now().time_since_epoch().count());
    return result;
}

// --- Passed through unchanged ----------------------------------------------------------

HANDLE TimingPlatform::CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                                   LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                   HANDLE templateFile) {
    return m_inner.CreateFileA(path, access, shareMode, security, disposition, flags, templateFile);
}
BOOL TimingPlatform::CloseHandle(HANDLE handle) {
    return m_inner.CloseHandle(handle);
}
BOOL TimingPlatform::ReadFile(HANDLE device, LPVOID buffer, DWORD length, LPDWORD count,
                              LPOVERLAPPED overlapped) {
    return m_inner.ReadFile(device, buffer, length, count, overlapped);
}
BOOL TimingPlatform::WriteFile(HANDLE device, LPCVOID buffer, DWORD length, LPDWORD count,
                               LPOVERLAPPED overlapped) {
    return m_inner.WriteFile(device, buffer, length, count, overlapped);
}
DWORD TimingPlatform::GetLastError() {
    return m_inner.GetLastError();
}
BOOL TimingPlatform::CancelIo(HANDLE device) {
    return m_inner.CancelIo(device);
}
BOOL TimingPlatform::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                     DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    return m_inner.DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
}
BOOL TimingPlatform::SetCommTimeouts(HANDLE device, LPCOMMTIMEOUTS timeouts) {
    return m_inner.SetCommTimeouts(device, timeouts);
}
BOOL TimingPlatform::ClearCommError(HANDLE device, LPDWORD errors, LPCOMSTAT status) {
    return m_inner.ClearCommError(device, errors, status);
}
HANDLE TimingPlatform::CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset,
                                    BOOL initialState, LPCSTR name) {
    return m_inner.CreateEventA(security, manualReset, initialState, name);
}
BOOL TimingPlatform::SetEvent(HANDLE event) {
    return m_inner.SetEvent(event);
}
DWORD TimingPlatform::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return m_inner.WaitForSingleObject(handle, milliseconds);
}
HANDLE TimingPlatform::CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner,
                                    LPCSTR name) {
    return m_inner.CreateMutexA(security, initialOwner, name);
}
BOOL TimingPlatform::ReleaseMutex(HANDLE mutex) {
    return m_inner.ReleaseMutex(mutex);
}
void TimingPlatform::Sleep(DWORD milliseconds) {
    m_inner.Sleep(milliseconds);
}
BOOL TimingPlatform::GetVersionExA(LPOSVERSIONINFOA info) {
    return m_inner.GetVersionExA(info);
}
int TimingPlatform::WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH src, int srcLength,
                                        LPSTR dst, int dstSize, LPCCH defaultChar,
                                        LPBOOL usedDefault) {
    return m_inner.WideCharToMultiByte(codePage, flags, src, srcLength, dst, dstSize, defaultChar,
                                       usedDefault);
}
HLOCAL TimingPlatform::LocalAlloc(UINT flags, SIZE_T bytes) {
    return m_inner.LocalAlloc(flags, bytes);
}
HLOCAL TimingPlatform::LocalFree(HLOCAL memory) {
    return m_inner.LocalFree(memory);
}
HDEVINFO TimingPlatform::SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator, HWND parent,
                                              DWORD flags) {
    return m_inner.SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
}
BOOL TimingPlatform::SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device,
                                                 const GUID* classGuid, DWORD memberIndex,
                                                 PSP_DEVICE_INTERFACE_DATA data) {
    return m_inner.SetupDiEnumDeviceInterfaces(set, device, classGuid, memberIndex, data);
}
BOOL TimingPlatform::SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                      DWORD detailSize, PDWORD required,
                                                      PSP_DEVINFO_DATA device) {
    return m_inner.SetupDiGetDeviceInterfaceDetailA(set, data, detail, detailSize, required,
                                                    device);
}
BOOL TimingPlatform::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    return m_inner.SetupDiDestroyDeviceInfoList(set);
}

}  // namespace zelp::bench
