// The file and device operations of the sim: opening virtual devices and
// issuing transfers and device requests to them.
#include <cstring>

#include "native/platform/sim/sim_platform.h"
#include "native/platform/sim/sim_state.h"

namespace zelp::sim {

using detail::DeviceHandle;
using detail::Transfer;
using detail::TransferKind;
using detail::VirtualDevice;
using kobj::SetLastErrorCode;

namespace {

SimCall CallOn(std::string op, HANDLE handle, const std::shared_ptr<DeviceHandle>& device) {
    SimCall call;
    call.op = std::move(op);
    call.handle = handle;
    if (device) {
        call.path = device->device->path;
    }
    return call;
}

// The input and output a parallel-port request needs; ERROR_SUCCESS when the
// call brings them.
DWORD CheckIoctlBuffers(DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize) {
    const DWORD maskSize = sizeof(ParNegotiationMask);
    switch (code) {
        case IOCTL_PAR_QUERY_INFORMATION:
            return (out == nullptr || outSize < 1) ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS;
        case IOCTL_PAR_GET_DEFAULT_MODES:
            return (out == nullptr || outSize < maskSize) ? ERROR_INSUFFICIENT_BUFFER
                                                          : ERROR_SUCCESS;
        case IOCTL_IEEE1284_NEGOTIATE:
            if (in == nullptr || inSize < maskSize) {
                return ERROR_INVALID_PARAMETER;
            }
            return (out == nullptr || outSize < maskSize) ? ERROR_INSUFFICIENT_BUFFER
                                                          : ERROR_SUCCESS;
        default:
            return ERROR_NOT_SUPPORTED;
    }
}

// Why an open of `path` fails, or ERROR_SUCCESS when it may go ahead.
DWORD OpenRefusal(std::string_view path, const VirtualDevice* device) {
    if (path.empty()) {
        return ERROR_PATH_NOT_FOUND;
    }
    if (device == nullptr || !device->bPresent) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (device->openError != ERROR_SUCCESS) {
        return device->openError;
    }
    if (device->bHeldElsewhere || device->nOpenThisGeneration > 0) {
        return ERROR_SHARING_VIOLATION;  // every open is exclusive
    }
    return ERROR_SUCCESS;
}

}  // namespace

// --- Opening and closing -----------------------------------------------------------

HANDLE SimPlatform::OpenDevice(std::string_view path, SimCall& call) {
    detail::State& s = *m_state;
    DWORD error = ERROR_SUCCESS;
    auto device = s.FindDevice(path);
    if (!s.TakeFault("CreateFileA", error)) {
        error = OpenRefusal(path, device.get());
    }
    if (error != ERROR_SUCCESS) {
        SetLastErrorCode(error);
        return INVALID_HANDLE_VALUE;
    }
    auto handle = std::make_shared<DeviceHandle>();
    handle->device = device;
    handle->generation = device->generation;
    handle->handle = s.handles.Insert(handle);
    ++device->nOpenHandles;
    ++device->nOpenThisGeneration;
    ++s.nDeviceHandles;
    call.handle = handle->handle;
    return handle->handle;
}

HANDLE SimPlatform::CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                                LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                HANDLE templateFile) {
    (void)access, (void)shareMode, (void)security, (void)disposition, (void)flags;
    (void)templateFile;
    std::unique_lock<std::mutex> guard(m_state->lock);
    m_state->Progress();
    SimCall call;
    call.op = "CreateFileA";
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (path == nullptr) {
        SetLastErrorCode(ERROR_INVALID_PARAMETER);
    } else {
        call.path = path;
        handle = OpenDevice(path, call);
    }
    m_state->Note(std::move(call), reinterpret_cast<uintptr_t>(handle));
    return handle;
}

BOOL SimPlatform::CloseHandle(HANDLE handle) {
    std::unique_lock<std::mutex> guard(m_state->lock);
    detail::State& s = *m_state;
    s.Progress();
    auto object = s.handles.Find(handle);
    auto device = std::dynamic_pointer_cast<DeviceHandle>(object);
    SimCall call = CallOn("CloseHandle", handle, device);
    BOOL result = TRUE;
    if (!object) {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
        result = FALSE;
    } else if (device) {
        // Closing abandons what is still pending, as a cancel does.
        s.CancelTransfers(*device, s.clock.Now());
        --device->device->nOpenHandles;
        if (device->generation == device->device->generation) {
            --device->device->nOpenThisGeneration;
        }
        --s.nDeviceHandles;
    } else if (std::dynamic_pointer_cast<kobj::Event>(object)) {
        --s.nEvents;
    } else {
        --s.nMutexes;
    }
    if (object) {
        s.handles.Remove(handle);
    }
    s.Note(std::move(call), result);
    return result;
}

// --- Transfers -----------------------------------------------------------------------

namespace {

// What WriteFile and ReadFile share: the checks a driver makes before it
// takes a transfer, the script that answers it, and the record of the call.
// `source` is set for a write, `buffer` for a read.
BOOL IssueTransfer(std::unique_lock<std::mutex>& guard, detail::State& s, TransferKind kind,
                   HANDLE device, LPCVOID source, LPVOID buffer, DWORD length, LPDWORD count,
                   LPOVERLAPPED overlapped) {
    s.Progress();
    auto handle = s.FindDeviceHandle(device);
    const bool isWrite = kind == TransferKind::Write;
    SimCall call = CallOn(isWrite ? "WriteFile" : "ReadFile", device, handle);
    call.length = length;
    BOOL result = FALSE;
    if (!handle) {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
    } else if ((isWrite ? source == nullptr : buffer == nullptr) && length > 0) {
        SetLastErrorCode(ERROR_INVALID_USER_BUFFER);
    } else if (!handle->Alive()) {
        SetLastErrorCode(ERROR_DEVICE_NOT_CONNECTED);
    } else {
        if (isWrite) {
            call.data.assign(static_cast<const char*>(source), length);
        }
        VirtualDevice& target = *handle->device;
        auto transfer = std::make_shared<Transfer>();
        transfer->kind = kind;
        transfer->handle = handle;
        transfer->record = overlapped;
        transfer->source = source;
        transfer->buffer = buffer;
        transfer->length = length;
        const Behaviour& standing = isWrite ? target.writes : target.reads;
        transfer->behaviour = s.ChatAnswer(target, call).value_or(standing);
        result = s.Issue(guard, std::move(transfer), count);
    }
    s.Note(std::move(call), result);
    return result;
}

}  // namespace

BOOL SimPlatform::WriteFile(HANDLE device, LPCVOID buffer, DWORD length, LPDWORD count,
                            LPOVERLAPPED overlapped) {
    std::unique_lock<std::mutex> guard(m_state->lock);
    return IssueTransfer(guard, *m_state, TransferKind::Write, device, buffer, nullptr, length,
                         count, overlapped);
}

BOOL SimPlatform::ReadFile(HANDLE device, LPVOID buffer, DWORD length, LPDWORD count,
                           LPOVERLAPPED overlapped) {
    std::unique_lock<std::mutex> guard(m_state->lock);
    return IssueTransfer(guard, *m_state, TransferKind::Read, device, nullptr, buffer, length,
                         count, overlapped);
}

BOOL SimPlatform::GetOverlappedResult(HANDLE device, LPOVERLAPPED overlapped, LPDWORD count,
                                      BOOL wait) {
    std::unique_lock<std::mutex> guard(m_state->lock);
    detail::State& s = *m_state;
    s.Progress();
    auto handle = s.FindDeviceHandle(device);
    SimCall call = CallOn("GetOverlappedResult", device, handle);
    call.length = wait;
    BOOL result = FALSE;
    if (overlapped == nullptr) {
        SetLastErrorCode(ERROR_INVALID_PARAMETER);
    } else if (s.IsPending(overlapped) && !wait) {
        SetLastErrorCode(ERROR_IO_INCOMPLETE);
    } else {
        s.WaitFor(
            guard, SimClock::kNever, [&] { return !s.IsPending(overlapped); },
            [&] { return s.RecordFrozen(overlapped); });
        // The transfer is over: the record is the caller's again and says how it went.
        const DWORD error = detail::DecodeStatus(overlapped->Internal);
        if (count != nullptr) {
            *count = static_cast<DWORD>(overlapped->InternalHigh);
        }
        result = error == ERROR_SUCCESS ? TRUE : FALSE;
        if (!result) {
            SetLastErrorCode(error);
        }
    }
    s.Note(std::move(call), result);
    return result;
}

BOOL SimPlatform::CancelIo(HANDLE device) {
    std::unique_lock<std::mutex> guard(m_state->lock);
    detail::State& s = *m_state;
    s.Progress();
    auto handle = s.FindDeviceHandle(device);
    SimCall call = CallOn("CancelIo", device, handle);
    BOOL result = FALSE;
    if (!handle) {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
    } else {
        s.CancelTransfers(*handle, s.clock.Now());
        result = TRUE;
    }
    s.Note(std::move(call), result);
    return result;
}

// --- Device requests ----------------------------------------------------------------

BOOL SimPlatform::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                  DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    std::unique_lock<std::mutex> guard(m_state->lock);
    detail::State& s = *m_state;
    s.Progress();
    auto handle = s.FindDeviceHandle(device);
    SimCall call = CallOn("DeviceIoControl", device, handle);
    call.code = code;
    call.length = inSize;
    if (code == IOCTL_IEEE1284_NEGOTIATE && in != nullptr && inSize >= sizeof(ParNegotiationMask)) {
        ParNegotiationMask masks{};
        std::memcpy(&masks, in, sizeof(masks));
        call.masks = masks;
    }
    const bool bParallel = handle && handle->device->kind == detail::DeviceKind::Parallel;
    const DWORD bufferError = CheckIoctlBuffers(code, in, inSize, out, outSize);
    BOOL result = FALSE;
    if (!handle) {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
    } else if (!bParallel || bufferError != ERROR_SUCCESS) {
        SetLastErrorCode(bParallel ? bufferError : ERROR_NOT_SUPPORTED);
    } else if (!handle->Alive() && code != IOCTL_PAR_QUERY_INFORMATION) {
        SetLastErrorCode(ERROR_DEVICE_NOT_CONNECTED);
    } else {
        VirtualDevice& target = *handle->device;
        auto transfer = std::make_shared<Transfer>();
        transfer->kind = TransferKind::Ioctl;
        transfer->handle = handle;
        transfer->record = overlapped;
        transfer->code = code;
        transfer->buffer = out;
        transfer->length = outSize;
        if (in != nullptr) {
            transfer->input.assign(static_cast<const char*>(in), inSize);
        }
        // A device that is gone still answers the status query: with its absence.
        const bool bScripted = handle->Alive();
        std::optional<Behaviour> answer = bScripted ? s.ChatAnswer(target, call) : std::nullopt;
        if (!answer && bScripted) {
            answer = s.RuleAnswer(target, call);
        }
        transfer->behaviour = answer.value_or(Behaviour::AtOnce());
        result = s.Issue(guard, std::move(transfer), returned);
    }
    s.Note(std::move(call), result);
    return result;
}

BOOL SimPlatform::SetCommTimeouts(HANDLE device, LPCOMMTIMEOUTS timeouts) {
    std::unique_lock<std::mutex> guard(m_state->lock);
    m_state->Progress();
    auto handle = m_state->FindDeviceHandle(device);
    SimCall call = CallOn("SetCommTimeouts", device, handle);
    BOOL result = FALSE;
    if (!handle) {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
    } else if (timeouts == nullptr) {
        SetLastErrorCode(ERROR_INVALID_PARAMETER);
    } else {
        call.timeouts = *timeouts;
        handle->timeouts = *timeouts;
        result = TRUE;
    }
    m_state->Note(std::move(call), result);
    return result;
}

BOOL SimPlatform::ClearCommError(HANDLE device, LPDWORD errors, LPCOMSTAT status) {
    std::unique_lock<std::mutex> guard(m_state->lock);
    m_state->Progress();
    auto handle = m_state->FindDeviceHandle(device);
    SimCall call = CallOn("ClearCommError", device, handle);
    BOOL result = FALSE;
    if (!handle) {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
    } else if (handle->device->clearCommFailure != ERROR_SUCCESS) {
        // A failed call writes nothing: the caller's word stays as it was.
        SetLastErrorCode(handle->device->clearCommFailure);
    } else {
        if (errors != nullptr) {
            *errors = handle->device->commErrors | (handle->Alive() ? 0u : CE_DNS);
        }
        if (status != nullptr) {
            *status = COMSTAT{};
        }
        result = TRUE;
    }
    m_state->Note(std::move(call), result);
    return result;
}

}  // namespace zelp::sim
