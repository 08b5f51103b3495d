// The controller blocks of the SoC's USB instances.
#include "frame/ControllerRecognition.h"
#include "sequencing/PortPairs.h"
#include "sequencing/RegisterMap.h"

typedef struct _CONTROLLER_ROW {
    ULONG PhysicalLow;
    LONG Instance;
    ULONG PortPairCount;
} CONTROLLER_ROW;

static const CONTROLLER_ROW ControllerRows[] = {
    {CONTROLLER_PRIMARY_BASE, INSTANCE_PRIMARY, 1},
    {CONTROLLER_SECONDARY_BASE, INSTANCE_SECONDARY, 1},
    {CONTROLLER_MULTIPORT_BASE, INSTANCE_MULTIPORT, 2},
};

BOOLEAN RecognizeController(_In_ ULONG PhysicalLow, _Out_ PLONG Instance,
                            _Out_ PULONG PortPairCount) {
    for (ULONG i = 0; i < RTL_NUMBER_OF(ControllerRows); ++i) {
        if (ControllerRows[i].PhysicalLow == PhysicalLow) {
            *Instance = ControllerRows[i].Instance;
            *PortPairCount = ControllerRows[i].PortPairCount;
            return TRUE;
        }
    }
    *Instance = INSTANCE_UNKNOWN;
    *PortPairCount = 0;
    return FALSE;
}
