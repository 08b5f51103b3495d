// The controller bring-up, run by prepare hardware and on resume from hibernation.
#include "sequencing/ControllerBringUp.h"
#include "frame/Trace.h"
#include "sequencing/PortLayout.h"
#include "sequencing/PowerEvents.h"
#include "sequencing/RegisterAccess.h"

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
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "%s: SS PHY common part 0x%08X",
                port->PairName, ReadRegister(Context->PhyBase, port->SsPhyCommon));
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

    //
    // Firmware settings. In this order:
    //   - the "PHYC" override records, when PhyOverrides holds none yet (a failure is only
    //     reported and the list stays as it is);
    //   - instances other than Multiport: the "CCVL" flag (a failure only reported), then the
    //     common-part bit below;
    //   - the "GEN1" flag (0 on failure);
    //   - Multiport: the "MPRD" flag (0 on failure), the GPIO line driven high when it is 1,
    //     then the "MPDP" flag (0 on failure).
    //
    SetSsPhyCommonPartBit(Context);
    //
    // End of the firmware settings.
    //

    status = ResetAndInitController(Context);
    if (NT_SUCCESS(status)) {
        status = ConfigureCore(Context);
    }
    TraceEvents(TRACE_LEVEL_INFORMATION, TRACE_HARDWARE, "instance %d: exit, status 0x%08X",
                Context->Instance, status);
    return status;
}
