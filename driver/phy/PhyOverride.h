#pragma once
// A PHY register override from the platform firmware. The override list (a framework
// collection of framework memory objects, one record each, in the firmware's order) is
// filled from ACPI and walked by every PHY pass.
#include <ntddk.h>

// Kind of a record that writes one register; the only kind the firmware reader keeps.
constexpr ULONG PHY_OVERRIDE_KIND_REGISTER_WRITE = 0;

// The list is walked with an 8-bit index: records past the 255th are never applied.
constexpr ULONG PHY_OVERRIDE_MAX_RECORDS = 255;

typedef struct _PHY_OVERRIDE {
    ULONG Kind;    // PHY_OVERRIDE_KIND_REGISTER_WRITE
    ULONG Address; // physical address of the register
    ULONG Value;   // the whole 32-bit value written
} PHY_OVERRIDE, *PPHY_OVERRIDE;

C_ASSERT(sizeof(PHY_OVERRIDE) == 12);
