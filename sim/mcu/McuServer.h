#pragma once

// The simulated MCU driver: publishes the MCU interface(s) in the Win32 stand-in's registry and
// serves the device files that the tool opens, answering each request through the McuModel.
// Runs in mcu-sim, or inside a test process.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "McuModel.h"

namespace mcusim {

extern const GUID McuInterfaceClassGuid;

class McuServer {
  public:
    explicit McuServer(McuSettings settings);
    ~McuServer();
    McuServer(const McuServer&) = delete;
    McuServer& operator=(const McuServer&) = delete;

    // Listens and publishes; false (with `error`) when that fails.
    bool Start(std::string& error);
    // Withdraws the interfaces and closes every file; idempotent.
    void Stop();

    // The published interface paths, in list order.
    const std::vector<std::string>& InterfacePaths() const { return paths; }

    // Every request frame received so far, as received.
    std::vector<std::vector<uint8_t>> Requests() const;
    // Interface index of every open so far, denied ones included.
    std::vector<unsigned> Opens() const;
    // Files open right now.
    size_t OpenFiles() const;

  private:
    // One thread serves everything: opens on every interface and the requests on every open
    // file, in arrival order, as one driver queue would.
    void Run();
    void Accept(unsigned interface);
    // False when the file was closed.
    bool Receive(int fd);
    void Broadcast(const std::vector<uint8_t>& frame);
    void CloseFile(int fd);
    bool SleepUnlessStopped(unsigned milliseconds);
    // The MCU that took the request, or why none did, and what an enable changed.
    void TraceTaker(const std::vector<uint8_t>& frame, const Reaction& reaction) const;
    // One line on standard error, after the milliseconds since Start.
    void Trace(const std::string& line) const;

    McuModel model;
    std::vector<int> listeners;
    std::vector<std::string> paths;
    std::vector<std::string> records;
    int wake = -1; // eventfd that wakes the loop on Stop
    std::thread loop;
    std::atomic<bool> stopping{false};
    std::chrono::steady_clock::time_point started;

    mutable std::mutex lock;
    std::condition_variable stopped;
    std::vector<int> files; // open files, in the order they were opened
    std::vector<std::vector<uint8_t>> requests;
    std::vector<unsigned> opens;
};

} // namespace mcusim
