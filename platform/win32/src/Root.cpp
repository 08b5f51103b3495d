// The host root directory and the mapping of Windows drive paths into it.

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

#include "winhost/Devices.h"

namespace winhost {

std::string RootDirectory() {
    const char* root = std::getenv("WINHOST_ROOT");
    std::string directory = root && *root ? root : ".winhost";
    if (directory[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd))
            directory = std::string(cwd) + "/" + directory;
    }
    while (directory.size() > 1 && directory.back() == '/')
        directory.pop_back();
    return directory;
}

namespace {

void MakeDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        return;
}

bool IsDrivePath(const std::string& path) {
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

} // namespace

std::string MapWindowsPath(const std::string& path) {
    if (!IsDrivePath(path))
        return path;
    std::string root = RootDirectory();
    std::string drive =
        root + "/drive_" + static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
    // A fresh Windows installation has C:\ProgramData; so does a fresh host root. The last
    // folder is the one looked for: a thread that found the drive made by another one before
    // its ProgramData would open a file in a folder that is not there yet.
    bool driveC = drive.back() == 'c';
    struct stat folder;
    if (stat((driveC ? drive + "/ProgramData" : drive).c_str(), &folder) != 0) {
        MakeDirectory(root);
        MakeDirectory(drive);
        if (driveC)
            MakeDirectory(drive + "/ProgramData");
    }

    std::string mapped = drive;
    for (size_t i = 2; i < path.size(); ++i)
        mapped += path[i] == '\\' ? '/' : path[i];
    return mapped;
}

std::string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

} // namespace winhost
