// walk-soak [SECONDS [STEPS [FIRST-SEED]]]: draws walks of STEPS events (default 200) for
// all three instances from FIRST-SEED on (default 1) until SECONDS (default 60) have passed,
// and reports the walks run, walks per second and the peak resident memory. The first walk
// that fails is reported with its seed and the soak ends with status 1; replay it with
// pelvane-sim --walk --seed S.
#include "Walk.h"

#include <soc/Layout.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <iostream>

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    int steps = argc > 2 ? std::atoi(argv[2]) : 200;
    std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
    const std::vector<int> all = {soc::kPrimary, soc::kSecondary, soc::kMultiport};
    auto began = std::chrono::steady_clock::now();
    std::uint64_t walks = 0;
    double elapsed = 0;
    int status = 0;
    while (elapsed < seconds) {
        pelvane::WalkResult result;
        pelvane::DrawWalk(seed + walks, steps, all, &result);
        ++walks;
        if (!result.ok) {
            std::cout << "walk seed " << seed + walks - 1 << " FAILED at step " << result.step
                      << ": " << result.invariant << "\n  " << result.detail << "\n";
            status = 1;
            break;
        }
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::cout << walks << " walks of " << steps << " steps (seeds " << seed << " to "
              << seed + walks - 1 << ") in " << elapsed << " s: " << walks / elapsed
              << " walks/s, peak memory " << usage.ru_maxrss / 1024 << " MiB\n";
    return status;
}
