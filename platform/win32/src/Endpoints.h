#pragma once

// Local sockets that carry device files: abstract SOCK_SEQPACKET endpoints.

#include <string>
#include <vector>

#include <windows.h>

namespace winhost {

// Connects to `endpoint`; returns the descriptor, or -1 with errno set.
int ConnectEndpoint(const std::string& endpoint);

// Published interfaces of a class, in list order.
struct InterfaceRecord {
    std::string path;
    std::string endpoint;
};
// False when the class's folder exists but cannot be read.
bool ListInterfaces(const std::string& classText, bool presentOnly,
                    std::vector<InterfaceRecord>& records);
// Looks an interface path up among all classes (case-insensitive, as Windows paths are).
bool FindInterface(const std::string& path, InterfaceRecord& record);

// An interface path as narrow text (paths are ASCII).
std::string NarrowPath(const WCHAR* path);

} // namespace winhost
