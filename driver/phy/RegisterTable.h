#pragma once
// PHY register tables: an offset array (byte offsets into the PHY block) and a value array of
// the same length, entry i of one belonging to entry i of the other. Both live in read-only
// data. Two offsets are markers rather than registers.
#include <ntddk.h>

constexpr ULONG PHY_TABLE_END = 0xFFFFFFFF;  // ends the table
constexpr ULONG PHY_TABLE_SKIP = 0xFFFFFFFE; // an entry that writes nothing

// Writes entries Start up to (not including) Count, each value zero-extended as one full
// 32-bit write to Block + offset, stopping early at an end marker. Missing arrays or a Count
// of 0 write nothing.
VOID PhyWriteTable(PVOID Block, const ULONG* Offsets, const UCHAR* Values, ULONG Start,
                   ULONG Count);

// The offsets of a PHY that is another PHY of the same kind moved by Shift in the PHY block;
// markers stay markers. Evaluated at compile time, so that both arrays sit in read-only data.
template <ULONG Length> struct PHY_TABLE_OFFSETS { ULONG Offset[Length]; };

template <ULONG Length>
constexpr PHY_TABLE_OFFSETS<Length> PhyTableShifted(const ULONG (&Base)[Length], ULONG Shift) {
    PHY_TABLE_OFFSETS<Length> shifted = {};
    for (ULONG i = 0; i < Length; ++i) {
        ULONG offset = Base[i];
        shifted.Offset[i] =
            (offset == PHY_TABLE_END || offset == PHY_TABLE_SKIP) ? offset : offset + Shift;
    }
    return shifted;
}
