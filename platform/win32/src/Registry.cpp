// The registry's read side (RegOpenKeyExW, RegQueryValueExW, RegCloseKey), backed by the host
// root (see winhost/Registry.h for the layout).

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <system_error>
#include <vector>

#include "winhost/Devices.h"
#include "winhost/Registry.h"

namespace winhost {
namespace {

namespace fs = std::filesystem;

struct OpenKey {
    fs::path directory;
};

struct KeyTable {
    std::mutex lock;
    std::set<OpenKey*> keys;
};

KeyTable& Keys() {
    static KeyTable* table = new KeyTable;
    return *table;
}

void AppendUtf8(std::string& out, uint32_t unit) {
    if (unit < 0x80) {
        out += static_cast<char>(unit);
    } else if (unit < 0x800) {
        out += static_cast<char>(0xC0 | unit >> 6);
        out += static_cast<char>(0x80 | (unit & 0x3F));
    } else if (unit < 0x10000) {
        out += static_cast<char>(0xE0 | unit >> 12);
        out += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | unit >> 18);
        out += static_cast<char>(0x80 | (unit >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    }
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// Key and value names are not case-sensitive in the registry: an entry that exists under
// another letter case is the same entry.
fs::path Existing(const fs::path& parent, const std::string& name) {
    std::error_code error;
    if (fs::exists(parent / name, error)) {
        return parent / name;
    }
    for (fs::directory_iterator entry(parent, error), end; !error && entry != end;
         entry.increment(error)) {
        if (EqualIgnoringCase(entry->path().filename().string(), name)) {
            return entry->path();
        }
    }
    return parent / name;
}

// One path component per key name; "\" separates names, as in the registry.
fs::path KeyDirectory(const std::wstring& subKey) {
    fs::path directory = fs::path(RootDirectory()) / "registry" / "HKEY_LOCAL_MACHINE";
    std::string name;
    for (wchar_t unit : subKey + L'\\') {
        if (unit != L'\\') {
            AppendUtf8(name, static_cast<uint32_t>(unit));
            continue;
        }
        if (!name.empty() && name != "." && name != "..") {
            directory = Existing(directory, name);
        }
        name.clear();
    }
    return directory;
}

std::string ValueFileName(const wchar_t* name) {
    std::string file;
    for (; name != nullptr && *name != L'\0'; ++name) {
        AppendUtf8(file, static_cast<uint32_t>(*name));
    }
    // The unnamed (default) value of a key.
    return file.empty() ? "@" : file;
}

fs::path ValuePath(const fs::path& key, const wchar_t* name) {
    return Existing(key, ValueFileName(name));
}

OpenKey* LookUpKey(HKEY key) {
    KeyTable& table = Keys();
    std::lock_guard guard(table.lock);
    auto* candidate = reinterpret_cast<OpenKey*>(key);
    return table.keys.count(candidate) != 0 ? candidate : nullptr;
}

struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<char> data;
};

// A value file is the type (a DWORD in host order) followed by the data.
bool ReadValue(const fs::path& file, StoredValue& value) {
    std::error_code error;
    if (!fs::is_regular_file(file, error)) {
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if ((!in && !in.eof()) || bytes.size() < sizeof(DWORD)) {
        return false;
    }
    std::memcpy(&value.type, bytes.data(), sizeof(DWORD));
    value.data.assign(bytes.begin() + sizeof(DWORD), bytes.end());
    return true;
}

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Windows counts string data in UTF-16 units of two bytes. The stand-in keeps host wide units,
// so a string value's size is two bytes per unit whatever sizeof(WCHAR) is, and the caller's
// buffer of *lpcbData bytes holds *lpcbData / 2 units, as on Windows.
DWORD ReportedBytes(const StoredValue& value) {
    if (IsStringType(value.type)) {
        return static_cast<DWORD>(value.data.size() / sizeof(WCHAR) * 2);
    }
    return static_cast<DWORD>(value.data.size());
}

} // namespace

bool SetRegistryValue(const std::wstring& subKey, const std::wstring& name, const void* data,
                      size_t bytes, DWORD type) {
    const fs::path directory = KeyDirectory(subKey);
    std::error_code error;
    fs::create_directories(directory, error);
    std::ofstream out(ValuePath(directory, name.c_str()), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&type), sizeof(type));
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(bytes));
    return static_cast<bool>(out);
}

bool SetRegistryString(const std::wstring& subKey, const std::wstring& name,
                       const std::wstring& text) {
    return SetRegistryValue(subKey, name, text.c_str(), (text.size() + 1) * sizeof(WCHAR), REG_SZ);
}

bool DeleteRegistryKey(const std::wstring& subKey) {
    std::error_code error;
    fs::remove_all(KeyDirectory(subKey), error);
    return !error;
}

size_t OpenRegistryKeys() {
    KeyTable& table = Keys();
    std::lock_guard guard(table.lock);
    return table.keys.size();
}

} // namespace winhost

using winhost::OpenKey;

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    if (hKey != HKEY_LOCAL_MACHINE || phkResult == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    const std::filesystem::path directory = winhost::KeyDirectory(lpSubKey ? lpSubKey : L"");
    std::error_code error;
    if (!std::filesystem::is_directory(directory, error)) {
        return ERROR_FILE_NOT_FOUND;
    }
    auto* key = new OpenKey{directory};
    winhost::KeyTable& table = winhost::Keys();
    std::lock_guard guard(table.lock);
    table.keys.insert(key);
    *phkResult = reinterpret_cast<HKEY>(key);
    return ERROR_SUCCESS;
}

// Like Windows: the data is copied as stored (a string is not terminated unless it was stored
// with its NUL), *lpcbData always receives the data's size in Windows' bytes, and a buffer that
// is too small gets nothing and ERROR_MORE_DATA.
LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
    const OpenKey* key = winhost::LookUpKey(hKey);
    if (key == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    winhost::StoredValue value;
    if (!winhost::ReadValue(winhost::ValuePath(key->directory, lpValueName), value)) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (lpType != nullptr) {
        *lpType = value.type;
    }
    if (lpcbData == nullptr) {
        return ERROR_SUCCESS;
    }
    const DWORD available = *lpcbData;
    const DWORD needed = winhost::ReportedBytes(value);
    *lpcbData = needed;
    if (lpData == nullptr) {
        return ERROR_SUCCESS;
    }
    if (needed > available) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpData, value.data.data(), value.data.size());
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    winhost::KeyTable& table = winhost::Keys();
    std::lock_guard guard(table.lock);
    auto* key = reinterpret_cast<OpenKey*>(hKey);
    if (table.keys.erase(key) == 0) {
        return ERROR_INVALID_HANDLE;
    }
    delete key;
    return ERROR_SUCCESS;
}
