/*
 * What the files of the test printers' driver share. The driver is test
 * code: it is as simple as Wine lets it be, and it keeps every request it
 * sees in one log, in order, for the tests to read back.
 */
#ifndef ZELP_TEST_DRIVER_H
#define ZELP_TEST_DRIVER_H

#include <ntddk.h>

#include "test_printers.h"

enum device_role { ROLE_CONTROL = 1, ROLE_PARALLEL, ROLE_BUS, ROLE_PRINTER, ROLE_TAKEN };

typedef struct device_state {
    enum device_role role;
    ULONG id; /* ZELP_TEST_PARALLEL or a printer's number */
    DEVICE_OBJECT* self;
    /* The bus: the root device we sit on. */
    DEVICE_OBJECT* lower;
    DEVICE_OBJECT* pdo;
    /* A printer. */
    UNICODE_STRING interface_name;
    BOOLEAN interface_on;
    BOOLEAN removed;              /* surprise-removed: new requests fail */
    BOOLEAN delete_at_last_close; /* removed from the bus while still open */
    LONG opens;
} device_state;

static inline device_state* state_of(DEVICE_OBJECT* device) {
    return (device_state*)device->DeviceExtension;
}

/* requests.c: the scripts, the log, and requests that complete later. */
void requests_init(void);
void requests_reset(void);
void requests_shutdown(void);
const struct zelp_test_script* script_of(ULONG id);
NTSTATUS set_script(const struct zelp_test_script* script);
/* A log entry describes a request as it is when begun, and is recorded with
 * the status and count the request ends with. */
void begin_entry(struct zelp_test_request* entry, ULONG id, ULONG event, IRP* irp);
void record_entry(struct zelp_test_request* entry, NTSTATUS status, ULONG_PTR information);
void log_pnp(ULONG id, ULONG minor);
void copy_log(struct zelp_test_log* out);
/* Records the entry (when there is one) and completes the request. */
NTSTATUS complete_logged(struct zelp_test_request* entry, IRP* irp, NTSTATUS status,
                         ULONG_PTR information);
/* A read or write ended as the device's script says. */
NTSTATUS finish_transfer(ULONG id, IRP* irp, ULONG event);
/* Pends a read or write until its timer, a cancel or an unplug. */
NTSTATUS queue_transfer(ULONG id, IRP* irp, ULONG completion);
void fail_queued(ULONG id, NTSTATUS status);

/* bus.c: the USB printers on the root-enumerated bus. */
NTSTATUS NTAPI bus_add_device(DRIVER_OBJECT* driver, DEVICE_OBJECT* pdo);
NTSTATUS NTAPI dispatch_pnp(DEVICE_OBJECT* device, IRP* irp);
NTSTATUS plug_printer(ULONG id, BOOLEAN present);
void plug_all_printers(void);
DEVICE_OBJECT* printer_device(ULONG id);
void printer_closed(device_state* state);

/* driver.c */
void apply_io_method(DEVICE_OBJECT* device, ULONG id);

#endif
