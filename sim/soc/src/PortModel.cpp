// PORTSC behaviour.
#include <soc/PortModel.h>

namespace soc {

void PortModel::Connect(std::uint32_t speed, std::uint32_t linkState) {
    connected_ = true;
    speed_ = speed;
    linkState_ = linkState;
    attachedLinkState_ = linkState;
    changes_ |= 1u << 17; // connect status change
}

void PortModel::Disconnect() {
    connected_ = false;
    enabled_ = false;
    speed_ = 0;
    linkState_ = link::kRxDetect;
    changes_ |= 1u << 17;
}

void PortModel::SetValue(std::uint32_t value, std::uint64_t nowNs) {
    connected_ = (value & portsc::kCcs) != 0;
    enabled_ = (value & portsc::kPed) != 0;
    resetting_ = (value & portsc::kPr) != 0;
    resetDoneAt_ = resetNs_ == kNever ? kNever : nowNs + resetNs_;
    linkState_ = (value & portsc::kPlsMask) >> portsc::kPlsShift;
    attachedLinkState_ = linkState_;
    powered_ = (value & portsc::kPp) != 0;
    speed_ = (value & portsc::kSpeedMask) >> portsc::kSpeedShift;
    wakeOnConnect_ = (value & portsc::kWce) != 0;
    changes_ = value & portsc::kChangeMask;
    fixed_ = 0;
    fixed_ = value & ~Read(nowNs);
}

void PortModel::PowerLoss() {
    enabled_ = false;
    resetting_ = false;
    powered_ = true;
    wakeOnConnect_ = false;
    fixed_ = 0;
    linkState_ = connected_ ? attachedLinkState_ : link::kRxDetect;
    changes_ = connected_ ? 1u << 17 : 0; // connect status change
}

void PortModel::Settle(std::uint64_t nowNs) {
    if (resetting_ && resetNs_ != kNever && nowNs >= resetDoneAt_) {
        resetting_ = false;
        changes_ |= portsc::kPrc;
        if (connected_) {
            enabled_ = true;
            linkState_ = link::kU0;
        } else {
            linkState_ = link::kRxDetect; // an empty port looks for a device again
        }
    }
}

std::uint32_t PortModel::Read(std::uint64_t nowNs) {
    Settle(nowNs);
    std::uint32_t v = 0;
    v |= connected_ ? portsc::kCcs : 0;
    v |= enabled_ ? portsc::kPed : 0;
    v |= resetting_ ? portsc::kPr : 0;
    v |= (linkState_ << portsc::kPlsShift) & portsc::kPlsMask;
    v |= powered_ ? portsc::kPp : 0;
    v |= connected_ ? (speed_ << portsc::kSpeedShift) & portsc::kSpeedMask : 0;
    v |= changes_ & portsc::kChangeMask;
    v |= wakeOnConnect_ ? portsc::kWce : 0;
    return v | fixed_;
}

void PortModel::Write(std::uint32_t value, std::uint64_t nowNs) {
    Settle(nowNs);
    if (value & portsc::kPed) {
        enabled_ = false; // writing 1 disables the port
    }
    if ((value & portsc::kPr) && !resetting_) {
        resetting_ = true;
        resetDoneAt_ = resetNs_ == kNever ? kNever : nowNs + resetNs_;
        ++resetsStarted_;
    }
    if (value & portsc::kLws) {
        linkState_ = (value & portsc::kPlsMask) >> portsc::kPlsShift;
    }
    powered_ = (value & portsc::kPp) != 0;
    wakeOnConnect_ = (value & portsc::kWce) != 0;
    changes_ &= ~(value & portsc::kChangeMask);
}

} // namespace soc
