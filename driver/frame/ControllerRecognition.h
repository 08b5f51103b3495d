#pragma once
// Which controller instance a device is, from the low 32 bits of its memory resource's start.
#include <ntddk.h>

// TRUE and the instance with its number of port pairs for a known controller block.
BOOLEAN RecognizeController(_In_ ULONG PhysicalLow, _Out_ PLONG Instance,
                            _Out_ PULONG PortPairCount);
