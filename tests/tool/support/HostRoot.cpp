#include "HostRoot.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

HostRoot::HostRoot() {
    const char* current = std::getenv("WINHOST_ROOT");
    hadPrevious = current != nullptr;
    if (current)
        previous = current;
    std::string pattern = (std::filesystem::temp_directory_path() / "winhost-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path = pattern;
    setenv("WINHOST_ROOT", path.c_str(), 1);
}

HostRoot::~HostRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
    if (hadPrevious)
        setenv("WINHOST_ROOT", previous.c_str(), 1);
    else
        unsetenv("WINHOST_ROOT");
}

std::string HostRoot::LogFile() const {
    return path + "/drive_c/ProgramData/MCUInterfaceRecords.log";
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
