// Driver entry, unload and device add against the stand-in framework: what a failure leaves
// behind, the event provider's enablement, and the books after unload.
#include "Harness.h"
#include "Platform.h"
#include "frame/Driver.h"
#include "frame/EventProvider.h"

#include <algorithm>
#include <thread>

namespace {

using pelvane::ControllerDevice;

class DriverFrame : public MachineTest {};

TEST_F(DriverFrame, EntryRegistersProviderAndTracingAndUnloadBalancesTheBooks) {
    ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
    EXPECT_TRUE(machine.ProviderRegistered(PELVANE_PROVIDER_GUID));
    EXPECT_EQ(machine.WppControlGuid(), "(11ED5F0A,0200,42AF,B5DF,B8BEC02C9624)");
    EXPECT_EQ(machine.GetBooks().wppSessions, 1u);

    for (int instance : {soc::kPrimary, soc::kSecondary, soc::kMultiport}) {
        kmdf::DeviceId id;
        ASSERT_EQ(machine.AddDevice(ControllerDevice(instance), &id), STATUS_SUCCESS);
    }
    machine.UnloadDriver();
    EXPECT_FALSE(machine.ProviderRegistered(PELVANE_PROVIDER_GUID));
    EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 0u);
}

TEST_F(DriverFrame, FailedFrameworkDriverLeavesNoProviderAndNoTracing) {
    machine.FailNext("WdfDriverCreate", STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(machine.LoadDriver(DriverEntry), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_FALSE(machine.DriverLoaded());
    EXPECT_FALSE(machine.ProviderRegistered(PELVANE_PROVIDER_GUID));
    EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
    EXPECT_TRUE(ReportedError("WdfDriverCreate"));
}

TEST_F(DriverFrame, ProviderThatCannotRegisterDoesNotStopTheDriver) {
    machine.FailNext("EtwRegister", STATUS_INSUFFICIENT_RESOURCES);
    ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
    EXPECT_TRUE(ReportedError("EtwRegister"));
    EXPECT_FALSE(EventProviderEnabled());
    machine.UnloadDriver(); // must not unregister a provider it never had
    EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
}

TEST_F(DriverFrame, DeviceAddFailuresLeaveNoDeviceOrContextBehind) {
    ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
    const std::size_t driverOnly = machine.GetBooks().objects;

    machine.FailNext("WdfDeviceCreate", STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(machine.AddDevice(ControllerDevice(soc::kPrimary), nullptr),
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(ReportedError("WdfDeviceCreate"));
    EXPECT_EQ(machine.GetBooks().objects, driverOnly);

    machine.FailNext("WdfCollectionCreate", STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(machine.AddDevice(ControllerDevice(soc::kMultiport), nullptr),
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(ReportedError("WdfCollectionCreate"));
    EXPECT_EQ(machine.GetBooks().objects, driverOnly);

    kmdf::DeviceId id;
    EXPECT_EQ(machine.AddDevice(ControllerDevice(soc::kSecondary), &id), STATUS_SUCCESS);
    machine.UnloadDriver();
    EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
}

TEST_F(DriverFrame, AddedDeviceIsAFilterWithTheFourCallbacks) {
    ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
    kmdf::DeviceId id;
    ASSERT_EQ(machine.AddDevice(ControllerDevice(soc::kPrimary), &id), STATUS_SUCCESS);
    kmdf::PowerPolicyOwner owner(machine, id);
    ASSERT_EQ(owner.Start(), STATUS_SUCCESS);
    ASSERT_EQ(owner.Sleep(), STATUS_SUCCESS);
    ASSERT_EQ(owner.Resume(), STATUS_SUCCESS);
    ASSERT_EQ(owner.Stop(), STATUS_SUCCESS);
    std::vector<std::string> called;
    for (auto& d : machine.Diagnostics()) {
        called.push_back(d.function);
    }
    for (const char* callback : {"EvtDevicePrepareHardware", "EvtDeviceD0Entry", "EvtDeviceD0Exit",
                                 "EvtDeviceReleaseHardware"}) {
        EXPECT_NE(std::find(called.begin(), called.end(), callback), called.end()) << callback;
    }
    machine.UnloadDriver();
    EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
}

TEST_F(DriverFrame, EnableCallbackKeepsWhatTheConsumerAskedFor) {
    // A session that enabled the provider before the driver loaded is reported at registration.
    machine.EnableProvider(PELVANE_PROVIDER_GUID, TRACE_LEVEL_INFORMATION, 0xF0);
    ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
    EXPECT_TRUE(EventProviderEnabled());
    EXPECT_EQ(PelvaneEventProvider.Level, TRACE_LEVEL_INFORMATION);
    EXPECT_EQ(PelvaneEventProvider.MatchAnyKeyword, 0xF0u);

    machine.EnableProvider(PELVANE_PROVIDER_GUID, TRACE_LEVEL_VERBOSE, 0x3, 0x1);
    EXPECT_EQ(PelvaneEventProvider.Level, TRACE_LEVEL_VERBOSE);
    EXPECT_EQ(PelvaneEventProvider.MatchAnyKeyword, 0x3u);
    EXPECT_EQ(PelvaneEventProvider.MatchAllKeyword, 0x1u);

    machine.CaptureProviderState(PELVANE_PROVIDER_GUID);
    EXPECT_TRUE(EventProviderEnabled()) << "a capture-state request is not a disable";
    EXPECT_EQ(PelvaneEventProvider.Level, TRACE_LEVEL_VERBOSE);

    machine.DisableProvider(PELVANE_PROVIDER_GUID);
    EXPECT_FALSE(EventProviderEnabled());
    EXPECT_EQ(PelvaneEventProvider.Level, 0);
    EXPECT_EQ(PelvaneEventProvider.MatchAnyKeyword, 0u);
    machine.UnloadDriver();
    EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
}

TEST_F(DriverFrame, DevicesOfDifferentInstancesRunOnTheirOwnThreads) {
    ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
    std::vector<kmdf::DeviceId> ids(3);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(machine.AddDevice(ControllerDevice(i), &ids[i]), STATUS_SUCCESS);
    }
    std::vector<std::thread> threads;
    std::vector<NTSTATUS> results(3, STATUS_UNSUCCESSFUL);
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&, i] {
            kmdf::PowerPolicyOwner owner(machine, ids[i]);
            NTSTATUS s = owner.Start();
            for (int round = 0; NT_SUCCESS(s) && round < 20; ++round) {
                s = owner.Sleep();
                if (NT_SUCCESS(s)) {
                    s = owner.Resume();
                }
            }
            results[i] = s;
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (NTSTATUS s : results) {
        EXPECT_EQ(s, STATUS_SUCCESS);
    }
    machine.UnloadDriver();
    EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
}

// A stack whose device carries no filter context: every callback must notice it first.
NTSTATUS AddWithoutContext(WDFDRIVER, PWDFDEVICE_INIT init) {
    WDF_PNPPOWER_EVENT_CALLBACKS callbacks;
    WDF_PNPPOWER_EVENT_CALLBACKS_INIT(&callbacks);
    callbacks.EvtDevicePrepareHardware = EvtDevicePrepareHardware;
    callbacks.EvtDeviceReleaseHardware = EvtDeviceReleaseHardware;
    callbacks.EvtDeviceD0Entry = EvtDeviceD0Entry;
    callbacks.EvtDeviceD0Exit = EvtDeviceD0Exit;
    WdfDeviceInitSetPnpPowerEventCallbacks(init, &callbacks);
    WDFDEVICE device;
    return WdfDeviceCreate(&init, WDF_NO_OBJECT_ATTRIBUTES, &device);
}

extern "C" NTSTATUS EntryWithoutContext(PDRIVER_OBJECT driverObject, PUNICODE_STRING path) {
    WDF_DRIVER_CONFIG config;
    WDF_DRIVER_CONFIG_INIT(&config, AddWithoutContext);
    return WdfDriverCreate(driverObject, path, WDF_NO_OBJECT_ATTRIBUTES, &config, WDF_NO_HANDLE);
}

TEST_F(DriverFrame, CallbacksWithoutAContextReportItAndAnswerAsTheirRolesRequire) {
    ASSERT_EQ(machine.LoadDriver(EntryWithoutContext), STATUS_SUCCESS);
    kmdf::DeviceId id;
    ASSERT_EQ(machine.AddDevice(ControllerDevice(soc::kPrimary), &id), STATUS_SUCCESS);
    EXPECT_EQ(machine.StartDevice(id), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 2u); // prepare, then release
    EXPECT_FALSE(machine.DevicePresent(id)) << "a failed start removes the device";

    // The power callbacks, called on a device that was added and never started.
    ASSERT_EQ(machine.AddDevice(ControllerDevice(soc::kPrimary), &id), STATUS_SUCCESS);
    WDFDEVICE device = machine.Device(id);
    EXPECT_EQ(EvtDeviceD0Entry(device, WdfPowerDeviceD3), STATUS_SUCCESS);
    EXPECT_EQ(EvtDeviceD0Exit(device, WdfPowerDeviceD3), STATUS_SUCCESS);
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 4u);
    EXPECT_TRUE(ReportedError("no device context"));
    EXPECT_TRUE(Accesses().empty());
}

} // namespace
