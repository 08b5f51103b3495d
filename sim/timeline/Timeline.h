#pragma once
// The timeline picture of a scenario: an SVG document with one lane per instance, the bands of
// its callbacks and sequences stacked by nesting, marks for register accesses, sleeps,
// busy-waits, requests outside the SoC, events and warning or error diagnostics, and a time
// axis along the bottom. All lanes share one scale; each lane is placed by its own records'
// times, so instances that ran at once on their own clocks line up from the same origin.
//
// For tools that read the picture back, every band and mark is a <g> element with data-
// attributes: class "lane" (data-lane, data-actor, data-start-ns, data-end-ns), class "band"
// (data-lane, data-label, data-function, data-depth, data-start-ns, data-end-ns, data-closed,
// data-status when the exit gave one) and class "mark" (data-lane, data-kind "read", "write",
// "sleep", "busy-wait", "request", "event" or "diagnostic", data-start-ns, and per kind:
// data-count and data-end-ns for the access ticks, which gather the accesses of one pixel
// column; data-length-ns for delays; data-target, data-method, data-level, data-line,
// data-mode, data-status for requests; data-id, data-name, data-opcode, data-payload for
// events; data-level, data-function for diagnostics).
#include <soc/Trace.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace timeline {

struct TimelineOptions {
    int widthPx = 1200; // the whole picture; the plot is this less the lane labels
    std::string title;  // drawn above the lanes when not empty
    std::map<int, std::string> eventNames; // by event id, e.g. from the event manifest
};

void WriteTimelineSvg(const std::vector<soc::TraceRecord>& records, std::ostream& out,
                      const TimelineOptions& options = {});

} // namespace timeline
