#pragma once
// The driver loaded on a simulated SoC, the three register blocks of one controller instance
// mapped as prepare hardware maps them, and an override list built through the framework.
#include "Harness.h"
#include "PhyExpectations.h"
#include "frame/Driver.h"
#include "phy/PhyOverride.h"

#include <wdf.h>

#include <cstring>

class PhyFixture : public MachineTest {
  protected:
    void SetUp() override {
        ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
        for (int i = 0; i < 3; ++i) {
            controller[i] = Map(soc::kControllerBase[i], soc::kControllerSize);
        }
        clockReset = Map(soc::kClockResetBase, soc::kClockResetSize);
        phy = Map(soc::kPhyBase, soc::kPhySize);
        ASSERT_EQ(WdfCollectionCreate(WDF_NO_OBJECT_ATTRIBUTES, &overrides), STATUS_SUCCESS);
        soc.ClearTrace();
    }

    void TearDown() override {
        WdfObjectDelete(overrides);
        for (int i = 0; i < 3; ++i) {
            MmUnmapIoSpace(controller[i], soc::kControllerSize);
        }
        MmUnmapIoSpace(clockReset, soc::kClockResetSize);
        MmUnmapIoSpace(phy, soc::kPhySize);
        machine.UnloadDriver();
        EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
    }

    static PVOID Map(std::uint64_t physical, std::uint64_t length) {
        PHYSICAL_ADDRESS at;
        at.QuadPart = static_cast<LONGLONG>(physical);
        PVOID base = MmMapIoSpaceEx(at, length, PAGE_READWRITE | PAGE_NOCACHE);
        EXPECT_NE(base, nullptr);
        return base;
    }

    // One record, in a memory object that the list owns, as the firmware reader stores it.
    void AddOverride(ULONG address, ULONG value, ULONG kind = PHY_OVERRIDE_KIND_REGISTER_WRITE,
                     SIZE_T size = sizeof(PHY_OVERRIDE)) {
        WDF_OBJECT_ATTRIBUTES attributes;
        WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
        attributes.ParentObject = overrides;
        WDFMEMORY memory;
        PVOID buffer;
        ASSERT_EQ(WdfMemoryCreate(&attributes, NonPagedPoolNx, 0x46485855, size, &memory, &buffer),
                  STATUS_SUCCESS);
        PHY_OVERRIDE record = {kind, address, value};
        std::memcpy(buffer, &record, std::min<SIZE_T>(size, sizeof record));
        ASSERT_EQ(WdfCollectionAdd(overrides, memory), STATUS_SUCCESS);
    }

    std::vector<soc::TraceRecord> Trace() const { return soc.Records(); }

    PVOID controller[3] = {};
    PVOID clockReset = nullptr;
    PVOID phy = nullptr;
    WDFCOLLECTION overrides = nullptr;
};
