// The readable trace, and the summary of a trace kept in memory.
#include "Report.h"

#include "Bands.h"

namespace pelvane {

void PrintReadableRecord(const soc::TraceRecord& r, const EventNames& names, std::ostream& out) {
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

void PrintReadableTrace(const std::vector<soc::TraceRecord>& records, const EventNames& names,
                        std::ostream& out) {
    for (const soc::TraceRecord& r : records) {
        PrintReadableRecord(r, names, out);
    }
}

void PrintSummary(const std::vector<soc::TraceRecord>& records, const EventNames& names,
                  const std::vector<int>& instances, const kmdf::Books& books, std::ostream& out) {
    Summary summary(names, instances);
    for (const soc::TraceRecord& r : records) {
        summary.Add(r);
    }
    summary.Print(books, out);
}

} // namespace pelvane
