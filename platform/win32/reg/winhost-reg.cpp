// winhost-reg: sets, shows and deletes registry values of the Win32 stand-in, like Windows'
// `reg`. Keys are under HKEY_LOCAL_MACHINE (an "HKLM\" or "HKEY_LOCAL_MACHINE\" prefix is
// accepted); the host root is WINHOST_ROOT.
//
//   winhost-reg add KEY /v NAME [/t TYPE] [/s SEP] /d DATA   store a value; TYPE is REG_SZ
//                    (the default), REG_EXPAND_SZ, REG_MULTI_SZ (strings split at SEP, "\0"
//                    by default), REG_DWORD, REG_QWORD (decimal or 0x hex), REG_BINARY (hex
//                    digits) or REG_NONE (hex digits)
//   winhost-reg query KEY /v NAME           print the value's type and data
//   winhost-reg delete KEY                  remove the key with its values

#include <cinttypes>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include <windows.h>

#include "winhost/Registry.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: winhost-reg add KEY /v NAME [/t TYPE] [/s SEP] /d DATA\n"
                         "       winhost-reg query KEY /v NAME\n"
                         "       winhost-reg delete KEY\n");
    return 2;
}

std::wstring Wide(const char* text) {
    std::mbstate_t state{};
    std::wstring out;
    const char* end = text + std::strlen(text);
    while (text < end) {
        wchar_t unit = 0;
        const size_t used = std::mbrtowc(&unit, text, static_cast<size_t>(end - text), &state);
        if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
            unit = static_cast<unsigned char>(*text);
            state = {};
            out += unit;
            ++text;
            continue;
        }
        out += unit;
        text += used == 0 ? 1 : used;
    }
    return out;
}

std::wstring SubKey(const char* key) {
    std::wstring path = Wide(key);
    for (const std::wstring prefix : {L"HKLM\\", L"HKEY_LOCAL_MACHINE\\"}) {
        if (path.compare(0, prefix.size(), prefix) == 0) {
            return path.substr(prefix.size());
        }
    }
    return path;
}

// The value of option `name` ("/v", "/d") among argv[first..].
const char* Option(int argc, char* argv[], int first, const char* name) {
    for (int i = first; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == name) {
            return argv[i + 1];
        }
    }
    return nullptr;
}

struct TypeName {
    const char* name;
    DWORD type;
};

constexpr TypeName Types[] = {{"REG_NONE", REG_NONE},           {"REG_SZ", REG_SZ},
                              {"REG_EXPAND_SZ", REG_EXPAND_SZ}, {"REG_BINARY", REG_BINARY},
                              {"REG_DWORD", REG_DWORD},         {"REG_MULTI_SZ", REG_MULTI_SZ},
                              {"REG_QWORD", REG_QWORD}};

bool ParseType(const char* text, DWORD& type) {
    for (const TypeName& entry : Types) {
        if (std::strcmp(entry.name, text) == 0) {
            type = entry.type;
            return true;
        }
    }
    return false;
}

const char* NameOf(DWORD type) {
    for (const TypeName& entry : Types) {
        if (entry.type == type) {
            return entry.name;
        }
    }
    return "REG_UNKNOWN";
}

bool ParseNumber(const char* text, uint64_t limit, std::vector<char>& out, size_t size) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long number = std::strtoull(text, &end, 0);
    if (*text == '\0' || *text == '-' || *end != '\0' || errno != 0 || number > limit) {
        return false;
    }
    out.resize(size);
    std::memcpy(out.data(), &number, size); // little-endian, as the registry keeps it
    return true;
}

bool ParseHex(const char* text, std::vector<char>& out) {
    const size_t length = std::strlen(text);
    if (length % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i < length; i += 2) {
        const std::string pair(text + i, 2);
        char* end = nullptr;
        const unsigned long byte = std::strtoul(pair.c_str(), &end, 16);
        if (*end != '\0' || !std::isxdigit(static_cast<unsigned char>(pair[0]))) {
            return false;
        }
        out.push_back(static_cast<char>(byte));
    }
    return true;
}

void AppendWide(std::vector<char>& out, const std::wstring& text) {
    const char* bytes = reinterpret_cast<const char*>(text.c_str());
    out.insert(out.end(), bytes, bytes + (text.size() + 1) * sizeof(WCHAR));
}

// The data of a value of `type` as `reg add` stores it from the text after /d.
bool Encode(DWORD type, const char* text, const char* separator, std::vector<char>& out) {
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        AppendWide(out, Wide(text));
        return true;
    case REG_MULTI_SZ: {
        const std::string all = text;
        const std::string sep = separator != nullptr ? separator : "\\0";
        for (size_t start = 0;;) {
            const size_t next = sep.empty() ? std::string::npos : all.find(sep, start);
            const std::string item = all.substr(start, next - start);
            if (!item.empty()) {
                AppendWide(out, Wide(item.c_str()));
            }
            if (next == std::string::npos) {
                break;
            }
            start = next + sep.size();
        }
        AppendWide(out, L"");
        return true;
    }
    case REG_DWORD:
        return ParseNumber(text, UINT32_MAX, out, sizeof(uint32_t));
    case REG_QWORD:
        return ParseNumber(text, UINT64_MAX, out, sizeof(uint64_t));
    default:
        return ParseHex(text, out);
    }
}

int Add(const std::wstring& subKey, const std::wstring& name, const char* typeName,
        const char* text, const char* separator) {
    DWORD type = REG_SZ;
    std::vector<char> data;
    if ((typeName != nullptr && !ParseType(typeName, type)) ||
        !Encode(type, text != nullptr ? text : "", separator, data)) {
        std::fprintf(stderr, "winhost-reg: invalid type or data\n");
        return 1;
    }
    return winhost::SetRegistryValue(subKey, name, data.data(), data.size(), type) ? 0 : 1;
}

void Print(DWORD type, const std::vector<BYTE>& data, DWORD bytes) {
    std::printf("%s ", NameOf(type));
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        // Two bytes per unit, as the registry counts them.
        const auto* text = reinterpret_cast<const WCHAR*>(data.data());
        for (DWORD i = 0; i < bytes / 2 && text[i] != L'\0'; ++i) {
            std::printf("%lc", static_cast<wint_t>(text[i]));
        }
    } else if ((type == REG_DWORD && bytes == 4) || (type == REG_QWORD && bytes == 8)) {
        uint64_t number = 0;
        std::memcpy(&number, data.data(), bytes);
        std::printf("0x%" PRIx64, number);
    } else {
        for (DWORD i = 0; i < bytes; ++i) {
            std::printf("%02X", data[i]);
        }
    }
    std::printf("\n");
}

int Query(const std::wstring& subKey, const std::wstring& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        std::fprintf(stderr, "winhost-reg: no such key\n");
        return 1;
    }
    DWORD bytes = 0;
    DWORD type = REG_NONE;
    LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &bytes);
    // Room for bytes / 2 host wide units and a terminator, whatever sizeof(WCHAR) is.
    std::vector<BYTE> data((bytes / 2 + 1) * sizeof(WCHAR) + bytes, 0);
    if (status == ERROR_SUCCESS) {
        status = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &bytes);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "winhost-reg: no such value\n");
        return 1;
    }
    Print(type, data, bytes);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    std::setlocale(LC_ALL, "");
    if (argc < 3) {
        return Usage();
    }
    const std::string verb = argv[1];
    const std::wstring subKey = SubKey(argv[2]);
    const char* name = Option(argc, argv, 3, "/v");
    if (verb == "delete") {
        return winhost::DeleteRegistryKey(subKey) ? 0 : 1;
    }
    if (verb == "add" && name != nullptr) {
        return Add(subKey, Wide(name), Option(argc, argv, 3, "/t"), Option(argc, argv, 3, "/d"),
                   Option(argc, argv, 3, "/s"));
    }
    if (verb == "query" && name != nullptr) {
        return Query(subKey, Wide(name));
    }
    return Usage();
}
