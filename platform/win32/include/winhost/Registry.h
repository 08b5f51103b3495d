#pragma once

// Test-side view of the stand-in's registry. Keys under HKEY_LOCAL_MACHINE are directories of
// the host root, registry/HKEY_LOCAL_MACHINE/<key path with "\" as "/">, and each value is a
// file in its key's directory holding the value's data exactly as stored (wide units in host
// order; a string written by `winhost-reg add` or SetRegistryString ends in a NUL unit, as
// `reg add` stores it on Windows). Only string values (REG_SZ) are kept. As in the registry,
// key and value names match without regard to ASCII letter case.

#include <cstddef>
#include <string>

#include <windows.h>

namespace winhost {

// Stores `bytes` bytes of `data` as the value `name` of HKEY_LOCAL_MACHINE\`subKey`, creating
// the key. Lets tests store data that a well-behaved writer would not (no terminator).
bool SetRegistryValue(const std::wstring& subKey, const std::wstring& name, const void* data,
                      size_t bytes);

// Stores `text` and its terminating NUL, as `reg add ... /t REG_SZ /d TEXT` does.
bool SetRegistryString(const std::wstring& subKey, const std::wstring& name,
                       const std::wstring& text);

// Removes HKEY_LOCAL_MACHINE\`subKey` with its values and subkeys. True when it is gone.
bool DeleteRegistryKey(const std::wstring& subKey);

// Keys opened with RegOpenKeyExW and not yet closed with RegCloseKey.
size_t OpenRegistryKeys();

} // namespace winhost
