#pragma once

// The simulated MCU driver on Windows: serves each MCU interface as a message-mode named pipe and
// answers every request through the McuModel, as McuServer does with the stand-in's device files.
// The interface paths go to InterfaceListFile, where the test-only configuration manager
// (tests/wine/cfgmgr32) lists them.

#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

#include "McuModel.h"

namespace mcusim {

// Where the pipe paths are listed, one a line, while the driver runs.
extern const wchar_t InterfaceListFile[];

class PipeServer {
  public:
    explicit PipeServer(McuSettings settings);
    PipeServer(const PipeServer&) = delete;
    PipeServer& operator=(const PipeServer&) = delete;

    // Lists the interfaces and starts serving them; false (with `error`) when that fails.
    bool Start(std::string& error);

    const std::vector<std::string>& InterfacePaths() const { return paths; }

  private:
    // Waits for opens of one interface, one pipe instance per open; several run per interface.
    void Accept(unsigned index);
    // Reads the requests of one open file until it is closed.
    void Serve(HANDLE file);
    void React(const uint8_t* request, size_t length);
    void Broadcast(const std::vector<uint8_t>& frame);
    void Trace(const std::string& line) const;

    McuModel model;
    std::vector<std::string> paths;
    std::mutex queue; // one request at a time, as one driver queue
    std::mutex lock;
    std::vector<HANDLE> files; // open files, in the order they were opened
    unsigned opens = 0;
    DWORD started = 0;
};

} // namespace mcusim
