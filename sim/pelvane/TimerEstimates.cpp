// Transition times measured under the Windows timer models.
#include "TimerEstimates.h"

#include <kmdf/Machine.h>
#include <soc/Soc.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace pelvane {

namespace {

std::string Milliseconds(std::uint64_t ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ns) / 1e6);
    return text;
}

// One model's transitions of one instance, read along with the rows.
class Column {
  public:
    Column(const TransitionLog& log, int instance) : reader_(log, instance) {
        more_ = reader_.Next(next_);
    }
    // The time of the row's transition in this model, if this run reached it.
    const TransitionTime* At(const TransitionTime& row) {
        while (more_ && next_.order < row.order) {
            more_ = reader_.Next(next_);
        }
        return more_ && next_.order == row.order && next_.transition == row.transition ? &next_
                                                                                       : nullptr;
    }

  private:
    TransitionLog::Reader reader_;
    TransitionTime next_;
    bool more_ = false;
};

} // namespace

const std::vector<TimerModel>& WindowsTimerModels() {
    static const std::vector<TimerModel> models = {
        {"exact", 0},
        {"15.625 ms", 15625000},
        {"1 ms", 1000000},
        {"0.5 ms", 500000},
    };
    return models;
}

void MeasureTransitions(const ScenarioSetup& setup, std::uint64_t resolutionNs,
                        ScenarioObserver& observer) {
    soc::Soc soc;
    if (setup.counterFrequency > 0) {
        soc.Clock().SetFrequency(setup.counterFrequency);
    }
    soc.Clock().SetTimerResolution(resolutionNs);
    // Nothing reads this run's trace: it is handed to a sink that drops it.
    struct Drop : soc::TraceSink {
        void Take(const soc::TraceRecord&) override {}
    } drop;
    soc.StreamTrace(&drop);
    std::ostringstream ignored;
    {
        kmdf::Machine machine(soc);
        World world(soc, machine, setup.world);
        world.LimitHistory(kRunHistory);
        RunScenario(setup.scenario, setup.instances, world, machine, ignored, observer);
    }
    soc.StreamTrace(nullptr);
}

TransitionTimes MeasureTransitions(const ScenarioSetup& setup, std::uint64_t resolutionNs) {
    struct Collect : ScenarioObserver {
        TransitionTimes times;
        void TransitionEnded(const TransitionTime& t) override { times.push_back(t); }
    } collect;
    MeasureTransitions(setup, resolutionNs, collect);
    std::stable_sort(collect.times.begin(), collect.times.end(),
                     [](const TransitionTime& a, const TransitionTime& b) {
                         return a.instance != b.instance ? a.instance < b.instance
                                                         : a.order < b.order;
                     });
    return collect.times;
}

void PrintTimerEstimates(const std::vector<TimerModel>& models,
                         const std::vector<const TransitionLog*>& perModel, std::ostream& out) {
    std::vector<int> instances = perModel.empty() ? std::vector<int>() : perModel[0]->Instances();
    if (instances.empty()) {
        out << "  no transitions\n";
        return;
    }
    char line[200];
    std::snprintf(line, sizeof line, "  %-10s %-28s", "instance", "transition");
    out << line;
    for (const TimerModel& model : models) {
        std::snprintf(line, sizeof line, " %11s", model.label);
        out << line;
    }
    out << "\n";
    for (int instance : instances) {
        // Each log is read by one reader at a time: the rows are the first model's column.
        std::vector<Column> others;
        for (std::size_t m = 1; m < perModel.size(); ++m) {
            others.emplace_back(*perModel[m], instance);
        }
        TransitionLog::Reader rows(*perModel[0], instance);
        for (TransitionTime t; rows.Next(t);) {
            std::snprintf(line, sizeof line, "  %-10s %-28s", soc::InstanceName(t.instance),
                          t.transition.c_str());
            out << line;
            for (std::size_t m = 0; m < perModel.size(); ++m) {
                const TransitionTime* same = m == 0 ? &t : others[m - 1].At(t);
                std::snprintf(line, sizeof line, " %11s",
                              same ? Milliseconds(same->ns).c_str() : "-");
                out << line;
            }
            out << "\n";
        }
    }
}

} // namespace pelvane
