// D0 entry and D0 exit. Nothing here is pageable: the power-up may run before paging is
// available again.
#include "frame/Driver.h"
#include "sequencing/ControllerBringUp.h"
#include "frame/HardwareResources.h"
#include "frame/WakeLineArrival.h"
#include "sequencing/PowerDown.h"
#include "sequencing/PowerUp.h"

#include "PowerTransitions.tmh"

// The power sequences need the three register blocks and the port-pair records that prepare
// hardware creates; without them there is nothing to power up or down.
static BOOLEAN HardwarePrepared(PFILTER_EXTENSION Context) {
    return Context->ControllerBase != NULL && Context->ClockResetBase != NULL &&
           Context->PhyBase != NULL && Context->PortPairs != NULL;
}

// The framework gives a filter the pageability of the device below it, which loses
// DO_POWER_PAGABLE while a disk behind the controller carries the paging, hibernation or dump
// file. The power callbacks of such a stack may run while paging I/O is unavailable: opening
// or closing a file there, an I/O target by name included, runs pageable code.
static BOOLEAN StackPowerPageable(WDFDEVICE Device) {
    return (WdfDeviceWdmGetDeviceObject(Device)->Flags & DO_POWER_PAGABLE) != 0;
}

// The hardware lost its state while the system was off: settings, registration and the
// whole bring-up again, then the power-up, which finds nothing to resume. When the power
// never went (a hibernation aborted after the D0 exits, `StateKept`), the wrapper still holds
// the wake events of the completed power-down, which the bring-up does not touch.
static NTSTATUS ResumeFromHibernation(WDFDEVICE Device, PFILTER_EXTENSION Context,
                                      WDF_POWER_DEVICE_STATE PreviousState, BOOLEAN StateKept) {
    NTSTATUS status;
    // A registration that prepare hardware made is still there. A new one is pageable code,
    // so a stack that is not power pageable waits for the next prepare hardware.
    if (Context->ArrivalNotification == NULL && !StackPowerPageable(Device)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER,
                    "no wake-line registration, none made: the stack is not power pageable");
    } else {
        status = RegisterWakeLineArrival(Context);
        if (!NT_SUCCESS(status)) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "wake-line registration: status 0x%08X",
                        status);
        }
    }
    // The hibernation D0 exit of a pageable stack closed the target; one still open is kept
    // rather than opened twice, and a stack that is not pageable opens none here.
    if (Context->Instance == INSTANCE_MULTIPORT && Context->GpioTarget == NULL) {
        if (StackPowerPageable(Device)) {
            Context->GpioTarget = OpenGpioTarget(Device);
        } else {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER,
                        "no GPIO target, none opened: the stack is not power pageable");
        }
    }
    status = BringUpController(Context);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "bring-up after hibernation: status 0x%08X",
                    status);
        return status;
    }
    if (StateKept && Context->PoweredDown == 1) {
        DisarmPowerDownWakeEvents(Context);
    }
    Context->PoweredDown = 0;
    for (ULONG pair = 0; pair < Context->PortPairCount; ++pair) {
        Context->PortPairs[pair].HsWakeArmed = 0;
        Context->PortPairs[pair].SsWakeArmed = 0;
    }
    return PowerUpController(Context, PreviousState);
}

_Use_decl_annotations_ NTSTATUS EvtDeviceD0Entry(WDFDEVICE Device,
                                                 WDF_POWER_DEVICE_STATE PreviousState) {
    PFILTER_EXTENSION extension = GetFilterExtension(Device);
    NTSTATUS status;

    if (extension == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "no device context");
        return STATUS_SUCCESS;
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "entry: instance %d, from %s",
                extension->Instance, DeviceStateName(PreviousState));
    if (!HardwarePrepared(extension)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "exit: register blocks not mapped");
        return STATUS_SUCCESS;
    }
    // A controller that lost its configuration while the system was off needs the whole
    // bring-up, whatever action the framework reports: after an idle device slept through
    // hibernation, its D0 entry is told PowerActionNone.
    BOOLEAN configured = CoreConfigured(extension);
    if (!configured || WdfDeviceGetSystemPowerAction(Device) == PowerActionHibernate) {
        status = ResumeFromHibernation(Device, extension, PreviousState, configured);
    } else {
        status = PowerUpController(extension, PreviousState);
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: status 0x%08X", status);
    return status;
}

_Use_decl_annotations_ NTSTATUS EvtDeviceD0Exit(WDFDEVICE Device,
                                                WDF_POWER_DEVICE_STATE TargetState) {
    PFILTER_EXTENSION extension = GetFilterExtension(Device);
    POWER_ACTION action;
    NTSTATUS status;

    if (extension == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "no device context");
        return STATUS_SUCCESS;
    }
    action = WdfDeviceGetSystemPowerAction(Device);
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "entry: instance %d, to %s, action %d",
                extension->Instance, DeviceStateName(TargetState), action);
    if (!HardwarePrepared(extension)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_POWER, "exit: register blocks not mapped");
        return STATUS_SUCCESS;
    }
    // The hibernation image is written through this controller after the D0 exits: the
    // hardware, the wake arming and the GPIO line stay as they are, and the GPIO target stays
    // open, since closing it may let the line fall while the image is written. D0 entry after
    // the resume finds the controller without its state and takes the bring-up path, which
    // keeps the open target.
    if (TargetState == WdfPowerDevicePrepareForHibernation) {
        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER,
                    "instance %d on the hibernation path: left powered", extension->Instance);
        return STATUS_SUCCESS;
    }
    status = PowerDownController(extension, TargetState);
    if (NT_SUCCESS(status) && action == PowerActionHibernate && extension->GpioTarget != NULL) {
        if (StackPowerPageable(Device)) {
            // The GPIO connection does not survive hibernation; D0 entry opens a new one.
            WdfIoTargetClose(extension->GpioTarget);
            WdfObjectDelete(extension->GpioTarget);
            extension->GpioTarget = NULL;
            extension->Mprd = 0;
            TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER, "GPIO target closed for hibernation");
        } else {
            // No file is closed here; D0 entry after the resume keeps the open target.
            TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER,
                        "GPIO target kept for hibernation: the stack is not power pageable");
        }
    }
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_POWER, "exit: status 0x%08X", status);
    return status;
}
