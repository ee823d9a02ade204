// The Windows names, layouts and constants that the port logic is written in.
//
// On Windows they come from the system headers; elsewhere this header gives the
// same names with the layouts of the build's own architecture, so that record
// sizes (cbSize) computed with sizeof() match what Windows expects of a build
// for that architecture.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>
#include <setupapi.h>

#else  // !_WIN32

#include <cstddef>
#include <cstdint>

typedef uint32_t DWORD;
typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint16_t USHORT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef unsigned int UINT;
typedef uintptr_t ULONG_PTR;
typedef size_t SIZE_T;
typedef char CHAR;
typedef unsigned short WCHAR;  // UTF-16 code unit, the same width as jchar
typedef void* HANDLE;
typedef void* HDEVINFO;
typedef void* HWND;
typedef void* HLOCAL;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef const char* LPCCH;
typedef const WCHAR* LPCWCH;
typedef DWORD* LPDWORD;
typedef DWORD* PDWORD;
typedef BOOL* LPBOOL;

#define TRUE 1
#define FALSE 0

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

struct OVERLAPPED {
    ULONG_PTR Internal;      // status of the transfer
    ULONG_PTR InternalHigh;  // bytes transferred
    union {
        struct {
            DWORD Offset;
            DWORD OffsetHigh;
        };
        PVOID Pointer;
    };
    HANDLE hEvent;
};
typedef OVERLAPPED* LPOVERLAPPED;

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};
typedef COMMTIMEOUTS* LPCOMMTIMEOUTS;

struct COMSTAT {
    DWORD fFlags;  // the bit fields of the Windows record, unused here
    DWORD cbInQue;
    DWORD cbOutQue;
};
typedef COMSTAT* LPCOMSTAT;

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};
typedef OSVERSIONINFOA* LPOSVERSIONINFOA;

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};
typedef SP_DEVICE_INTERFACE_DATA* PSP_DEVICE_INTERFACE_DATA;

struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    CHAR DevicePath[1];
};
typedef SP_DEVICE_INTERFACE_DETAIL_DATA_A* PSP_DEVICE_INTERFACE_DETAIL_DATA_A;

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
typedef SP_DEVINFO_DATA* PSP_DEVINFO_DATA;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

// CreateFileA
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3u
#define FILE_FLAG_OVERLAPPED 0x40000000u

// Last-error values the backends leave.
#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_BAD_LENGTH 24u
#define ERROR_GEN_FAILURE 31u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_DEV_NOT_EXIST 55u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_BROKEN_PIPE 109u
#define ERROR_SEM_TIMEOUT 121u
#define ERROR_NO_MORE_ITEMS 259u
#define ERROR_NOT_OWNER 288u
#define ERROR_OPERATION_ABORTED 995u
#define ERROR_IO_INCOMPLETE 996u
#define ERROR_IO_PENDING 997u
#define ERROR_DEVICE_NOT_CONNECTED 1167u
#define ERROR_INVALID_USER_BUFFER 1784u

// Waits
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu

// Status words in OVERLAPPED::Internal
#define STATUS_PENDING 0x00000103u

// GetVersionExA
#define VER_PLATFORM_WIN32_NT 2u

// SetupAPI
#define DIGCF_PRESENT 0x00000002u
#define DIGCF_DEVICEINTERFACE 0x00000010u

// LocalAlloc
#define LMEM_ZEROINIT 0x0040u

// WideCharToMultiByte
#define CP_ACP 0u

// ClearCommError error bits
#define CE_RXOVER 0x0001u
#define CE_OVERRUN 0x0002u
#define CE_RXPARITY 0x0004u
#define CE_FRAME 0x0008u
#define CE_BREAK 0x0010u
#define CE_TXFULL 0x0100u
#define CE_PTO 0x0200u
#define CE_IOE 0x0400u
#define CE_DNS 0x0800u
#define CE_OOP 0x1000u

#endif  // _WIN32

// The parallel-port driver's vocabulary. Kept out of <ntddpar.h> on purpose:
// that header defines macros such as NONE and NIBBLE that break ordinary code.
#ifndef IOCTL_PAR_QUERY_INFORMATION
#define IOCTL_PAR_QUERY_INFORMATION 0x00160004u
#endif
#ifndef IOCTL_IEEE1284_NEGOTIATE
#define IOCTL_IEEE1284_NEGOTIATE 0x00160018u
#endif
#ifndef IOCTL_PAR_GET_DEFAULT_MODES
#define IOCTL_PAR_GET_DEFAULT_MODES 0x00160028u
#endif

#ifndef PARALLEL_PAPER_EMPTY
#define PARALLEL_INIT 0x01u
#define PARALLEL_AUTOFEED 0x02u
#define PARALLEL_PAPER_EMPTY 0x04u
#define PARALLEL_OFF_LINE 0x08u
#define PARALLEL_POWER_OFF 0x10u
#define PARALLEL_NOT_CONNECTED 0x20u
#define PARALLEL_BUSY 0x40u
#define PARALLEL_SELECTED 0x80u
#endif

// IEEE 1284 mode masks, as the driver spells them in PARCLASS_NEGOTIATION_MASK.
inline constexpr unsigned short kIeee1284MaskNone = 0x0000;
inline constexpr unsigned short kIeee1284MaskCentronics = 0x0001;
inline constexpr unsigned short kIeee1284MaskCompatibility = 0x0002;
inline constexpr unsigned short kIeee1284MaskNibble = 0x0004;
inline constexpr unsigned short kIeee1284MaskChannelNibble = 0x0008;
inline constexpr unsigned short kIeee1284MaskByte = 0x0010;

// The 4-byte input of the negotiation request (PARCLASS_NEGOTIATION_MASK).
struct ParNegotiationMask {
    unsigned short usReadMask;
    unsigned short usWriteMask;
};
static_assert(sizeof(ParNegotiationMask) == 4, "the driver expects a 4-byte record");

// {28D78FAD-5A12-11D1-AE5B-0000F803A8C2}: the USB printer device-interface class.
inline constexpr GUID kGuidDevinterfaceUsbPrint = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};
