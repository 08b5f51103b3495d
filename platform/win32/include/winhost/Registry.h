#pragma once

// Test-side view of the stand-in's registry. Keys under HKEY_LOCAL_MACHINE are directories of
// the host root, registry/HKEY_LOCAL_MACHINE/<key path with "\" as "/">, and each value is a
// file in its key's directory holding the value's type (a DWORD) and then its data exactly as
// stored. String types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) hold host wide units, and
// RegQueryValueExW counts them as Windows does, two bytes per unit; a string written by
// `winhost-reg add` or SetRegistryString ends in a NUL unit, as `reg add` stores it on Windows.
// Other types hold their bytes. As in the registry, key and value names match without regard
// to ASCII letter case.

#include <cstddef>
#include <string>

#include <windows.h>

namespace winhost {

// Stores `bytes` bytes of `data` as the value `name` of HKEY_LOCAL_MACHINE\`subKey`, creating
// the key, with `type`. For a string type, `data` is host wide units and `bytes` counts host
// bytes (units times sizeof(WCHAR)). Lets tests store data that a well-behaved writer would not
// (no terminator).
bool SetRegistryValue(const std::wstring& subKey, const std::wstring& name, const void* data,
                      size_t bytes, DWORD type = REG_SZ);

// Stores `text` and its terminating NUL, as `reg add ... /t REG_SZ /d TEXT` does.
bool SetRegistryString(const std::wstring& subKey, const std::wstring& name,
                       const std::wstring& text);

// Removes HKEY_LOCAL_MACHINE\`subKey` with its values and subkeys. True when it is gone.
bool DeleteRegistryKey(const std::wstring& subKey);

// Keys opened with RegOpenKeyExW and not yet closed with RegCloseKey.
size_t OpenRegistryKeys();

} // namespace winhost
