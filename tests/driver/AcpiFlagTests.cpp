// The one-byte platform switches and the named evaluation they use: the flag rules per
// switch, every answer of the wrong shape, and output buffers too small at every size.
#include "FirmwareHarness.h"

#include <acpiioct.h>

#include <cstring>

namespace {

constexpr NTSTATUS kInvalidData = static_cast<NTSTATUS>(0xC014000F);
constexpr NTSTATUS kOverflow = static_cast<NTSTATUS>(0x80000005);

acpi::Answer Shape(std::vector<acpi::Argument> arguments,
                   std::optional<std::uint32_t> signature = {},
                   std::optional<std::uint32_t> count = {}, NTSTATUS status = STATUS_SUCCESS) {
    acpi::Answer answer;
    answer.arguments = std::move(arguments);
    answer.signature = signature;
    answer.count = count;
    answer.status = status;
    return answer;
}

class AcpiFlags : public FirmwareTest {
  protected:
    // The four flags, in the order GEN1, MPRD, MPDP, CCVL.
    std::vector<int> Flags() const {
        return {context->Gen1, context->Mprd, context->Mpdp, context->Ccvl};
    }
    void SetFlags(UCHAR value) {
        context->Gen1 = context->Mprd = context->Mpdp = context->Ccvl = value;
    }
};

struct FlagRow {
    const char* name;
    std::uint8_t byte;
    UCHAR before;
    std::vector<int> after; // GEN1, MPRD, MPDP, CCVL
};

TEST_F(AcpiFlags, EachSwitchSetsItsOwnFlag) {
    const FlagRow rows[] = {
        {"GEN1", 1, 0, {1, 0, 0, 0}},    {"GEN1", 0, 1, {0, 1, 1, 1}}, {"GEN1", 2, 1, {0, 1, 1, 1}},
        {"GEN1", 0xFF, 1, {0, 1, 1, 1}}, {"MPRD", 1, 0, {0, 1, 0, 0}}, {"MPRD", 0, 1, {1, 0, 1, 1}},
        {"MPRD", 0x80, 1, {1, 0, 1, 1}}, {"MPDP", 1, 0, {0, 0, 1, 0}}, {"MPDP", 0, 1, {1, 1, 0, 1}},
        {"MPDP", 2, 1, {1, 1, 0, 1}},    {"CCVL", 1, 0, {0, 0, 0, 1}}, {"CCVL", 0, 1, {1, 1, 1, 0}},
        {"CCVL", 2, 1, {1, 1, 1, 1}},    {"CCVL", 2, 0, {0, 0, 0, 0}},
    };
    for (const FlagRow& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " answering " + std::to_string(row.byte));
        SetFlags(row.before);
        firmware->SetFlag(row.name, row.byte);
        EXPECT_EQ(ReadAcpiFlag(device, row.name), STATUS_SUCCESS);
        EXPECT_EQ(Flags(), row.after);
        EXPECT_EQ(machine.GetBooks().poolAllocations, 0u) << machine.GetBooks().Describe();
    }
    // A byte that is neither 0 nor 1 is named in a warning.
    bool warned = false;
    for (auto& d : machine.Diagnostics()) {
        warned |=
            d.level == TRACE_LEVEL_WARNING && d.message == "CCVL answered 0x02, neither 0 nor 1";
    }
    EXPECT_TRUE(warned);
    // Each read is one named evaluation with a 260-byte input and a 20-byte output.
    auto evaluations = firmware->Evaluations();
    ASSERT_EQ(evaluations.size(), std::size(rows));
    for (std::size_t i = 0; i < evaluations.size(); ++i) {
        EXPECT_EQ(evaluations[i].code, 0x0032C018u);
        EXPECT_EQ(evaluations[i].method, rows[i].name);
        EXPECT_EQ(evaluations[i].inputLength, 260u);
        EXPECT_EQ(evaluations[i].outputLength, 20u);
        EXPECT_EQ(evaluations[i].returned, 20u);
    }
}

TEST_F(AcpiFlags, AnswersOfAnotherShapeLeaveTheFlagAlone) {
    struct {
        const char* what;
        acpi::Answer answer;
        NTSTATUS status;
    } rows[] = {
        {"integer", Shape({acpi::Integer(1)}), kInvalidData},
        {"two-byte buffer", Shape({acpi::Buffer({1, 0})}), kInvalidData},
        {"empty buffer", Shape({acpi::Buffer({})}), kInvalidData},
        {"string", Shape({acpi::String("")}), kInvalidData},
        {"package", Shape({acpi::Package({acpi::Buffer({1})})}), STATUS_BUFFER_OVERFLOW},
        {"nothing", Shape({}), kInvalidData},
        {"two buffers", Shape({acpi::Buffer({1}), acpi::Buffer({1})}), STATUS_BUFFER_OVERFLOW},
        {"wrong signature", Shape({acpi::Buffer({1})}, 0x426F6542), kInvalidData},
        {"count 2 for one buffer", Shape({acpi::Buffer({1})}, {}, 2), kInvalidData},
        {"failing object", Shape({}, {}, {}, STATUS_UNSUCCESSFUL), STATUS_UNSUCCESSFUL},
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.what);
        SetFlags(1);
        firmware->SetObject("GEN1", row.answer);
        EXPECT_EQ(ReadAcpiFlag(device, "GEN1"), row.status);
        EXPECT_EQ(Flags(), (std::vector<int>{1, 1, 1, 1}));
        EXPECT_EQ(machine.GetBooks().poolAllocations, 0u);
    }
    SetFlags(1);
    firmware->RemoveObject("GEN1");
    EXPECT_EQ(ReadAcpiFlag(device, "GEN1"), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(Flags(), (std::vector<int>{1, 1, 1, 1}));
    EXPECT_EQ(Requests().back(), (AcpiRequest{"GEN1", 20, STATUS_OBJECT_NAME_NOT_FOUND}));
}

// The byte is taken only from what the firmware returned, not from the buffer's remains.
TEST_F(AcpiFlags, OnlyTheReturnedBytesCount) {
    std::vector<std::uint8_t> bytes = acpi::EncodeOutput(Shape({acpi::Buffer({1})}));
    ASSERT_EQ(bytes.size(), 20u);
    for (std::size_t returned = 0; returned <= 20; ++returned) {
        SCOPED_TRACE(returned);
        context->Mprd = 0;
        firmware->SetRaw("MPRD", bytes, returned);
        EXPECT_EQ(ReadAcpiFlag(device, "MPRD"), returned >= 17 ? STATUS_SUCCESS : kInvalidData);
        EXPECT_EQ(context->Mprd, returned >= 17 ? 1 : 0);
    }
    EXPECT_EQ(machine.GetBooks().poolAllocations, 0u);
}

TEST_F(AcpiFlags, RefusedBeforeAnyRequest) {
    EXPECT_EQ(ReadAcpiFlag(device, "XYZW"), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ReadAcpiFlag(device, "GEN"), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ReadAcpiFlag(device, NULL), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ReadAcpiFlag(reinterpret_cast<WDFDEVICE>(context->PhyOverrides), "GEN1"),
              STATUS_INVALID_PARAMETER);
    machine.FailNext("ExAllocatePool2", STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(ReadAcpiFlag(device, "GEN1"), STATUS_INSUFFICIENT_RESOURCES);
    machine.FailNext("ExAllocatePool2", STATUS_SUCCESS);
    machine.FailNext("ExAllocatePool2", STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(ReadAcpiFlag(device, "GEN1"), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(firmware->Evaluations().empty());
    EXPECT_EQ(machine.GetBooks().poolAllocations, 0u);
}

// The ACPI driver's answer to an output buffer of every size below what the answer needs:
// too small for the header, or the header with the needed length and nothing returned.
TEST_F(AcpiFlags, EvaluationRefusesTooSmallOutputsAtEverySize) {
    firmware->SetPackages("PHYC", {acpi::Override(0, 0x088E2070, 0x55),
                                   acpi::Override(0, 0x088E3070, 0x66)}); // 68 bytes
    ACPI_EVAL_INPUT_BUFFER_EX input{};
    input.Signature = 0x41696541;
    std::strcpy(input.MethodName, "PHYC");
    for (ULONG size = 0; size <= 68; ++size) {
        SCOPED_TRACE(size);
        std::vector<std::uint8_t> output(size + 1, 0xA5);
        NTSTATUS expected = size < 20   ? STATUS_BUFFER_TOO_SMALL
                            : size < 68 ? kOverflow
                                        : STATUS_SUCCESS;
        EXPECT_EQ(EvaluateAcpiObjectByName(device, &input, sizeof input,
                                           size != 0 ? output.data() : nullptr, size),
                  expected);
        std::vector<std::uint8_t> untouched(size + 1, 0xA5);
        if (size < 20) {
            EXPECT_EQ(output, untouched);
        } else if (size < 68) {
            ACPI_EVAL_OUTPUT_BUFFER header;
            std::memcpy(&header, output.data(), 12);
            EXPECT_EQ(header.Signature, 0x426F6541u);
            EXPECT_EQ(header.Length, 68u);
            EXPECT_EQ(header.Count, 2u);
            EXPECT_TRUE(std::equal(output.begin() + 12, output.end(), untouched.begin() + 12));
        } else {
            EXPECT_EQ(output[68], 0xA5);
        }
        EXPECT_EQ(firmware->Evaluations().back().returned, size < 68 ? 0u : 68u);
    }
    EXPECT_EQ(firmware->Evaluations().size(), 69u);
}

TEST_F(AcpiFlags, EvaluationNeedsAnInputAndChecksTheSignature) {
    UCHAR output[20];
    ACPI_EVAL_INPUT_BUFFER_EX input{};
    input.Signature = 0x41696541;
    std::strcpy(input.MethodName, "GEN1");
    EXPECT_EQ(EvaluateAcpiObjectByName(device, nullptr, 260, output, 20), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(EvaluateAcpiObjectByName(device, &input, 0, output, 20), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(Requests().empty());

    firmware->SetObject("GEN1", Shape({acpi::Buffer({1})}, 0x12345678));
    EXPECT_EQ(EvaluateAcpiObjectByName(device, &input, sizeof input, output, 20), kInvalidData);
    firmware->SetFlag("GEN1", 1);
    EXPECT_EQ(EvaluateAcpiObjectByName(device, &input, sizeof input, output, 20), STATUS_SUCCESS);
    EXPECT_EQ(output[16], 1);
    EXPECT_EQ(Requests(), (std::vector<AcpiRequest>{{"GEN1", 20, STATUS_SUCCESS},
                                                    {"GEN1", 20, STATUS_SUCCESS}}));
}

} // namespace
