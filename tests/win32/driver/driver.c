/*
 * The test printers' driver: its entry point, the control device, the
 * parallel port, and the dispatch of reads, writes and device requests to
 * whichever device they reach.
 */
#include "driver.h"

#include <ntddpar.h>

static DEVICE_OBJECT* g_control;
static DEVICE_OBJECT* g_parallel;

static const WCHAR* const k_parallel_links[] = {L"\\DosDevices\\LPT9", L"\\DosDevices\\LPT1"};

void apply_io_method(DEVICE_OBJECT* device, ULONG id) {
    device->Flags &= ~(DO_BUFFERED_IO | DO_DIRECT_IO);
    device->Flags |= script_of(id)->direct_io ? DO_DIRECT_IO : DO_BUFFERED_IO;
}

/* ------------------------------------------------------------------ open and close */

static BOOLEAN is_data_device(const device_state* state) {
    return state->role == ROLE_PARALLEL || state->role == ROLE_PRINTER;
}

static NTSTATUS NTAPI dispatch_open_close(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    device_state* state = state_of(device);
    struct zelp_test_request entry;
    NTSTATUS status = STATUS_SUCCESS;

    if (!is_data_device(state))
        return complete_logged(NULL, irp, status, 0);
    begin_entry(&entry, state->id, ZELP_TEST_ARRIVED, irp);
    /* Wine 8 opens the handle whatever the driver answers here, so a
     * device cannot be held against a second open: every open counts. */
    if (stack->MajorFunction == IRP_MJ_CREATE) {
        InterlockedIncrement(&state->opens);
        return complete_logged(&entry, irp, status, 0);
    }
    if (stack->MajorFunction == IRP_MJ_CLOSE) {
        complete_logged(&entry, irp, status, 0);
        if (state->role == ROLE_PRINTER)
            printer_closed(state); /* may delete the device */
        else
            InterlockedDecrement(&state->opens);
        return status;
    }
    return complete_logged(&entry, irp, status, 0);
}

/* ------------------------------------------------------------------ transfers */

static NTSTATUS NTAPI dispatch_transfer(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    device_state* state = state_of(device);
    const struct zelp_test_script* script;
    struct zelp_test_request entry;
    ULONG completion;

    if (!is_data_device(state))
        return complete_logged(NULL, irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (state->removed) {
        begin_entry(&entry, state->id, ZELP_TEST_ARRIVED, irp);
        return complete_logged(&entry, irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    }
    script = script_of(state->id);
    completion =
        stack->MajorFunction == IRP_MJ_WRITE ? script->write_completion : script->read_completion;
    if (completion == ZELP_TEST_AT_ONCE)
        return finish_transfer(state->id, irp, ZELP_TEST_ARRIVED);
    return queue_transfer(state->id, irp, completion);
}

/* ------------------------------------------------------------------ the parallel port */

static USHORT best_mode(USHORT asked, ULONG offered) {
    USHORT common = asked & (USHORT)offered, mode;

    for (mode = 0x8000; mode && !(common & mode); mode >>= 1)
        ;
    return mode;
}

static NTSTATUS negotiate(const struct zelp_test_script* script, IRP* irp, ULONG_PTR* returned) {
    PARCLASS_NEGOTIATION_MASK* masks = irp->AssociatedIrp.SystemBuffer;

    if (script->negotiate_status)
        return script->negotiate_status;
    masks->usReadMask = best_mode(masks->usReadMask, script->read_modes);
    masks->usWriteMask = best_mode(masks->usWriteMask, script->write_modes);
    *returned = sizeof(*masks);
    return STATUS_SUCCESS;
}

static NTSTATUS parallel_request(const struct zelp_test_script* script, IRP* irp,
                                 ULONG_PTR* returned) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR* buffer = irp->AssociatedIrp.SystemBuffer;

    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case IOCTL_PAR_QUERY_INFORMATION:
            if (out < sizeof(PAR_QUERY_INFORMATION))
                return STATUS_BUFFER_TOO_SMALL;
            if (script->query_status)
                return script->query_status;
            ((PAR_QUERY_INFORMATION*)buffer)->Status = (UCHAR)script->status_byte;
            *returned = sizeof(PAR_QUERY_INFORMATION);
            return STATUS_SUCCESS;
        case IOCTL_PAR_GET_DEFAULT_MODES:
            if (out < sizeof(PARCLASS_NEGOTIATION_MASK))
                return STATUS_BUFFER_TOO_SMALL;
            ((PARCLASS_NEGOTIATION_MASK*)buffer)->usReadMask = (USHORT)script->read_modes;
            ((PARCLASS_NEGOTIATION_MASK*)buffer)->usWriteMask = (USHORT)script->write_modes;
            *returned = sizeof(PARCLASS_NEGOTIATION_MASK);
            return STATUS_SUCCESS;
        case IOCTL_IEEE1284_NEGOTIATE:
            if (in < sizeof(PARCLASS_NEGOTIATION_MASK) || out < sizeof(PARCLASS_NEGOTIATION_MASK))
                return STATUS_BUFFER_TOO_SMALL;
            return negotiate(script, irp, returned);
        case ZELP_IOCTL_SERIAL_SET_TIMEOUTS:
            return STATUS_SUCCESS;
        default:
            return STATUS_INVALID_DEVICE_REQUEST;
    }
}

/* ------------------------------------------------------------------ the control device */

static NTSTATUS control_request(IRP* irp, ULONG_PTR* returned) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    const struct zelp_test_script* script = buffer;
    NTSTATUS status;

    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case IOCTL_ZELP_TEST_SCRIPT:
            if (in < sizeof(*script))
                return STATUS_BUFFER_TOO_SMALL;
            if ((status = set_script(script)))
                return status;
            if (script->device == ZELP_TEST_PARALLEL)
                apply_io_method(g_parallel, ZELP_TEST_PARALLEL);
            else if (printer_device(script->device))
                apply_io_method(printer_device(script->device), script->device);
            return STATUS_SUCCESS;
        case IOCTL_ZELP_TEST_GET_SCRIPT:
            if (in < sizeof(ULONG) || out < sizeof(*script))
                return STATUS_BUFFER_TOO_SMALL;
            if (*(const ULONG*)buffer >= ZELP_TEST_DEVICE_COUNT)
                return STATUS_INVALID_PARAMETER;
            RtlCopyMemory(buffer, script_of(*(const ULONG*)buffer), sizeof(*script));
            *returned = sizeof(*script);
            return STATUS_SUCCESS;
        case IOCTL_ZELP_TEST_RESET:
            requests_reset();
            apply_io_method(g_parallel, ZELP_TEST_PARALLEL);
            plug_all_printers();
            return STATUS_SUCCESS;
        case IOCTL_ZELP_TEST_LOG:
            if (out < sizeof(struct zelp_test_log))
                return STATUS_BUFFER_TOO_SMALL;
            copy_log(buffer);
            *returned = sizeof(struct zelp_test_log);
            return STATUS_SUCCESS;
        case IOCTL_ZELP_TEST_UNPLUG:
        case IOCTL_ZELP_TEST_PLUG:
            if (in < sizeof(ULONG))
                return STATUS_BUFFER_TOO_SMALL;
            return plug_printer(
                *(const ULONG*)buffer,
                stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_ZELP_TEST_PLUG);
        default:
            return STATUS_INVALID_DEVICE_REQUEST;
    }
}

static NTSTATUS NTAPI dispatch_request(DEVICE_OBJECT* device, IRP* irp) {
    device_state* state = state_of(device);
    struct zelp_test_request entry;
    ULONG_PTR returned = 0;
    NTSTATUS status;

    if (state->role == ROLE_CONTROL) {
        status = control_request(irp, &returned);
        return complete_logged(NULL, irp, status, returned);
    }
    if (!is_data_device(state))
        return complete_logged(NULL, irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    begin_entry(&entry, state->id, ZELP_TEST_ARRIVED, irp);
    if (state->removed)
        status = STATUS_DEVICE_NOT_CONNECTED;
    else if (state->role == ROLE_PARALLEL)
        status = parallel_request(script_of(state->id), irp, &returned);
    else
        status = STATUS_INVALID_DEVICE_REQUEST;
    return complete_logged(&entry, irp, status, returned);
}

/* ------------------------------------------------------------------ load and unload */

static NTSTATUS make_named_device(DRIVER_OBJECT* driver, const WCHAR* name, DEVICE_TYPE type,
                                  enum device_role role, ULONG id, DEVICE_OBJECT** made) {
    UNICODE_STRING device_name;
    device_state* state;
    NTSTATUS status;

    RtlInitUnicodeString(&device_name, name);
    status = IoCreateDevice(driver, sizeof(device_state), &device_name, type,
                            FILE_DEVICE_SECURE_OPEN, FALSE, made);
    if (status)
        return status;
    state = state_of(*made);
    RtlZeroMemory(state, sizeof(*state));
    state->role = role;
    state->id = id;
    state->self = *made;
    (*made)->Flags |= DO_BUFFERED_IO;
    (*made)->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static NTSTATUS link_to(const WCHAR* link, const WCHAR* target) {
    UNICODE_STRING link_name, target_name;

    RtlInitUnicodeString(&link_name, link);
    RtlInitUnicodeString(&target_name, target);
    return IoCreateSymbolicLink(&link_name, &target_name);
}

static void remove_link(const WCHAR* link) {
    UNICODE_STRING link_name;

    RtlInitUnicodeString(&link_name, link);
    IoDeleteSymbolicLink(&link_name);
}

static VOID NTAPI driver_unload(DRIVER_OBJECT* driver) {
    ULONG i;

    UNREFERENCED_PARAMETER(driver);
    requests_shutdown();
    remove_link(L"\\DosDevices\\ZelpTestControl");
    for (i = 0; i < ARRAYSIZE(k_parallel_links); i++)
        remove_link(k_parallel_links[i]);
    if (g_control)
        IoDeleteDevice(g_control);
    if (g_parallel)
        IoDeleteDevice(g_parallel);
}

static NTSTATUS make_devices(DRIVER_OBJECT* driver) {
    static const WCHAR control[] = L"\\Device\\ZelpTestControl";
    static const WCHAR parallel[] = L"\\Device\\ZelpTestParallel";
    NTSTATUS status;
    ULONG i;

    if ((status = make_named_device(driver, control, FILE_DEVICE_UNKNOWN, ROLE_CONTROL, 0,
                                    &g_control)) ||
        (status = link_to(L"\\DosDevices\\ZelpTestControl", control)) ||
        (status = make_named_device(driver, parallel, FILE_DEVICE_PARALLEL_PORT, ROLE_PARALLEL,
                                    ZELP_TEST_PARALLEL, &g_parallel)))
        return status;
    for (i = 0; i < ARRAYSIZE(k_parallel_links); i++)
        if ((status = link_to(k_parallel_links[i], parallel)))
            return status;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registry_path) {
    NTSTATUS status;

    UNREFERENCED_PARAMETER(registry_path);
    requests_init();
    driver->DriverUnload = driver_unload;
    driver->DriverExtension->AddDevice = bus_add_device;
    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_open_close;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch_open_close;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_open_close;
    driver->MajorFunction[IRP_MJ_READ] = dispatch_transfer;
    driver->MajorFunction[IRP_MJ_WRITE] = dispatch_transfer;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_request;
    driver->MajorFunction[IRP_MJ_PNP] = dispatch_pnp;
    status = make_devices(driver);
    if (status)
        driver_unload(driver);
    return status;
}
