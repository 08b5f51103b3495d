// Search of the DSDT for the SoC information record, and the record's fields.
#include "frame/SocInfoRecord.h"

static ULONG ReadLittleEndian32(_In_reads_bytes_(4) const UCHAR* Bytes) {
    return static_cast<ULONG>(Bytes[0]) | (static_cast<ULONG>(Bytes[1]) << 8) |
           (static_cast<ULONG>(Bytes[2]) << 16) | (static_cast<ULONG>(Bytes[3]) << 24);
}

BOOLEAN FindSocInfoAddress(_In_reads_bytes_(Length) const UCHAR* Table, _In_ ULONG Length,
                           _Out_ PULONGLONG Address) {
    static const UCHAR name[4] = {'S', 'O', 'S', 'I'};
    ULONG searched = Length < SOC_INFO_SEARCH_LENGTH ? Length : SOC_INFO_SEARCH_LENGTH;

    *Address = 0;
    if (Table == NULL || searched < sizeof(name)) {
        return FALSE;
    }
    for (ULONG i = 0; i + sizeof(name) <= searched; ++i) {
        if (RtlCompareMemory(Table + i, name, sizeof(name)) != sizeof(name)) {
            continue;
        }
        // The first match decides. Only the name is searched for within the first bytes; its
        // address may run past them, but not past the end of the table.
        if (Length - i < SOC_INFO_ADDRESS_OFFSET + sizeof(ULONGLONG)) {
            return FALSE;
        }
        const UCHAR* at = Table + i + SOC_INFO_ADDRESS_OFFSET;
        *Address = static_cast<ULONGLONG>(ReadLittleEndian32(at)) |
                   (static_cast<ULONGLONG>(ReadLittleEndian32(at + 4)) << 32);
        return TRUE;
    }
    return FALSE;
}

BOOLEAN GetSocInfoRecordLength(_In_reads_bytes_(Length) const UCHAR* Fixed, _In_ ULONG Length,
                               _Out_ PULONG RecordLength) {
    *RecordLength = 0;
    if (Fixed == NULL || Length < SOC_INFO_FIXED_LENGTH) {
        return FALSE;
    }
    // Summed in 64 bits: two counts from firmware memory cannot wrap around to a short record.
    ULONGLONG words =
        static_cast<ULONGLONG>(ReadLittleEndian32(Fixed + SOC_INFO_FIRST_COUNT_OFFSET)) +
        ReadLittleEndian32(Fixed + SOC_INFO_SECOND_COUNT_OFFSET) + SOC_INFO_FIXED_WORDS;
    if (words > SOC_INFO_MAX_LENGTH / sizeof(ULONG)) {
        return FALSE;
    }
    *RecordLength = static_cast<ULONG>(words * sizeof(ULONG));
    return TRUE;
}

ULONG GetSocInfoVersion(_In_reads_bytes_(Length) const UCHAR* Record, _In_ ULONG Length) {
    if (Record == NULL || Length < SOC_INFO_VERSION_OFFSET + sizeof(ULONG)) {
        return 0;
    }
    return ReadLittleEndian32(Record + SOC_INFO_VERSION_OFFSET);
}
