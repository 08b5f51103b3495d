// Transition times written out as they end and read back in order.
#include "TransitionLog.h"

#include <cstdint>

namespace pelvane {

namespace {

// One transition in the file: its order, duration and the length of its name, then the name.
struct Row {
    std::int32_t order;
    std::uint32_t nameLength;
    std::uint64_t ns;
};

} // namespace

void TransitionLog::TransitionEnded(const TransitionTime& t) {
    std::unique_ptr<Spill>& spill = perInstance_[t.instance];
    if (!spill) {
        spill = std::make_unique<Spill>();
    }
    Row row{t.order, static_cast<std::uint32_t>(t.transition.size()), t.ns};
    spill->Write(&row, sizeof row);
    spill->Write(t.transition);
}

std::vector<int> TransitionLog::Instances() const {
    std::vector<int> instances;
    for (const auto& [instance, spill] : perInstance_) {
        instances.push_back(instance);
    }
    return instances;
}

TransitionLog::Reader::Reader(const TransitionLog& log, int instance)
    : spill_(nullptr), instance_(instance) {
    auto it = log.perInstance_.find(instance);
    if (it != log.perInstance_.end()) {
        spill_ = it->second.get();
        spill_->Rewind();
    }
}

bool TransitionLog::Reader::Next(TransitionTime& t) {
    Row row;
    if (spill_ == nullptr || !spill_->Read(&row, sizeof row)) {
        return false;
    }
    t.instance = instance_;
    t.order = row.order;
    t.ns = row.ns;
    t.transition.resize(row.nameLength);
    return spill_->Read(t.transition.data(), row.nameLength);
}

} // namespace pelvane
