/*
 * The USB printers: a bus on the root device the installer made, whose
 * children each register a GUID_DEVINTERFACE_USBPRINT interface. A child that
 * is unplugged leaves the bus relations; Wine then removes it as Windows
 * would, and the same interface path comes back when it is plugged in again.
 */
#include "driver.h"

#define PRINTER_COUNT (ZELP_TEST_DEVICE_COUNT - ZELP_TEST_FIRST_PRINTER)
/* "Zept", as pool tags read in a debugger. */
#define POOL_TAG 0x7470655Au

static const GUID k_usbprint_interface = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

struct printer_identity {
    const WCHAR* device_id;
    const WCHAR* hardware_ids; /* a list of strings, ended by an empty one */
    const WCHAR* instance_id;  /* the serial field of the interface path */
};

#define MODEL_5678 L"USB\\VID_1234&PID_5678"
#define MODEL_ABCD L"USB\\VID_1234&PID_ABCD"

static const struct printer_identity k_printers[PRINTER_COUNT] = {
    {MODEL_5678, MODEL_5678 L"&REV_0100\0" MODEL_5678 L"\0", L"123456"},
    /* The form of ID Windows makes up for a printer without a serial number,
     * with the leading number a path's serial field then reads as 0. */
    {MODEL_5678, MODEL_5678 L"&REV_0100\0" MODEL_5678 L"\0", L"0&2a1b3c4d&0&2"},
    {MODEL_ABCD, MODEL_ABCD L"&REV_0100\0" MODEL_ABCD L"\0", L"123456"},
};

static const WCHAR k_compatible_ids[] =
    L"USB\\Class_07&SubClass_01&Prot_02\0USB\\Class_07&SubClass_01\0USB\\Class_07\0";

#define MODEL_TAKEN L"" ZELP_TEST_TAKEN_DEVICE_ID
static const struct printer_identity k_taken = {
    MODEL_TAKEN, MODEL_TAKEN L"&REV_0100\0" MODEL_TAKEN L"\0", L"" ZELP_TEST_TAKEN_SERIAL};

static DEVICE_OBJECT* g_bus;
/* The device each printer is reported by while it is on the bus. */
static DEVICE_OBJECT* g_printers[PRINTER_COUNT];
static BOOLEAN g_unplugged[PRINTER_COUNT];
static LONG g_generation;
/* The printer another driver took: always on the bus, never an interface. */
static DEVICE_OBJECT* g_taken;

static BOOLEAN is_printer(ULONG id) {
    return id >= ZELP_TEST_FIRST_PRINTER && id < ZELP_TEST_DEVICE_COUNT;
}

DEVICE_OBJECT* printer_device(ULONG id) {
    return is_printer(id) ? g_printers[id - ZELP_TEST_FIRST_PRINTER] : NULL;
}

/* ------------------------------------------------------------------ helpers */

/* Characters up to and including the terminator; a list's empty last string
 * counts as its terminator. */
static SIZE_T text_chars(const WCHAR* text, BOOLEAN list) {
    SIZE_T n = 0;

    while (text[n] || (list && text[n + 1]))
        n++;
    return n + (list ? 2 : 1);
}

static NTSTATUS pool_copy(const WCHAR* text, BOOLEAN list, ULONG_PTR* copy) {
    SIZE_T bytes = text_chars(text, list) * sizeof(WCHAR);
    WCHAR* pool = ExAllocatePoolWithTag(PagedPool, bytes, POOL_TAG);

    if (!pool)
        return STATUS_INSUFFICIENT_RESOURCES;
    RtlCopyMemory(pool, text, bytes);
    *copy = (ULONG_PTR)pool;
    return STATUS_SUCCESS;
}

static WCHAR* append_number(WCHAR* at, ULONG value) {
    WCHAR digits[10];
    int n = 0;

    do
        digits[n++] = (WCHAR)(L'0' + value % 10);
    while ((value /= 10));
    while (n)
        *at++ = digits[--n];
    *at = 0;
    return at;
}

static void set_interface(device_state* state, BOOLEAN on) {
    if (state->interface_name.Buffer && state->interface_on != on &&
        NT_SUCCESS(IoSetDeviceInterfaceState(&state->interface_name, on)))
        state->interface_on = on;
}

/* ------------------------------------------------------------------ the printers */

static NTSTATUS create_printer(DRIVER_OBJECT* driver, ULONG id) {
    /* A removed printer may still be open under its old name. */
    WCHAR name[64] = L"\\Device\\ZelpTestPrinter";
    WCHAR* end = append_number(name + text_chars(name, FALSE) - 1, id);
    UNICODE_STRING device_name;
    DEVICE_OBJECT* device;
    device_state* state;
    NTSTATUS status;

    *end++ = L'_';
    append_number(end, (ULONG)InterlockedIncrement(&g_generation));
    RtlInitUnicodeString(&device_name, name);
    status = IoCreateDevice(driver, sizeof(device_state), &device_name, FILE_DEVICE_UNKNOWN,
                            FILE_DEVICE_SECURE_OPEN, FALSE, &device);
    if (status)
        return status;
    state = state_of(device);
    RtlZeroMemory(state, sizeof(*state));
    state->role = ROLE_PRINTER;
    state->id = id;
    state->self = device;
    apply_io_method(device, id);
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    g_printers[id - ZELP_TEST_FIRST_PRINTER] = device;
    return STATUS_SUCCESS;
}

static void delete_printer(DEVICE_OBJECT* device) {
    device_state* state = state_of(device);

    if (state->interface_name.Buffer)
        RtlFreeUnicodeString(&state->interface_name);
    IoDeleteDevice(device);
}

/* Windows keeps a removed device while handles to it are open and fails
 * their requests in the driver; Wine would refuse them itself once the
 * device is deleted, so the deletion waits for the last close. */
static void delete_when_closed(DEVICE_OBJECT* device) {
    device_state* state = state_of(device);
    BOOLEAN now;
    KIRQL irql;

    IoAcquireCancelSpinLock(&irql);
    state->delete_at_last_close = state->opens > 0;
    now = !state->delete_at_last_close;
    IoReleaseCancelSpinLock(irql);
    if (now)
        delete_printer(device);
}

void printer_closed(device_state* state) {
    BOOLEAN now;
    KIRQL irql;

    IoAcquireCancelSpinLock(&irql);
    now = --state->opens == 0 && state->delete_at_last_close;
    IoReleaseCancelSpinLock(irql);
    if (now)
        delete_printer(state->self);
}

static void stop_printer(device_state* state) {
    state->removed = TRUE;
    set_interface(state, FALSE);
    fail_queued(state->id, STATUS_DEVICE_NOT_CONNECTED);
}

static NTSTATUS start_printer(device_state* state) {
    NTSTATUS status;

    if (!state->interface_name.Buffer) {
        status = IoRegisterDeviceInterface(state->self, &k_usbprint_interface, NULL,
                                           &state->interface_name);
        if (status)
            return status;
    }
    state->removed = FALSE;
    set_interface(state, TRUE);
    return STATUS_SUCCESS;
}

static NTSTATUS remove_printer(DEVICE_OBJECT* device, IRP* irp) {
    device_state* state = state_of(device);
    DEVICE_OBJECT** slot = &g_printers[state->id - ZELP_TEST_FIRST_PRINTER];

    stop_printer(state);
    complete_logged(NULL, irp, STATUS_SUCCESS, 0);
    /* One still on the bus goes when the bus goes. */
    if (*slot != device)
        delete_when_closed(device);
    return STATUS_SUCCESS;
}

static NTSTATUS query_id(const struct printer_identity* identity, BUS_QUERY_ID_TYPE type, IRP* irp,
                         ULONG_PTR* copy) {
    switch (type) {
        case BusQueryDeviceID:
            return pool_copy(identity->device_id, FALSE, copy);
        case BusQueryHardwareIDs:
            return pool_copy(identity->hardware_ids, TRUE, copy);
        case BusQueryCompatibleIDs:
            return pool_copy(k_compatible_ids, TRUE, copy);
        case BusQueryInstanceID:
            return pool_copy(identity->instance_id, FALSE, copy);
        default:
            return irp->IoStatus.Status;
    }
}

static void fill_capabilities(device_state* state, DEVICE_CAPABILITIES* capabilities) {
    /* No INF matches the children: RawDeviceOK lets Wine start them anyway. */
    capabilities->RawDeviceOK = 1;
    capabilities->Removable = 1;
    capabilities->SurpriseRemovalOK = 1;
    capabilities->UniqueID = state->id != ZELP_TEST_PRINTER_UNNUMBERED;
    capabilities->Address = state->id;
    capabilities->UINumber = state->id;
}

static NTSTATUS report_self(DEVICE_OBJECT* device, ULONG_PTR* relations) {
    DEVICE_RELATIONS* self = ExAllocatePoolWithTag(PagedPool, sizeof(*self), POOL_TAG);

    if (!self)
        return STATUS_INSUFFICIENT_RESOURCES;
    ObReferenceObject(device);
    self->Count = 1;
    self->Objects[0] = device;
    *relations = (ULONG_PTR)self;
    return STATUS_SUCCESS;
}

/* What every child answers alike: its ids, itself as the target of a
 * relation, and the state changes it has nothing to do for. Any other
 * request keeps the status it came with. */
static void answer_as_child(DEVICE_OBJECT* device, const struct printer_identity* identity,
                            IRP* irp, NTSTATUS* status, ULONG_PTR* information) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);

    switch (stack->MinorFunction) {
        case IRP_MN_QUERY_ID:
            *status = query_id(identity, stack->Parameters.QueryId.IdType, irp, information);
            break;
        case IRP_MN_QUERY_DEVICE_RELATIONS:
            if (stack->Parameters.QueryDeviceRelations.Type == TargetDeviceRelation)
                *status = report_self(device, information);
            break;
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
        case IRP_MN_QUERY_STOP_DEVICE:
        case IRP_MN_CANCEL_STOP_DEVICE:
        case IRP_MN_STOP_DEVICE:
            *status = STATUS_SUCCESS;
            break;
        default:
            break;
    }
}

static NTSTATUS printer_pnp(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    device_state* state = state_of(device);
    ULONG_PTR information = irp->IoStatus.Information;
    NTSTATUS status = irp->IoStatus.Status;

    switch (stack->MinorFunction) {
        case IRP_MN_QUERY_CAPABILITIES:
            fill_capabilities(state, stack->Parameters.DeviceCapabilities.Capabilities);
            status = STATUS_SUCCESS;
            break;
        case IRP_MN_START_DEVICE:
            log_pnp(state->id, stack->MinorFunction);
            status = start_printer(state);
            break;
        case IRP_MN_SURPRISE_REMOVAL:
            log_pnp(state->id, stack->MinorFunction);
            stop_printer(state);
            status = STATUS_SUCCESS;
            break;
        case IRP_MN_REMOVE_DEVICE:
            log_pnp(state->id, stack->MinorFunction);
            return remove_printer(device, irp);
        default:
            answer_as_child(device, &k_printers[state->id - ZELP_TEST_FIRST_PRINTER], irp, &status,
                            &information);
            break;
    }
    return complete_logged(NULL, irp, status, information);
}

/* ------------------------------------------------------------------ the taken printer */

static NTSTATUS create_taken(DRIVER_OBJECT* driver) {
    device_state* state;
    NTSTATUS status;

    status = IoCreateDevice(driver, sizeof(device_state), NULL, FILE_DEVICE_UNKNOWN,
                            FILE_DEVICE_SECURE_OPEN, FALSE, &g_taken);
    if (status)
        return status;
    state = state_of(g_taken);
    RtlZeroMemory(state, sizeof(*state));
    state->role = ROLE_TAKEN;
    state->self = g_taken;
    g_taken->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static NTSTATUS taken_pnp(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    ULONG_PTR information = irp->IoStatus.Information;
    NTSTATUS status = irp->IoStatus.Status;

    switch (stack->MinorFunction) {
        case IRP_MN_QUERY_CAPABILITIES:
            stack->Parameters.DeviceCapabilities.Capabilities->RawDeviceOK = 1;
            stack->Parameters.DeviceCapabilities.Capabilities->UniqueID = 1;
            status = STATUS_SUCCESS;
            break;
        case IRP_MN_REMOVE_DEVICE:
            complete_logged(NULL, irp, STATUS_SUCCESS, 0);
            if (g_taken != device)
                IoDeleteDevice(device);
            return STATUS_SUCCESS;
        case IRP_MN_START_DEVICE:
        case IRP_MN_SURPRISE_REMOVAL:
            status = STATUS_SUCCESS;
            break;
        default:
            answer_as_child(device, &k_taken, irp, &status, &information);
            break;
    }
    return complete_logged(NULL, irp, status, information);
}

/* ------------------------------------------------------------------ the bus */

static NTSTATUS report_printers(DEVICE_OBJECT* bus, IRP* irp) {
    DEVICE_RELATIONS* relations;
    ULONG i;

    relations = ExAllocatePoolWithTag(
        PagedPool, sizeof(*relations) + (PRINTER_COUNT + 1) * sizeof(relations->Objects[0]),
        POOL_TAG);
    if (!relations)
        return STATUS_INSUFFICIENT_RESOURCES;
    relations->Count = 0;
    for (i = 0; i < PRINTER_COUNT; i++) {
        /* An unplugged printer's device is the system's to remove now; a
         * printer plugged in again gets a new one. */
        if (g_unplugged[i]) {
            g_printers[i] = NULL;
            continue;
        }
        if (!g_printers[i] && create_printer(bus->DriverObject, i + ZELP_TEST_FIRST_PRINTER))
            continue;
        ObReferenceObject(g_printers[i]);
        relations->Objects[relations->Count++] = g_printers[i];
    }
    /* Last, so the printers keep the places the tests know them by. */
    if (g_taken || !create_taken(bus->DriverObject)) {
        ObReferenceObject(g_taken);
        relations->Objects[relations->Count++] = g_taken;
    }
    irp->IoStatus.Information = (ULONG_PTR)relations;
    irp->IoStatus.Status = STATUS_SUCCESS;
    return STATUS_SUCCESS;
}

NTSTATUS plug_printer(ULONG id, BOOLEAN present) {
    if (!is_printer(id) || !g_bus)
        return STATUS_INVALID_PARAMETER;
    g_unplugged[id - ZELP_TEST_FIRST_PRINTER] = !present;
    IoInvalidateDeviceRelations(state_of(g_bus)->pdo, BusRelations);
    return STATUS_SUCCESS;
}

void plug_all_printers(void) {
    BOOLEAN any = FALSE;
    ULONG i;

    for (i = 0; i < PRINTER_COUNT; i++) {
        any |= g_unplugged[i];
        g_unplugged[i] = FALSE;
    }
    if (any && g_bus)
        IoInvalidateDeviceRelations(state_of(g_bus)->pdo, BusRelations);
}

static NTSTATUS NTAPI forwarded(DEVICE_OBJECT* device, IRP* irp, PVOID done) {
    UNREFERENCED_PARAMETER(device);
    UNREFERENCED_PARAMETER(irp);
    KeSetEvent((KEVENT*)done, IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

static NTSTATUS forward_and_wait(device_state* state, IRP* irp) {
    KEVENT done;
    NTSTATUS status;

    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, forwarded, &done, TRUE, TRUE, TRUE);
    status = IoCallDriver(state->lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        status = irp->IoStatus.Status;
    }
    return status;
}

static NTSTATUS remove_bus(DEVICE_OBJECT* bus, IRP* irp) {
    DEVICE_OBJECT* lower = state_of(bus)->lower;
    NTSTATUS status;
    ULONG i;

    for (i = 0; i < PRINTER_COUNT; i++) {
        DEVICE_OBJECT* printer = g_printers[i];
        g_printers[i] = NULL;
        if (printer) {
            stop_printer(state_of(printer));
            delete_when_closed(printer);
        }
    }
    if (g_taken) {
        IoDeleteDevice(g_taken);
        g_taken = NULL;
    }
    g_bus = NULL;
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoSkipCurrentIrpStackLocation(irp);
    status = IoCallDriver(lower, irp);
    IoDetachDevice(lower);
    IoDeleteDevice(bus);
    return status;
}

static NTSTATUS bus_pnp(DEVICE_OBJECT* bus, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    device_state* state = state_of(bus);
    NTSTATUS status;

    switch (stack->MinorFunction) {
        case IRP_MN_START_DEVICE:
            forward_and_wait(state, irp);
            /* Windows asks a started bus for its children; Wine waits to be told. */
            IoInvalidateDeviceRelations(state->pdo, BusRelations);
            return complete_logged(NULL, irp, STATUS_SUCCESS, 0);
        case IRP_MN_QUERY_DEVICE_RELATIONS:
            if (stack->Parameters.QueryDeviceRelations.Type == BusRelations &&
                (status = report_printers(bus, irp)))
                return complete_logged(NULL, irp, status, 0);
            break;
        case IRP_MN_REMOVE_DEVICE:
            return remove_bus(bus, irp);
        case IRP_MN_SURPRISE_REMOVAL:
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
            irp->IoStatus.Status = STATUS_SUCCESS;
            break;
        default:
            break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(state->lower, irp);
}

NTSTATUS NTAPI dispatch_pnp(DEVICE_OBJECT* device, IRP* irp) {
    switch (state_of(device)->role) {
        case ROLE_BUS:
            return bus_pnp(device, irp);
        case ROLE_PRINTER:
            return printer_pnp(device, irp);
        case ROLE_TAKEN:
            return taken_pnp(device, irp);
        default:
            return complete_logged(NULL, irp, irp->IoStatus.Status, irp->IoStatus.Information);
    }
}

NTSTATUS NTAPI bus_add_device(DRIVER_OBJECT* driver, DEVICE_OBJECT* pdo) {
    DEVICE_OBJECT* bus;
    device_state* state;
    NTSTATUS status;

    if (g_bus)
        return STATUS_DEVICE_ALREADY_ATTACHED;
    status = IoCreateDevice(driver, sizeof(device_state), NULL, FILE_DEVICE_BUS_EXTENDER, 0, FALSE,
                            &bus);
    if (status)
        return status;
    state = state_of(bus);
    RtlZeroMemory(state, sizeof(*state));
    state->role = ROLE_BUS;
    state->self = bus;
    state->pdo = pdo;
    state->lower = IoAttachDeviceToDeviceStack(bus, pdo);
    bus->Flags &= ~DO_DEVICE_INITIALIZING;
    g_bus = bus;
    return STATUS_SUCCESS;
}
