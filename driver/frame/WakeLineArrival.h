#pragma once
// The wake-line service's arrival: a Plug and Play notification for its interface class, on
// which the service's device is opened and its interface queried.
#include "frame/Driver.h"

EXTERN_C_START
DRIVER_NOTIFICATION_CALLBACK_ROUTINE OnWakeLineArrival;
EXTERN_C_END

// Device add: the work item that handles the service's notifications, parented to the
// device, which lives as long as the device.
NTSTATUS CreateWakeLineWorkItem(_In_ PFILTER_EXTENSION Context);

// Registers for the service's interface class, those present included; once per context.
NTSTATUS RegisterWakeLineArrival(_In_opt_ PFILTER_EXTENSION Context);

// Release hardware: ends the registration (no callback runs after it), gives the interface
// back and closes the target on the service's device.
VOID TearDownWakeLine(_In_ PFILTER_EXTENSION Context);

// The arrival callback publishes the interface with release semantics after it is complete;
// a reader who sees it ready also sees the whole interface.
FORCEINLINE BOOLEAN WakeInterfaceIsReady(_In_ PFILTER_EXTENSION Context) {
    return ReadUCharAcquire(&Context->WakeInterfaceReady) == 1;
}
