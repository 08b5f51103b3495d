#pragma once
// The power events of the controller sequences, written to the driver's event provider.
#include <ntddk.h>

// Writes event Id (version 0, channel 0, level 4, task 0, keyword 0) with Count 32-bit
// values as its payload, only while a consumer has the provider enabled.
VOID WritePowerEvent(USHORT Id, UCHAR Opcode, const ULONG* Values, ULONG Count);
