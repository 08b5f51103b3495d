// One exchange against an MCU driver that answers at once, as a ratio to the 50 ms that every
// request waits for (target: at most 1.02), and the time from a time-out to the end of the stop
// of the read thread (target: under 5 ms). The driver runs in this process, behind the same
// device files as mcu-sim.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include "McuServer.h"
#include "GetFlagRequest.h"
#include "channel/Packet.h"

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

constexpr double RequestDelayMs = 50;
constexpr double ResponseWaitMs = 2000;

// A host root of its own, with the driver published in it, for one benchmark.
class Driver {
  public:
    explicit Driver(mcusim::McuSettings settings) : server(std::move(settings)) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "exchange-bench-XXXXXX").string();
        root = mkdtemp(pattern.data()) ? pattern : "";
        setenv("WINHOST_ROOT", root.c_str(), 1);
        std::string error;
        ok = !root.empty() && server.Start(error);
    }
    ~Driver() {
        server.Stop();
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    bool ok = false;

  private:
    std::string root;
    mcusim::McuServer server;
};

void ExchangeAnsweredAtOnce(benchmark::State& state) {
    Driver driver(mcusim::McuSettings::Defaults());
    if (!driver.ok) {
        state.SkipWithError("the MCU driver did not start");
        return;
    }
    double total = 0;
    double best = 1e9;
    for (auto _ : state) {
        PacketContext context = GetFlagRequest();
        auto start = Clock::now();
        Packet().Transfer(context);
        double elapsed = Milliseconds(Clock::now() - start).count();
        total += elapsed;
        best = std::min(best, elapsed);
        if (context.status != PacketStatusSuccess) {
            state.SkipWithError("exchange failed");
            return;
        }
    }
    double mean = total / static_cast<double>(state.iterations());
    state.counters["exchange_ms"] = mean;
    state.counters["ratio_to_50ms"] = mean / RequestDelayMs;
    // The best run shows the cost of the exchange itself, without what other load on the
    // machine added to the mean.
    state.counters["best_ratio_to_50ms"] = best / RequestDelayMs;
}

void StopAfterTimeout(benchmark::State& state) {
    mcusim::McuSettings settings = mcusim::McuSettings::Defaults();
    settings.faults[0x64].push_back({mcusim::FaultKind::Silent, 0});
    Driver driver(settings);
    if (!driver.ok) {
        state.SkipWithError("the MCU driver did not start");
        return;
    }
    // What an unanswered exchange costs beyond its two fixed waits is the stop of the read
    // thread (plus opening and closing, well under a millisecond).
    double beyond = 0;
    for (auto _ : state) {
        PacketContext context = GetFlagRequest();
        auto start = Clock::now();
        Packet().Transfer(context);
        beyond += Milliseconds(Clock::now() - start).count() - RequestDelayMs - ResponseWaitMs;
        if (context.status != PacketStatusTimeout) {
            state.SkipWithError("exchange did not time out");
            return;
        }
    }
    state.counters["stop_ms"] = beyond / static_cast<double>(state.iterations());
}

} // namespace

BENCHMARK(ExchangeAnsweredAtOnce)->Iterations(40)->Unit(benchmark::kMillisecond);
BENCHMARK(StopAfterTimeout)->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
