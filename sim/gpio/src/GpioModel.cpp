// The GPIO controller's pin writes, as the resource hub delivers them.
#include <gpio/GpioModel.h>

#include <kmdf/History.h>

#include <gpio.h>

#include <cstdio>

namespace gpio {

std::wstring ResourceHubPath(std::uint32_t idLowPart, std::uint32_t idHighPart) {
    char digits[17];
    std::snprintf(digits, sizeof digits, "%08x%08x", idHighPart, idLowPart);
    return L"\\Device\\RESOURCE_HUB\\" + std::wstring(digits, digits + 16);
}

GpioModel::GpioModel(soc::Soc& soc) : soc_(soc) {}

void GpioModel::Answer() {
    std::lock_guard guard(lock_);
    mode_ = Mode::Answer;
}

void GpioModel::FailWrites(NTSTATUS status) {
    std::lock_guard guard(lock_);
    mode_ = Mode::Fail;
    failure_ = status;
}

void GpioModel::NeverAnswer() {
    std::lock_guard guard(lock_);
    mode_ = Mode::Silent;
}

std::vector<PinWrite> GpioModel::Writes() const {
    std::lock_guard guard(lock_);
    return writes_;
}

void GpioModel::LimitHistory(std::size_t writes) {
    std::lock_guard guard(lock_);
    historyLimit_ = writes;
}

void GpioModel::PowerLoss() {
    std::lock_guard guard(lock_);
    level_ = 0;
}

int GpioModel::Level() const {
    std::lock_guard guard(lock_);
    return level_;
}

void GpioModel::Record(int level, NTSTATUS status) {
    {
        std::lock_guard guard(lock_);
        kmdf::AppendBounded(writes_, PinWrite{level, status}, historyLimit_);
    }
    soc::TraceRecord r;
    r.target = "gpio";
    r.level = level;
    r.status = status;
    soc_.RecordRequest(r);
}

NTSTATUS GpioModel::DeviceIoControl(ULONG code, const void* input, std::size_t inputLength,
                                    void* output, std::size_t outputLength, ULONG_PTR* returned,
                                    LONGLONG timeout100ns) {
    (void)output;
    (void)outputLength;
    (void)timeout100ns;
    *returned = 0;
    if (code != IOCTL_GPIO_WRITE_PINS) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (input == nullptr || inputLength < 1) {
        Record(-1, STATUS_INVALID_PARAMETER);
        return STATUS_INVALID_PARAMETER;
    }
    const int level = *static_cast<const std::uint8_t*>(input);
    NTSTATUS status = STATUS_SUCCESS;
    {
        std::lock_guard guard(lock_);
        if (mode_ == Mode::Silent) {
            pendingLevel_ = level;
            return STATUS_PENDING; // recorded when the sender gives up
        }
        if (mode_ == Mode::Fail) {
            status = failure_;
        } else {
            level_ = level;
        }
    }
    Record(level, status);
    return status;
}

void GpioModel::Cancelled(ULONG code, NTSTATUS status) {
    (void)code;
    int level;
    {
        std::lock_guard guard(lock_);
        level = pendingLevel_;
        pendingLevel_ = -1;
    }
    Record(level, status);
}

} // namespace gpio
