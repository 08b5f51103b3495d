// The second group of controller core settings.
#include "frame/Trace.h"
#include "sequencing/ControllerBringUp.h"
#include "sequencing/PortLayout.h"
#include "sequencing/RegisterAccess.h"
#include "sequencing/RegisterMap.h"

#include "CoreConfiguration.tmh"

// With GEN1 set the super-speed port is limited to the first generation, with its power off
// while the link is told so.
static VOID ForceFirstGeneration(PVOID ControllerBlock, const PORT_LAYOUT* Port) {
    ModifyRegister(ControllerBlock, Port->SsPortsc, 0x0, PORTSC_PP);
    ModifyRegister(ControllerBlock, LLUCTL(Port->CoreIndex), LLUCTL_FORCE_GEN1, LLUCTL_FORCE_GEN1);
    ModifyRegister(ControllerBlock, Port->SsPortsc, PORTSC_PP, PORTSC_PP);
}

NTSTATUS ConfigureCore(PFILTER_EXTENSION Context) {
    const INSTANCE_LAYOUT* layout;
    NTSTATUS status;

    if (Context == NULL) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE, "no device context");
        return STATUS_INVALID_PARAMETER;
    }
    status = LookupInstanceLayout(Context->Instance, &layout);
    if (!NT_SUCCESS(status)) {
        TraceEvents(TRACE_LEVEL_ERROR, TRACE_HARDWARE, "unknown instance %d: status 0x%08X",
                    Context->Instance, status);
        return status;
    }
    PVOID controller = Context->ControllerBase;

    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_HARDWARE, "instance %d: entry, GEN1 %u",
                Context->Instance, Context->Gen1);
    ModifyRegister(controller, GCTL, GCTL_PORT_CAPABILITY_HOST | 0x10004, 0x13004);
    for (ULONG pair = 0; pair < layout->PairCount; ++pair) {
        const PORT_LAYOUT* port = InstancePort(layout, pair);

        ModifyRegister(controller, port->HsPortsc, PORTSC_WCE, PORTSC_WCE);
        ModifyRegister(controller, port->SsPortsc, PORTSC_WCE, PORTSC_WCE);
    }
    if (Context->Gen1 == 1) {
        for (ULONG pair = 0; pair < layout->PairCount; ++pair) {
            ForceFirstGeneration(controller, InstancePort(layout, pair));
        }
    }
    ModifyRegister(controller, GRXTHRCFG, 0x4630000, 0x7FF0000);
    ModifyRegister(controller, GSBUSCFG1, 0x1E00, 0x1F00);
    TraceEvents(TRACE_LEVEL_VERBOSE, TRACE_HARDWARE, "instance %d: exit", Context->Instance);
    return STATUS_SUCCESS;
}

// The device is in D0 when its D0 entry asks, so the core's registers are clocked; the
// power-up goes on to access the same register set (GUSB2PHYCFG, the glue registers).
BOOLEAN CoreConfigured(PFILTER_EXTENSION Context) {
    ULONG gctl = ReadRegister(Context->ControllerBase, GCTL);

    if ((gctl & GCTL_PORT_CAPABILITY_MASK) == GCTL_PORT_CAPABILITY_HOST) {
        return TRUE;
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_POWER,
                "controller configuration lost (GCTL 0x%08X): bring-up again", gctl);
    return FALSE;
}
