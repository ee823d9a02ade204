/*
 * The control interface of the test printers: a kernel-mode driver of our
 * own (test code, never shipped) that Wine loads, so that the DLLs meet
 * Wine's own SetupAPI and I/O manager instead of a model of them.
 *
 * The driver offers
 *   - a parallel port, \\.\LPT9, also reachable as LPT1;
 *   - a root-enumerated bus whose children are USB printers
 *     (GUID_DEVINTERFACE_USBPRINT), which can be unplugged and plugged back in;
 *   - \\.\ZelpTestControl, through which a test scripts what each device does
 *     and fetches the log of every request the devices received, in order.
 *
 * Shared by the driver (C, 64-bit) and the tests (C++, 32- or 64-bit): every
 * record is built of 32-bit fields and bytes only, so that it has one layout
 * on both sides of a WoW64 process.
 */
#ifndef ZELP_TEST_PRINTERS_H
#define ZELP_TEST_PRINTERS_H

#define ZELP_TEST_CONTROL_PATH "\\\\.\\ZelpTestControl"
#define ZELP_TEST_SERVICE "ZelpTestPrinters"
#define ZELP_TEST_DRIVER_FILE "zelp_test_printers.sys"
#define ZELP_TEST_ROOT_DEVICE "ROOT\\ZELPTESTBUS\\0000"
#define ZELP_TEST_ROOT_HARDWARE_ID "zelptestbus"

/* The devices, by the number a script and a log entry name them with. */
#define ZELP_TEST_PARALLEL 0u
#define ZELP_TEST_PRINTER_NUMBERED 1u    /* 1234:5678, serial 123456 */
#define ZELP_TEST_PRINTER_UNNUMBERED 2u  /* 1234:5678, a serial field of value 0 */
#define ZELP_TEST_PRINTER_OTHER_MODEL 3u /* 1234:abcd, serial 123456 */
#define ZELP_TEST_DEVICE_COUNT 4u
#define ZELP_TEST_FIRST_PRINTER ZELP_TEST_PRINTER_NUMBERED

/* One more child, not among the devices above: a printer that another driver
 * took, as Zadig leaves one. It offers the printer-class compatible ids but
 * registers no printer interface, and the installer names its service. */
#define ZELP_TEST_TAKEN_DEVICE_ID "USB\\VID_1234&PID_CAFE"
#define ZELP_TEST_TAKEN_SERIAL "WINUSB01"
#define ZELP_TEST_TAKEN_SERVICE "WinUSB"

/* CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800 + n, METHOD_BUFFERED, FILE_ANY_ACCESS)
 *   SCRIPT      in: zelp_test_script
 *   GET_SCRIPT  in: ULONG device; out: zelp_test_script
 *   RESET       default scripts, an empty log, every printer plugged in
 *   LOG         out: zelp_test_log
 *   UNPLUG      in: ULONG printer
 *   PLUG        in: ULONG printer */
#define ZELP_TEST_CONTROL_CODE(n) (0x00220000u | ((0x800u + (n)) << 2))
#define IOCTL_ZELP_TEST_SCRIPT ZELP_TEST_CONTROL_CODE(0)
#define IOCTL_ZELP_TEST_RESET ZELP_TEST_CONTROL_CODE(1)
#define IOCTL_ZELP_TEST_LOG ZELP_TEST_CONTROL_CODE(2)
#define IOCTL_ZELP_TEST_UNPLUG ZELP_TEST_CONTROL_CODE(3)
#define IOCTL_ZELP_TEST_PLUG ZELP_TEST_CONTROL_CODE(4)
#define IOCTL_ZELP_TEST_GET_SCRIPT ZELP_TEST_CONTROL_CODE(5)

/* The comm time-outs request SetCommTimeouts sends (not in mingw's headers). */
#define ZELP_IOCTL_SERIAL_SET_TIMEOUTS 0x001B001Cu

/* When a read or write completes. */
#define ZELP_TEST_AT_ONCE 0u /* in the dispatch routine */
#define ZELP_TEST_LATER 1u   /* from a DPC timer, delay_ms after it arrived */
#define ZELP_TEST_NEVER 2u   /* pended with a cancel routine: only a cancel or an unplug ends it */

#define ZELP_TEST_REPLY_SIZE 64u

/* What one device does. Statuses are NTSTATUS values; 0 is success. */
struct zelp_test_script {
    ULONG device;
    ULONG write_completion;
    ULONG read_completion;
    ULONG delay_ms;
    LONG write_status;
    LONG read_status;
    ULONG write_limit;  /* the most bytes one write takes (the count it reports) */
    ULONG direct_io;    /* 1: DO_DIRECT_IO, 0: DO_BUFFERED_IO (reads and writes) */
    ULONG reply_length; /* every read gets these bytes, cut to its length */
    UCHAR reply[ZELP_TEST_REPLY_SIZE];
    /* The parallel port only. */
    ULONG status_byte; /* IOCTL_PAR_QUERY_INFORMATION: PARALLEL_* bits */
    LONG query_status; /* its completion status */
    ULONG read_modes;  /* IOCTL_PAR_GET_DEFAULT_MODES: the modes offered */
    ULONG write_modes;
    LONG negotiate_status; /* IOCTL_IEEE1284_NEGOTIATE: an error refuses it */
};

/* What a log entry records. */
/*   ARRIVED    a request reached the device; status says how the dispatch
 *              routine ended it (STATUS_PENDING: queued)
 *   COMPLETED  a queued request completed (its timer, or an unplug)
 *   CANCELLED  the cancel routine ran for a queued request
 *   PNP        a plug-and-play request; code is its minor function */
#define ZELP_TEST_ARRIVED 1u
#define ZELP_TEST_COMPLETED 2u
#define ZELP_TEST_CANCELLED 3u
#define ZELP_TEST_PNP 4u

/* How the I/O manager handed over a transfer's buffer. */
#define ZELP_TEST_NO_BUFFER 0u
#define ZELP_TEST_SYSTEM_BUFFER 1u
#define ZELP_TEST_MDL 2u
#define ZELP_TEST_USER_BUFFER 3u

#define ZELP_TEST_LOGGED_BYTES 32u

struct zelp_test_request {
    ULONG device;
    ULONG event;
    ULONG major;  /* IRP_MJ_* */
    ULONG code;   /* the IOCTL code, or the PnP minor function */
    ULONG length; /* bytes to read or write; an IOCTL's input length */
    ULONG masks;  /* IOCTL_IEEE1284_NEGOTIATE: read mask << 16 | write mask */
    ULONG buffer; /* ZELP_TEST_*_BUFFER */
    LONG status;
    ULONG information;                   /* the byte count the request completed with */
    UCHAR bytes[ZELP_TEST_LOGGED_BYTES]; /* the first bytes written */
};

#define ZELP_TEST_LOG_CAPACITY 256u

struct zelp_test_log {
    ULONG count;
    ULONG dropped; /* entries lost because the log was full */
    struct zelp_test_request entries[ZELP_TEST_LOG_CAPACITY];
};

#endif
