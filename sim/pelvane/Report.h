#pragma once
// pelvane-sim's readable output: the trace with a header line wherever one of the driver's
// steps begins and power events named as the manifest names them, and a short summary of
// each instance's callbacks with what each of them asked of the world, and the books.
#include "Summary.h"

#include <kmdf/Machine.h>
#include <soc/Trace.h>

#include <ostream>
#include <vector>

namespace pelvane {

// One record as the readable trace shows it, its header line first where a step begins.
void PrintReadableRecord(const soc::TraceRecord& r, const EventNames& names, std::ostream& out);
void PrintReadableTrace(const std::vector<soc::TraceRecord>& records, const EventNames& names,
                        std::ostream& out);

// The summary (Summary.h) of records kept in memory.
void PrintSummary(const std::vector<soc::TraceRecord>& records, const EventNames& names,
                  const std::vector<int>& instances, const kmdf::Books& books, std::ostream& out);

} // namespace pelvane
