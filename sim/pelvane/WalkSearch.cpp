// Drawing, running and shrinking walks, and their replay files.
#include "WalkRun.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <istream>
#include <sstream>

namespace pelvane {

namespace {

int InstanceByName(const std::string& name) {
    for (int instance = 0; instance < kInstances; ++instance) {
        if (name == soc::InstanceName(instance)) {
            return instance;
        }
    }
    return -1;
}

constexpr const char* kReplayHeader = "pelvane walk 1";

} // namespace

std::string WalkEvent::Text() const {
    std::string text = kind;
    if (instance >= 0) {
        text += std::string(" ") + soc::InstanceName(instance);
    }
    if (port > 0) {
        text += " " + std::to_string(port);
    }
    if (!arg.empty()) {
        text += " " + arg;
    }
    return text;
}

std::optional<WalkEvent> WalkEvent::Parse(const std::string& text) {
    std::istringstream in(text);
    WalkEvent e;
    if (!(in >> e.kind)) {
        return std::nullopt;
    }
    std::string word;
    while (in >> word) {
        int instance = InstanceByName(word);
        if (instance >= 0 && e.instance < 0 && e.arg.empty()) {
            e.instance = instance;
        } else if (e.kind == "port" && e.port == 0 && word.size() == 1 && word[0] >= '1' &&
                   word[0] <= '4') {
            e.port = word[0] - '0';
        } else if (e.arg.empty()) {
            e.arg = word;
        } else {
            return std::nullopt;
        }
    }
    return e;
}

Walk DrawWalk(std::uint64_t seed, int steps, const std::vector<int>& instances, WalkResult* result,
              const WalkRunOptions& options) {
    Walk walk{seed, instances, options.threads, {}};
    WalkRandom random(seed);
    WalkRun run(walk, options);
    bool ok = run.Begin();
    for (int step = 1; ok && step <= steps && !run.Ended(); ++step) {
        std::vector<WalkEvent> candidates = run.Candidates(random);
        if (candidates.empty()) {
            break;
        }
        WalkEvent e = candidates[random.Below(static_cast<int>(candidates.size()))];
        walk.events.push_back(e);
        if (options.events) {
            *options.events << e.Text() << std::endl;
        }
        ok = run.Step(static_cast<std::size_t>(step), e);
    }
    if (ok) {
        run.End(walk.events.size() + 1);
    }
    if (result) {
        *result = run.Result();
    }
    return walk;
}

WalkResult RunWalk(const Walk& walk, const WalkRunOptions& options) {
    WalkRun run(walk, options);
    bool ok = run.Begin();
    for (std::size_t i = 0; ok && i < walk.events.size(); ++i) {
        if (run.Legal(walk.events[i])) {
            ok = run.Step(i + 1, walk.events[i]);
        }
    }
    if (ok) {
        run.End(walk.events.size() + 1);
    }
    return run.Result();
}

IsolatedOutcome RunWalkIsolated(const Walk& walk) {
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        // The stand-in's own report of a fault goes to standard error, once is enough.
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, 2);
        }
        WalkResult r = RunWalk(walk);
        // The invariant's name goes back through the exit status: its place in the list.
        int code = r.ok ? 0 : 1;
        for (std::size_t i = 0; i < InvariantNames().size(); ++i) {
            if (r.invariant == InvariantNames()[i]) {
                code = static_cast<int>(i) + 2;
            }
        }
        _exit(code);
    }
    IsolatedOutcome outcome;
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
        outcome.ok = false;
        outcome.invariant = "a walk runs in a process of its own";
        return outcome;
    }
    if (WIFSIGNALED(status)) {
        outcome.ok = false;
        outcome.signal = WTERMSIG(status);
    } else if (WEXITSTATUS(status) != 0) {
        outcome.ok = false;
        int code = WEXITSTATUS(status);
        outcome.invariant = code >= 2 && code - 2 < static_cast<int>(InvariantNames().size())
                                ? InvariantNames()[code - 2]
                                : "another invariant";
    }
    return outcome;
}

// Removes ever smaller runs of events while the walk still fails.
Walk ShrinkWalk(const Walk& walk, const std::function<bool(const Walk&)>& fails, int* runs) {
    Walk best = walk;
    int count = 0;
    auto stillFails = [&](const Walk& w) {
        ++count;
        return fails(w);
    };
    for (std::size_t chunk = best.events.size() / 2; chunk >= 1; chunk /= 2) {
        std::size_t i = 0;
        while (i < best.events.size()) {
            Walk candidate = best;
            auto from = candidate.events.begin() + static_cast<std::ptrdiff_t>(i);
            auto to = candidate.events.begin() +
                      static_cast<std::ptrdiff_t>(std::min(i + chunk, candidate.events.size()));
            candidate.events.erase(from, to);
            if (stillFails(candidate)) {
                best = std::move(candidate);
            } else {
                i += chunk;
            }
        }
    }
    if (runs) {
        *runs = count;
    }
    return best;
}

void WriteReplay(const Walk& walk, std::ostream& out) {
    out << kReplayHeader << "\n";
    out << "seed " << walk.seed << "\n";
    out << "instances";
    for (int instance : walk.instances) {
        out << " " << soc::InstanceName(instance);
    }
    out << "\n";
    if (walk.threads) {
        out << (walk.switches == SwitchSet::EveryCall ? "threads every-call\n" : "threads\n");
    }
    for (const WalkEvent& e : walk.events) {
        out << e.Text() << "\n";
    }
}

std::optional<Walk> ReadReplay(std::istream& in, std::string* error) {
    auto bad = [&](const std::string& why) -> std::optional<Walk> {
        if (error) {
            *error = why;
        }
        return std::nullopt;
    };
    std::string line;
    if (!std::getline(in, line) || line != kReplayHeader) {
        return bad(std::string("not a walk replay (first line \"") + kReplayHeader + "\")");
    }
    Walk walk;
    bool seed = false;
    int number = 1;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (first == "seed") {
            if (!(words >> walk.seed)) {
                return bad("line " + std::to_string(number) + ": seed without a number");
            }
            seed = true;
        } else if (first == "threads") {
            std::string set;
            words >> set;
            if (set.empty()) {
                walk.switches = SwitchSet::BindingPath;
            } else if (set == "every-call") {
                walk.switches = SwitchSet::EveryCall;
            } else {
                return bad("line " + std::to_string(number) + ": threads " + set +
                           ": the switch set is every-call, or none for the binding path");
            }
            walk.threads = true;
        } else if (first == "instances") {
            std::string name;
            while (words >> name) {
                int instance = InstanceByName(name);
                if (instance < 0) {
                    return bad("line " + std::to_string(number) + ": no instance " + name);
                }
                walk.instances.push_back(instance);
            }
        } else if (auto e = WalkEvent::Parse(line)) {
            walk.events.push_back(*e);
        } else {
            return bad("line " + std::to_string(number) + ": not an event: " + line);
        }
    }
    if (!seed || walk.instances.empty()) {
        return bad("a replay names its seed and its instances");
    }
    return walk;
}

} // namespace pelvane
