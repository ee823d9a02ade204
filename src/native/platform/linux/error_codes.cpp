#include "native/platform/linux/error_codes.h"

#include <cerrno>

namespace zelp::linuxbk {

namespace {
constexpr ULONG_PTR kOwnErrorStatus = 0xE0000000u;
constexpr ULONG_PTR kOwnErrorMask = 0x0000FFFFu;
}  // namespace

DWORD ErrorFromOpenErrno(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EBUSY:
        case EWOULDBLOCK:
            return ERROR_SHARING_VIOLATION;
        case ENODEV:
        case ENXIO:
            return ERROR_DEV_NOT_EXIST;
        case ENOMEM:
        case EMFILE:
        case ENFILE:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        default:
            return ERROR_GEN_FAILURE;
    }
}

DWORD ErrorFromIoErrno(int error) {
    switch (error) {
        case ENODEV:
        case ENXIO:
        case ESHUTDOWN:
            return ERROR_DEVICE_NOT_CONNECTED;
        case EPIPE:
            return ERROR_BROKEN_PIPE;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENOTTY:
        case EOPNOTSUPP:
            return ERROR_NOT_SUPPORTED;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case ETIMEDOUT:
            return ERROR_SEM_TIMEOUT;
        default:
            return ERROR_GEN_FAILURE;
    }
}

ULONG_PTR CompletionStatusFor(DWORD error) {
    if (error == ERROR_SUCCESS) {
        return 0;
    }
    return kOwnErrorStatus | (error & kOwnErrorMask);
}

DWORD ErrorFromCompletionStatus(ULONG_PTR status) {
    if (status == 0) {
        return ERROR_SUCCESS;
    }
    if ((status & ~kOwnErrorMask) == kOwnErrorStatus) {
        return static_cast<DWORD>(status & kOwnErrorMask);
    }
    return ERROR_GEN_FAILURE;
}

}  // namespace zelp::linuxbk
