// The summary per instance and callback, built record by record.
#include "Summary.h"

#include "Bands.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <sstream>
#include <utility>

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
constexpr std::size_t kStepCount = sizeof kSteps / sizeof kSteps[0];

// Bands opened and never closed (an entry without its exit) are forgotten beyond this depth.
constexpr std::size_t kOpenLimit = 64;

const Step* StepOf(const std::string& function) {
    for (const Step& step : kSteps) {
        if (function == step.function) {
            return &step;
        }
    }
    return nullptr;
}

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// Items in order as "a, b x2, c": consecutive repeats counted as they come.
class Compacted {
  public:
    void Add(std::string item) {
        if (!items_.empty() && items_.back().first == item) {
            ++items_.back().second;
        } else {
            items_.emplace_back(std::move(item), 1);
        }
    }
    bool Empty() const { return items_.empty(); }
    std::string Text() const {
        std::string text;
        for (const auto& [item, count] : items_) {
            text += (text.empty() ? "" : ", ") + item;
            if (count > 1) {
                text += " x" + std::to_string(count);
            }
        }
        return text;
    }

  private:
    std::vector<std::pair<std::string, std::size_t>> items_;
};

// What one callback asked of the world outside the SoC and wrote to the event provider.
struct Details {
    Compacted wakeLines;
    Compacted gpioLevels;
    Compacted events;
};

std::string Failed(const soc::TraceRecord& r) {
    return r.status != 0 ? " -> " + Hex(static_cast<std::uint32_t>(r.status)) : "";
}

void Collect(const soc::TraceRecord& r, const EventNames& names, Details& d) {
    if (r.op == soc::Op::Request && r.target == "wake-line") {
        std::ostringstream line;
        line << "0x" << std::hex << std::uppercase << r.line << std::dec << " mode " << r.mode
             << Failed(r);
        d.wakeLines.Add(line.str());
    } else if (r.op == soc::Op::Request && r.target == "gpio") {
        d.gpioLevels.Add(std::to_string(r.level) + Failed(r));
    } else if (r.op == soc::Op::Event) {
        std::string name = EventName(names, r.eventId);
        d.events.Add(std::to_string(r.eventId) + (name.empty() ? "" : " " + name));
    }
}

std::string DetailLine(const char* what, const Compacted& items) {
    if (items.Empty()) {
        return "";
    }
    char head[32];
    std::snprintf(head, sizeof head, "      %-10s ", what);
    return head + items.Text() + "\n";
}

std::string DetailLines(const Details& d) {
    return DetailLine("wake-line", d.wakeLines) + DetailLine("gpio", d.gpioLevels) +
           DetailLine("events", d.events);
}

} // namespace

std::string EventName(const EventNames& names, int id) {
    auto it = names.find(id);
    return it == names.end() ? std::string() : it->second;
}

// One instance's records so far: their span, and the callback that began last with what it
// did; the callbacks before it are in `spill`. The framework's callback records give each
// callback's entry, return and status whatever the trace session. A lane without them (a trace
// recorded by hand) falls back on the callbacks' diagnostics: the bands open, and for a callback
// without entry and exit diagnostics the span of the diagnostics it wrote.
struct Summary::Lane {
    struct Open {
        std::string function;
        bool current = false; // the band of the callback that began last
    };
    bool any = false;
    bool framework = false; // callback records seen: diagnostics no longer delimit callbacks
    std::uint64_t startNs = 0;
    std::uint64_t endNs = 0;
    std::vector<Open> open;
    bool banded[kStepCount] = {};

    const Step* step = nullptr; // none before the first callback
    bool band = false;
    std::string result;
    std::uint64_t runStart = 0;
    std::uint64_t runEnd = 0;
    bool closed = false; // by its own exit, or a callback without a band
    bool ended = false;  // by the exit of a band around it
    Details details;     // of that callback, or of what came before the first one
    Spill spill;
};

namespace {

using Lane = Summary::Lane;

// Writes out the callback that began last. Callbacks never overlap: one whose exit was not
// traced ended when the next began (`next`), or with the lane when none followed.
void Finish(Lane& lane, std::optional<std::uint64_t> next) {
    if (lane.step == nullptr) {
        lane.spill.Write(DetailLines(lane.details));
        return;
    }
    std::uint64_t end = lane.runEnd;
    if (!lane.closed && !lane.ended) {
        end = next ? *next : lane.endNs;
    } else if (!lane.closed && next && end > *next) {
        end = *next;
    }
    char line[160];
    std::snprintf(line, sizeof line, "  %-17s %-17s %12llu ns\n", lane.step->label,
                  lane.result.c_str(), static_cast<unsigned long long>(end - lane.runStart));
    lane.spill.Write(line);
    lane.spill.Write(DetailLines(lane.details));
}

void Begin(Lane& lane, const Step* step, bool band, const soc::TraceRecord& r) {
    Finish(lane, r.tNs);
    lane.step = step;
    lane.band = band;
    lane.result = "ran";
    lane.runStart = r.tNs;
    lane.runEnd = r.tNs;
    lane.closed = !band;
    lane.ended = false;
    lane.details = Details();
    for (Lane::Open& o : lane.open) {
        o.current = false;
    }
}

void Entry(Lane& lane, const soc::TraceRecord& r) {
    if (lane.open.size() == kOpenLimit) {
        lane.open.erase(lane.open.begin());
    }
    const Step* step = StepOf(r.function);
    if (step != nullptr) {
        lane.banded[step - kSteps] = true;
        Begin(lane, step, true, r);
    }
    lane.open.push_back({r.function, step != nullptr});
}

// An exit closes the innermost open band of its function; bands opened inside it and never
// closed end with it.
void Exit(Lane& lane, const soc::TraceRecord& r) {
    auto match = std::find_if(lane.open.rbegin(), lane.open.rend(),
                              [&](const Lane::Open& o) { return o.function == r.function; });
    if (match == lane.open.rend()) {
        return;
    }
    std::size_t keep = static_cast<std::size_t>(lane.open.rend() - match) - 1;
    std::uint64_t at = std::max(lane.runStart, r.tNs);
    for (std::size_t i = keep + 1; i < lane.open.size(); ++i) {
        if (lane.open[i].current) {
            lane.ended = true;
            lane.runEnd = at;
        }
    }
    if (lane.open[keep].current) {
        lane.closed = true;
        lane.runEnd = at;
        std::optional<std::uint32_t> status = timeline::ExitStatus(r.message);
        lane.result = status ? "status " + Hex(*status) : "ran";
    }
    lane.open.resize(keep);
}

// A diagnostic of a step that has traced no entry in this lane.
void Unbanded(Lane& lane, const Step* step, const soc::TraceRecord& r) {
    if (lane.step != step || lane.band) {
        Begin(lane, step, false, r);
    }
    lane.runEnd = r.tNs;
}

// The framework's record of a callback's entry or return. A return closes the callback that
// began last when it is the same one; a return whose entry the lane never saw is left out.
void Framework(Lane& lane, const soc::TraceRecord& r) {
    const Step* step = StepOf(r.function);
    if (step == nullptr) {
        return;
    }
    lane.framework = true;
    if (!r.returned) {
        Begin(lane, step, true, r);
    } else if (lane.step == step && !lane.closed) {
        lane.closed = true;
        lane.runEnd = std::max(lane.runStart, r.tNs);
        lane.result = "status " + Hex(static_cast<std::uint32_t>(r.status));
    }
}

void AddRecord(Lane& lane, const soc::TraceRecord& r, const EventNames& names) {
    lane.startNs = lane.any ? std::min(lane.startNs, r.tNs) : r.tNs;
    lane.endNs = lane.any ? std::max(lane.endNs, timeline::RecordEnd(r)) : timeline::RecordEnd(r);
    lane.any = true;
    if (r.op == soc::Op::Callback) {
        Framework(lane, r);
    } else if (r.op == soc::Op::Trace && !lane.framework) {
        const Step* step = StepOf(r.function);
        if (timeline::IsEntryMessage(r.message)) {
            Entry(lane, r);
        } else {
            if (timeline::IsExitMessage(r.message)) {
                Exit(lane, r);
            }
            if (step != nullptr && !lane.banded[step - kSteps]) {
                Unbanded(lane, step, r);
            }
        }
    }
    Collect(r, names, lane.details);
}

} // namespace

Summary::Summary(EventNames names, std::vector<int> instances)
    : names_(std::move(names)), instances_(std::move(instances)) {}

Summary::~Summary() = default;

void Summary::Add(const soc::TraceRecord& r) {
    if (std::find(instances_.begin(), instances_.end(), r.actor) == instances_.end()) {
        return;
    }
    std::unique_ptr<Lane>& lane = lanes_[r.actor];
    if (!lane) {
        lane = std::make_unique<Lane>();
    }
    AddRecord(*lane, r, names_);
}

void Summary::Print(const kmdf::Books& books, std::ostream& out) {
    for (int instance : instances_) {
        out << timeline::LaneName(instance) << ":";
        auto it = lanes_.find(instance);
        if (it == lanes_.end()) {
            out << " no records\n";
            continue;
        }
        Lane& lane = *it->second;
        out << " " << lane.endNs - lane.startNs << " ns of virtual time\n";
        Finish(lane, std::nullopt);
        lane.spill.CopyTo(out);
    }
    out << "books " << (books.AllZero() ? "balanced" : "NOT balanced") << ": " << books.Describe()
        << "\n";
}

} // namespace pelvane
