#pragma once
// Random walks through the driver's life: from a seed, the world around the controllers (the
// firmware's switches, the SS PHYs' readiness, the wake-line service, the special files) and a
// list of events that the framework, the system and the world deliver in turn, each one legal
// in the state that the walk has reached. After every event the hardware and the platform are
// checked (WalkChecks). A walk replays exactly from its seed and its event list; a failing
// one shrinks to the shortest list that still fails in the same way.
//
// By default the instances run on the calling thread, one after the other within an event (a
// system event carries the order in which the instances see it). With threads, the instances
// of a system event run on a thread each, one at a time, switched where the seed says at
// every register access, every wait and the entry of the framework and kernel routines of
// the walk's switch set.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace pelvane {

// One event: its kind and, depending on the kind, an instance, a port and an argument
// ("sleep 2,0,1", "idle primary", "port multiport 4 polling", "fail WdfIoTargetOpen").
struct WalkEvent {
    std::string kind;
    int instance = -1;
    int port = 0;
    std::string arg;

    std::string Text() const;
    static std::optional<WalkEvent> Parse(const std::string& text);
    bool operator==(const WalkEvent& other) const = default;
};

// Where a threaded walk may switch threads, besides register accesses and waits: at the
// routines of the binding path alone (targets, interfaces, notifications, work items, object
// deletion, pool, events and run-down protection), the set of the walks written before the
// others became switch points, or at every framework and kernel call. A replay's `threads`
// line names the set: `threads` alone is the first, `threads every-call` the second.
enum class SwitchSet { BindingPath, EveryCall };

struct Walk {
    std::uint64_t seed = 0; // draws the world
    std::vector<int> instances;
    // The instances of a system event on a thread each, switched at register accesses where
    // the seed and the step say (WalkScheduler.h); otherwise one after the other.
    bool threads = false;
    std::vector<WalkEvent> events;
    SwitchSet switches = SwitchSet::EveryCall; // with threads
};

// What a walk found: nothing, or the first invariant broken, at which step (0: the start,
// events.size() + 1: the end) and why, with the last trace records before it.
struct WalkResult {
    bool ok = true;
    std::size_t step = 0;
    std::string invariant;
    std::string detail;
    std::vector<std::string> lastRecords;
    std::uint64_t traceHash = 0; // FNV-1a of the trace's JSON lines
    std::size_t eventsApplied = 0;
};

struct WalkRunOptions {
    std::ostream* trace = nullptr; // the trace's JSON lines with "# step" lines between
    // Each drawn event as a replay line, flushed before the event runs: what is left of a
    // walk when the stand-in ends the process (a bug check, an access outside a mapping).
    std::ostream* events = nullptr;
    bool threads = false; // for a walk being drawn: Walk::threads, switched at every call
};

// Draws a walk of `steps` events for the instances, running it as it is drawn.
Walk DrawWalk(std::uint64_t seed, int steps, const std::vector<int>& instances, WalkResult* result,
              const WalkRunOptions& options = {});
// Runs the walk's events in order; an event not legal in the state reached is skipped.
WalkResult RunWalk(const Walk& walk, const WalkRunOptions& options = {});
// The shortest walk found for which `fails` still holds (removing ever smaller runs of events).
Walk ShrinkWalk(const Walk& walk, const std::function<bool(const Walk&)>& fails,
                int* runs = nullptr);

// How a walk run in a child process of its own ended: its invariant, or the signal with which
// the stand-in ended it.
struct IsolatedOutcome {
    bool ok = true;
    std::string invariant; // empty when the process ended by a signal
    int signal = 0;
    bool operator==(const IsolatedOutcome& other) const = default;
};
IsolatedOutcome RunWalkIsolated(const Walk& walk);

void WriteReplay(const Walk& walk, std::ostream& out);
std::optional<Walk> ReadReplay(std::istream& in, std::string* error);

// pelvane-sim --walk and --replay. True when the arguments ask for a walk.
bool WantsWalk(const std::vector<std::string>& args);
int WalkMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& errors);

} // namespace pelvane
