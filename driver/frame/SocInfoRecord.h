#pragma once
// The firmware's SoC information record and its place in the DSDT. These routines work on
// bytes already in memory and trust no length or count that the firmware supplies.
#include <ntddk.h>

// The DSDT names the record's physical address as the AML name "SOSI", one prefix byte and
// the 64-bit little-endian address. Only the table's first bytes are searched.
constexpr ULONG SOC_INFO_SEARCH_LENGTH = 4096;
constexpr ULONG SOC_INFO_ADDRESS_OFFSET = 5;

// The record: a fixed part with two counts of further 32-bit entries, and the version.
constexpr ULONG SOC_INFO_FIXED_LENGTH = 176;
constexpr ULONG SOC_INFO_VERSION_OFFSET = 8;
constexpr ULONG SOC_INFO_FIRST_COUNT_OFFSET = 156;
constexpr ULONG SOC_INFO_SECOND_COUNT_OFFSET = 164;
constexpr ULONG SOC_INFO_FIXED_WORDS = 44;
// Far beyond any record the firmware builds; a longer one is taken as corrupt.
constexpr ULONG SOC_INFO_MAX_LENGTH = 0x10000;

// TRUE and the address when the first "SOSI" in the searched bytes is followed by a whole
// address inside the table's Length bytes.
BOOLEAN FindSocInfoAddress(_In_reads_bytes_(Length) const UCHAR* Table, _In_ ULONG Length,
                           _Out_ PULONGLONG Address);

// TRUE and the record's full length when the fixed part's counts give a sane one.
BOOLEAN GetSocInfoRecordLength(_In_reads_bytes_(Length) const UCHAR* Fixed, _In_ ULONG Length,
                               _Out_ PULONG RecordLength);

// The version of a record of Length bytes; 0 when it is too short to hold one.
ULONG GetSocInfoVersion(_In_reads_bytes_(Length) const UCHAR* Record, _In_ ULONG Length);
