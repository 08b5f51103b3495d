// pelvane-sim --walk: seeded walks through the driver's life, and --replay of one.
#include "WalkRun.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <iostream>

namespace pelvane {

namespace {

struct WalkLine {
    std::uint64_t seed = 1;
    std::uint64_t count = 1; // --seeds FROM:COUNT
    int steps = 200;
    std::vector<int> instances = {soc::kPrimary, soc::kSecondary, soc::kMultiport};
    std::string replay;
    std::string replayOut; // where a failing walk's replay goes
    std::string output;
    bool help = false;
    bool threads = false;
    bool trace = false;
    bool shrink = true;
};

void WalkUsage(std::ostream& out) {
    out << "usage: pelvane-sim --walk [--seed S | --seeds FROM:COUNT] [--steps K]\n"
           "                  [--instance primary|secondary|multiport|all] [--trace]\n"
           "                  [--output FILE] [--replay-out FILE] [--no-shrink] [--threads]\n"
           "       pelvane-sim --replay FILE [--trace] [--output FILE]\n"
           "Random walks through the driver's life on the simulated SoC, checked after every\n"
           "step (docs/walks.md).\n"
           "  --seed S          one walk drawn from S (default 1)\n"
           "  --seeds F:C       C walks, seeds F to F+C-1; stops at the first that fails\n"
           "  --steps K         events per walk after the start (default 200)\n"
           "  --trace           the hardware trace as JSON lines, each step's event before it\n"
           "  --replay-out FILE a failing walk, shrunk, is written there (default\n"
           "                    walk-SEED.replay)\n"
           "  --no-shrink       report a failing walk without shrinking it\n"
           "  --threads         the instances of a system event on a thread each, switched\n"
           "                    where the seed says at every register access, wait and\n"
           "                    framework or kernel call (replay line: threads every-call)\n"
           "  --replay FILE     runs the events of a replay file exactly; its line \"threads\"\n"
           "                    alone switches among the calls only at the binding path's\n"
           "                    routines (targets, interfaces, notifications, work items,\n"
           "                    object deletion, pool, events, run-down protection)\n";
}

std::optional<WalkLine> ParseWalkLine(const std::vector<std::string>& args, std::ostream& errors) {
    WalkLine line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) {
                errors << "pelvane-sim: " << arg << " needs a value\n";
                return false;
            }
            into = args[++i];
            return true;
        };
        std::string v;
        try {
            if (arg == "--walk") {
            } else if (arg == "--seed") {
                if (!value(v)) {
                    return std::nullopt;
                }
                line.seed = std::stoull(v);
                line.count = 1;
            } else if (arg == "--seeds") {
                if (!value(v) || v.find(':') == std::string::npos) {
                    errors << "pelvane-sim: --seeds FROM:COUNT\n";
                    return std::nullopt;
                }
                line.seed = std::stoull(v.substr(0, v.find(':')));
                line.count = std::stoull(v.substr(v.find(':') + 1));
            } else if (arg == "--steps") {
                if (!value(v)) {
                    return std::nullopt;
                }
                line.steps = std::stoi(v);
            } else if (arg == "--instance") {
                if (!value(v)) {
                    return std::nullopt;
                }
                if (v == "all") {
                    line.instances = {soc::kPrimary, soc::kSecondary, soc::kMultiport};
                } else if (v == "primary" || v == "secondary" || v == "multiport") {
                    line.instances = {v == "primary"     ? soc::kPrimary
                                      : v == "secondary" ? soc::kSecondary
                                                         : soc::kMultiport};
                } else {
                    errors << "pelvane-sim: unknown instance \"" << v << "\"\n";
                    return std::nullopt;
                }
            } else if (arg == "--replay") {
                if (!value(line.replay)) {
                    return std::nullopt;
                }
            } else if (arg == "--replay-out") {
                if (!value(line.replayOut)) {
                    return std::nullopt;
                }
            } else if (arg == "--output") {
                if (!value(line.output)) {
                    return std::nullopt;
                }
            } else if (arg == "--threads") {
                line.threads = true;
            } else if (arg == "--help") {
                line.help = true;
            } else if (arg == "--trace") {
                line.trace = true;
            } else if (arg == "--no-shrink") {
                line.shrink = false;
            } else {
                errors << "pelvane-sim: " << arg << " is not a walk option\n";
                WalkUsage(errors);
                return std::nullopt;
            }
        } catch (const std::exception&) {
            errors << "pelvane-sim: " << arg << ": not a number: " << v << "\n";
            return std::nullopt;
        }
    }
    if (line.steps < 0 || line.count == 0) {
        errors << "pelvane-sim: --steps and --seeds need a count\n";
        return std::nullopt;
    }
    return line;
}

void Report(const Walk& walk, const WalkResult& r, std::ostream& out) {
    out << "walk seed " << walk.seed << " FAILED at step " << r.step << " of " << walk.events.size()
        << ": " << r.invariant << "\n  " << r.detail << "\n";
    if (r.step >= 1 && r.step <= walk.events.size()) {
        out << "  event: " << walk.events[r.step - 1].Text() << "\n";
    }
    out << "  last records:\n";
    for (const std::string& record : r.lastRecords) {
        out << "    " << record << "\n";
    }
}

std::string ReplayPath(const WalkLine& line, std::uint64_t seed) {
    return line.replayOut.empty() ? "walk-" + std::to_string(seed) + ".replay" : line.replayOut;
}

// A failing walk: shrunk, each candidate in a process of its own so that the stand-in may end
// it, while it fails as `target` did; then written as a replay.
void ShrinkAndWrite(const WalkLine& line, Walk shrunk, const IsolatedOutcome& target,
                    std::ostream& out) {
    if (line.shrink) {
        int runs = 0;
        out.flush();
        shrunk = ShrinkWalk(
            shrunk, [&](const Walk& w) { return RunWalkIsolated(w) == target; }, &runs);
        out << "shrunk to " << shrunk.events.size() << " events in " << runs << " runs:\n";
        for (const WalkEvent& e : shrunk.events) {
            out << "  " << e.Text() << "\n";
        }
    }
    std::string path = ReplayPath(line, shrunk.seed);
    std::ofstream file(path);
    WriteReplay(shrunk, file);
    file.close();
    if (file) {
        out << "replay written to " << path << "; run it with: pelvane-sim --replay " << path
            << "\n";
    } else {
        out << "cannot write the replay to " << path << "\n";
    }
}

void Failed(const WalkLine& line, const Walk& walk, const WalkResult& r, std::ostream& out) {
    Report(walk, r, out);
    Walk shrunk = walk;
    if (r.step >= 1 && r.step <= walk.events.size()) {
        shrunk.events.resize(r.step); // nothing after the failure matters
    }
    ShrinkAndWrite(line, shrunk, IsolatedOutcome{false, r.invariant, 0}, out);
}

// The stand-in ended the walk's process: what it drew up to then is in the partial replay.
void Ended(const WalkLine& line, std::uint64_t seed, const std::string& partial, int signal,
           std::ostream& out) {
    std::ifstream in(partial);
    std::string error;
    auto walk = ReadReplay(in, &error);
    in.close();
    std::remove(partial.c_str());
    if (!walk) {
        out << "walk seed " << seed << " ended by signal " << signal << "\n";
        return;
    }
    out << "walk seed " << seed << " FAILED at step " << walk->events.size()
        << ": the stand-in ended the process (signal " << signal
        << ", its report is on standard error)\n";
    if (!walk->events.empty()) {
        out << "  event: " << walk->events.back().Text() << "\n";
    }
    ShrinkAndWrite(line, *walk, IsolatedOutcome{false, "", signal}, out);
}

// One drawn walk in a process of its own: 0 passed, 1 failed (reported there), or the signal
// that ended it (> 1, reported here).
int DrawIsolated(const WalkLine& line, std::uint64_t seed, std::ostream& out) {
    const std::string partial = ReplayPath(line, seed) + ".partial";
    out.flush();
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        std::ofstream events(partial);
        WriteReplay(Walk{seed, line.instances, line.threads, {}}, events);
        WalkRunOptions options;
        options.threads = line.threads;
        options.trace = line.trace ? &out : nullptr;
        options.events = &events;
        WalkResult r;
        Walk walk = DrawWalk(seed, line.steps, line.instances, &r, options);
        events.close();
        std::remove(partial.c_str());
        if (!r.ok) {
            Failed(line, walk, r, out);
        } else if (line.count == 1) {
            out << "walk seed " << seed << ": " << walk.events.size() << " events, trace "
                << std::hex << std::setw(16) << std::setfill('0') << r.traceHash << std::dec
                << ": passed\n";
        }
        out.flush();
        _exit(r.ok ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
        out << "pelvane-sim: cannot run walk seed " << seed << " in a process of its own\n";
        return 1;
    }
    if (WIFSIGNALED(status)) {
        Ended(line, seed, partial, WTERMSIG(status), out);
        return 1;
    }
    return WEXITSTATUS(status) == 0 ? 0 : 1;
}

} // namespace

bool WantsWalk(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--walk" || arg == "--replay") {
            return true;
        }
    }
    return false;
}

int WalkMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& errors) {
    auto line = ParseWalkLine(args, errors);
    if (!line) {
        return 2;
    }
    if (line->help) {
        WalkUsage(out);
        return 0;
    }
    std::ofstream file;
    std::ostream* o = &out;
    if (!line->output.empty()) {
        file.open(line->output);
        if (!file) {
            errors << "pelvane-sim: cannot write \"" << line->output << "\"\n";
            return 2;
        }
        o = &file;
    }
    WalkRunOptions options;
    options.trace = line->trace ? o : nullptr;
    if (!line->replay.empty()) {
        std::ifstream in(line->replay);
        std::string error = "cannot read it";
        auto walk = in ? ReadReplay(in, &error) : std::nullopt;
        if (!walk) {
            errors << "pelvane-sim: " << line->replay << ": " << error << "\n";
            return 2;
        }
        WalkResult r = RunWalk(*walk, options);
        if (!r.ok) {
            Report(*walk, r, *o);
            return 1;
        }
        *o << "replay of seed " << walk->seed << ": " << walk->events.size() << " events, trace "
           << std::hex << std::setw(16) << std::setfill('0') << r.traceHash << std::dec
           << ": passed\n";
        return 0;
    }
    auto began = std::chrono::steady_clock::now();
    for (std::uint64_t n = 0; n < line->count; ++n) {
        if (DrawIsolated(*line, line->seed + n, *o) != 0) {
            return 1;
        }
    }
    if (line->count > 1) {
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        *o << line->count << " walks of " << line->steps << " steps passed (seeds " << line->seed
           << " to " << line->seed + line->count - 1 << ") in " << std::fixed
           << std::setprecision(1) << seconds << " s\n";
    }
    return 0;
}

} // namespace pelvane
