#pragma once
// Application of the firmware's PHY overrides to one PHY pass.
#include <ntddk.h>
#include <wdf.h>

// The pass that applies the overrides: phase 0 for a high-speed PHY, phase 1 for a
// super-speed PHY, which also accepts the instance's four controller-block records.
constexpr ULONG PHY_OVERRIDE_PHASE_HS = 0;
constexpr ULONG PHY_OVERRIDE_PHASE_SS = 1;

// Walks the whole list and writes every record that falls in the PHY window
// [WindowStart, WindowEnd) (physical addresses) to PhyBlock; in phase 1 also the records for
// 0xD060, 0xD064, 0xD068 and 0xD06C of the instance's controller block, to ControllerBlock.
// Everything else is skipped. Returns STATUS_SUCCESS.
NTSTATUS PhyApplyOverrides(LONG Instance, PVOID ControllerBlock, PVOID PhyBlock,
                           WDFCOLLECTION Overrides, ULONG WindowStart, ULONG WindowEnd,
                           ULONG Phase);
