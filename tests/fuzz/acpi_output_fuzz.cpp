// Evaluation outputs of any content, with any number of bytes reported returned, through the
// driver's parsers of the PHY override records and of the one-byte switches: directly, on a
// buffer of exactly the returned bytes, and through the ACPI driver's requests. Nothing may be
// read past the returned bytes, and every reader must leave the pool holding only the records.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <acpi/AcpiModel.h>
#include <evntrace.h>
#include <kmdf/Machine.h>
#include <soc/Soc.h>

#include "frame/Driver.h"
#include "phy/PhyOverride.h"
#include "settings/FirmwareSettings.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

struct World {
    soc::Soc soc;
    kmdf::Machine machine{soc};
    std::shared_ptr<acpi::AcpiModel> firmware = std::make_shared<acpi::AcpiModel>(soc);
    WDFDEVICE device = nullptr;
    PFILTER_EXTENSION context = nullptr;
};

World* g_world = nullptr;

// Every record is of kind 0 and the pool holds nothing but the records; then the list is
// emptied for the next input.
void CheckAndForgetRecords(World& w, std::size_t returned) {
    const ULONG count = WdfCollectionGetCount(w.context->PhyOverrides);
    Require(count <= returned / 28);
    for (ULONG i = 0; i < count; ++i) {
        auto memory = static_cast<WDFMEMORY>(WdfCollectionGetItem(w.context->PhyOverrides, i));
        SIZE_T size = 0;
        auto* record = static_cast<PHY_OVERRIDE*>(WdfMemoryGetBuffer(memory, &size));
        Require(size == sizeof(PHY_OVERRIDE) && record->Kind == 0);
    }
    Require(w.machine.GetBooks().poolAllocations == count);
    while (WdfCollectionGetCount(w.context->PhyOverrides) != 0) {
        WDFOBJECT item = WdfCollectionGetItem(w.context->PhyOverrides, 0);
        WdfCollectionRemove(w.context->PhyOverrides, item);
        WdfObjectDelete(item);
    }
}

void ParseDirectly(World& w, const std::vector<std::uint8_t>& exact) {
    auto* output =
        reinterpret_cast<PACPI_EVAL_OUTPUT_BUFFER>(const_cast<std::uint8_t*>(exact.data()));
    const ULONG returned = static_cast<ULONG>(exact.size());

    NTSTATUS status = ParsePhyOverrideOutput(w.device, output, returned);
    Require(status == STATUS_SUCCESS || status == STATUS_ACPI_INVALID_DATA);
    CheckAndForgetRecords(w, returned);

    status = ParsePhyOverridePackage(w.device, reinterpret_cast<PACPI_METHOD_ARGUMENT>(output),
                                     returned);
    Require(status == STATUS_SUCCESS || status == STATUS_ACPI_INVALID_DATA);
    CheckAndForgetRecords(w, returned + 12);

    UCHAR value = 0xA5;
    status = ParseAcpiFlagOutput(output, returned, &value);
    Require(status == STATUS_SUCCESS || status == STATUS_ACPI_INVALID_DATA);
    if (status == STATUS_SUCCESS) {
        Require(returned >= 17 && value == exact[16]);
    }
}

void ReadThroughTheFirmware(World& w, const std::vector<std::uint8_t>& bytes,
                            std::size_t returned) {
    w.firmware->SetRaw("PHYC", bytes, returned);
    w.firmware->SetRaw("GEN1", bytes, returned);
    w.firmware->SetRaw("CCVL", bytes, returned);
    NTSTATUS status = ReadPhyOverrides(w.device, "PHYC", 1024);
    Require(status == STATUS_SUCCESS || status == STATUS_ACPI_INVALID_DATA);
    CheckAndForgetRecords(w, returned);

    w.context->Gen1 = 0xA5;
    status = ReadAcpiFlag(w.device, "GEN1");
    Require(NT_SUCCESS(status) ? w.context->Gen1 <= 1 : w.context->Gen1 == 0xA5);
    w.context->Ccvl = 0xA5;
    status = ReadAcpiFlag(w.device, "CCVL");
    Require(NT_SUCCESS(status) || w.context->Ccvl == 0xA5);
    Require(w.machine.GetBooks().poolAllocations == 0);
    w.firmware->ClearEvaluations();
    w.soc.ClearTrace();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_world = new World;
    World& w = *g_world;
    w.machine.SetTraceLevel(TRACE_LEVEL_NONE);
    Require(w.machine.LoadDriver(DriverEntry) == STATUS_SUCCESS);
    kmdf::DeviceSpec spec;
    spec.name = "Multiport";
    spec.instance = 2;
    spec.lowerDevice = w.firmware;
    kmdf::DeviceId id = 0;
    Require(w.machine.AddDevice(spec, &id) == STATUS_SUCCESS);
    w.device = w.machine.Device(id);
    w.context = GetFilterExtension(w.device);
    return 0;
}

// Input: two bytes of returned length (little-endian, taken modulo 4097), then the output.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    World& w = *g_world;
    if (size < 2) {
        return 0;
    }
    const std::size_t returned = (data[0] | (data[1] << 8)) % 4097;
    std::vector<std::uint8_t> bytes(data + 2, data + size);

    // Exactly the returned bytes: what the output holds, then a pattern where it ends early.
    std::vector<std::uint8_t> exact(returned, 0xA5);
    const std::size_t copied = std::min(returned, bytes.size());
    if (copied != 0) {
        std::memcpy(exact.data(), bytes.data(), copied);
    }
    ParseDirectly(w, exact);

    ReadThroughTheFirmware(w, bytes, returned);
    return 0;
}
