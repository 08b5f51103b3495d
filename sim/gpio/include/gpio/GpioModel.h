#pragma once
// The GPIO controller behind the resource hub: one line, written with IOCTL_GPIO_WRITE_PINS.
// It records every pin write with the level and the status the sender saw, and can be told
// to fail writes or to never answer them (the sender's time-out then ends the request).
// Every write is recorded in the SoC trace.
#include <kmdf/Machine.h>
#include <soc/Soc.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace gpio {

// "\Device\RESOURCE_HUB\" and the 64-bit connection ID as 16 lower-case hex digits, high
// half first: the name a GPIO target is opened by.
std::wstring ResourceHubPath(std::uint32_t idLowPart, std::uint32_t idHighPart);

struct PinWrite {
    int level = -1;
    NTSTATUS status = 0;
};

class GpioModel : public kmdf::Endpoint {
  public:
    explicit GpioModel(soc::Soc& soc);

    // Writes from now on: answered (default), failed with `status`, or never answered.
    void Answer();
    void FailWrites(NTSTATUS status);
    void NeverAnswer();

    std::vector<PinWrite> Writes() const;
    // Keeps only the last `writes` writes (at least; 0, the default, keeps all).
    void LimitHistory(std::size_t writes);
    int Level() const; // the level of the line; -1 before the first write that took effect
    // The SoC lost power: the line is low. How the controller answers survives.
    void PowerLoss();

    NTSTATUS DeviceIoControl(ULONG code, const void* input, std::size_t inputLength, void* output,
                             std::size_t outputLength, ULONG_PTR* returned,
                             LONGLONG timeout100ns) override;
    void Cancelled(ULONG code, NTSTATUS status) override;

  private:
    enum class Mode { Answer, Fail, Silent };
    void Record(int level, NTSTATUS status);

    soc::Soc& soc_;
    mutable std::mutex lock_;
    Mode mode_ = Mode::Answer;
    NTSTATUS failure_ = STATUS_SUCCESS;
    int level_ = -1;
    int pendingLevel_ = -1;
    std::vector<PinWrite> writes_;
    std::size_t historyLimit_ = 0;
};

} // namespace gpio
