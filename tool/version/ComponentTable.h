#pragma once

#include <cstddef>
#include <cstdint>

// Where the version of a component comes from. Values 0, 5 and above 9 are unassigned.
enum ComponentKind : uint32_t {
    McuSoftware = 1,
    McuDriver = 2,
    KeyboardApp = 3,
    PenApp = 4,
    KeyboardMcu = 6,
    PenMcu = 7,
    BtMcu = 8,
    TouchpadMcu = 9,
};

// One component that GetDriverVersion can report. For MCU kinds, `tag` must occur in the
// first word of the MCU's version reply and `variant` somewhere in it (an empty variant
// instead requires a reply without any "(").
struct ComponentEntry {
    const char* name;
    const char* tag;
    const char* variant;
    uint32_t kind;
};

// Registry location of a registry-backed kind, under HKEY_LOCAL_MACHINE.
struct RegistryVersionSource {
    int32_t kind;
    const wchar_t* subKey;
    const wchar_t* valueName;
};

constexpr size_t ComponentCount = 13;
constexpr size_t RegistrySourceCount = 1;

// Both tables are constant data: GetDriverVersion must work in a process that maps this
// executable as a library, where no start-up code of ours has run.
extern const ComponentEntry ComponentTable[ComponentCount];
extern const RegistryVersionSource RegistrySourceTable[RegistrySourceCount];

// Index of the first row whose name equals `name` exactly (case-sensitive), or -1.
int FindComponent(const char* name);

// First registry source row serving `kind`, or nullptr.
const RegistryVersionSource* FindRegistrySource(int32_t kind);
