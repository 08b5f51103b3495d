// Request, event and diagnostic marks.
#include "Marks.h"

#include "Axis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace timeline {

namespace {

std::string Hex(std::int64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string StatusText(std::int32_t status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    return text;
}

PointMark Request(const soc::TraceRecord& r) {
    PointMark m;
    m.kind = "request";
    m.data.emplace_back("target", r.target);
    m.failed = r.status < 0;
    if (r.target == "acpi") {
        m.glyph = Glyph::Diamond;
        m.color = "#674ea7";
        m.label = "ACPI " + r.method;
        m.data.emplace_back("method", r.method);
    } else if (r.target == "gpio") {
        m.glyph = r.level != 0 ? Glyph::ArrowUp : Glyph::ArrowDown;
        m.color = "#38761d";
        m.label = r.level != 0 ? "GPIO high" : "GPIO low";
        m.data.emplace_back("level", std::to_string(r.level));
    } else {
        m.glyph = Glyph::Square;
        m.color = "#0b5394";
        m.label = r.target;
        if (!r.method.empty()) {
            m.label += " " + r.method;
            m.data.emplace_back("method", r.method);
        }
        if (r.line >= 0) {
            m.label += " " + Hex(r.line);
            m.data.emplace_back("line", std::to_string(r.line));
        }
        if (r.mode >= 0) {
            m.label += " mode " + std::to_string(r.mode);
            m.data.emplace_back("mode", std::to_string(r.mode));
        }
    }
    m.data.emplace_back("status", std::to_string(r.status));
    if (m.failed) {
        m.label += " failed";
    }
    m.tooltip = m.label + " -> " + StatusText(r.status);
    return m;
}

PointMark Event(const soc::TraceRecord& r, const TimelineOptions& options) {
    PointMark m;
    m.kind = "event";
    m.glyph = Glyph::Circle;
    m.color = "#a61c00";
    auto name = options.eventNames.find(r.eventId);
    std::string title =
        name != options.eventNames.end() ? name->second : "event " + std::to_string(r.eventId);
    std::string payload;
    for (std::size_t i = 0; i < r.payload.size(); ++i) {
        payload += (i ? " " : "") + std::to_string(r.payload[i]);
    }
    m.data.emplace_back("id", std::to_string(r.eventId));
    if (name != options.eventNames.end()) {
        m.data.emplace_back("name", name->second);
    }
    m.data.emplace_back("opcode", std::to_string(r.opcode));
    m.data.emplace_back("payload", payload);
    m.label = title;
    if (!r.payload.empty()) {
        std::string listed;
        for (std::size_t i = 0; i < r.payload.size(); ++i) {
            listed += (i ? ", " : "") + std::to_string(r.payload[i]);
        }
        m.label += " (" + listed + ")";
    }
    m.tooltip = m.label + ", opcode " + std::to_string(r.opcode);
    return m;
}

PointMark Diagnostic(const soc::TraceRecord& r) {
    PointMark m;
    m.kind = "diagnostic";
    m.glyph = Glyph::Cross;
    m.failed = r.level <= 2;
    m.color = m.failed ? "#cc0000" : "#bf9000";
    m.data.emplace_back("level", std::to_string(r.level));
    m.data.emplace_back("function", r.function);
    std::string text = r.message.size() > 40 ? r.message.substr(0, 37) + "..." : r.message;
    m.label = text;
    m.tooltip = r.function + ": " + r.message;
    return m;
}

} // namespace

std::vector<PointMark> BuildPointMarks(const Lane& lane, const TimelineOptions& options) {
    std::vector<PointMark> marks;
    for (const soc::TraceRecord* r : lane.records) {
        PointMark m;
        if (r->op == soc::Op::Request) {
            m = Request(*r);
        } else if (r->op == soc::Op::Event) {
            m = Event(*r, options);
        } else if (r->op == soc::Op::Trace && r->level >= 1 && r->level <= 3) {
            m = Diagnostic(*r);
        } else {
            continue;
        }
        m.record = r;
        m.tooltip += " at " + FormatDuration(r->tNs);
        marks.push_back(std::move(m));
    }
    return marks;
}

namespace {

std::string FirstWord(const std::string& label) {
    return label.substr(0, label.find(' '));
}

// Later marks of a run at one column whose labels begin with the same word lend the rest of
// their label to the first; their own label goes.
void JoinLabels(std::vector<PointMark>& marks, const std::vector<double>& x) {
    std::size_t first = 0;
    for (std::size_t i = 1; i < marks.size(); ++i) {
        PointMark& head = marks[first];
        PointMark& m = marks[i];
        std::string word = FirstWord(m.label);
        bool same = std::abs(x[i] - x[first]) < 1.0 && m.kind == head.kind &&
                    m.glyph == head.glyph && !m.failed && !head.failed &&
                    word == FirstWord(head.label) && word.size() < m.label.size();
        if (same) {
            head.label += "," + m.label.substr(word.size());
            m.label.clear();
        } else {
            first = i;
        }
    }
}

} // namespace

int PlaceLabels(std::vector<PointMark>& marks, const std::vector<double>& x, int rows,
                double charWidth, double right) {
    JoinLabels(marks, x);
    std::vector<double> freeFrom(static_cast<std::size_t>(rows), -1e9);
    int used = 0;
    for (std::size_t i = 0; i < marks.size(); ++i) {
        if (marks[i].label.empty()) {
            continue;
        }
        double width = static_cast<double>(marks[i].label.size()) * charWidth;
        double start = std::min(x[i] - 3.0, right - width);
        for (int row = 0; row < rows; ++row) {
            if (start >= freeFrom[static_cast<std::size_t>(row)]) {
                marks[i].labelRow = row;
                marks[i].labelX = start;
                freeFrom[static_cast<std::size_t>(row)] = start + width + 6.0;
                used = std::max(used, row + 1);
                break;
            }
        }
    }
    return used;
}

} // namespace timeline
