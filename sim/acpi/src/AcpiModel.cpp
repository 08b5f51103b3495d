// The ACPI driver's evaluation of a device's namespace objects, with its refusal of output
// buffers that are too small: STATUS_BUFFER_TOO_SMALL when not even the output header fits,
// STATUS_BUFFER_OVERFLOW with the needed length in the header when only the arguments do not.
// In both cases nothing is reported returned.
#include <acpi/AcpiModel.h>

#include <kmdf/History.h>

#include <acpiioct.h>

#include <algorithm>
#include <cstring>

namespace acpi {

namespace {

// The method named by an evaluation input, or nothing for an input that is not one.
std::optional<std::string> MethodOf(ULONG code, const void* input, std::size_t length) {
    ULONG signature = 0;
    if (input == nullptr || length < sizeof(signature)) {
        return std::nullopt;
    }
    std::memcpy(&signature, input, sizeof(signature));
    auto* bytes = static_cast<const char*>(input);
    if (code == IOCTL_ACPI_EVAL_METHOD && signature == ACPI_EVAL_INPUT_BUFFER_SIGNATURE &&
        length >= sizeof(ACPI_EVAL_INPUT_BUFFER)) {
        std::string name(bytes + 4, 4);
        return name.substr(0, name.find('\0'));
    }
    if (code == IOCTL_ACPI_EVAL_METHOD_EX && signature == ACPI_EVAL_INPUT_BUFFER_SIGNATURE_EX &&
        length >= sizeof(ACPI_EVAL_INPUT_BUFFER_EX)) {
        const char* name = bytes + 4;
        const char* end = std::find(name, name + 256, '\0');
        if (end == name + 256) {
            return std::nullopt;
        }
        return std::string(name, end);
    }
    return std::nullopt;
}

} // namespace

AcpiModel::AcpiModel(soc::Soc& soc) : soc_(soc) {}

void AcpiModel::SetObject(const std::string& name, Answer answer) {
    std::lock_guard guard(lock_);
    objects_[name] = std::move(answer);
}

void AcpiModel::RemoveObject(const std::string& name) {
    std::lock_guard guard(lock_);
    objects_.erase(name);
}

void AcpiModel::SetPackages(const std::string& name, std::vector<Argument> arguments) {
    Answer answer;
    answer.arguments = std::move(arguments);
    SetObject(name, std::move(answer));
}

void AcpiModel::SetFlag(const std::string& name, std::uint8_t value) {
    SetPackages(name, {Buffer({value})});
}

void AcpiModel::SetFlagInteger(const std::string& name, std::uint32_t value) {
    SetPackages(name, {Integer(value)});
}

void AcpiModel::SetRaw(const std::string& name, std::vector<std::uint8_t> bytes,
                       std::optional<std::size_t> returned) {
    Answer answer;
    answer.raw = std::move(bytes);
    answer.rawReturned = returned;
    SetObject(name, std::move(answer));
}

std::vector<Evaluation> AcpiModel::Evaluations() const {
    std::lock_guard guard(lock_);
    return evaluations_;
}

void AcpiModel::ClearEvaluations() {
    std::lock_guard guard(lock_);
    evaluations_.clear();
}

void AcpiModel::LimitHistory(std::size_t evaluations) {
    std::lock_guard guard(lock_);
    historyLimit_ = evaluations;
}

NTSTATUS AcpiModel::Evaluate(const std::string& method, void* output, std::size_t outputLength,
                             ULONG_PTR* returned) {
    auto it = objects_.find(method);
    if (it == objects_.end()) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    const Answer& answer = it->second;
    if (!NT_SUCCESS(answer.status)) {
        return answer.status;
    }
    auto* out = static_cast<std::uint8_t*>(output);
    if (answer.raw) {
        std::size_t n = std::min(answer.raw->size(), outputLength);
        if (n != 0) {
            std::memcpy(out, answer.raw->data(), n);
        }
        *returned = std::min(answer.rawReturned.value_or(answer.raw->size()), outputLength);
        return STATUS_SUCCESS;
    }
    std::vector<std::uint8_t> bytes = EncodeOutput(answer);
    if (outputLength < sizeof(ACPI_EVAL_OUTPUT_BUFFER)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    if (outputLength < bytes.size()) {
        std::memcpy(out, bytes.data(), 12); // signature, needed length, count
        return STATUS_BUFFER_OVERFLOW;
    }
    std::memcpy(out, bytes.data(), bytes.size());
    *returned = bytes.size();
    return STATUS_SUCCESS;
}

NTSTATUS AcpiModel::DeviceIoControl(ULONG code, const void* input, std::size_t inputLength,
                                    void* output, std::size_t outputLength, ULONG_PTR* returned,
                                    LONGLONG timeout100ns) {
    (void)timeout100ns;
    *returned = 0;
    Evaluation e;
    e.code = code;
    e.inputLength = inputLength;
    e.outputLength = outputLength;
    {
        std::lock_guard guard(lock_);
        std::optional<std::string> method = MethodOf(code, input, inputLength);
        if (code != IOCTL_ACPI_EVAL_METHOD && code != IOCTL_ACPI_EVAL_METHOD_EX) {
            e.status = STATUS_INVALID_DEVICE_REQUEST;
        } else if (!method) {
            e.status = STATUS_INVALID_PARAMETER;
        } else {
            e.method = *method;
            e.status = Evaluate(e.method, output, outputLength, returned);
        }
        e.returned = *returned;
        kmdf::AppendBounded(evaluations_, e, historyLimit_);
    }
    soc::TraceRecord r;
    r.target = "acpi";
    r.method = e.method;
    r.status = e.status;
    soc_.RecordRequest(r);
    return e.status;
}

} // namespace acpi
