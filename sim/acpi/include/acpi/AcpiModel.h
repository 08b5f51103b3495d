#pragma once
// The ACPI firmware of one controller device as the ACPI driver below the filter presents it:
// the device's own namespace of objects, evaluated through IOCTL_ACPI_EVAL_METHOD and
// IOCTL_ACPI_EVAL_METHOD_EX. Answers can be made malformed in every way the driver must
// survive, or replaced by raw output bytes. Every evaluation is recorded in the SoC trace.
#include <kmdf/Machine.h>
#include <soc/Soc.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace acpi {

// One argument of an evaluation output. A package's data are its elements; DataLength is
// what the encoding states, unless `statedLength` says otherwise (a malformed answer).
struct Argument {
    std::uint16_t type = 0;
    std::vector<std::uint8_t> data;
    std::vector<Argument> elements;
    std::optional<std::uint16_t> statedLength;
};

Argument Integer(std::uint32_t value);
Argument Integer64(std::uint64_t value);
Argument Buffer(std::vector<std::uint8_t> bytes);
Argument String(const std::string& text);
Argument Package(std::vector<Argument> elements);
// A PHY override package: {kind, physical address, value}.
Argument Override(std::uint32_t kind, std::uint32_t address, std::uint32_t value);
// The same argument with another stated data length.
Argument WithStatedLength(Argument argument, std::uint16_t length);

// Bytes of one encoded argument: type, stated length, the data padded to four bytes at least.
std::vector<std::uint8_t> Encode(const Argument& argument);

// What an object answers.
struct Answer {
    std::vector<Argument> arguments;
    std::optional<std::uint32_t> signature; // default 'BoeA'
    std::optional<std::uint32_t> count;     // default the number of arguments
    // Raw output: these bytes are the output, with `rawReturned` bytes reported (default all,
    // never more than the output buffer), and no size check.
    std::optional<std::vector<std::uint8_t>> raw;
    std::optional<std::size_t> rawReturned;
    NTSTATUS status = STATUS_SUCCESS; // a failing object answers with this and no output
};

// The encoded output of a structured answer.
std::vector<std::uint8_t> EncodeOutput(const Answer& answer);

struct Evaluation {
    ULONG code = 0;
    std::string method;
    std::size_t inputLength = 0;
    std::size_t outputLength = 0;
    NTSTATUS status = 0;
    std::size_t returned = 0;
};

class AcpiModel : public kmdf::Endpoint {
  public:
    explicit AcpiModel(soc::Soc& soc);

    // The namespace.
    void SetObject(const std::string& name, Answer answer);
    void RemoveObject(const std::string& name);
    // "PHYC": a list of packages (or of any arguments).
    void SetPackages(const std::string& name, std::vector<Argument> arguments);
    // A one-byte switch as a one-byte buffer, or as an integer instead.
    void SetFlag(const std::string& name, std::uint8_t value);
    void SetFlagInteger(const std::string& name, std::uint32_t value);
    void SetRaw(const std::string& name, std::vector<std::uint8_t> bytes,
                std::optional<std::size_t> returned = std::nullopt);

    std::vector<Evaluation> Evaluations() const;
    void ClearEvaluations();
    // Keeps only the last `evaluations` evaluations (at least; 0, the default, keeps all).
    void LimitHistory(std::size_t evaluations);

    NTSTATUS DeviceIoControl(ULONG code, const void* input, std::size_t inputLength, void* output,
                             std::size_t outputLength, ULONG_PTR* returned,
                             LONGLONG timeout100ns) override;

  private:
    NTSTATUS Evaluate(const std::string& method, void* output, std::size_t outputLength,
                      ULONG_PTR* returned);

    soc::Soc& soc_;
    mutable std::mutex lock_;
    std::map<std::string, Answer> objects_;
    std::vector<Evaluation> evaluations_;
    std::size_t historyLimit_ = 0;
};

} // namespace acpi
