// pelvane-sim's cycle scenario on all instances at soak scale: how the cost of a cycle and the
// peak memory of a run grow with its length. Each benchmark runs pelvane-sim as a child with
// its output to /dev/null, for 100 cycles and for 2,000, and prints time per cycle at 2,000
// over time per cycle at 100 and peak memory at 2,000 over peak memory at 100 (target: at
// most 1.2 each, for the readable trace and for JSON lines). Time is the child's processor
// time (user and system, all threads), the least of a few runs: other load on the machine
// (the development machine's two cores are shared) only ever adds to it, by as much as
// double for a run of a second. Peak memory is the largest of the runs.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr int kShortRun = 100;
constexpr int kLongRun = 2000;
constexpr int kShortRepeats = 5;
constexpr int kLongRepeats = 2;

struct Cost {
    bool ok = false;
    double seconds = 0; // processor time
    double peakMb = 0;  // peak resident set size
};

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// One run of pelvane-sim with its output to /dev/null, as the kernel accounted for it.
Cost RunSim(int cycles, bool json) {
    std::vector<std::string> args = {PELVANE_SIM_PATH,      "--scenario", "cycle",
                                     "--instance",          "all",        "--cycles",
                                     std::to_string(cycles)};
    if (json) {
        args.push_back("--json");
    }
    pid_t child = fork();
    if (child < 0) {
        return {};
    }
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, STDOUT_FILENO) < 0 || dup2(null, STDERR_FILENO) < 0) {
            _exit(127);
        }
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) {
        return {};
    }
    Cost cost;
    cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    cost.seconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    cost.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
    return cost;
}

// The least processor time and the largest peak memory of `repeats` runs.
Cost Best(int cycles, bool json, int repeats) {
    Cost best = RunSim(cycles, json);
    for (int i = 1; i < repeats && best.ok; ++i) {
        Cost next = RunSim(cycles, json);
        best.ok = next.ok;
        best.seconds = std::min(best.seconds, next.seconds);
        best.peakMb = std::max(best.peakMb, next.peakMb);
    }
    return best;
}

void CycleGrowth(benchmark::State& state, bool json) {
    Cost shortRun;
    Cost longRun;
    for (auto _ : state) {
        shortRun = Best(kShortRun, json, kShortRepeats);
        longRun = Best(kLongRun, json, kLongRepeats);
        if (!shortRun.ok || !longRun.ok) {
            state.SkipWithError("pelvane-sim failed");
            return;
        }
    }
    double shortPerCycle = shortRun.seconds / kShortRun;
    double longPerCycle = longRun.seconds / kLongRun;
    state.counters["ms_per_cycle_100"] = shortPerCycle * 1e3;
    state.counters["ms_per_cycle_2000"] = longPerCycle * 1e3;
    state.counters["time_per_cycle_ratio"] = longPerCycle / shortPerCycle;
    state.counters["peak_mb_100"] = shortRun.peakMb;
    state.counters["peak_mb_2000"] = longRun.peakMb;
    state.counters["peak_memory_ratio"] = longRun.peakMb / shortRun.peakMb;
}

void CycleText(benchmark::State& state) {
    CycleGrowth(state, false);
}

void CycleJson(benchmark::State& state) {
    CycleGrowth(state, true);
}

} // namespace

BENCHMARK(CycleText)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(CycleJson)->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
