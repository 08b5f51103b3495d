#include <algorithm>
#include <cstdio>
#include <string>

#include <windows.h>

#include "log/Log.h"
#include "version/VersionQuery.h"

namespace {

constexpr DWORD RegistryBufferBytes = 512;
// The registry counts wide text in UTF-16 units of two bytes on every build, whatever the
// compiler's wchar_t, so the buffer holds RegistryBufferBytes / 2 units.
constexpr size_t RegistryUnitBytes = 2;

// The value's text bounded by what the registry returned: a value that fills the whole buffer
// carries no terminator, so the conversion must never look beyond `bytes`.
std::wstring ReturnedText(const WCHAR* data, DWORD bytes) {
    const size_t units = std::min<size_t>(bytes, RegistryBufferBytes) / RegistryUnitBytes;
    size_t length = 0;
    while (length < units && data[length] != L'\0') {
        ++length;
    }
    return std::wstring(data, length);
}

// Narrow text in the current code page; false when a character has no representation or the
// text does not fit in 63 characters.
bool ConvertToNarrow(const std::wstring& wide, VersionQuery& query) {
    const int written = std::snprintf(query.text, sizeof(query.text), "%ls", wide.c_str());
    if (written < 0 || written >= static_cast<int>(sizeof(query.text))) {
        return false;
    }
    query.length = static_cast<uint8_t>(written);
    return true;
}

} // namespace

int QueryRegistryVersion(const wchar_t* subKey, const wchar_t* valueName, VersionQuery& query) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        LogError("Error: unable to query information about the registry");
        return 5;
    }

    WCHAR data[RegistryBufferBytes / RegistryUnitBytes] = {};
    DWORD bytes = RegistryBufferBytes;
    DWORD type = REG_SZ;
    const LONG status =
        RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(data), &bytes);
    if (status != ERROR_SUCCESS) {
        LogError("Error: unable to query Version!,error code:" + std::to_string(status));
        RegCloseKey(key);
        return 5;
    }

    const bool converted = ConvertToNarrow(ReturnedText(data, bytes), query);
    RegCloseKey(key);
    return converted ? 0 : 5;
}
