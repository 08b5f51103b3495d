#pragma once
// The transition times of a run, as they end, kept per instance in a temporary file and read
// back in scenario order for the table at the end.
#include "Scenario.h"
#include "Spill.h"

#include <map>
#include <memory>
#include <vector>

namespace pelvane {

class TransitionLog : public ScenarioObserver {
  public:
    void TransitionEnded(const TransitionTime& t) override;

    // The instances that have transitions, in ascending order.
    std::vector<int> Instances() const;

    // Reads one instance's transitions back in the order they ended, which is the scenario's.
    class Reader {
      public:
        Reader(const TransitionLog& log, int instance);
        // The next transition, or false after the last.
        bool Next(TransitionTime& t);

      private:
        Spill* spill_;
        int instance_;
    };

  private:
    std::map<int, std::unique_ptr<Spill>> perInstance_;
};

} // namespace pelvane
