// winhost-reg: sets, shows and deletes registry values of the Win32 stand-in, like Windows'
// `reg`. Keys are under HKEY_LOCAL_MACHINE (an "HKLM\" or "HKEY_LOCAL_MACHINE\" prefix is
// accepted); the host root is WINHOST_ROOT.
//
//   winhost-reg add KEY /v NAME /d TEXT     store TEXT as a string value (REG_SZ)
//   winhost-reg query KEY /v NAME           print the value's text
//   winhost-reg delete KEY                  remove the key with its values

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include <windows.h>

#include "winhost/Registry.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: winhost-reg add KEY /v NAME /d TEXT\n"
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

int Query(const std::wstring& subKey, const std::wstring& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        std::fprintf(stderr, "winhost-reg: no such key\n");
        return 1;
    }
    DWORD bytes = 0;
    LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &bytes);
    std::vector<WCHAR> data(bytes / sizeof(WCHAR) + 1, L'\0');
    if (status == ERROR_SUCCESS) {
        status = RegQueryValueExW(key, name.c_str(), nullptr, nullptr,
                                  reinterpret_cast<LPBYTE>(data.data()), &bytes);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "winhost-reg: no such value\n");
        return 1;
    }
    std::printf("%ls\n", data.data());
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
    if (verb == "add" && name != nullptr && Option(argc, argv, 3, "/d") != nullptr) {
        const std::wstring text = Wide(Option(argc, argv, 3, "/d"));
        return winhost::SetRegistryString(subKey, Wide(name), text) ? 0 : 1;
    }
    if (verb == "query" && name != nullptr) {
        return Query(subKey, Wide(name));
    }
    return Usage();
}
