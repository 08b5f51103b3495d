#pragma once

#include <string>

// A fresh, empty host root for one test: WINHOST_ROOT points at a new temporary directory for
// the object's lifetime, and the directory is removed afterwards.
class HostRoot {
  public:
    HostRoot();
    ~HostRoot();
    HostRoot(const HostRoot&) = delete;
    HostRoot& operator=(const HostRoot&) = delete;

    const std::string& Path() const { return path; }
    // Where "C:\ProgramData\MCUInterfaceRecords.log" lands.
    std::string LogFile() const;

  private:
    std::string path;
    std::string previous;
    bool hadPrevious = false;
};

// The whole content of a file ("" when it does not exist).
std::string ReadFileText(const std::string& path);
