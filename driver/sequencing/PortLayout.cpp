// The port layout table and the instances built on it.
#include "sequencing/PortLayout.h"
#include "sequencing/RegisterMap.h"

constexpr GLUE_REGISTER_SET GLUE_SET0 = {
    GLUE_STATUS0, GLUE_EVT_STAT0, GLUE_EVT_ENABLE0, GLUE_IRQ_STAT0, 0x1, 0x100,
};
constexpr GLUE_REGISTER_SET GLUE_SET1 = {
    GLUE_STATUS1, GLUE_EVT_STAT1, GLUE_EVT_ENABLE1, GLUE_IRQ_STAT1, 0x10000, 0x1000000,
};

// clang-format off
const PORT_LAYOUT PORT_LAYOUTS[PORT_COUNT] = {
    // p = 0: "Primary"
    {INSTANCE_PRIMARY, 0, "Primary",
     PORTSC1, PORTSC2, 0, 0, GLUE_SET0,
     0x2064, 0x8008, 0x9C40, 0x9C8C, 0x9F08, 0x9F10, 0x9F14,
     0x208, 0x209},
    // p = 1: "Secondary"
    {INSTANCE_SECONDARY, 0, "Secondary",
     PORTSC1, PORTSC2, 0, 0, GLUE_SET0,
     0x3064, 0xD008, 0xEC40, 0xEC8C, 0xEF08, 0xEF10, 0xEF14,
     0x20A, 0x20B},
    // p = 2: "Multiport", pair 0
    {INSTANCE_MULTIPORT, 0, "Multiport 0",
     PORTSC1, PORTSC3, 0, 0, GLUE_SET0,
     0x4064, PORT_LAYOUT_NO_REGISTER, 0xB840, 0xB88C, 0xBE08, 0xBE10, 0xBE14,
     0x22E, 0x23B},
    // p = 3: "Multiport", pair 1
    {INSTANCE_MULTIPORT, 1, "Multiport 1",
     PORTSC2, PORTSC4, 1, 1, GLUE_SET1,
     0x5064, PORT_LAYOUT_NO_REGISTER, 0xC840, 0xC88C, 0xCE08, 0xCE10, 0xCE14,
     0x244, 0x247},
};

static const INSTANCE_LAYOUT INSTANCE_LAYOUTS[] = {
    // FirstPort, PairCount, ControllerPhysical, ControllerResetFirst, ControllerResetSecond
    {0, 1, CONTROLLER_PRIMARY_BASE, 0xF004, 0xF000},
    {1, 1, CONTROLLER_SECONDARY_BASE, 0x10004, 0x10000},
    {2, 2, CONTROLLER_MULTIPORT_BASE, 0xA6004, 0xA6000},
};
// clang-format on

C_ASSERT(sizeof(INSTANCE_LAYOUTS) / sizeof(INSTANCE_LAYOUTS[0]) == INSTANCE_MULTIPORT + 1);

_Use_decl_annotations_ NTSTATUS LookupInstanceLayout(LONG Instance,
                                                     const INSTANCE_LAYOUT** Layout) {
    *Layout = NULL;
    if (Instance < INSTANCE_PRIMARY || Instance > INSTANCE_MULTIPORT) {
        return STATUS_DEVICE_HARDWARE_ERROR;
    }
    *Layout = &INSTANCE_LAYOUTS[Instance];
    return STATUS_SUCCESS;
}
