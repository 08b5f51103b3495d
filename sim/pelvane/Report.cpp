// The readable trace and the per-instance summary.
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

std::string DescribeRequest(const soc::TraceRecord& r) {
    std::ostringstream out;
    out << r.target;
    if (!r.method.empty()) {
        out << " " << r.method;
    }
    if (r.target == "gpio") {
        out << " level " << r.level;
    }
    if (r.line >= 0) {
        out << " line 0x" << std::hex << std::uppercase << r.line << std::dec;
    }
    if (r.mode >= 0) {
        out << " mode " << r.mode;
    }
    if (r.status != 0) {
        out << " -> " << Hex(static_cast<std::uint32_t>(r.status));
    }
    return out.str();
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
};

// The callbacks in the order they ran: their bands, or for a callback without entry and exit
// diagnostics the span of the diagnostics it wrote.
std::vector<StepRun> StepRuns(const timeline::Lane& lane) {
    std::vector<StepRun> runs;
    for (const Step& step : kSteps) {
        bool banded = false;
        for (const timeline::Band& band : lane.bands) {
            if (band.function == step.function) {
                banded = true;
                runs.push_back({step.label, band.status ? "status " + Hex(*band.status) : "ran",
                                band.startNs, band.endNs, band.closed});
            }
        }
        const soc::TraceRecord* first = nullptr;
        const soc::TraceRecord* last = nullptr;
        for (const soc::TraceRecord* r : lane.records) {
            if (!banded && r->op == soc::Op::Trace && r->function == step.function) {
                first = first ? first : r;
                last = r;
            }
        }
        if (first) {
            runs.push_back({step.label, "ran", first->tNs, last->tNs, true});
        }
    }
    std::stable_sort(runs.begin(), runs.end(),
                     [](const StepRun& a, const StepRun& b) { return a.startNs < b.startNs; });
    // Callbacks never overlap: one whose exit was not traced ended when the next began.
    for (std::size_t i = 0; i + 1 < runs.size(); ++i) {
        if (!runs[i].closed && runs[i].endNs > runs[i + 1].startNs) {
            runs[i].endNs = runs[i + 1].startNs;
        }
    }
    return runs;
}

void PrintSteps(const timeline::Lane& lane, std::ostream& out) {
    for (const StepRun& run : StepRuns(lane)) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-17s %-17s %12llu ns\n", run.label, run.result.c_str(),
                      static_cast<unsigned long long>(run.endNs - run.startNs));
        out << line;
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
                  const std::vector<int>& instances, std::ostream& out) {
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
        PrintSteps(*lane, out);
        std::vector<std::string> requests;
        std::vector<std::string> events;
        for (const soc::TraceRecord* r : lane->records) {
            if (r->op == soc::Op::Request) {
                requests.push_back(DescribeRequest(*r));
            } else if (r->op == soc::Op::Event) {
                std::string name = EventName(names, r->eventId);
                events.push_back(std::to_string(r->eventId) + (name.empty() ? "" : " " + name));
            }
        }
        out << "  requests: " << Compact(requests) << "\n";
        out << "  events:   " << Compact(events) << "\n";
    }
}

} // namespace pelvane
