#pragma once
// The per-device context of the filter: one per controller instance.
#include <ntddk.h>
#include <wdf.h>

#include "frame/WakeLineInterface.h"
#include "sequencing/PortPairs.h"

typedef struct _FILTER_EXTENSION {
    WDFDEVICE Device;
    PVOID ControllerBase;
    ULONG ControllerLength;
    PVOID ClockResetBase;
    ULONG ClockResetLength;
    PVOID PhyBase;
    ULONG PhyLength;
    UCHAR PoweredDown;
    LONG Instance;
    ULONG PortPairCount;
    PPORT_PAIR_STATE PortPairs;
    WDFMEMORY PortPairsMemory;
    UCHAR SsPhyFailed;
    ULONG SocVersion;
    WDFCOLLECTION PhyOverrides;
    UCHAR Ccvl;
    WDFIOTARGET WakeLineTarget;
    WAKE_LINE_INTERFACE WakeLineInterface;
    PVOID ArrivalNotification;
    UCHAR WakeInterfaceReady;
    UCHAR Gen1;
    UCHAR Mprd;
    UCHAR Mpdp;
    ULONG GpioConnectionIdLow;
    ULONG GpioConnectionIdHigh;
    WDFIOTARGET GpioTarget;
    // The reference on the service's file object that WakeLineTarget was opened with.
    PFILE_OBJECT WakeLineFileObject;
    // Held while the service is bound or unbound: by the work item, by the target's removal
    // callbacks and by release hardware, at passive level (a synchronization event, signalled
    // while free). No call into the service is made under it.
    KEVENT WakeLineArrivalLock;
    // Calls into the service hold it; unbinding waits for them to return.
    EX_RUNDOWN_REF WakeLineRundown;
    UCHAR WakeLineRanDown;
    // How a removal left WakeLineTarget (see WakeLineBinding.h).
    UCHAR WakeLineTargetClosed;
    // Handles the service's notifications one at a time, parented to the device.
    WDFWORKITEM WakeLineWorkItem;
    LONG WakeLineWorkPending;
    // Set by release hardware: nothing queues the work item any more.
    LONG WakeLineClosing;
} FILTER_EXTENSION, *PFILTER_EXTENSION;

WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(FILTER_EXTENSION, GetFilterExtension)
