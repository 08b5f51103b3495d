// The controller bring-up, run by prepare hardware and on resume from hibernation.
#include "sequencing/ControllerBringUp.h"
#include "frame/Trace.h"
#include "sequencing/PortLayout.h"
#include "sequencing/PowerEvents.h"
#include "sequencing/RegisterAccess.h"
#include "settings/FirmwareSettings.h"

#include "ControllerBringUp.tmh"

// Bit 1 of the super-speed PHY common-part register of "Primary" and "Secondary".
constexpr ULONG SS_PHY_COMMON_BIT1 = 0x2;

// "Primary" and "Secondary" set bit 1 of their SS PHY's common-part register; the Multiport
// PHYs have no common part, and an unknown instance touches nothing.
static VOID SetSsPhyCommonPartBit(PFILTER_EXTENSION Context) {
    const INSTANCE_LAYOUT* layout;

    if (!NT_SUCCESS(LookupInstanceLayout(Context->Instance, &layout))) {
        return;
    }
    const PORT_LAYOUT* port = InstancePort(layout, 0);
    if (port->SsPhyCommon == PORT_LAYOUT_NO_REGISTER) {
        return;
    }
    ModifyRegister(Context->PhyBase, port->SsPhyCommon, SS_PHY_COMMON_BIT1, SS_PHY_COMMON_BIT1);
    // The read-back is part of the sequence: it happens whether or not anyone traces, so it
    // stays out of the trace call, whose arguments only an enabled session evaluates.
    ULONG common = ReadRegister(Context->PhyBase, port->SsPhyCommon);
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "%s: SS PHY common part 0x%08X",
                port->PairName, common);
}

// Largest buffer of the first evaluation of "PHYC"; the reader grows it up to four times.
constexpr ULONG PHY_OVERRIDE_INITIAL_SIZE = 1024;

// The override list is read once: on the first bring-up, and again only while it is empty.
static VOID ReadOverridesOnce(PFILTER_EXTENSION Context) {
    NTSTATUS status;

    if (WdfCollectionGetCount(Context->PhyOverrides) != 0) {
        return;
    }
    status = ReadPhyOverrides(Context->Device, "PHYC", PHY_OVERRIDE_INITIAL_SIZE);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "PHYC not read, status 0x%08X; %u records",
                    status, WdfCollectionGetCount(Context->PhyOverrides));
    }
}

// A switch that cannot be read counts as off.
static VOID ReadSwitchOrClear(PFILTER_EXTENSION Context, PCSTR Name, PUCHAR Flag) {
    NTSTATUS status = ReadAcpiFlag(Context->Device, Name);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "%s not read, status 0x%08X", Name, status);
        *Flag = 0;
    }
}

// The platform settings that the PHY and core programming depend on, in the firmware's order.
static VOID ReadPlatformSettings(PFILTER_EXTENSION Context) {
    NTSTATUS status;

    ReadOverridesOnce(Context);
    if (Context->Instance != INSTANCE_MULTIPORT) {
        status = ReadAcpiFlag(Context->Device, "CCVL");
        if (!NT_SUCCESS(status)) {
            TraceEvents(TRACE_LEVEL_ERROR, TRACE_ACPI, "CCVL not read, status 0x%08X", status);
        }
        SetSsPhyCommonPartBit(Context);
    }
    ReadSwitchOrClear(Context, "GEN1", &Context->Gen1);
    if (Context->Instance == INSTANCE_MULTIPORT) {
        ReadSwitchOrClear(Context, "MPRD", &Context->Mprd);
        if (Context->Mprd == 1) {
            SetGpioLine(Context, 1);
        }
        ReadSwitchOrClear(Context, "MPDP", &Context->Mpdp);
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_ACPI,
                "instance %d: CCVL %u, GEN1 %u, MPRD %u, MPDP %u, %u overrides", Context->Instance,
                Context->Ccvl, Context->Gen1, Context->Mprd, Context->Mpdp,
                WdfCollectionGetCount(Context->PhyOverrides));
}

NTSTATUS BringUpController(PFILTER_EXTENSION Context) {
    static const ULONG bringUpEvent[] = {4, 1};
    NTSTATUS status;

    if (Context == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE, "no device context");
        return STATUS_INVALID_PARAMETER;
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "instance %d: entry", Context->Instance);
    WritePowerEvent(4, 0, bringUpEvent, 2);

    ReadPlatformSettings(Context);

    status = ResetAndInitController(Context);
    if (NT_SUCCESS(status)) {
        status = ConfigureCore(Context);
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "instance %d: exit, status 0x%08X",
                Context->Instance, status);
    return status;
}
