// The device-interface registry: one record file per published interface under
// DeviceInterfaces/{CLASS} in the host root, and the configuration manager's list queries on it.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cfgmgr32.h>

#include "Endpoints.h"
#include "Objects.h"
#include "winhost/Books.h"
#include "winhost/Devices.h"

namespace winhost {
namespace {

std::string InterfacesDirectory() {
    return RootDirectory() + "/DeviceInterfaces";
}

bool ProcessAlive(long pid) {
    return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

bool ReadRecord(const std::string& file, InterfaceRecord& record, long& pid) {
    pid = 0;
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[4096];
    ssize_t size = read(fd, buffer, sizeof buffer);
    close(fd);
    if (size <= 0)
        return false;
    std::istringstream in(std::string(buffer, static_cast<size_t>(size)));
    std::string line;
    while (std::getline(in, line)) {
        auto equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        std::string key = line.substr(0, equals), value = line.substr(equals + 1);
        if (key == "path")
            record.path = value;
        else if (key == "endpoint")
            record.endpoint = value;
        else if (key == "pid")
            pid = std::strtol(value.c_str(), nullptr, 10);
    }
    return !record.path.empty() && !record.endpoint.empty();
}

sockaddr_un EndpointAddress(const std::string& endpoint, socklen_t& length) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Abstract names start with a NUL byte and leave nothing in the file system.
    size_t size = std::min(endpoint.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, endpoint.data(), size);
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + size);
    return address;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Narrow(const WCHAR* text) {
    std::string narrow;
    for (; *text; ++text)
        narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
    return narrow;
}

} // namespace

bool ListInterfaces(const std::string& classText, bool presentOnly,
                    std::vector<InterfaceRecord>& records) {
    std::string directory = InterfacesDirectory() + "/" + classText;
    DIR* folder = opendir(directory.c_str());
    if (!folder)
        return errno == ENOENT;
    std::vector<std::string> names;
    while (dirent* entry = readdir(folder)) {
        if (entry->d_name[0] != '.')
            names.push_back(entry->d_name);
    }
    closedir(folder);
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        InterfaceRecord record;
        long pid = 0;
        if (!ReadRecord(directory + "/" + name, record, pid))
            continue;
        if (presentOnly && !ProcessAlive(pid))
            continue;
        records.push_back(record);
    }
    return true;
}

bool FindInterface(const std::string& path, InterfaceRecord& record) {
    DIR* folder = opendir(InterfacesDirectory().c_str());
    if (!folder)
        return false;
    std::vector<std::string> classes;
    while (dirent* entry = readdir(folder)) {
        if (entry->d_name[0] != '.')
            classes.push_back(entry->d_name);
    }
    closedir(folder);
    for (const auto& classText : classes) {
        std::vector<InterfaceRecord> records;
        ListInterfaces(classText, true, records);
        for (const auto& candidate : records) {
            if (EqualsIgnoringCase(candidate.path, path)) {
                record = candidate;
                return true;
            }
        }
    }
    return false;
}

int ConnectEndpoint(const std::string& endpoint) {
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    socklen_t length = 0;
    sockaddr_un address = EndpointAddress(endpoint, length);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int ListenEndpoint(std::string& endpoint) {
    static std::atomic<unsigned> counter{0};
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        endpoint = "winhost-device-" + std::to_string(getpid()) + "-" +
                   std::to_string(counter.fetch_add(1));
        socklen_t length = 0;
        sockaddr_un address = EndpointAddress(endpoint, length);
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0) {
            if (listen(fd, 64) == 0)
                return fd;
            break;
        }
        if (errno != EADDRINUSE)
            break;
    }
    close(fd);
    return -1;
}

bool CompleteOpen(int connection, DWORD status) {
    uint8_t bytes[4] = {static_cast<uint8_t>(status), static_cast<uint8_t>(status >> 8),
                        static_cast<uint8_t>(status >> 16), static_cast<uint8_t>(status >> 24)};
    return send(connection, bytes, sizeof bytes, MSG_NOSIGNAL) == sizeof bytes;
}

std::string PublishInterface(const GUID& interfaceClass, const std::string& path,
                             const std::string& endpoint, unsigned order) {
    std::string root = RootDirectory();
    std::string directory = InterfacesDirectory() + "/" + GuidText(interfaceClass);
    for (const std::string& folder : {root, InterfacesDirectory(), directory}) {
        if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
            return "";
    }
    char name[64];
    std::snprintf(name, sizeof name, "%04u-%010ld", order, static_cast<long>(getpid()));
    std::string record = directory + "/" + name;
    std::string temporary = directory + "/." + name;
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "path=" << path << "\nendpoint=" << endpoint << "\npid=" << getpid() << "\n";
        if (!out.flush())
            return "";
    }
    // Readers see either no record or a whole one.
    if (rename(temporary.c_str(), record.c_str()) != 0)
        return "";
    return record;
}

void WithdrawInterface(const std::string& record) {
    if (!record.empty())
        unlink(record.c_str());
}

} // namespace winhost

using namespace winhost;

namespace {

CONFIGRET CheckListArguments(LPGUID guid, DEVINSTID_W device, ULONG flags) {
    if (!guid)
        return CR_INVALID_POINTER;
    if (flags & ~static_cast<ULONG>(CM_GET_DEVICE_INTERFACE_LIST_BITS))
        return CR_INVALID_FLAG;
    // Interfaces here belong to no device instance that could be named as a filter.
    if (device && *device)
        return CR_INVALID_DEVICE_ID;
    return CR_SUCCESS;
}

CONFIGRET Collect(LPGUID guid, ULONG flags, std::vector<InterfaceRecord>& records) {
    bool presentOnly = (flags & CM_GET_DEVICE_INTERFACE_LIST_ALL_DEVICES) == 0;
    return ListInterfaces(GuidText(*guid), presentOnly, records) ? CR_SUCCESS : CR_REGISTRY_ERROR;
}

ULONG ListUnits(const std::vector<InterfaceRecord>& records) {
    ULONG units = 1;
    for (const auto& record : records)
        units += static_cast<ULONG>(record.path.size()) + 1;
    return units;
}

} // namespace

CONFIGRET WINAPI CM_Get_Device_Interface_List_SizeW(PULONG pulLen, LPGUID InterfaceClassGuid,
                                                    DEVINSTID_W pDeviceID, ULONG ulFlags) {
    if (!pulLen)
        return CR_INVALID_POINTER;
    *pulLen = 0;
    CONFIGRET result = CheckListArguments(InterfaceClassGuid, pDeviceID, ulFlags);
    std::vector<InterfaceRecord> records;
    if (result == CR_SUCCESS)
        result = Collect(InterfaceClassGuid, ulFlags, records);
    if (result == CR_SUCCESS)
        *pulLen = ListUnits(records);
    return result;
}

CONFIGRET WINAPI CM_Get_Device_Interface_ListW(LPGUID InterfaceClassGuid, DEVINSTID_W pDeviceID,
                                               PWCHAR Buffer, ULONG BufferLen, ULONG ulFlags) {
    if (!Buffer)
        return CR_INVALID_POINTER;
    if (BufferLen == 0)
        return CR_INVALID_DATA;
    Buffer[0] = 0;
    if (TakeFailure(Failure::GetInterfaceList))
        return GetLastError();
    CONFIGRET result = CheckListArguments(InterfaceClassGuid, pDeviceID, ulFlags);
    std::vector<InterfaceRecord> records;
    if (result == CR_SUCCESS)
        result = Collect(InterfaceClassGuid, ulFlags, records);
    if (result != CR_SUCCESS)
        return result;
    // The list may have grown since the caller asked for its size.
    if (ListUnits(records) > BufferLen)
        return CR_BUFFER_SMALL;
    PWCHAR out = Buffer;
    for (const auto& record : records) {
        for (char c : record.path)
            *out++ = static_cast<unsigned char>(c);
        *out++ = 0;
    }
    *out = 0;
    return CR_SUCCESS;
}

namespace winhost {
std::string NarrowPath(const WCHAR* path) {
    return Narrow(path);
}
} // namespace winhost
