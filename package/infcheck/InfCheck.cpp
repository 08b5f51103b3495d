// Checks an INF through setupapi, the way the installer reads it: the file must parse, every
// section that a directive names must exist, every file copied must be in [SourceDisksFiles] on a
// disk of [SourceDisksNames], and every %string% must be in [Strings]. Prints one line per fault
// and exits 1 when there is any. Built with mingw-w64 and run under Wine, whose setupapi is an
// INF parser written independently of Windows'.
//
// Usage: InfCheck.exe FILE.inf
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cwctype>
#include <string>
#include <vector>

namespace {

int faults = 0;
std::vector<std::wstring> checkedInstalls;

void Fault(const wchar_t* format, const std::wstring& a, const std::wstring& b = L"") {
    std::fwprintf(stdout, L"FAULT: ");
    std::fwprintf(stdout, format, a.c_str(), b.c_str());
    std::fwprintf(stdout, L"\n");
    ++faults;
}

std::wstring Field(INFCONTEXT* line, DWORD index) {
    wchar_t buffer[512];
    DWORD size = 0;
    if (!SetupGetStringFieldW(line, index, buffer, 512, &size))
        return L"";
    return buffer;
}

bool HasSection(HINF inf, const std::wstring& section) {
    INFCONTEXT line;
    // A section with no lines still exists; SetupGetLineCount tells the two apart from absent.
    return SetupGetLineCountW(inf, section.c_str()) >= 0 ||
           SetupFindFirstLineW(inf, section.c_str(), NULL, &line);
}

// Calls visit(line) for each line of SECTION whose key is KEY (every line when KEY is NULL).
template <typename Visit>
void EachLine(HINF inf, const std::wstring& section, const wchar_t* key, Visit visit) {
    INFCONTEXT line;
    if (!SetupFindFirstLineW(inf, section.c_str(), key, &line))
        return;
    do {
        visit(&line);
    } while (key ? SetupFindNextMatchLineW(&line, key, &line) : SetupFindNextLine(&line, &line));
}

void RequireSection(HINF inf, const std::wstring& section, const std::wstring& from) {
    if (!HasSection(inf, section))
        Fault(L"section [%ls], named in %ls, is missing", section, from);
}

void CheckCopyFiles(HINF inf, const std::wstring& section) {
    RequireSection(inf, section, L"CopyFiles");
    EachLine(inf, section, NULL, [&](INFCONTEXT* line) {
        std::wstring file = Field(line, 0).empty() ? Field(line, 1) : Field(line, 0);
        INFCONTEXT source;
        if (!SetupFindFirstLineW(inf, L"SourceDisksFiles", file.c_str(), &source)) {
            Fault(L"file %ls of [%ls] is not in [SourceDisksFiles]", file, section);
            return;
        }
        std::wstring disk = Field(&source, 1);
        INFCONTEXT name;
        if (!SetupFindFirstLineW(inf, L"SourceDisksNames", disk.c_str(), &name))
            Fault(L"disk %ls of %ls is not in [SourceDisksNames]", disk, file);
    });
}

// Follows the directives of one install section and its decorated companions.
void CheckInstall(HINF inf, const std::wstring& install) {
    for (const std::wstring& done : checkedInstalls)
        if (done == install)
            return;
    checkedInstalls.push_back(install);
    RequireSection(inf, install, L"a models section");
    EachLine(inf, install, L"CopyFiles", [&](INFCONTEXT* line) {
        for (DWORD i = 1; i <= SetupGetFieldCount(line); ++i)
            CheckCopyFiles(inf, Field(line, i));
    });
    struct Directive {
        const wchar_t *suffix, *key;
        DWORD field;
    };
    const Directive directives[] = {{L".Services", L"AddService", 3},
                                    {L".Filters", L"AddFilter", 3},
                                    {L".Wdf", L"KmdfService", 2},
                                    {L".Events", L"AddEventProvider", 2}};
    for (const Directive& d : directives) {
        std::wstring section = install + d.suffix;
        if (!HasSection(inf, section)) {
            Fault(L"section [%ls] is missing", section);
            continue;
        }
        bool found = false;
        EachLine(inf, section, d.key, [&](INFCONTEXT* line) {
            found = true;
            RequireSection(inf, Field(line, d.field), section);
            if (std::wstring(d.key) == L"AddService") {
                INT flags = 0;
                SetupGetIntField(line, 2, &flags);
                if (flags & 0x2)
                    Fault(L"[%ls] makes %ls the function driver (flag 0x2)", section,
                          Field(line, 1));
            }
        });
        if (!found)
            Fault(L"[%ls] has no %ls line", section, d.key);
    }
}

void CheckModels(HINF inf) {
    EachLine(inf, L"Manufacturer", NULL, [&](INFCONTEXT* line) {
        std::wstring base = Field(line, 1);
        for (DWORD i = 2; i <= SetupGetFieldCount(line); ++i) {
            std::wstring models = base + L"." + Field(line, i);
            RequireSection(inf, models, L"[Manufacturer]");
            EachLine(inf, models, NULL, [&](INFCONTEXT* device) {
                std::wstring install = Field(device, 1);
                CheckInstall(inf, HasSection(inf, install + L".NT") ? install + L".NT" : install);
                if (Field(device, 2).empty())
                    Fault(L"a device of [%ls] has no hardware ID", models);
            });
        }
    });
}

void CheckVersion(HINF inf) {
    const wchar_t* keys[] = {L"Signature", L"Class",       L"ClassGuid",  L"Provider",
                             L"DriverVer", L"CatalogFile", L"PnpLockdown"};
    for (const wchar_t* key : keys) {
        INFCONTEXT line;
        if (!SetupFindFirstLineW(inf, L"Version", key, &line))
            Fault(L"[Version] has no %ls", key);
    }
    RequireSection(inf, L"DestinationDirs", L"[Version]");
    RequireSection(inf, L"SourceDisksNames", L"[Version]");
}

// Every %name% in the file's text, other than a directory number, must be a key of [Strings].
void CheckStrings(HINF inf, const wchar_t* path) {
    FILE* file = _wfopen(path, L"rb");
    if (!file)
        return;
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, n);
    std::fclose(file);
    size_t lineNo = 1, start = std::string::npos;
    bool comment = false, quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\n') {
            ++lineNo;
            comment = quoted = false;
            start = std::string::npos;
        } else if (comment) {
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ';' && !quoted) {
            comment = true;
        } else if (c == '%') {
            if (start == std::string::npos) {
                start = i + 1;
                continue;
            }
            std::string name = text.substr(start, i - start);
            start = std::string::npos;
            if (name.empty() || std::iswdigit(name[0]))
                continue;
            std::wstring wide(name.begin(), name.end());
            INFCONTEXT line;
            if (!SetupFindFirstLineW(inf, L"Strings", wide.c_str(), &line))
                Fault(L"string %%%ls%% (line %ls) is not in [Strings]", wide,
                      std::to_wstring(lineNo));
        }
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: InfCheck.exe FILE.inf\n");
        return 2;
    }
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileW(argv[1], NULL, INF_STYLE_WIN4, &errorLine);
    if (inf == INVALID_HANDLE_VALUE) {
        std::fwprintf(stdout, L"FAULT: %ls does not parse: error 0x%08lx at line %u\n", argv[1],
                      GetLastError(), errorLine);
        return 1;
    }
    CheckVersion(inf);
    CheckModels(inf);
    CheckStrings(inf, argv[1]);
    SetupCloseInfFile(inf);
    if (faults) {
        std::fwprintf(stdout, L"InfCheck: %d fault(s)\n", faults);
        return 1;
    }
    std::fwprintf(stdout, L"InfCheck: all holds\n");
    return 0;
}
