#pragma once
// pelvane-sim's readable output: the trace with a header line wherever one of the driver's
// steps begins and power events named as the manifest names them, and a short summary of
// each instance's callbacks, requests and events.
#include <soc/Trace.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace pelvane {

using EventNames = std::map<int, std::string>;

void PrintReadableTrace(const std::vector<soc::TraceRecord>& records, const EventNames& names,
                        std::ostream& out);

// One line per callback step run, then the requests and events of the instance, compacted.
void PrintSummary(const std::vector<soc::TraceRecord>& records, const EventNames& names,
                  const std::vector<int>& instances, std::ostream& out);

} // namespace pelvane
