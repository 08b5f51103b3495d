// Prepare and release hardware. Prepare recognises the instance from its memory resource,
// maps the controller block and the two shared blocks, creates the port-pair state, opens the
// GPIO connection, reads the SoC version, registers for the wake-line service and ends with
// the controller bring-up. Release undoes whatever exists, so it also serves after a prepare
// that failed part-way.
#include "frame/ControllerRecognition.h"
#include "frame/Driver.h"
#include "frame/HardwareResources.h"
#include "frame/WakeLineArrival.h"
#include "sequencing/ControllerBringUp.h"
#include "sequencing/RegisterMap.h"

#include "HardwareResources.tmh"

#ifdef ALLOC_PRAGMA
#pragma alloc_text(PAGE, EvtDevicePrepareHardware)
#pragma alloc_text(PAGE, EvtDeviceReleaseHardware)
#endif

// Register blocks are mapped uncached, for reading and writing.
static PVOID MapRegisterBlock(_In_ PHYSICAL_ADDRESS Start, _In_ ULONG Length) {
    return MmMapIoSpaceEx(Start, Length, PAGE_READWRITE | PAGE_NOCACHE);
}

static VOID UnmapRegisterBlock(_Inout_ PVOID* Base, _In_ ULONG Length) {
    if (*Base != NULL) {
        MmUnmapIoSpace(*Base, Length);
        *Base = NULL;
    }
}

static NTSTATUS TakeMemoryResource(_In_ PFILTER_EXTENSION Extension,
                                   _In_ PCM_PARTIAL_RESOURCE_DESCRIPTOR Descriptor) {
    PHYSICAL_ADDRESS start = Descriptor->u.Memory.Start;

    if (!RecognizeController(start.LowPart, &Extension->Instance, &Extension->PortPairCount)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE,
                    "memory resource at 0x%08X%08X is no known controller", start.HighPart,
                    start.LowPart);
        return STATUS_INTERNAL_ERROR;
    }
    // A block shorter than the registers the sequences use would have them read and write
    // past the mapping. Nothing stays mapped, an earlier resource's block included.
    if (Descriptor->u.Memory.Length < CONTROLLER_REGISTERS_END) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE,
                    "controller block of 0x%X bytes, 0x%X needed", Descriptor->u.Memory.Length,
                    CONTROLLER_REGISTERS_END);
        UnmapRegisterBlock(&Extension->ControllerBase, Extension->ControllerLength);
        return STATUS_INTERNAL_ERROR;
    }
    // A later memory resource replaces an earlier one, whose mapping goes first.
    if (Extension->ControllerBase != NULL) {
        TraceEvents(TRACE_LEVEL_WARNING, TRACE_HARDWARE,
                    "another memory resource replaces the controller block");
        UnmapRegisterBlock(&Extension->ControllerBase, Extension->ControllerLength);
    }
    Extension->ControllerBase = MapRegisterBlock(start, Descriptor->u.Memory.Length);
    Extension->ControllerLength = Descriptor->u.Memory.Length;
    if (Extension->ControllerBase == NULL) {
        return STATUS_INTERNAL_ERROR;
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE,
                "instance %d at 0x%08X%08X, 0x%X bytes, %u port pairs", Extension->Instance,
                start.HighPart, start.LowPart, Extension->ControllerLength,
                Extension->PortPairCount);
    return STATUS_SUCCESS;
}

static VOID TakeGpioConnection(_In_ PFILTER_EXTENSION Extension, _In_ WDFDEVICE Device,
                               _In_ PCM_PARTIAL_RESOURCE_DESCRIPTOR Descriptor,
                               _Inout_ BOOLEAN* Taken) {
    if (*Taken) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE, "second GPIO connection 0x%08X%08X ignored",
                    Descriptor->u.Connection.IdHighPart, Descriptor->u.Connection.IdLowPart);
        return;
    }
    *Taken = TRUE;
    Extension->GpioConnectionIdLow = Descriptor->u.Connection.IdLowPart;
    Extension->GpioConnectionIdHigh = Descriptor->u.Connection.IdHighPart;
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "GPIO connection 0x%08X%08X",
                Extension->GpioConnectionIdHigh, Extension->GpioConnectionIdLow);
    Extension->GpioTarget = OpenGpioTarget(Device);
}

static NTSTATUS TakeResources(_In_ PFILTER_EXTENSION Extension, _In_ WDFDEVICE Device,
                              _In_ WDFCMRESLIST Resources) {
    ULONG count = WdfCmResourceListGetCount(Resources);
    BOOLEAN gpioTaken = FALSE;

    for (ULONG i = 0; i < count; ++i) {
        PCM_PARTIAL_RESOURCE_DESCRIPTOR descriptor = WdfCmResourceListGetDescriptor(Resources, i);
        if (descriptor == NULL) {
            continue;
        }
        if (descriptor->Type == CmResourceTypeMemory) {
            NTSTATUS status = TakeMemoryResource(Extension, descriptor);
            if (!NT_SUCCESS(status)) {
                return status;
            }
        } else if (descriptor->Type == CmResourceTypeConnection &&
                   descriptor->u.Connection.Class == CM_RESOURCE_CONNECTION_CLASS_GPIO &&
                   descriptor->u.Connection.Type == CM_RESOURCE_CONNECTION_TYPE_GPIO_IO) {
            TakeGpioConnection(Extension, Device, descriptor, &gpioTaken);
        }
    }
    // Without a controller block the bring-up would write through an unmapped base.
    if (Extension->ControllerBase == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE, "no memory resource for the controller");
        return STATUS_INTERNAL_ERROR;
    }
    return STATUS_SUCCESS;
}

static NTSTATUS CreatePortPairs(_In_ PFILTER_EXTENSION Extension, _In_ WDFDEVICE Device) {
    WDF_OBJECT_ATTRIBUTES attributes;
    PVOID buffer = NULL;
    NTSTATUS status;

    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = Device;
    // Read and written by D0 entry and D0 exit, which may run while paging I/O is unavailable.
    status = WdfMemoryCreate(&attributes, NonPagedPoolNx, PELVANE_POOL_TAG,
                             Extension->PortPairCount * sizeof(PORT_PAIR_STATE),
                             &Extension->PortPairsMemory, &buffer);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE, "WdfMemoryCreate failed, status 0x%08X",
                    status);
        Extension->PortPairsMemory = NULL;
        return status;
    }
    Extension->PoweredDown = 0;
    Extension->PortPairs = static_cast<PPORT_PAIR_STATE>(buffer);
    WriteUCharRelease(&Extension->WakeInterfaceReady, 0);
    Extension->Gen1 = 0;
    Extension->Mprd = 0;
    Extension->Mpdp = 0;
    RtlZeroMemory(Extension->PortPairs, Extension->PortPairCount * sizeof(PORT_PAIR_STATE));
    return STATUS_SUCCESS;
}

static NTSTATUS MapSharedBlocks(_In_ PFILTER_EXTENSION Extension) {
    PHYSICAL_ADDRESS start;

    start.QuadPart = static_cast<LONGLONG>(CLOCK_RESET_PHYSICAL_BASE);
    Extension->ClockResetBase = MapRegisterBlock(start, CLOCK_RESET_LENGTH);
    Extension->ClockResetLength = CLOCK_RESET_LENGTH;
    if (Extension->ClockResetBase == NULL) {
        return STATUS_INTERNAL_ERROR;
    }
    start.QuadPart = static_cast<LONGLONG>(PHY_PHYSICAL_BASE);
    Extension->PhyBase = MapRegisterBlock(start, PHY_LENGTH);
    Extension->PhyLength = PHY_LENGTH;
    if (Extension->PhyBase == NULL) {
        return STATUS_INTERNAL_ERROR;
    }
    return STATUS_SUCCESS;
}

_Use_decl_annotations_ NTSTATUS EvtDevicePrepareHardware(WDFDEVICE Device,
                                                         WDFCMRESLIST ResourcesRaw,
                                                         WDFCMRESLIST ResourcesTranslated) {
    PFILTER_EXTENSION extension = GetFilterExtension(Device);
    NTSTATUS status;

    UNREFERENCED_PARAMETER(ResourcesRaw);
    PAGED_CODE();

    if (extension == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE, "no device context");
        return STATUS_INVALID_PARAMETER;
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "entry, %u translated resources",
                WdfCmResourceListGetCount(ResourcesTranslated));

    extension->GpioTarget = NULL;
    status = TakeResources(extension, Device, ResourcesTranslated);
    if (NT_SUCCESS(status)) {
        status = CreatePortPairs(extension, Device);
    }
    if (NT_SUCCESS(status)) {
        status = MapSharedBlocks(extension);
    }
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "exit, status 0x%08X", status);
        return status;
    }

    extension->SocVersion = GetSocVersion();
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "SoC version 0x%08X",
                extension->SocVersion);

    status = RegisterWakeLineArrival(extension);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE,
                    "wake-line registration failed, status 0x%08X", status);
    }

    status = BringUpController(extension);
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "exit, status 0x%08X", status);
    return status;
}

_Use_decl_annotations_ NTSTATUS EvtDeviceReleaseHardware(WDFDEVICE Device,
                                                         WDFCMRESLIST ResourcesTranslated) {
    PFILTER_EXTENSION extension = GetFilterExtension(Device);

    UNREFERENCED_PARAMETER(ResourcesTranslated);
    PAGED_CODE();

    if (extension == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE, "no device context");
        return STATUS_INVALID_PARAMETER;
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "entry");
    // Device add stored it already. The wake-line work item may be reading it until the
    // flush below, so the context is written only if it ever held another device.
    if (extension->Device != Device) {
        extension->Device = Device;
    }

    UnmapRegisterBlock(&extension->ControllerBase, extension->ControllerLength);
    UnmapRegisterBlock(&extension->ClockResetBase, extension->ClockResetLength);
    UnmapRegisterBlock(&extension->PhyBase, extension->PhyLength);

    if (extension->PortPairsMemory != NULL) {
        WdfObjectDelete(extension->PortPairsMemory);
        extension->PortPairs = NULL;
        extension->PortPairsMemory = NULL;
    }

    TearDownWakeLine(extension);

    if (extension->GpioTarget != NULL) {
        WdfIoTargetClose(extension->GpioTarget);
        WdfObjectDelete(extension->GpioTarget);
        extension->GpioTarget = NULL;
    }

    extension->Gen1 = 0;
    extension->Mprd = 0;
    extension->Mpdp = 0;
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "exit, released, status 0x%08X",
                STATUS_SUCCESS);
    return STATUS_SUCCESS;
}
