#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

// One request as mcu-sim --trace shows it: the frame in hexadecimal, the milliseconds at which
// it arrived and at which the MCU that took it answered ("" and -1 when none did).
struct TracedRequest {
    std::string frame;
    double arrivedMs;
    std::string mcu;
    double answeredMs;
};

struct ProcessResult {
    int exitStatus;     // as the shell sees it: -1 from wmain is 255
    std::string output; // standard output
};

// A host root of its own with, on request, mcu-sim running in it: the simulated platform that
// one test runs the tool against. Everything is stopped and removed at the end.
class SimulatedPlatform {
  public:
    SimulatedPlatform();
    ~SimulatedPlatform();
    SimulatedPlatform(const SimulatedPlatform&) = delete;
    SimulatedPlatform& operator=(const SimulatedPlatform&) = delete;

    // Starts mcu-sim with `options` and waits for its "ready" line. False (with the reason
    // reported to the test) when it does not come up.
    bool StartMcuSim(const std::vector<std::string>& options = {});

    // Runs the host ostrel with `arguments` and waits for it.
    ProcessResult RunOstrel(const std::vector<std::string>& arguments) const;

    // Points this process's stand-in at the root, for calls made in-process.
    void UseInThisProcess() const;

    // Everything in the record log so far.
    std::string Records() const;

    // What mcu-sim wrote on standard error so far (its trace, when started with --trace).
    std::string SimulatorTrace() const;
    // The requests of that trace, in arrival order.
    std::vector<TracedRequest> TracedRequests() const;

    const std::string& Root() const { return root; }

  private:
    void StopMcuSim();

    std::string root;
    pid_t simulator = -1;
};

// One line of the record log or console: "[ERROR]    2021-08-03 11:55:20 : message". A message
// that ends in a newline leaves an empty line, which is taken back into the message. Lines
// of another shape (the enable result line) have the level "".
struct Record {
    std::string level; // "DEBUG", "ERROR" or ""
    std::string message;
};
std::vector<Record> ParseRecords(const std::string& text);

// The messages of `level` in order ("*" for every record line).
std::vector<std::string> Messages(const std::string& text, const std::string& level = "*");

// Number of times `part` occurs in `text`.
size_t Occurrences(const std::string& text, const std::string& part);
