#pragma once
// What the kernel stand-in needs from the machine it runs on: the physical address space
// behind MmMapIoSpaceEx and the register routines, the barrier, the performance counter and
// the clock that waits advance. The simulated SoC implements it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kmdf {

enum class IoSpaceKind { None, Registers, Memory };

struct DiagnosticRecord {
    unsigned char level = 0;
    unsigned flags = 0;
    std::string flagName;
    std::string function;
    std::string message;
};

struct EventRecord {
    unsigned short id = 0;
    unsigned char version = 0, channel = 0, level = 0, opcode = 0;
    unsigned short task = 0;
    unsigned long long keyword = 0;
    std::vector<std::vector<std::uint8_t>> data;
};

// A device's Plug and Play or power callback as the framework calls it: on entry and on
// return. `action` is what WdfDeviceGetSystemPowerAction returns meanwhile; `state` is the
// previous state of a D0 entry or the target state of a D0 exit, -1 for the others.
struct CallbackTrace {
    std::string name; // "EvtDevicePrepareHardware", "EvtDeviceD0Entry", ...
    bool returned = false;
    int instance = -1;
    int action = 0;
    int state = -1;
    std::int32_t status = 0; // on return only
};

class Hardware {
  public:
    virtual ~Hardware() = default;

    // Physical space. Registers are reached only through Read32/Write32; memory ranges are
    // plain host memory that the mapping returns directly (firmware data).
    virtual IoSpaceKind Classify(std::uint64_t physical, std::size_t length) = 0;
    virtual void* MemoryAt(std::uint64_t physical, std::size_t length) = 0;
    virtual std::uint32_t Read32(std::uint64_t physical) = 0;
    virtual void Write32(std::uint64_t physical, std::uint32_t value) = 0;
    virtual void Barrier() = 0;

    // Time.
    virtual std::int64_t QueryPerformanceCounter() = 0;
    virtual std::int64_t PerformanceFrequency() = 0;
    virtual void Sleep(std::int64_t interval100ns) = 0;

    // Who is running on the calling thread (-1: nobody in particular).
    virtual void SetActor(int instance) = 0;

    // Records of the driver's diagnostics and events, in time with the register accesses.
    virtual void OnDiagnostic(const DiagnosticRecord&) {}
    virtual void OnEvent(const EventRecord&) {}
    virtual void OnCallback(const CallbackTrace&) {}

    // A deterministic scheduler of the machine's threads, one running at a time. Yield comes
    // before framework and kernel calls: another thread may go on there. A wait that cannot be
    // satisfied now calls Blocked, which lets the others go on, instead of blocking the thread
    // (that would stop them all). Without a scheduler waits block and Yield does nothing.
    virtual bool Scheduled() const { return false; }
    virtual void Yield(const char* routine) { (void)routine; }
    virtual void Blocked(const char* routine) { (void)routine; }
};

} // namespace kmdf
