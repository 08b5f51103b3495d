#pragma once
// The summary of a run, built as the records arrive: per instance one line per callback run
// (status, virtual duration) and under it, compacted, the wake-line calls it made (line and
// mode), the GPIO levels it wrote and the power events it wrote. The callbacks come from the
// framework's callback records, so the lines are the same under any WPP trace session (or
// none); the instance's virtual time counts every record, diagnostics too. A callback's lines are
// written out (to a temporary file) when the next callback of its instance begins, so that
// the memory held does not grow with the run.
#include "Spill.h"

#include <kmdf/Machine.h>
#include <soc/Trace.h>

#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace pelvane {

using EventNames = std::map<int, std::string>;
// The manifest's name of an event, "" for one it does not name.
std::string EventName(const EventNames& names, int id);

class Summary {
  public:
    Summary(EventNames names, std::vector<int> instances);
    ~Summary();
    Summary(const Summary&) = delete;
    Summary& operator=(const Summary&) = delete;

    // The records of one instance in the order they were made.
    void Add(const soc::TraceRecord& r);
    // Each instance's part (the callbacks in the order they ran), then the machine's books.
    void Print(const kmdf::Books& books, std::ostream& out);

    struct Lane;

  private:
    EventNames names_;
    std::vector<int> instances_;
    std::map<int, std::unique_ptr<Lane>> lanes_;
};

} // namespace pelvane
