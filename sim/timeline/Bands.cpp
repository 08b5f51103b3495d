// Lanes by actor and the bands of their callbacks and sequences.
#include "Bands.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

namespace timeline {

namespace {

struct LabelRow {
    const char* function;
    const char* label;
    bool numbered; // followed by the PHY number of the entry message
};

const LabelRow kLabels[] = {
    {"DriverEntry", "driver entry", false},
    {"EvtDriverDeviceAdd", "device add", false},
    {"EvtDevicePrepareHardware", "prepare hardware", false},
    {"EvtDeviceReleaseHardware", "release hardware", false},
    {"EvtDeviceD0Entry", "D0 entry", false},
    {"EvtDeviceD0Exit", "D0 exit", false},
    {"BringUpController", "bring-up", false},
    {"PowerDownController", "power-down", false},
    {"PowerUpController", "power-up", false},
    {"HsPhyInitPort", "HS PHY", true},
    {"SsPhyInitPort", "SS PHY", true},
};

bool StartsWithWord(const std::string& message, const char* word) {
    std::size_t n = std::char_traits<char>::length(word);
    if (message.compare(0, n, word) != 0) {
        return false;
    }
    return message.size() == n || !std::isalnum(static_cast<unsigned char>(message[n]));
}

// The number after "PHY " in an entry message, as text.
std::string PhyNumber(const std::string& message) {
    for (std::size_t at = message.find("PHY "); at != std::string::npos;
         at = message.find("PHY ", at + 1)) {
        std::size_t d = at + 4;
        std::size_t end = d;
        while (end < message.size() && std::isdigit(static_cast<unsigned char>(message[end]))) {
            ++end;
        }
        if (end > d) {
            return message.substr(d, end - d);
        }
    }
    return "";
}

void Open(Lane& lane, std::vector<std::size_t>& open, const soc::TraceRecord& r) {
    Band b;
    b.function = r.function;
    b.label = BandLabel(r.function, r.message);
    b.depth = static_cast<int>(open.size());
    b.startNs = r.tNs;
    b.endNs = r.tNs;
    lane.depth = std::max(lane.depth, b.depth + 1);
    open.push_back(lane.bands.size());
    lane.bands.push_back(std::move(b));
}

void Close(Lane& lane, std::vector<std::size_t>& open, const soc::TraceRecord& r) {
    auto match = std::find_if(open.rbegin(), open.rend(),
                              [&](std::size_t i) { return lane.bands[i].function == r.function; });
    if (match == open.rend()) {
        return; // an exit whose entry the trace does not hold
    }
    std::size_t keep = static_cast<std::size_t>(open.rend() - match) - 1;
    while (open.size() > keep + 1) {
        Band& inner = lane.bands[open.back()];
        inner.endNs = std::max(inner.startNs, r.tNs);
        open.pop_back();
    }
    Band& b = lane.bands[open.back()];
    b.endNs = std::max(b.startNs, r.tNs);
    b.closed = true;
    b.status = ExitStatus(r.message);
    open.pop_back();
}

void FillBands(Lane& lane) {
    std::vector<std::size_t> open;
    for (const soc::TraceRecord* r : lane.records) {
        if (r->op != soc::Op::Trace) {
            continue;
        }
        if (IsEntryMessage(r->message)) {
            Open(lane, open, *r);
        } else if (IsExitMessage(r->message)) {
            Close(lane, open, *r);
        }
    }
    for (std::size_t i : open) {
        lane.bands[i].endNs = std::max(lane.bands[i].startNs, lane.endNs);
    }
}

} // namespace

std::optional<std::uint32_t> ExitStatus(const std::string& message) {
    std::size_t at = message.find("status 0x");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const char* digits = message.c_str() + at + 9;
    char* end = nullptr;
    unsigned long value = std::strtoul(digits, &end, 16);
    if (end == digits || value > 0xFFFFFFFFul) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::uint64_t RecordEnd(const soc::TraceRecord& r) {
    return r.op == soc::Op::Delay ? r.tNs + r.lengthNs : r.tNs;
}

std::string BandLabel(const std::string& function, const std::string& entryMessage) {
    for (const LabelRow& row : kLabels) {
        if (function != row.function) {
            continue;
        }
        std::string label = row.label;
        std::string number = row.numbered ? PhyNumber(entryMessage) : "";
        return number.empty() ? label : label + " " + number;
    }
    return function.empty() ? "?" : function;
}

// The word may follow what the function works on: "entry", or "HS PHY 2: entry".
static bool MarksWord(const std::string& message, const char* word) {
    if (StartsWithWord(message, word)) {
        return true;
    }
    std::size_t colon = message.find(": ");
    return colon != std::string::npos && StartsWithWord(message.substr(colon + 2), word);
}

bool IsEntryMessage(const std::string& message) {
    return MarksWord(message, "entry");
}

bool IsExitMessage(const std::string& message) {
    return MarksWord(message, "exit");
}

std::string LaneName(int actor) {
    static const char* const names[] = {"primary", "secondary", "multiport"};
    if (actor < 0) {
        return "none";
    }
    return actor < 3 ? names[actor] : "instance " + std::to_string(actor);
}

std::vector<Lane> BuildLanes(const std::vector<soc::TraceRecord>& records) {
    std::map<int, Lane> byActor;
    for (const soc::TraceRecord& r : records) {
        if (r.op == soc::Op::System) {
            continue; // the system's events belong to no lane; the picture draws them across all
        }
        int actor = r.actor < 0 ? -1 : r.actor;
        auto [it, added] = byActor.try_emplace(actor);
        Lane& lane = it->second;
        if (added) {
            lane.actor = actor;
            lane.name = LaneName(actor);
            lane.startNs = r.tNs;
            lane.endNs = RecordEnd(r);
        }
        lane.startNs = std::min(lane.startNs, r.tNs);
        lane.endNs = std::max(lane.endNs, RecordEnd(r));
        lane.records.push_back(&r);
    }
    std::vector<Lane> lanes;
    for (auto& [actor, lane] : byActor) {
        if (actor >= 0) {
            lanes.push_back(std::move(lane));
        }
    }
    if (byActor.count(-1) != 0) {
        lanes.push_back(std::move(byActor[-1]));
    }
    for (Lane& lane : lanes) {
        FillBands(lane);
    }
    return lanes;
}

} // namespace timeline
