// The timeline picture: layout of the lanes, their bands and marks, and the time axis.
#include "Timeline.h"

#include "Axis.h"
#include "Bands.h"
#include "Marks.h"
#include "Svg.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace timeline {

namespace {

constexpr double kLeft = 130; // lane names and row captions
constexpr double kRight = 24;
constexpr double kBandRow = 16;
constexpr double kBandHeight = 14;
constexpr double kAccessRow = 18;
constexpr double kDelayRow = 12;
constexpr double kGlyphRow = 14;
constexpr double kLabelRow = 11;
constexpr int kLabelRows = 3;
constexpr double kLabelChar = 5.2; // 9 px sans-serif, a little generous
constexpr double kBandChar = 5.8;  // 10 px sans-serif
constexpr double kLanePad = 6;
constexpr double kAxisHeight = 34;

struct Scale {
    std::uint64_t fromNs = 0;
    std::uint64_t toNs = 1;
    double left = kLeft;
    double width = 1;

    double X(std::uint64_t t) const {
        double f =
            static_cast<double>(t - std::min(t, fromNs)) / static_cast<double>(toNs - fromNs);
        return left + f * width;
    }
};

struct LaneLayout {
    Lane lane;
    std::vector<PointMark> marks;
    std::vector<double> markX;
    int labelRows = 0;
    double top = 0;
    double bandsTop = 0;
    double accessTop = 0;
    double delayTop = 0;
    double glyphTop = 0;
    double bottom = 0;
};

const char* BandFill(const std::string& function) {
    static const std::map<std::string, const char*> fills = {
        {"EvtDevicePrepareHardware", "#cfe2f3"},
        {"EvtDeviceReleaseHardware", "#d9d2e9"},
        {"EvtDeviceD0Entry", "#d9ead3"},
        {"EvtDeviceD0Exit", "#fce5cd"},
        {"BringUpController", "#9fc5e8"},
        {"PowerDownController", "#f9cb9c"},
        {"PowerUpController", "#b6d7a8"},
        {"HsPhyInitPort", "#ffe599"},
        {"SsPhyInitPort", "#f4cccc"},
    };
    auto it = fills.find(function);
    return it == fills.end() ? "#e6e6e6" : it->second;
}

// The band's label, or its short form without "PHY " ("SS 3"), if either fits in `width`.
std::string FittingLabel(const std::string& label, double width) {
    auto fits = [&](const std::string& text) {
        return static_cast<double>(text.size()) * kBandChar + 4 <= width;
    };
    if (fits(label)) {
        return label;
    }
    std::string shorter = label;
    std::size_t phy = shorter.find("PHY ");
    if (phy != std::string::npos) {
        shorter.erase(phy, 4);
        if (fits(shorter)) {
            return shorter;
        }
    }
    return "";
}

std::string Time(std::uint64_t ns) {
    return FormatDuration(ns);
}

void Layout(LaneLayout& l, const Scale& scale, double top, const TimelineOptions& options) {
    l.marks = BuildPointMarks(l.lane, options);
    for (const PointMark& m : l.marks) {
        l.markX.push_back(scale.X(m.record->tNs));
    }
    l.labelRows =
        PlaceLabels(l.marks, l.markX, kLabelRows, kLabelChar, scale.left + scale.width + kRight);
    l.top = top;
    l.bandsTop = top + kLanePad;
    l.accessTop = l.bandsTop + std::max(1, l.lane.depth) * kBandRow + 2;
    l.delayTop = l.accessTop + kAccessRow;
    l.glyphTop = l.delayTop + kDelayRow + 2;
    l.bottom = l.glyphTop + kGlyphRow + l.labelRows * kLabelRow + kLanePad;
}

class Painter {
  public:
    Painter(std::ostream& out, const Scale& scale) : out_(out), scale_(scale) {}

    // Drawn under the grid, which is drawn under the lanes' contents.
    void Background(const LaneLayout& l, bool shaded) {
        out_ << Tag("rect")
                    .Attr("class", "lane-bg")
                    .Attr("x", 0.0)
                    .Attr("y", l.top)
                    .Attr("width", scale_.left + scale_.width + kRight)
                    .Attr("height", l.bottom - l.top)
                    .Attr("fill", shaded ? "#f6f7f9" : "#ffffff")
                    .Empty()
             << "\n";
    }

    void Lane(const LaneLayout& l) {
        out_ << Tag("g")
                    .Attr("class", "lane")
                    .Attr("data-lane", l.lane.name)
                    .Attr("data-actor", l.lane.actor)
                    .Attr("data-start-ns", l.lane.startNs)
                    .Attr("data-end-ns", l.lane.endNs)
                    .Open()
             << "\n";
        Captions(l);
        for (const Band& b : l.lane.bands) {
            BandGroup(l, b);
        }
        AccessTicks(l);
        Delays(l);
        Points(l);
        out_ << "</g>\n";
    }

  private:
    void Caption(double y, const char* text) {
        out_ << Tag("text")
                    .Attr("class", "caption")
                    .Attr("x", scale_.left - 6)
                    .Attr("y", y)
                    .Attr("text-anchor", "end")
                    .WithText(text)
             << "\n";
    }

    void Captions(const LaneLayout& l) {
        out_ << Tag("text")
                    .Attr("class", "lane-name")
                    .Attr("x", 8.0)
                    .Attr("y", l.bandsTop + 11)
                    .WithText(l.lane.name == "none" ? "no instance" : l.lane.name)
             << "\n";
        Caption(l.bandsTop + 11, "calls");
        Caption(l.accessTop + 12, "registers");
        Caption(l.delayTop + 9, "waits");
        Caption(l.glyphTop + 10, "requests");
    }

    void BandGroup(const LaneLayout& l, const Band& b) {
        double x = scale_.X(b.startNs);
        double w = std::max(2.0, scale_.X(b.endNs) - x);
        double y = l.bandsTop + b.depth * kBandRow;
        bool failed = b.status && (*b.status & 0x80000000u) != 0;
        Tag g("g");
        g.Attr("class", "band")
            .Attr("data-lane", l.lane.name)
            .Attr("data-label", b.label)
            .Attr("data-function", b.function)
            .Attr("data-depth", b.depth)
            .Attr("data-start-ns", b.startNs)
            .Attr("data-end-ns", b.endNs)
            .Attr("data-closed", b.closed ? "true" : "false");
        std::string tip = b.label + " (" + b.function + "): " + Time(b.startNs) + " to " +
                          Time(b.endNs) + ", " + Time(b.endNs - b.startNs);
        if (b.status) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08X", *b.status);
            g.Attr("data-status", std::string_view(hex));
            tip += ", status " + std::string(hex);
        }
        if (!b.closed) {
            tip += ", no exit";
        }
        out_ << g.Open() << Tag("title").WithText(tip);
        Tag rect("rect");
        rect.Attr("x", x)
            .Attr("y", y)
            .Attr("width", w)
            .Attr("height", kBandHeight)
            .Attr("rx", 2.0)
            .Attr("fill", BandFill(b.function))
            .Attr("stroke", failed ? "#cc0000" : "#5f6368")
            .Attr("stroke-width", failed ? 1.5 : 0.6);
        if (!b.closed) {
            rect.Attr("stroke-dasharray", "3,2");
        }
        out_ << rect.Empty();
        std::string shown = FittingLabel(b.label, w);
        if (!shown.empty()) {
            out_ << Tag("text")
                        .Attr("class", "band-label")
                        .Attr("x", x + 3)
                        .Attr("y", y + 10.5)
                        .WithText(shown);
        }
        out_ << "</g>\n";
    }

    struct Bucket {
        std::size_t count = 0;
        std::uint64_t firstNs = 0;
        std::uint64_t lastNs = 0;
    };

    // Accesses that fall in one pixel column are one tick whose height grows with their count.
    void AccessTicks(const LaneLayout& l) {
        std::map<long, Bucket> columns[2];
        for (const soc::TraceRecord* r : l.lane.records) {
            if (r->op != soc::Op::Read && r->op != soc::Op::Write) {
                continue;
            }
            Bucket& b = columns[r->op == soc::Op::Write][std::lround(std::floor(scale_.X(r->tNs)))];
            b.firstNs = b.count == 0 ? r->tNs : std::min(b.firstNs, r->tNs);
            b.lastNs = std::max(b.lastNs, r->tNs);
            ++b.count;
        }
        double mid = l.accessTop + kAccessRow / 2;
        for (int write = 0; write < 2; ++write) {
            for (const auto& [column, b] : columns[write]) {
                double h = std::min(7.5, 2.0 + 1.5 * std::log2(static_cast<double>(b.count)));
                double x = static_cast<double>(column) + 0.5;
                double y1 = write ? mid + 0.5 : mid - 0.5;
                double y2 = write ? y1 + h : y1 - h;
                const char* kind = write ? "write" : "read";
                std::string tip = std::to_string(b.count) + " " + kind + (b.count == 1 ? "" : "s") +
                                  " at " + Time(b.firstNs);
                if (b.lastNs != b.firstNs) {
                    tip += " to " + Time(b.lastNs);
                }
                out_ << Tag("g")
                            .Attr("class", "mark")
                            .Attr("data-lane", l.lane.name)
                            .Attr("data-kind", kind)
                            .Attr("data-count", static_cast<std::uint64_t>(b.count))
                            .Attr("data-start-ns", b.firstNs)
                            .Attr("data-end-ns", b.lastNs)
                            .Open()
                     << Tag("title").WithText(tip)
                     << Tag("line")
                            .Attr("x1", x)
                            .Attr("y1", y1)
                            .Attr("x2", x)
                            .Attr("y2", y2)
                            .Attr("stroke", write ? "#e69138" : "#3d85c6")
                            .Attr("stroke-width", 1.0)
                            .Empty()
                     << "</g>\n";
            }
        }
    }

    void Delays(const LaneLayout& l) {
        for (const soc::TraceRecord* r : l.lane.records) {
            if (r->op != soc::Op::Delay) {
                continue;
            }
            bool sleep = r->delay == soc::DelayKind::Sleep;
            double x = scale_.X(r->tNs);
            double w = std::max(1.0, scale_.X(r->tNs + r->lengthNs) - x);
            std::string tip = std::string(sleep ? "sleep " : "busy-wait ") + Time(r->lengthNs) +
                              " at " + Time(r->tNs);
            if (!sleep) {
                tip += ", " + std::to_string(r->counterReads) + " counter reads";
            }
            out_ << Tag("g")
                        .Attr("class", "mark")
                        .Attr("data-lane", l.lane.name)
                        .Attr("data-kind", sleep ? "sleep" : "busy-wait")
                        .Attr("data-start-ns", r->tNs)
                        .Attr("data-length-ns", r->lengthNs)
                        .Open()
                 << Tag("title").WithText(tip)
                 << Tag("rect")
                        .Attr("x", x)
                        .Attr("y", l.delayTop + (sleep ? 2.0 : 1.0))
                        .Attr("width", w)
                        .Attr("height", sleep ? 6.0 : 8.0)
                        .Attr("fill", sleep ? "#93c47d" : "#cc4125")
                        .Empty()
                 << "</g>\n";
        }
    }

    std::string GlyphShape(const PointMark& m, double x, double y) {
        double s = 4.5;
        std::string points;
        auto pt = [&](double px, double py) { points += Num(px) + "," + Num(py) + " "; };
        switch (m.glyph) {
        case Glyph::Diamond:
            pt(x, y - s), pt(x + s, y), pt(x, y + s), pt(x - s, y);
            break;
        case Glyph::ArrowUp:
            pt(x, y - s), pt(x + s, y + s), pt(x - s, y + s);
            break;
        case Glyph::ArrowDown:
            pt(x - s, y - s), pt(x + s, y - s), pt(x, y + s);
            break;
        case Glyph::Square:
            pt(x - s + 1, y - s + 1), pt(x + s - 1, y - s + 1), pt(x + s - 1, y + s - 1),
                pt(x - s + 1, y + s - 1);
            break;
        case Glyph::Circle:
            return Tag("circle")
                .Attr("cx", x)
                .Attr("cy", y)
                .Attr("r", s - 0.5)
                .Attr("fill", m.color)
                .Attr("stroke", m.failed ? "#cc0000" : "none")
                .Empty();
        case Glyph::Cross:
            return Tag("path")
                .Attr("d", "M" + Num(x - s) + "," + Num(y - s) + "L" + Num(x + s) + "," +
                               Num(y + s) + "M" + Num(x - s) + "," + Num(y + s) + "L" + Num(x + s) +
                               "," + Num(y - s))
                .Attr("stroke", m.color)
                .Attr("stroke-width", 1.6)
                .Empty();
        }
        points.pop_back();
        return Tag("polygon")
            .Attr("points", points)
            .Attr("fill", m.color)
            .Attr("stroke", m.failed ? "#cc0000" : "none")
            .Attr("stroke-width", 1.5)
            .Empty();
    }

    void Points(const LaneLayout& l) {
        for (std::size_t i = 0; i < l.marks.size(); ++i) {
            const PointMark& m = l.marks[i];
            double x = l.markX[i];
            Tag g("g");
            g.Attr("class", "mark")
                .Attr("data-lane", l.lane.name)
                .Attr("data-kind", m.kind)
                .Attr("data-start-ns", m.record->tNs);
            for (const auto& [key, value] : m.data) {
                g.Attr("data-" + key, value);
            }
            out_ << g.Open() << Tag("title").WithText(m.tooltip)
                 << GlyphShape(m, x, l.glyphTop + kGlyphRow / 2);
            if (m.labelRow >= 0) {
                out_ << Tag("text")
                            .Attr("class", "mark-label")
                            .Attr("x", m.labelX)
                            .Attr("y", l.glyphTop + kGlyphRow + 8 + m.labelRow * kLabelRow)
                            .Attr("fill", m.failed ? "#cc0000" : "#333333")
                            .WithText(m.label);
            }
            out_ << "</g>\n";
        }
    }

    std::ostream& out_;
    const Scale& scale_;
};

void Styles(std::ostream& out) {
    out << "<style>"
           "text{font-family:sans-serif;fill:#202124}"
           ".title{font-size:14px;font-weight:bold}"
           ".lane-name{font-size:12px;font-weight:bold}"
           ".caption{font-size:9px;fill:#80868b}"
           ".band-label{font-size:10px}"
           ".mark-label{font-size:9px}"
           ".legend text,.axis text{font-size:10px}"
           "</style>\n";
}

void Legend(std::ostream& out, double y) {
    struct Item {
        const char* text;
        const char* shape;
    };
    const Item items[] = {
        {"read", "<line x1=\"0\" y1=\"4\" x2=\"0\" y2=\"-4\" stroke=\"#3d85c6\"/>"},
        {"write", "<line x1=\"0\" y1=\"4\" x2=\"0\" y2=\"-4\" stroke=\"#e69138\"/>"},
        {"sleep", "<rect x=\"-5\" y=\"-3\" width=\"10\" height=\"6\" fill=\"#93c47d\"/>"},
        {"busy-wait", "<rect x=\"-5\" y=\"-4\" width=\"10\" height=\"8\" fill=\"#cc4125\"/>"},
        {"ACPI", "<polygon points=\"0,-4.5 4.5,0 0,4.5 -4.5,0\" fill=\"#674ea7\"/>"},
        {"GPIO high/low", "<polygon points=\"0,-4.5 4.5,4.5 -4.5,4.5\" fill=\"#38761d\"/>"},
        {"wake-line", "<rect x=\"-3.5\" y=\"-3.5\" width=\"7\" height=\"7\" fill=\"#0b5394\"/>"},
        {"event", "<circle r=\"4\" fill=\"#a61c00\"/>"},
        {"warning/error", "<path d=\"M-4,-4L4,4M-4,4L4,-4\" stroke=\"#cc0000\" "
                          "stroke-width=\"1.6\"/>"},
    };
    out << "<g class=\"legend\">";
    double x = kLeft;
    for (const Item& item : items) {
        out << "<g transform=\"translate(" << Num(x) << "," << Num(y) << ")\">" << item.shape
            << Tag("text").Attr("x", 8.0).Attr("y", 3.5).WithText(item.text) << "</g>";
        x += 22 + std::char_traits<char>::length(item.text) * 5.8;
    }
    out << "</g>\n";
}

AxisTicks Ticks(const Scale& scale) {
    return ChooseTicks(scale.fromNs, scale.toNs, std::max(2, static_cast<int>(scale.width / 90)));
}

void Grid(std::ostream& out, const Scale& scale, double top, double bottom) {
    AxisTicks ticks = Ticks(scale);
    out << "<g class=\"grid\">";
    for (std::uint64_t t : ticks.ticksNs) {
        out << Tag("line")
                   .Attr("x1", scale.X(t))
                   .Attr("y1", top)
                   .Attr("x2", scale.X(t))
                   .Attr("y2", bottom)
                   .Attr("stroke", "#dadce0")
                   .Attr("stroke-width", 0.5)
                   .Empty();
    }
    out << "</g>\n";
}

void Axis(std::ostream& out, const Scale& scale, double bottom) {
    AxisTicks ticks = Ticks(scale);
    out << "<g class=\"axis\">";
    out << Tag("line")
               .Attr("x1", scale.left)
               .Attr("y1", bottom)
               .Attr("x2", scale.left + scale.width)
               .Attr("y2", bottom)
               .Attr("stroke", "#5f6368")
               .Empty();
    for (std::uint64_t t : ticks.ticksNs) {
        double x = scale.X(t);
        out << Tag("g").Attr("class", "tick").Attr("data-ns", t).Open()
            << Tag("line")
                   .Attr("x1", x)
                   .Attr("y1", bottom)
                   .Attr("x2", x)
                   .Attr("y2", bottom + 5)
                   .Attr("stroke", "#5f6368")
                   .Empty()
            << Tag("text")
                   .Attr("x", x)
                   .Attr("y", bottom + 17)
                   .Attr("text-anchor", "middle")
                   .WithText(FormatTime(t, ticks.stepNs, ticks.ticksNs.back()))
            << "</g>";
    }
    out << Tag("text")
               .Attr("x", scale.left + scale.width)
               .Attr("y", bottom + 30)
               .Attr("text-anchor", "end")
               .WithText("virtual time of each instance")
        << "</g>\n";
}

// The name a world event carries above the lanes: the system's power event, or the PnP event
// of a device outside the SoC with the instance it happened to ("wake-line 2 query-remove
// vetoed").
std::string WorldEventName(const soc::TraceRecord& r) {
    if (r.op == soc::Op::System) {
        return r.event;
    }
    std::string name = r.target + " " + std::to_string(r.service) + " " + r.event;
    if (r.event == "query-remove") {
        name += r.vetoed ? " vetoed" : " passed";
    }
    return name;
}

// The system's power events (idle, hibernate, power-off, ...) and the PnP events of the devices
// the driver uses: a dashed line across every lane at the moment the event reached the
// instances, named above the lanes.
void SystemEvents(std::ostream& out, const std::vector<soc::TraceRecord>& records,
                  const Scale& scale, double top, double bottom) {
    out << "<g class=\"system\">";
    double lastX = -1e9;
    int row = 0;
    for (const soc::TraceRecord& r : records) {
        if (r.op != soc::Op::System && r.op != soc::Op::Pnp) {
            continue;
        }
        const bool pnp = r.op == soc::Op::Pnp;
        const char* color = pnp ? "#7f6000" : "#e37400";
        double x = scale.X(r.tNs);
        // Events at (nearly) one moment stack their names instead of overwriting them.
        row = x - lastX < kLabelChar * 12 ? row + 1 : 0;
        lastX = x;
        out << Tag("g")
                   .Attr("class", pnp ? "pnp-event" : "system-event")
                   .Attr("data-ns", r.tNs)
                   .Open()
            << Tag("line")
                   .Attr("x1", x)
                   .Attr("y1", top)
                   .Attr("x2", x)
                   .Attr("y2", bottom)
                   .Attr("stroke", color)
                   .Attr("stroke-width", 1)
                   .Attr("stroke-dasharray", pnp ? "1 3" : "4 3")
                   .Empty()
            << Tag("text")
                   .Attr("x", x + 2)
                   .Attr("y", top + 9 + kLabelRow * (row % kLabelRows))
                   .Attr("font-size", 9)
                   .Attr("fill", color)
                   .WithText(WorldEventName(r))
            << "</g>";
    }
    out << "</g>\n";
}

Scale MakeScale(const std::vector<Lane>& lanes, int widthPx) {
    Scale scale;
    scale.width = std::max(100.0, widthPx - kLeft - kRight);
    if (lanes.empty()) {
        return scale;
    }
    scale.fromNs = lanes.front().startNs;
    scale.toNs = lanes.front().endNs;
    for (const Lane& lane : lanes) {
        scale.fromNs = std::min(scale.fromNs, lane.startNs);
        scale.toNs = std::max(scale.toNs, lane.endNs);
    }
    if (scale.toNs == scale.fromNs) {
        scale.toNs = scale.fromNs + 1;
    }
    return scale;
}

} // namespace

void WriteTimelineSvg(const std::vector<soc::TraceRecord>& records, std::ostream& out,
                      const TimelineOptions& options) {
    std::vector<Lane> lanes = BuildLanes(records);
    Scale scale = MakeScale(lanes, options.widthPx);
    double y = 8;
    if (!options.title.empty()) {
        y += 20;
    }
    double legendY = y + 6;
    y += 20;
    double lanesTop = y;
    std::vector<LaneLayout> layouts;
    for (Lane& lane : lanes) {
        LaneLayout l;
        l.lane = std::move(lane);
        Layout(l, scale, y, options);
        y = l.bottom;
        layouts.push_back(std::move(l));
    }
    double width = scale.left + scale.width + kRight;
    double height = y + kAxisHeight + 4;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << Tag("svg")
               .Attr("xmlns", "http://www.w3.org/2000/svg")
               .Attr("width", width)
               .Attr("height", height)
               .Attr("viewBox", "0 0 " + Num(width) + " " + Num(height))
               .Attr("data-start-ns", scale.fromNs)
               .Attr("data-end-ns", scale.toNs)
               .Open()
        << "\n";
    Styles(out);
    out << Tag("rect").Attr("width", width).Attr("height", height).Attr("fill", "#ffffff").Empty()
        << "\n";
    if (!options.title.empty()) {
        out << Tag("text")
                   .Attr("class", "title")
                   .Attr("x", 8.0)
                   .Attr("y", 20.0)
                   .WithText(options.title)
            << "\n";
    }
    Legend(out, legendY);
    Painter painter(out, scale);
    bool shaded = false;
    for (const LaneLayout& l : layouts) {
        painter.Background(l, shaded);
        shaded = !shaded;
    }
    Grid(out, scale, lanesTop, y);
    for (const LaneLayout& l : layouts) {
        painter.Lane(l);
    }
    SystemEvents(out, records, scale, lanesTop, y);
    Axis(out, scale, y);
    out << "</svg>\n";
}

} // namespace timeline
