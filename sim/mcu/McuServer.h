#pragma once

// The simulated MCU driver: publishes the MCU interface(s) in the Win32 stand-in's registry and
// serves the device files that the tool opens, answering each request through the McuModel.
// Runs in mcu-sim, or inside a test process.

#include <atomic>
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
    struct Connection {
        int fd = -1;
        std::thread reader;
    };

    void AcceptLoop();
    void Serve(int fd);
    void Broadcast(const std::vector<uint8_t>& frame);
    void DropAll();
    void JoinFinished();
    bool SleepUnlessStopped(unsigned milliseconds);
    void Trace(const std::string& line) const;

    McuModel model;
    std::vector<int> listeners;
    std::vector<std::string> paths;
    std::vector<std::string> records;
    int wake = -1; // eventfd that wakes the accept loop on Stop
    std::thread acceptor;
    std::atomic<bool> stopping{false};

    mutable std::mutex lock;
    std::condition_variable stopped;
    std::vector<Connection> connections;
    std::vector<std::thread> finished;
    std::vector<std::vector<uint8_t>> requests;
    std::vector<unsigned> opens;
};

} // namespace mcusim
