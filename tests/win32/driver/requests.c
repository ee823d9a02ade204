/*
 * The scripts the devices follow, the log of every request, and the queue of
 * requests that complete later or never. One lock guards the log and the
 * queue: the cancel spin lock, which Wine's I/O manager already holds when it
 * calls a cancel routine.
 */
#include "driver.h"

#include <ntddpar.h>

static struct zelp_test_script g_scripts[ZELP_TEST_DEVICE_COUNT];
static struct zelp_test_log g_log;
static LIST_ENTRY g_queued;
static KTIMER g_timers[ZELP_TEST_DEVICE_COUNT];
static KDPC g_timer_calls[ZELP_TEST_DEVICE_COUNT];

#define ALL_DEVICES (~0u)

/* ------------------------------------------------------------------ scripts */

static void default_script(ULONG id, struct zelp_test_script* script) {
    RtlZeroMemory(script, sizeof(*script));
    script->device = id;
    script->delay_ms = 20;
    script->write_limit = MAXULONG;
    script->status_byte = PARALLEL_SELECTED;
    script->read_modes = NIBBLE | BYTE_BIDIR;
    script->write_modes = CENTRONICS | IEEE_COMPATIBILITY;
}

const struct zelp_test_script* script_of(ULONG id) {
    return &g_scripts[id];
}

/* Tests script a device between its transfers, never during one. */
NTSTATUS set_script(const struct zelp_test_script* script) {
    if (script->device >= ZELP_TEST_DEVICE_COUNT || script->reply_length > ZELP_TEST_REPLY_SIZE)
        return STATUS_INVALID_PARAMETER;
    g_scripts[script->device] = *script;
    return STATUS_SUCCESS;
}

/* ------------------------------------------------------------------ the log */

static UCHAR* transfer_buffer(IRP* irp, ULONG* kind) {
    if (irp->MdlAddress) {
        *kind = ZELP_TEST_MDL;
        return MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
    }
    if (irp->AssociatedIrp.SystemBuffer) {
        *kind = ZELP_TEST_SYSTEM_BUFFER;
        return irp->AssociatedIrp.SystemBuffer;
    }
    *kind = irp->UserBuffer ? ZELP_TEST_USER_BUFFER : ZELP_TEST_NO_BUFFER;
    return irp->UserBuffer;
}

void begin_entry(struct zelp_test_request* entry, ULONG id, ULONG event, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    UCHAR* buffer;

    RtlZeroMemory(entry, sizeof(*entry));
    entry->device = id;
    entry->event = event;
    entry->major = stack->MajorFunction;
    switch (stack->MajorFunction) {
        case IRP_MJ_WRITE:
            entry->length = stack->Parameters.Write.Length;
            buffer = transfer_buffer(irp, &entry->buffer);
            if (buffer && event == ZELP_TEST_ARRIVED)
                RtlCopyMemory(entry->bytes, buffer, min(entry->length, ZELP_TEST_LOGGED_BYTES));
            break;
        case IRP_MJ_READ:
            entry->length = stack->Parameters.Read.Length;
            transfer_buffer(irp, &entry->buffer);
            break;
        case IRP_MJ_DEVICE_CONTROL:
            entry->code = stack->Parameters.DeviceIoControl.IoControlCode;
            entry->length = stack->Parameters.DeviceIoControl.InputBufferLength;
            /* The output overwrites the request's buffer: read it before. */
            if (entry->code == IOCTL_IEEE1284_NEGOTIATE && event == ZELP_TEST_ARRIVED &&
                entry->length >= sizeof(PARCLASS_NEGOTIATION_MASK)) {
                const PARCLASS_NEGOTIATION_MASK* masks = irp->AssociatedIrp.SystemBuffer;
                entry->masks = ((ULONG)masks->usReadMask << 16) | masks->usWriteMask;
            }
            break;
        default:
            break;
    }
}

static void append_locked(const struct zelp_test_request* entry) {
    if (g_log.count < ZELP_TEST_LOG_CAPACITY)
        g_log.entries[g_log.count++] = *entry;
    else
        g_log.dropped++;
}

void record_entry(struct zelp_test_request* entry, NTSTATUS status, ULONG_PTR information) {
    KIRQL irql;

    entry->status = status;
    entry->information = (ULONG)information;
    IoAcquireCancelSpinLock(&irql);
    append_locked(entry);
    IoReleaseCancelSpinLock(irql);
}

void log_pnp(ULONG id, ULONG minor) {
    struct zelp_test_request entry;

    RtlZeroMemory(&entry, sizeof(entry));
    entry.device = id;
    entry.event = ZELP_TEST_PNP;
    entry.major = IRP_MJ_PNP;
    entry.code = minor;
    record_entry(&entry, STATUS_SUCCESS, 0);
}

void copy_log(struct zelp_test_log* out) {
    KIRQL irql;

    IoAcquireCancelSpinLock(&irql);
    RtlCopyMemory(out, &g_log, sizeof(g_log));
    IoReleaseCancelSpinLock(irql);
}

/* ------------------------------------------------------------------ completion */

NTSTATUS complete_logged(struct zelp_test_request* entry, IRP* irp, NTSTATUS status,
                         ULONG_PTR information) {
    if (entry)
        record_entry(entry, status, information);
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* Ends a read or write as its device's script says: the count it reports,
 * the reply it reads, the status it completes with. */
NTSTATUS finish_transfer(ULONG id, IRP* irp, ULONG event) {
    const struct zelp_test_script* script = &g_scripts[id];
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    struct zelp_test_request entry;
    ULONG count, kind;
    UCHAR* buffer;

    begin_entry(&entry, id, event, irp);
    if (stack->MajorFunction == IRP_MJ_WRITE)
        return complete_logged(&entry, irp, script->write_status,
                               min(stack->Parameters.Write.Length, script->write_limit));
    buffer = transfer_buffer(irp, &kind);
    count = buffer ? min(stack->Parameters.Read.Length, script->reply_length) : 0;
    if (count)
        RtlCopyMemory(buffer, script->reply, count);
    return complete_logged(&entry, irp, script->read_status, count);
}

/* ------------------------------------------------------------------ the queue */

static ULONG queued_device(IRP* irp) {
    return (ULONG)(ULONG_PTR)irp->Tail.Overlay.DriverContext[0];
}

static ULONG queued_completion(IRP* irp) {
    return (ULONG)(ULONG_PTR)irp->Tail.Overlay.DriverContext[1];
}

/* Runs with the cancel spin lock held, which it releases. */
static VOID NTAPI cancel_queued(DEVICE_OBJECT* device, IRP* irp) {
    struct zelp_test_request entry;

    UNREFERENCED_PARAMETER(device);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    begin_entry(&entry, queued_device(irp), ZELP_TEST_CANCELLED, irp);
    entry.status = STATUS_CANCELLED;
    append_locked(&entry);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    complete_logged(NULL, irp, STATUS_CANCELLED, 0);
}

NTSTATUS queue_transfer(ULONG id, IRP* irp, ULONG completion) {
    struct zelp_test_request entry;
    LARGE_INTEGER due;
    KIRQL irql;

    begin_entry(&entry, id, ZELP_TEST_ARRIVED, irp);
    entry.status = STATUS_PENDING;
    irp->Tail.Overlay.DriverContext[0] = (PVOID)(ULONG_PTR)id;
    irp->Tail.Overlay.DriverContext[1] = (PVOID)(ULONG_PTR)completion;
    IoMarkIrpPending(irp);
    IoAcquireCancelSpinLock(&irql);
    append_locked(&entry);
    IoSetCancelRoutine(irp, cancel_queued);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) {
        /* Cancelled before it was queued: nobody else will end it. */
        IoReleaseCancelSpinLock(irql);
        begin_entry(&entry, id, ZELP_TEST_CANCELLED, irp);
        complete_logged(&entry, irp, STATUS_CANCELLED, 0);
        return STATUS_PENDING;
    }
    InsertTailList(&g_queued, &irp->Tail.Overlay.ListEntry);
    IoReleaseCancelSpinLock(irql);
    if (completion == ZELP_TEST_LATER) {
        due.QuadPart = -(LONGLONG)g_scripts[id].delay_ms * 10000;
        KeSetTimer(&g_timers[id], due, &g_timer_calls[id]);
    }
    return STATUS_PENDING;
}

/* Moves the queued requests of a device (or of all) out of the queue; those
 * whose cancel routine is already running stay, for it to end. */
static void take_queued(ULONG id, BOOLEAN later_only, LIST_ENTRY* taken) {
    LIST_ENTRY *at, *next;
    KIRQL irql;

    InitializeListHead(taken);
    IoAcquireCancelSpinLock(&irql);
    for (at = g_queued.Flink; at != &g_queued; at = next) {
        IRP* irp = CONTAINING_RECORD(at, IRP, Tail.Overlay.ListEntry);
        next = at->Flink;
        if (id != ALL_DEVICES && queued_device(irp) != id)
            continue;
        if (later_only && queued_completion(irp) != ZELP_TEST_LATER)
            continue;
        if (!IoSetCancelRoutine(irp, NULL))
            continue;
        RemoveEntryList(at);
        InsertTailList(taken, at);
    }
    IoReleaseCancelSpinLock(irql);
}

static IRP* next_taken(LIST_ENTRY* taken) {
    if (IsListEmpty(taken))
        return NULL;
    return CONTAINING_RECORD(RemoveHeadList(taken), IRP, Tail.Overlay.ListEntry);
}

static VOID NTAPI complete_later(KDPC* call, PVOID context, PVOID unused1, PVOID unused2) {
    LIST_ENTRY taken;
    IRP* irp;

    UNREFERENCED_PARAMETER(call);
    UNREFERENCED_PARAMETER(unused1);
    UNREFERENCED_PARAMETER(unused2);
    take_queued((ULONG)(ULONG_PTR)context, TRUE, &taken);
    while ((irp = next_taken(&taken)))
        finish_transfer(queued_device(irp), irp, ZELP_TEST_COMPLETED);
}

void fail_queued(ULONG id, NTSTATUS status) {
    struct zelp_test_request entry;
    LIST_ENTRY taken;
    IRP* irp;

    take_queued(id, FALSE, &taken);
    while ((irp = next_taken(&taken))) {
        begin_entry(&entry, queued_device(irp), ZELP_TEST_COMPLETED, irp);
        complete_logged(&entry, irp, status, 0);
    }
}

/* ------------------------------------------------------------------ life */

void requests_init(void) {
    ULONG id;

    InitializeListHead(&g_queued);
    for (id = 0; id < ZELP_TEST_DEVICE_COUNT; id++) {
        default_script(id, &g_scripts[id]);
        KeInitializeTimer(&g_timers[id]);
        KeInitializeDpc(&g_timer_calls[id], complete_later, (PVOID)(ULONG_PTR)id);
    }
}

static void stop_timers(void) {
    ULONG id;

    for (id = 0; id < ZELP_TEST_DEVICE_COUNT; id++)
        KeCancelTimer(&g_timers[id]);
}

/* A test that failed half-way may have left requests queued. */
void requests_reset(void) {
    KIRQL irql;
    ULONG id;

    stop_timers();
    fail_queued(ALL_DEVICES, STATUS_CANCELLED);
    for (id = 0; id < ZELP_TEST_DEVICE_COUNT; id++)
        default_script(id, &g_scripts[id]);
    IoAcquireCancelSpinLock(&irql);
    g_log.count = 0;
    g_log.dropped = 0;
    IoReleaseCancelSpinLock(irql);
}

void requests_shutdown(void) {
    stop_timers();
    fail_queued(ALL_DEVICES, STATUS_CANCELLED);
}
