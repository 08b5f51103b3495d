#pragma once
// pelvane-sim's readable output: the trace with a header line wherever one of the driver's
// steps begins and power events named as the manifest names them, and a short summary of
// each instance's callbacks with what each of them asked of the world, and the books.
#include <kmdf/Machine.h>
#include <soc/Trace.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace pelvane {

using EventNames = std::map<int, std::string>;

void PrintReadableTrace(const std::vector<soc::TraceRecord>& records, const EventNames& names,
                        std::ostream& out);

// Per instance one line per callback run (status, virtual duration) and under it, compacted,
// the wake-line calls it made (line and mode), the GPIO levels it wrote and the power events
// it wrote; then the machine's books.
void PrintSummary(const std::vector<soc::TraceRecord>& records, const EventNames& names,
                  const std::vector<int>& instances, const kmdf::Books& books, std::ostream& out);

} // namespace pelvane
