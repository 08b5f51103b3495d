// The readable trace and the summary per instance and callback.
#include "Report.h"

#include "Bands.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace pelvane {

namespace {

struct Step {
    const char* function;
    const char* label;
};

const Step kSteps[] = {
    {"EvtDevicePrepareHardware", "prepare hardware"},
    {"EvtDeviceD0Entry", "D0 entry"},
    {"EvtDeviceD0Exit", "D0 exit"},
    {"EvtDeviceReleaseHardware", "release hardware"},
};

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string EventName(const EventNames& names, int id) {
    auto it = names.find(id);
    return it == names.end() ? std::string() : it->second;
}

// "a, b x2, c": consecutive repeats counted.
std::string Compact(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size();) {
        std::size_t j = i;
        while (j < items.size() && items[j] == items[i]) {
            ++j;
        }
        text += (text.empty() ? "" : ", ") + items[i];
        if (j - i > 1) {
            text += " x" + std::to_string(j - i);
        }
        i = j;
    }
    return text.empty() ? "none" : text;
}

struct StepRun {
    const char* label;
    std::string result;
    std::uint64_t startNs = 0;
    std::uint64_t endNs = 0;
    bool closed = true;
    std::size_t first = 0; // index of its first record in the lane
};

// Index in the lane of the n-th entry diagnostic of `function` (n from 0).
std::size_t NthEntry(const timeline::Lane& lane, const std::string& function, std::size_t n) {
    for (std::size_t i = 0; i < lane.records.size(); ++i) {
        const soc::TraceRecord* r = lane.records[i];
        if (r->op == soc::Op::Trace && r->function == function &&
            timeline::IsEntryMessage(r->message) && n-- == 0) {
            return i;
        }
    }
    return lane.records.size();
}

// The callbacks in the order they ran: their bands, or for a callback without entry and exit
// diagnostics the span of the diagnostics it wrote.
std::vector<StepRun> StepRuns(const timeline::Lane& lane) {
    std::vector<StepRun> runs;
    for (const Step& step : kSteps) {
        std::size_t opened = 0;
        for (const timeline::Band& band : lane.bands) {
            if (band.function == step.function) {
                runs.push_back({step.label, band.status ? "status " + Hex(*band.status) : "ran",
                                band.startNs, band.endNs, band.closed,
                                NthEntry(lane, band.function, opened++)});
            }
        }
        const soc::TraceRecord* last = nullptr;
        std::size_t first = lane.records.size();
        for (std::size_t i = 0; i < lane.records.size() && opened == 0; ++i) {
            const soc::TraceRecord* r = lane.records[i];
            if (r->op == soc::Op::Trace && r->function == step.function) {
                first = std::min(first, i);
                last = r;
            }
        }
        if (last) {
            runs.push_back({step.label, "ran", lane.records[first]->tNs, last->tNs, true, first});
        }
    }
    std::stable_sort(runs.begin(), runs.end(),
                     [](const StepRun& a, const StepRun& b) { return a.first < b.first; });
    // Callbacks never overlap: one whose exit was not traced ended when the next began.
    for (std::size_t i = 0; i + 1 < runs.size(); ++i) {
        if (!runs[i].closed && runs[i].endNs > runs[i + 1].startNs) {
            runs[i].endNs = runs[i + 1].startNs;
        }
    }
    return runs;
}

// What one callback asked of the world outside the SoC and wrote to the event provider.
struct Transition {
    std::vector<std::string> wakeLines;
    std::vector<std::string> gpioLevels;
    std::vector<std::string> events;
};

std::string Failed(const soc::TraceRecord& r) {
    return r.status != 0 ? " -> " + Hex(static_cast<std::uint32_t>(r.status)) : "";
}

void Collect(const soc::TraceRecord& r, const EventNames& names, Transition& t) {
    if (r.op == soc::Op::Request && r.target == "wake-line") {
        std::ostringstream line;
        line << "0x" << std::hex << std::uppercase << r.line << std::dec << " mode " << r.mode
             << Failed(r);
        t.wakeLines.push_back(line.str());
    } else if (r.op == soc::Op::Request && r.target == "gpio") {
        t.gpioLevels.push_back(std::to_string(r.level) + Failed(r));
    } else if (r.op == soc::Op::Event) {
        std::string name = EventName(names, r.eventId);
        t.events.push_back(std::to_string(r.eventId) + (name.empty() ? "" : " " + name));
    }
}

void PrintDetail(const char* what, const std::vector<std::string>& items, std::ostream& out) {
    if (!items.empty()) {
        char head[32];
        std::snprintf(head, sizeof head, "      %-10s ", what);
        out << head << Compact(items) << "\n";
    }
}

// One line per callback run, with its wake-line calls, GPIO levels and power events below.
void PrintSteps(const timeline::Lane& lane, const EventNames& names, std::ostream& out) {
    std::vector<StepRun> runs = StepRuns(lane);
    std::vector<Transition> transitions(runs.size());
    Transition before;
    std::size_t run = 0;
    for (std::size_t i = 0; i < lane.records.size(); ++i) {
        while (run < runs.size() && runs[run].first <= i) {
            ++run;
        }
        // A record belongs to the callback that began last before it.
        Collect(*lane.records[i], names, run == 0 ? before : transitions[run - 1]);
    }
    auto details = [&](const Transition& t) {
        PrintDetail("wake-line", t.wakeLines, out);
        PrintDetail("gpio", t.gpioLevels, out);
        PrintDetail("events", t.events, out);
    };
    details(before);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-17s %-17s %12llu ns\n", runs[i].label,
                      runs[i].result.c_str(),
                      static_cast<unsigned long long>(runs[i].endNs - runs[i].startNs));
        out << line;
        details(transitions[i]);
    }
}

} // namespace

void PrintReadableTrace(const std::vector<soc::TraceRecord>& records, const EventNames& names,
                        std::ostream& out) {
    for (const soc::TraceRecord& r : records) {
        if (r.op == soc::Op::Trace && timeline::IsEntryMessage(r.message)) {
            std::string label = timeline::BandLabel(r.function, r.message);
            out << "-- " << timeline::LaneName(r.actor) << ": " << label;
            if (label != r.function) {
                out << " (" << r.function << ")";
            }
            out << "\n";
        }
        out << soc::FormatText(r);
        if (r.op == soc::Op::Event) {
            std::string name = EventName(names, r.eventId);
            if (!name.empty()) {
                out << "  [" << name << "]";
            }
        }
        out << "\n";
    }
}

void PrintSummary(const std::vector<soc::TraceRecord>& records, const EventNames& names,
                  const std::vector<int>& instances, const kmdf::Books& books, std::ostream& out) {
    std::vector<timeline::Lane> lanes = timeline::BuildLanes(records);
    for (int instance : instances) {
        const timeline::Lane* lane = nullptr;
        for (const timeline::Lane& l : lanes) {
            lane = l.actor == instance ? &l : lane;
        }
        out << timeline::LaneName(instance) << ":";
        if (!lane) {
            out << " no records\n";
            continue;
        }
        out << " " << lane->endNs - lane->startNs << " ns of virtual time\n";
        PrintSteps(*lane, names, out);
    }
    out << "books " << (books.AllZero() ? "balanced" : "NOT balanced") << ": " << books.Describe()
        << "\n";
}

} // namespace pelvane
