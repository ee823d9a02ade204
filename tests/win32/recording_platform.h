// Passes every operation to another backend (the Windows one, in these
// tests) and notes the transfers and device requests with what they gave:
// the port logic's conversation with a real driver, for a test to read.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "native/platform.h"

namespace zelp::test {

struct RecordedCall {
    std::string op;  // "CreateFileA", "ReadFile", "WriteFile", "DeviceIoControl"...
    DWORD code;      // the request of a DeviceIoControl, else 0
    BOOL result;
    DWORD error;  // the last error right after a failed call, else 0
};

class RecordingPlatform final : public PlatformOps {
public:
    explicit RecordingPlatform(PlatformOps& inner) : m_inner(inner) {}

    const std::vector<RecordedCall>& Calls() const { return m_calls; }
    void Forget() { m_calls.clear(); }

    // The last call of that kind, or null.
    const RecordedCall* Last(const std::string& op, DWORD code = 0) const {
        for (auto call = m_calls.rbegin(); call != m_calls.rend(); ++call) {
            if (call->op == op && call->code == code) {
                return &*call;
            }
        }
        return nullptr;
    }

    size_t Count(const std::string& op, DWORD code = 0) const {
        size_t count = 0;
        for (const RecordedCall& call : m_calls) {
            count += (call.op == op && call.code == code) ? 1 : 0;
        }
        return count;
    }

    HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override {
        HANDLE h = m_inner.CreateFileA(path, access, shareMode, security, disposition, flags,
                                       templateFile);
        Note("CreateFileA", 0, h != INVALID_HANDLE_VALUE);
        return h;
    }
    BOOL ReadFile(HANDLE device, LPVOID buffer, DWORD length, LPDWORD count,
                  LPOVERLAPPED overlapped) override {
        return Note("ReadFile", 0, m_inner.ReadFile(device, buffer, length, count, overlapped));
    }
    BOOL WriteFile(HANDLE device, LPCVOID buffer, DWORD length, LPDWORD count,
                   LPOVERLAPPED overlapped) override {
        return Note("WriteFile", 0, m_inner.WriteFile(device, buffer, length, count, overlapped));
    }
    BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                         DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) override {
        return Note(
            "DeviceIoControl", code,
            m_inner.DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped));
    }
    BOOL SetCommTimeouts(HANDLE device, LPCOMMTIMEOUTS timeouts) override {
        return Note("SetCommTimeouts", 0, m_inner.SetCommTimeouts(device, timeouts));
    }
    BOOL ClearCommError(HANDLE device, LPDWORD errors, LPCOMSTAT status) override {
        return Note("ClearCommError", 0, m_inner.ClearCommError(device, errors, status));
    }

    // The rest pass through unrecorded.
    BOOL CloseHandle(HANDLE handle) override { return m_inner.CloseHandle(handle); }
    BOOL GetOverlappedResult(HANDLE device, LPOVERLAPPED overlapped, LPDWORD count,
                             BOOL wait) override {
        return m_inner.GetOverlappedResult(device, overlapped, count, wait);
    }
    DWORD GetLastError() override { return m_inner.GetLastError(); }
    BOOL CancelIo(HANDLE device) override { return m_inner.CancelIo(device); }
    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                        LPCSTR name) override {
        return m_inner.CreateEventA(security, manualReset, initialState, name);
    }
    BOOL SetEvent(HANDLE event) override { return m_inner.SetEvent(event); }
    DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
        return m_inner.WaitForSingleObject(handle, milliseconds);
    }
    HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name) override {
        return m_inner.CreateMutexA(security, initialOwner, name);
    }
    BOOL ReleaseMutex(HANDLE mutex) override { return m_inner.ReleaseMutex(mutex); }
    void Sleep(DWORD milliseconds) override { m_inner.Sleep(milliseconds); }
    BOOL GetVersionExA(LPOSVERSIONINFOA info) override { return m_inner.GetVersionExA(info); }
    int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH src, int srcLength, LPSTR dst,
                            int dstSize, LPCCH defaultChar, LPBOOL usedDefault) override {
        return m_inner.WideCharToMultiByte(codePage, flags, src, srcLength, dst, dstSize,
                                           defaultChar, usedDefault);
    }
    HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) override {
        return m_inner.LocalAlloc(flags, bytes);
    }
    HLOCAL LocalFree(HLOCAL memory) override { return m_inner.LocalFree(memory); }
    HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator, HWND parent,
                                  DWORD flags) override {
        return m_inner.SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
    }
    BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* classGuid,
                                     DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA data) override {
        return m_inner.SetupDiEnumDeviceInterfaces(set, device, classGuid, memberIndex, data);
    }
    BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                          PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                          DWORD detailSize, PDWORD required,
                                          PSP_DEVINFO_DATA device) override {
        return m_inner.SetupDiGetDeviceInterfaceDetailA(set, data, detail, detailSize, required,
                                                        device);
    }
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override {
        return m_inner.SetupDiDestroyDeviceInfoList(set);
    }

private:
    // Records a call; the caller still finds the call's own last error.
    BOOL Note(const char* op, DWORD code, BOOL result) {
        const DWORD error = result ? 0 : m_inner.GetLastError();
        m_calls.push_back({op, code, result, error});
        ::SetLastError(error);
        return result;
    }

    PlatformOps& m_inner;
    std::vector<RecordedCall> m_calls;
};

}  // namespace zelp::test
