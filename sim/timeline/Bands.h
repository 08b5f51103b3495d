#pragma once
// The lanes of a timeline: the trace records of one actor each, and the bands that the
// driver's entry and exit diagnostics open and close in them.
//
// A diagnostic whose message starts with the word "entry" opens a band for its function; one
// whose message starts with "exit" closes the innermost open band of the same function. Bands
// opened inside it and never closed end with it; bands still open at the end of the lane end at
// its last record. An exit message with "status 0x<hex>" gives the band its status.
#include <soc/Trace.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace timeline {

struct Band {
    std::string function;
    std::string label;
    int depth = 0; // 0 for a band opened with no other band open
    std::uint64_t startNs = 0;
    std::uint64_t endNs = 0;
    bool closed = false; // ended by its own exit diagnostic
    std::optional<std::uint32_t> status;
};

struct Lane {
    int actor = -1;
    std::string name; // "primary", "secondary", "multiport", "none", or "instance N"
    std::uint64_t startNs = 0;
    std::uint64_t endNs = 0; // the end of the last record, a delay's included
    std::vector<const soc::TraceRecord*> records;
    std::vector<Band> bands; // in the order they opened
    int depth = 0;           // rows of bands: one more than the deepest band's depth
};

// The readable name of a band: "bring-up", "HS PHY 2" and the like, else the function name.
std::string BandLabel(const std::string& function, const std::string& entryMessage);
bool IsEntryMessage(const std::string& message);
bool IsExitMessage(const std::string& message);
std::string LaneName(int actor);
// The status an exit message gives ("status 0x<hex>"), if any.
std::optional<std::uint32_t> ExitStatus(const std::string& exitMessage);
// When a record ends: a delay's time plus its length, any other record's time.
std::uint64_t RecordEnd(const soc::TraceRecord& r);

// One lane per actor that has records: the instances in ascending order, then the records
// made outside any instance's callback. Lanes point into `records`.
std::vector<Lane> BuildLanes(const std::vector<soc::TraceRecord>& records);

} // namespace timeline
