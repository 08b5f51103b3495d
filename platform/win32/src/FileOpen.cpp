// Windows drive paths in the C library's file opens. The tool's streams open
// "C:\ProgramData\..." exactly as on Windows; the C++ library opens files through fopen64, so
// this object defines fopen and fopen64 ahead of the C library's and maps drive paths into the
// host root before handing the call on. The link pulls this object in through
// WinhostDrivePathsLinked (see CMakeLists.txt).

#include <cstdio>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

#include "winhost/Devices.h"

extern "C" {

int WinhostDrivePathsLinked = 1;

namespace {

using OpenFunction = FILE* (*)(const char*, const char*);

OpenFunction Next(const char* name) {
    void* symbol = dlsym(RTLD_NEXT, name);
    OpenFunction function = nullptr;
    static_assert(sizeof function == sizeof symbol);
    __builtin_memcpy(&function, &symbol, sizeof function);
    return function;
}

// The Windows C runtime opens "a" with OPEN_ALWAYS and "w" with CREATE_ALWAYS, and CreateFile
// then leaves ERROR_ALREADY_EXISTS when the file was there and 0 when it made it. Whatever the
// caller records next shows that last error, as on Windows.
void LeaveCreateFileError(const char* mode, bool existed) {
    if (mode[0] == 'a' || mode[0] == 'w')
        SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
}

FILE* OpenMapped(OpenFunction next, const char* path, const char* mode) {
    if (!path || !path[0] || path[1] != ':')
        return next(path, mode);
    std::string mapped = winhost::MapWindowsPath(path);
    const bool existed = access(mapped.c_str(), F_OK) == 0;
    FILE* file = next(mapped.c_str(), mode);
    if (file)
        LeaveCreateFileError(mode, existed);
    return file;
}

} // namespace

FILE* fopen(const char* path, const char* mode) {
    static OpenFunction next = Next("fopen");
    return OpenMapped(next, path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    static OpenFunction next = Next("fopen64");
    return OpenMapped(next, path, mode);
}
}
