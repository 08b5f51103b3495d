// Port configuration under the SoC's lock.
#include <soc/Soc.h>

namespace soc {

void Soc::AttachPort(int instance, int k, std::uint32_t speed, std::uint32_t linkState) {
    std::lock_guard guard(lock_);
    ports_[{instance, k}].Connect(speed, linkState);
}

void Soc::DetachPort(int instance, int k) {
    std::lock_guard guard(lock_);
    ports_[{instance, k}].Disconnect();
}

void Soc::SetPortLinkState(int instance, int k, std::uint32_t linkState) {
    std::lock_guard guard(lock_);
    ports_[{instance, k}].SetLinkState(linkState);
}

void Soc::SetPortResetTime(int instance, int k, std::uint64_t ns) {
    std::lock_guard guard(lock_);
    ports_[{instance, k}].SetResetTime(ns);
}

void Soc::SetPortValue(int instance, int k, std::uint32_t value) {
    std::lock_guard guard(lock_);
    ports_[{instance, k}].SetValue(value, clock_.NowNs());
}

int Soc::PortResetsStarted(int instance, int k) {
    std::lock_guard guard(lock_);
    return ports_[{instance, k}].ResetsStarted();
}

} // namespace soc
