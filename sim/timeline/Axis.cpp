// Tick steps and time labels.
#include "Axis.h"

#include <algorithm>

namespace timeline {

namespace {

struct Unit {
    std::uint64_t ns;
    const char* name;
};

const Unit kUnits[] = {{1, "ns"}, {1000, "µs"}, {1000000, "ms"}, {1000000000, "s"}};

const Unit& UnitFor(std::uint64_t ns) {
    const Unit* pick = &kUnits[0];
    for (const Unit& u : kUnits) {
        if (ns >= u.ns) {
            pick = &u;
        }
    }
    return *pick;
}

std::string Fixed(std::uint64_t ns, const Unit& unit, int decimals) {
    std::uint64_t whole = ns / unit.ns;
    std::string text = std::to_string(whole);
    if (decimals > 0) {
        std::uint64_t scale = 1;
        for (int i = 0; i < decimals; ++i) {
            scale *= 10;
        }
        // Rounded to the shown decimals; units are powers of ten, so this is exact for ticks.
        std::uint64_t frac = ((ns % unit.ns) * scale + unit.ns / 2) / unit.ns;
        if (frac >= scale) {
            return Fixed(ns + unit.ns - ns % unit.ns, unit, 0);
        }
        std::string digits = std::to_string(frac);
        text += "." + std::string(static_cast<std::size_t>(decimals) - digits.size(), '0') + digits;
    }
    return text + " " + unit.name;
}

int DecimalsFor(std::uint64_t stepNs, const Unit& unit) {
    int decimals = 0;
    std::uint64_t scaled = stepNs;
    while (scaled % unit.ns != 0 && decimals < 3) {
        scaled *= 10;
        ++decimals;
    }
    return decimals;
}

} // namespace

AxisTicks ChooseTicks(std::uint64_t fromNs, std::uint64_t toNs, int maxTicks) {
    AxisTicks axis;
    std::uint64_t span = toNs > fromNs ? toNs - fromNs : 1;
    std::uint64_t intervals = static_cast<std::uint64_t>(std::max(1, maxTicks - 1));
    static const std::uint64_t kMantissas[] = {1, 2, 5};
    for (std::uint64_t power = 1;; power *= 10) {
        bool found = false;
        for (std::uint64_t m : kMantissas) {
            if (span / (m * power) <= intervals) {
                axis.stepNs = m * power;
                found = true;
                break;
            }
        }
        if (found || power > UINT64_MAX / 100) {
            break;
        }
    }
    for (std::uint64_t t = (fromNs + axis.stepNs - 1) / axis.stepNs * axis.stepNs; t <= toNs;
         t += axis.stepNs) {
        axis.ticksNs.push_back(t);
    }
    return axis;
}

std::string FormatTime(std::uint64_t ns, std::uint64_t stepNs, std::uint64_t largestNs) {
    if (ns == 0) {
        return "0";
    }
    // A step of half a unit still reads best in that unit: "0.5 µs", "1.0 µs".
    std::uint64_t step = std::max<std::uint64_t>(stepNs, 1);
    const Unit* unit = &UnitFor(std::max(step * 2, largestNs));
    while (unit != &kUnits[0] && DecimalsFor(step, *unit) > 2) {
        --unit;
    }
    return Fixed(ns, *unit, DecimalsFor(step, *unit));
}

std::string FormatDuration(std::uint64_t ns) {
    const Unit& unit = UnitFor(std::max<std::uint64_t>(ns, 1));
    int decimals = ns % unit.ns == 0 ? 0 : (ns % (unit.ns / 10 ? unit.ns / 10 : 1) == 0 ? 1 : 2);
    return Fixed(ns, unit, decimals);
}

} // namespace timeline
