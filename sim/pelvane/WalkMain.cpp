// pelvane-sim --walk: seeded walks through the driver's life, and --replay of one.
#include "WalkRun.h"

#include <chrono>
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
    bool trace = false;
    bool shrink = true;
};

void WalkUsage(std::ostream& out) {
    out << "usage: pelvane-sim --walk [--seed S | --seeds FROM:COUNT] [--steps K]\n"
           "                  [--instance primary|secondary|multiport|all] [--trace]\n"
           "                  [--output FILE] [--replay-out FILE] [--no-shrink]\n"
           "       pelvane-sim --replay FILE [--trace] [--output FILE]\n"
           "  --seed S          one walk drawn from S (default 1)\n"
           "  --seeds F:C       C walks, seeds F to F+C-1; stops at the first that fails\n"
           "  --steps K         events per walk after the start (default 200)\n"
           "  --trace           the hardware trace as JSON lines, each step's event before it\n"
           "  --replay-out FILE a failing walk, shrunk, is written there (default\n"
           "                    walk-SEED.replay)\n"
           "  --no-shrink       report a failing walk without shrinking it\n"
           "  --replay FILE     runs the events of a replay file exactly\n";
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

// A failing walk: reported, shrunk and written as a replay.
void Failed(const WalkLine& line, const Walk& walk, const WalkResult& r, std::ostream& out) {
    Report(walk, r, out);
    Walk shrunk = walk;
    if (r.step >= 1 && r.step <= walk.events.size()) {
        shrunk.events.resize(r.step); // nothing after the failure matters
    }
    if (line.shrink) {
        int runs = 0;
        shrunk = ShrinkWalk(shrunk, r.invariant, &runs);
        out << "shrunk to " << shrunk.events.size() << " events in " << runs << " runs:\n";
        for (const WalkEvent& e : shrunk.events) {
            out << "  " << e.Text() << "\n";
        }
    }
    std::string path =
        line.replayOut.empty() ? "walk-" + std::to_string(walk.seed) + ".replay" : line.replayOut;
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
        std::uint64_t seed = line->seed + n;
        WalkResult r;
        Walk walk = DrawWalk(seed, line->steps, line->instances, &r, options);
        if (!r.ok) {
            Failed(*line, walk, r, *o);
            return 1;
        }
        if (line->count == 1) {
            *o << "walk seed " << seed << ": " << walk.events.size() << " events, trace "
               << std::hex << std::setw(16) << std::setfill('0') << r.traceHash << std::dec
               << ": passed\n";
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
