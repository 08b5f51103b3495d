#pragma once
// The access trace: every register read and write with its virtual time, place, value and
// whether a full barrier preceded it; every delay with its kind and length; the driver's
// diagnostics and events in between, its requests to devices outside the SoC and the PnP events
// of those devices. Printable as text with register names, or as JSON lines.
#include <soc/Layout.h>

#include <cstdint>
#include <string>
#include <vector>

namespace soc {

enum class Op { Read, Write, Delay, Trace, Event, Request, System, Callback, Pnp };
enum class DelayKind { Sleep, BusyWait };

struct TraceRecord {
    std::uint64_t tNs = 0;
    Op op = Op::Read;
    int actor = -1; // controller instance whose callback ran on this thread, -1 if none
    // Register accesses.
    BlockKind block = BlockKind::Controller;
    int instance = -1;
    std::uint32_t offset = 0;
    std::uint32_t value = 0;
    bool barrier = false;
    // Delays.
    DelayKind delay = DelayKind::Sleep;
    std::int64_t interval = 0; // as passed to the sleep, in 100 ns units
    std::uint64_t lengthNs = 0;
    std::uint64_t counterReads = 0;
    std::uint64_t thread = 0;
    // Diagnostics and events.
    int level = 0;
    std::string flag;
    std::string function;
    std::string message;
    int eventId = 0;
    int opcode = 0;
    std::vector<std::uint32_t> payload;
    // Requests the driver sends to devices outside the SoC: "acpi" (method = the object
    // evaluated), "gpio" (level = the level driven), "wake-line" (line, mode, and the service
    // instance that answered, numbered from 1).
    std::string target;
    std::string method;
    std::int64_t line = -1;
    std::int64_t mode = -1;
    std::int32_t status = 0;
    int service = 0;
    // A PnP event of the device `target` names ("wake-line"): `event` is "arrival",
    // "query-remove", "remove-cancelled", "remove-complete" or "surprise-removal", of the
    // instance `service`; `vetoed` tells whether a query-remove was refused.
    bool vetoed = false;
    // System power events ("idle", "hibernate", "power-off", ...); "hibernation-image" names
    // the device the image went to and whether it was written.
    std::string event;
    std::string device;
    bool written = false;
    // A device callback on entry or return (name in `function`), with the system power action
    // the framework reported meanwhile and the previous (D0 entry) or target (D0 exit) state,
    // -1 for the others; `status` on return.
    bool returned = false;
    int action = -1;
    int state = -1;
};

// Where a streamed trace goes: each record once it is complete, in the order they were made.
// Called with the SoC's lock held, from whichever thread made the record.
class TraceSink {
  public:
    virtual ~TraceSink() = default;
    virtual void Take(const TraceRecord& r) = 0;
};

const char* OpName(Op op);
std::string RegisterName(BlockKind block, std::uint32_t offset);
std::string FormatText(const TraceRecord& r);
std::string FormatJson(const TraceRecord& r);

} // namespace soc
