#pragma once
// An xHCI port status and control register (PORTSC): connect status, enable, reset, link
// state, power, speed, wake-on-connect and the write-1-to-clear change bits. A port reset
// completes after a configurable virtual time, or never. A port may also be set to read a
// given value, which it then keeps as its state: bits the model knows behave as such (a
// reset started by a write still runs its course), the others read back as they were set.
#include <cstdint>

namespace soc {

namespace portsc {
inline constexpr std::uint32_t kCcs = 1u << 0;
inline constexpr std::uint32_t kPed = 1u << 1;
inline constexpr std::uint32_t kPr = 1u << 4;
inline constexpr std::uint32_t kPlsShift = 5;
inline constexpr std::uint32_t kPlsMask = 0xFu << kPlsShift;
inline constexpr std::uint32_t kPp = 1u << 9;
inline constexpr std::uint32_t kSpeedShift = 10;
inline constexpr std::uint32_t kSpeedMask = 0xFu << kSpeedShift;
inline constexpr std::uint32_t kLws = 1u << 16;
inline constexpr std::uint32_t kChangeMask = 0x7Fu << 17; // CSC..CEC
inline constexpr std::uint32_t kPrc = 1u << 21;
inline constexpr std::uint32_t kWce = 1u << 25;
} // namespace portsc

namespace link {
inline constexpr std::uint32_t kU0 = 0;
inline constexpr std::uint32_t kU3 = 3;
inline constexpr std::uint32_t kDisabled = 4;
inline constexpr std::uint32_t kRxDetect = 5;
inline constexpr std::uint32_t kPolling = 7;
inline constexpr std::uint32_t kResume = 15;
} // namespace link

class PortModel {
  public:
    static constexpr std::uint64_t kNever = UINT64_MAX;

    void Connect(std::uint32_t speed, std::uint32_t linkState);
    void Disconnect();
    void SetLinkState(std::uint32_t linkState) { linkState_ = linkState; }
    void SetResetTime(std::uint64_t ns) { resetNs_ = ns; }
    // The port reads `value` from now on: connect, enable, link state, power, speed, wake on
    // connect and the change bits are taken from it, the other bits read as given. A value
    // with the reset bit set is a reset in progress since `nowNs`.
    void SetValue(std::uint32_t value, std::uint64_t nowNs);

    // The SoC lost power: the port's register state is back at its defaults (powered, not
    // enabled, no reset in progress, no wake on connect, no value set); the attached device
    // and the reset time survive, and a device still attached shows a connect change.
    void PowerLoss();

    std::uint32_t Read(std::uint64_t nowNs);
    void Write(std::uint32_t value, std::uint64_t nowNs);
    std::uint32_t Peek(std::uint64_t nowNs) { return Read(nowNs); }
    int ResetsStarted() const { return resetsStarted_; }

  private:
    void Settle(std::uint64_t nowNs);

    bool connected_ = false;
    bool enabled_ = false;
    bool powered_ = true;
    bool wakeOnConnect_ = false;
    bool resetting_ = false;
    std::uint64_t resetDoneAt_ = 0;
    std::uint64_t resetNs_ = 10'000'000; // 10 ms
    std::uint32_t linkState_ = link::kRxDetect;
    std::uint32_t speed_ = 0;
    std::uint32_t attachedLinkState_ = link::kRxDetect; // the link state the device trains to
    std::uint32_t changes_ = 0;
    std::uint32_t fixed_ = 0; // bits the model does not know, read as they were set
    int resetsStarted_ = 0;
};

} // namespace soc
