#pragma once
// A Multiport filter device whose ACPI driver below is the simulated firmware, for the tests
// of the firmware settings readers.
#include "Harness.h"
#include "Platform.h"
#include "frame/Driver.h"
#include "phy/PhyOverride.h"
#include "settings/FirmwareSettings.h"

#include <acpi/AcpiModel.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

inline bool operator==(const PHY_OVERRIDE& a, const PHY_OVERRIDE& b) {
    return a.Kind == b.Kind && a.Address == b.Address && a.Value == b.Value;
}
inline std::ostream& operator<<(std::ostream& out, const PHY_OVERRIDE& r) {
    return out << "{" << r.Kind << ", 0x" << std::hex << r.Address << ", 0x" << r.Value << std::dec
               << "}";
}

// One evaluation as the trace and the firmware saw it.
struct AcpiRequest {
    std::string method;
    std::size_t outputLength;
    NTSTATUS status;
    bool operator==(const AcpiRequest&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const AcpiRequest& r) {
    return out << "{" << r.method << ", " << r.outputLength << ", 0x" << std::hex
               << static_cast<unsigned>(r.status) << std::dec << "}";
}

class FirmwareTest : public MachineTest {
  protected:
    std::shared_ptr<acpi::AcpiModel> firmware = std::make_shared<acpi::AcpiModel>(soc);
    kmdf::DeviceId id = 0;
    WDFDEVICE device = nullptr;
    PFILTER_EXTENSION context = nullptr;

    void SetUp() override {
        ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
        kmdf::DeviceSpec spec = pelvane::ControllerDevice(soc::kMultiport);
        spec.lowerDevice = firmware;
        ASSERT_EQ(machine.AddDevice(spec, &id), STATUS_SUCCESS);
        device = machine.Device(id);
        context = GetFilterExtension(device);
        ASSERT_NE(context, nullptr);
        soc.ClearTrace();
    }

    std::vector<PHY_OVERRIDE> Overrides() const {
        std::vector<PHY_OVERRIDE> out;
        for (ULONG i = 0; i < WdfCollectionGetCount(context->PhyOverrides); ++i) {
            auto memory = static_cast<WDFMEMORY>(WdfCollectionGetItem(context->PhyOverrides, i));
            SIZE_T size = 0;
            auto* record = static_cast<PHY_OVERRIDE*>(WdfMemoryGetBuffer(memory, &size));
            EXPECT_EQ(size, 12u);
            out.push_back(*record);
        }
        return out;
    }

    // Empties the list, as a new device would have it.
    void ForgetOverrides() {
        while (WdfCollectionGetCount(context->PhyOverrides) != 0) {
            WDFOBJECT item = WdfCollectionGetItem(context->PhyOverrides, 0);
            WdfCollectionRemove(context->PhyOverrides, item);
            WdfObjectDelete(item);
        }
    }

    // The evaluations in the order of the trace, with the output size the firmware was given.
    std::vector<AcpiRequest> Requests() const {
        std::vector<AcpiRequest> out;
        std::vector<acpi::Evaluation> seen = firmware->Evaluations();
        std::size_t i = 0;
        for (auto& r : soc.Records()) {
            if (r.op != soc::Op::Request || r.target != "acpi") {
                continue;
            }
            EXPECT_LT(i, seen.size());
            if (i < seen.size()) {
                EXPECT_EQ(seen[i].method, r.method);
                EXPECT_EQ(seen[i].status, r.status);
                out.push_back({r.method, seen[i].outputLength, r.status});
            }
            ++i;
        }
        EXPECT_EQ(i, seen.size());
        return out;
    }

    // After a reader: its working buffers are gone; the pool holds the records only.
    void ExpectPoolHoldsOnlyTheRecords() const {
        kmdf::Books books = machine.GetBooks();
        auto it = books.poolByTag.find(0x46485855);
        std::size_t tagged = it == books.poolByTag.end() ? 0 : it->second;
        EXPECT_EQ(tagged, WdfCollectionGetCount(context->PhyOverrides)) << books.Describe();
        EXPECT_EQ(books.poolAllocations, tagged) << books.Describe();
    }
};
