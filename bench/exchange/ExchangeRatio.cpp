// exchange-ratio [COUNT]: the tool's exchanges against the MCU driver that is up (mcu-sim, or
// mcu-sim.exe under Wine), timed from the outside as another program sees them, and printed as
// a ratio to the 50 ms that every request waits for. Built for Linux and for Windows, so that
// both pairs give their ratio the same way; it prints and never judges the time.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "GetFlagRequest.h"
#include "channel/Packet.h"

namespace {

using Milliseconds = std::chrono::duration<double, std::milli>;

constexpr double RequestDelayMs = 50;

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    double total = 0;
    double best = 1e9;
    for (int i = 0; i < count; ++i) {
        PacketContext context = GetFlagRequest();
        const auto start = std::chrono::steady_clock::now();
        Packet().Transfer(context);
        const double elapsed = Milliseconds(std::chrono::steady_clock::now() - start).count();
        if (context.status != PacketStatusSuccess) {
            std::printf("exchange %d failed with status %d\n", i, static_cast<int>(context.status));
            return 1;
        }
        total += elapsed;
        best = std::min(best, elapsed);
    }
    const double mean = total / count;
    // The best exchange shows the cost of the exchange itself, without what other load on the
    // machine added to the mean.
    std::printf("%d exchanges: mean %.2f ms, best %.2f ms; ratio to 50 ms: mean %.3f, best %.3f\n",
                count, mean, best, mean / RequestDelayMs, best / RequestDelayMs);
    return 0;
}
