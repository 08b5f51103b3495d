#pragma once
// The register access primitives. Every access is one aligned 32-bit access to a mapped
// block, preceded by a full-system data synchronization barrier, so that it starts only when
// every earlier memory access of this processor has completed. Accesses are never merged:
// a read-modify-write is a separate read and a separate write, each with its own barrier.
#include <ntddk.h>

FORCEINLINE volatile ULONG* RegisterAddress(_In_ PVOID Base, _In_ ULONG Offset) {
    return reinterpret_cast<volatile ULONG*>(static_cast<PUCHAR>(Base) + Offset);
}

FORCEINLINE ULONG ReadRegister(_In_ PVOID Base, _In_ ULONG Offset) {
    __dsb(_ARM64_BARRIER_SY);
    return READ_REGISTER_NOFENCE_ULONG(RegisterAddress(Base, Offset));
}

// No barrier follows the store: a write is known complete only when the next access starts.
FORCEINLINE VOID WriteRegister(_In_ PVOID Base, _In_ ULONG Offset, _In_ ULONG Value) {
    __dsb(_ARM64_BARRIER_SY);
    WRITE_REGISTER_NOFENCE_ULONG(RegisterAddress(Base, Offset), Value);
}

// new = Value | (old & ~Mask). Value is deliberately not masked: the sequences rely on bits
// of Value outside Mask being set as well.
FORCEINLINE VOID ModifyRegister(_In_ PVOID Base, _In_ ULONG Offset, _In_ ULONG Value,
                                _In_ ULONG Mask) {
    ULONG old = ReadRegister(Base, Offset);
    WriteRegister(Base, Offset, Value | (old & ~Mask));
}

// Sleeps; passive level only.
VOID DelayMilliseconds(_In_ ULONG Milliseconds);
VOID DelayMicroseconds(_In_ ULONG Microseconds);

// Busy-waits on the performance counter; any level. Returns the last counter value read.
LONGLONG StallMicroseconds(_In_ ULONG Microseconds);
