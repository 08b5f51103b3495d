// Evaluation outputs as the ACPI driver lays them out: a 12-byte header (signature, length,
// count) and the arguments, each a 4-byte header and its data padded to four bytes at least.
#include <acpi/AcpiModel.h>

#include <acpiioct.h>

#include <algorithm>
#include <cstring>

namespace acpi {

namespace {

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    PutU16(out, static_cast<std::uint16_t>(v));
    PutU16(out, static_cast<std::uint16_t>(v >> 16));
}

std::vector<std::uint8_t> LittleEndian(std::uint64_t value, int bytes) {
    std::vector<std::uint8_t> out;
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    return out;
}

} // namespace

Argument Integer(std::uint32_t value) {
    return Argument{ACPI_METHOD_ARGUMENT_INTEGER, LittleEndian(value, 4), {}, {}};
}

Argument Integer64(std::uint64_t value) {
    return Argument{ACPI_METHOD_ARGUMENT_INTEGER, LittleEndian(value, 8), {}, {}};
}

Argument Buffer(std::vector<std::uint8_t> bytes) {
    return Argument{ACPI_METHOD_ARGUMENT_BUFFER, std::move(bytes), {}, {}};
}

Argument String(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return Argument{ACPI_METHOD_ARGUMENT_STRING, std::move(bytes), {}, {}};
}

Argument Package(std::vector<Argument> elements) {
    return Argument{ACPI_METHOD_ARGUMENT_PACKAGE, {}, std::move(elements), {}};
}

Argument Override(std::uint32_t kind, std::uint32_t address, std::uint32_t value) {
    return Package({Integer(kind), Integer(address), Integer(value)});
}

Argument WithStatedLength(Argument argument, std::uint16_t length) {
    argument.statedLength = length;
    return argument;
}

std::vector<std::uint8_t> Encode(const Argument& argument) {
    std::vector<std::uint8_t> data = argument.data;
    if (argument.type == ACPI_METHOD_ARGUMENT_PACKAGE) {
        data.clear();
        for (const Argument& element : argument.elements) {
            std::vector<std::uint8_t> bytes = Encode(element);
            data.insert(data.end(), bytes.begin(), bytes.end());
        }
    }
    std::vector<std::uint8_t> out;
    PutU16(out, argument.type);
    PutU16(out, argument.statedLength.value_or(static_cast<std::uint16_t>(data.size())));
    out.insert(out.end(), data.begin(), data.end());
    out.resize(out.size() + (data.size() < 4 ? 4 - data.size() : 0), 0);
    return out;
}

std::vector<std::uint8_t> EncodeOutput(const Answer& answer) {
    std::vector<std::uint8_t> body;
    for (const Argument& argument : answer.arguments) {
        std::vector<std::uint8_t> bytes = Encode(argument);
        body.insert(body.end(), bytes.begin(), bytes.end());
    }
    std::vector<std::uint8_t> out;
    PutU32(out, answer.signature.value_or(ACPI_EVAL_OUTPUT_BUFFER_SIGNATURE));
    PutU32(out, static_cast<std::uint32_t>(12 + body.size()));
    PutU32(out, answer.count.value_or(static_cast<std::uint32_t>(answer.arguments.size())));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

} // namespace acpi
