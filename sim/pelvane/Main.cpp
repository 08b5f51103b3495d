// pelvane-sim: loads Pelvane into the KMDF stand-in on the simulated SoC, runs a named
// scenario for one or more controller instances and prints the hardware trace as it is made.
#include "CommandLine.h"
#include "Manifest.h"
#include "Report.h"
#include "Scenario.h"
#include "Summary.h"
#include "Timeline.h"
#include "TimerEstimates.h"
#include "TransitionLog.h"
#include "Walk.h"

#include <fstream>
#include <iostream>
#include <memory>
#include <string>

namespace {

// A long cycle run's picture shows its last rounds only.
constexpr int kPictureCycles = 3;

pelvane::EventNames LoadEventNames() {
    std::string error;
    auto manifest = timeline::LoadManifest(PELVANE_MANIFEST_PATH, &error);
    if (!manifest) {
        std::cerr << "pelvane-sim: events shown by id only: " << error << "\n";
        return {};
    }
    return manifest->EventNames();
}

bool WriteSvg(const std::string& path, const std::vector<soc::TraceRecord>& records,
              const pelvane::EventNames& names, const std::string& title) {
    std::ofstream file(path);
    timeline::TimelineOptions options;
    options.title = title;
    options.eventNames = names;
    timeline::WriteTimelineSvg(records, file, options);
    file.close();
    if (!file) {
        std::cerr << "pelvane-sim: cannot write \"" << path << "\"\n";
        return false;
    }
    return true;
}

// Every record goes out as the SoC completes it: as a JSON line or in the readable trace, to
// the summary, and to the picture while it keeps records.
class TraceOutput : public soc::TraceSink {
  public:
    TraceOutput(const pelvane::CommandLine& line, const pelvane::EventNames& names,
                std::ostream& out, pelvane::Summary& summary)
        : json_(line.json), names_(names), out_(out), summary_(summary) {}

    void Take(const soc::TraceRecord& r) override {
        if (json_) {
            out_ << soc::FormatJson(r) << "\n";
        } else {
            pelvane::PrintReadableRecord(r, names_, out_);
            summary_.Add(r);
        }
        if (keepPicture_) {
            picture_.push_back(r);
        }
    }

    void KeepPicture() { keepPicture_ = true; }
    const std::vector<soc::TraceRecord>& Picture() const { return picture_; }

  private:
    bool json_;
    const pelvane::EventNames& names_;
    std::ostream& out_;
    pelvane::Summary& summary_;
    bool keepPicture_ = false;
    std::vector<soc::TraceRecord> picture_;
};

// Books the transitions as they end and starts the picture with the round it shows first.
class RunObserver : public pelvane::ScenarioObserver {
  public:
    RunObserver(TraceOutput& output, pelvane::TransitionLog& log, int firstPictureRound)
        : output_(output), log_(log), firstPictureRound_(firstPictureRound) {}

    void RoundBegins(int round) override {
        if (round == firstPictureRound_) {
            output_.KeepPicture();
        }
    }
    void TransitionEnded(const pelvane::TransitionTime& t) override { log_.TransitionEnded(t); }

  private:
    TraceOutput& output_;
    pelvane::TransitionLog& log_;
    int firstPictureRound_;
};

// The transition times with this run's timer model and, with --estimates, with each Windows
// timer model, measured in a run of the same scenario in a world of its own per other model.
void PrintTransitionTimes(const pelvane::CommandLine& line, const pelvane::TransitionLog& measured,
                          std::ostream& out) {
    std::vector<pelvane::TimerModel> models;
    std::string ownLabel = "exact";
    for (const pelvane::TimerModel& model : pelvane::WindowsTimerModels()) {
        if (line.estimates) {
            models.push_back(model);
        } else if (model.resolutionNs == line.timerResolutionNs) {
            ownLabel = model.label;
        }
    }
    if (!line.estimates) {
        if (line.timerResolutionNs != 0 && ownLabel == "exact") {
            ownLabel = std::to_string(line.timerResolutionNs) + " ns";
        }
        models.push_back({ownLabel.c_str(), line.timerResolutionNs});
    }
    pelvane::ScenarioSetup setup{line.scenario, line.instances, line.world, line.counterFrequency};
    std::vector<std::unique_ptr<pelvane::TransitionLog>> others;
    std::vector<const pelvane::TransitionLog*> perModel;
    for (const pelvane::TimerModel& model : models) {
        if (model.resolutionNs == line.timerResolutionNs) {
            perModel.push_back(&measured);
            continue;
        }
        others.push_back(std::make_unique<pelvane::TransitionLog>());
        pelvane::MeasureTransitions(setup, model.resolutionNs, *others.back());
        perModel.push_back(others.back().get());
    }
    if (line.estimates) {
        out << "\ntransition times in ms, sleeps exact and ending on a system clock tick of\n";
    } else {
        out << "\ntransition times in ms (--estimates adds sleeps ending on a system clock tick\n"
               "of 15.625, 1 and 0.5 ms)\n";
    }
    pelvane::PrintTimerEstimates(models, perModel, out);
}

} // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (pelvane::WantsWalk(args)) {
        return pelvane::WalkMain(args, std::cout, std::cerr);
    }
    auto line = pelvane::ParseCommandLine(args, std::cerr);
    if (!line) {
        return 2;
    }
    if (line->help) {
        pelvane::Usage(std::cout);
        return 0;
    }
    std::ofstream file;
    std::ostream* out = &std::cout;
    if (!line->output.empty()) {
        file.open(line->output);
        if (!file) {
            std::cerr << "pelvane-sim: cannot write \"" << line->output << "\"\n";
            return 2;
        }
        out = &file;
    }

    pelvane::EventNames names = LoadEventNames();
    std::string title = "pelvane-sim " + line->scenario;
    for (int instance : line->instances) {
        title += std::string(" ") + soc::InstanceName(instance);
    }
    int firstPictureRound = -1; // the whole run
    if (line->scenario == "cycle" && line->world.cycles > kPictureCycles) {
        firstPictureRound = line->world.cycles - kPictureCycles;
        title += ", the last " + std::to_string(kPictureCycles) + " of " +
                 std::to_string(line->world.cycles) + " cycles";
    }

    soc::Soc soc;
    if (line->counterFrequency > 0) {
        soc.Clock().SetFrequency(line->counterFrequency);
    }
    soc.Clock().SetTimerResolution(line->timerResolutionNs);
    pelvane::Summary summary(names, line->instances);
    TraceOutput output(*line, names, *out, summary);
    if (!line->svg.empty() && firstPictureRound < 0) {
        output.KeepPicture();
    }
    pelvane::TransitionLog times;
    RunObserver observer(output, times, line->svg.empty() ? -1 : firstPictureRound);
    soc.StreamTrace(&output);
    bool ok;
    kmdf::Books books;
    {
        kmdf::Machine machine(soc);
        pelvane::World world(soc, machine, line->world);
        world.LimitHistory(pelvane::kRunHistory);
        ok = pelvane::RunScenario(line->scenario, line->instances, world, machine, std::cerr,
                                  observer);
        books = machine.GetBooks();
    }
    soc.FlushTrace();
    soc.StreamTrace(nullptr);
    if (!line->svg.empty() && !WriteSvg(line->svg, output.Picture(), names, title)) {
        ok = false;
    }
    if (!line->json) {
        *out << "\nsummary\n";
        summary.Print(books, *out);
        PrintTransitionTimes(*line, times, *out);
        *out << "scenario " << line->scenario << " on";
        for (int instance : line->instances) {
            *out << " " << soc::InstanceName(instance);
        }
        *out << ": " << (ok ? "passed, books balanced" : "FAILED") << "\n";
    }
    out->flush();
    if (!*out) {
        std::cerr << "pelvane-sim: cannot write the trace\n";
        ok = false;
    }
    return ok ? 0 : 1;
}
