#pragma once
// The marks of a lane that stand at one instant: requests to devices outside the SoC, events
// and warning or error diagnostics, with their labels and the attributes that describe them.
#include "Bands.h"
#include "Timeline.h"

#include <string>
#include <utility>
#include <vector>

namespace timeline {

enum class Glyph { Diamond, ArrowUp, ArrowDown, Square, Circle, Cross };

struct PointMark {
    const soc::TraceRecord* record = nullptr;
    std::string kind;                                      // "request", "event", "diagnostic"
    std::vector<std::pair<std::string, std::string>> data; // data- attributes beyond the kind
    std::string label;
    std::string tooltip;
    Glyph glyph = Glyph::Circle;
    const char* color = "#000000";
    bool failed = false; // a request that did not succeed, an error diagnostic
    int labelRow = -1;   // row of its label under the glyphs, -1 when there is no room
    double labelX = 0;   // where its label starts
};

std::vector<PointMark> BuildPointMarks(const Lane& lane, const TimelineOptions& options);

// Gives each mark at position x[i] the first of `rows` label rows where its label, `charWidth`
// per character, does not run into the label before it; a label that would run past `right`
// ends there instead. Marks of one kind and target in the same pixel column share one label
// ("ACPI PHYC, GEN1"). Returns the rows used.
int PlaceLabels(std::vector<PointMark>& marks, const std::vector<double>& x, int rows,
                double charWidth, double right);

} // namespace timeline
