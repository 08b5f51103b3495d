// The wake-line service's device as Windows lets it live, and the driver through it: an
// update (query-remove, removal, a new instance), a cancelled removal, a surprise removal,
// several instances at once. Each test compares which instance answered which request and
// which callbacks ran in which order. The stand-in's own part: a held file object vetoes,
// a call into a removed instance ends the run, and a remote target without callbacks gets
// the framework's defaults.
#include "FrameWorld.h"
#include "WakeLineService.h"
#include "frame/WakeLineArrival.h"

#include <kmdf/PowerPolicyOwner.h>

namespace {

using wakeline::PnpEvent;
using wakeline::WakeLineService;
using Calls = std::vector<std::pair<int, ULONG>>;
using Names = std::vector<std::string>;

class ServiceLife : public FrameWorld {
  protected:
    std::shared_ptr<WakeLineService> service = WakeLineService::Create(soc);

    Calls CallsByService() const {
        Calls out;
        for (auto& c : service->Calls()) {
            out.emplace_back(c.service, c.line);
        }
        return out;
    }

    // The driver's callbacks for the service since `from`, in order.
    Names ServiceCallbacks(std::size_t from = 0) const {
        Names out;
        auto all = machine.Callbacks();
        for (std::size_t i = from; i < all.size(); ++i) {
            const std::string& c = all[i].callback;
            if (c.rfind("EvtIoTarget", 0) == 0 || c == "EvtWorkItem" || c == "Notification") {
                out.push_back(c);
            }
        }
        return out;
    }

    std::vector<std::string> Events() const {
        std::vector<std::string> out;
        for (const PnpEvent& e : service->Events()) {
            out.push_back(e.event + " " + std::to_string(e.service) + (e.vetoed ? " vetoed" : ""));
        }
        return out;
    }
};

// A driver update of the service: the driver gives everything back at query-remove, so the
// removal goes through; power-downs meanwhile send nothing; the new instance is bound.
TEST_F(ServiceLife, UpdateIsNotVetoedAndTheNewInstanceAnswers) {
    service->Publish(machine);
    kmdf::DeviceId id = Add(soc::kSecondary);
    kmdf::PowerPolicyOwner owner(machine, id);
    ASSERT_EQ(owner.Start(), STATUS_SUCCESS);
    PFILTER_EXTENSION e = Context(id);
    ASSERT_EQ(owner.Sleep(), STATUS_SUCCESS);
    ASSERT_EQ(owner.Resume(), STATUS_SUCCESS);
    const std::size_t mark = machine.Callbacks().size();

    ASSERT_TRUE(service->Withdraw(machine));
    EXPECT_FALSE(WakeInterfaceIsReady(e));
    EXPECT_EQ(service->References(1), 0) << "the interface was dereferenced";
    EXPECT_EQ(machine.DeviceReferences(WakeLineService::kDeviceName), 0u);
    EXPECT_EQ(ServiceCallbacks(mark), (Names{"EvtIoTargetQueryRemove", "Notification",
                                             "EvtIoTargetRemoveComplete", "EvtWorkItem"}));
    ASSERT_EQ(owner.Sleep(), STATUS_SUCCESS); // no service bound: no requests
    ASSERT_EQ(owner.Resume(), STATUS_SUCCESS);

    EXPECT_EQ(service->Publish(machine), 2);
    EXPECT_TRUE(WakeInterfaceIsReady(e));
    ASSERT_EQ(owner.Sleep(), STATUS_SUCCESS);
    ASSERT_EQ(owner.Resume(), STATUS_SUCCESS);
    EXPECT_EQ(CallsByService(), (Calls{{1, 0x20B}, {1, 0x20A}, {2, 0x20B}, {2, 0x20A}}));
    EXPECT_EQ(Events(), (std::vector<std::string>{"arrival 1", "query-remove 1",
                                                  "remove-complete 1", "arrival 2"}));
    ASSERT_EQ(owner.Stop(), STATUS_SUCCESS);
    EXPECT_EQ(service->References(), 0);
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 0u);
    ExpectBalancedAfterUnload();
}

// A cancelled removal: the driver let the instance go at the query and opens it again by its
// symbolic link.
TEST_F(ServiceLife, CancelledRemovalOpensTheSameInstanceAgain) {
    service->Publish(machine);
    kmdf::DeviceId id = Add(soc::kSecondary);
    kmdf::PowerPolicyOwner owner(machine, id);
    ASSERT_EQ(owner.Start(), STATUS_SUCCESS);
    PFILTER_EXTENSION e = Context(id);
    const std::size_t mark = machine.Callbacks().size();

    ASSERT_TRUE(service->QueryRemove(machine));
    EXPECT_FALSE(WakeInterfaceIsReady(e));
    service->CancelRemove(machine);
    EXPECT_TRUE(WakeInterfaceIsReady(e));
    EXPECT_EQ(ServiceCallbacks(mark),
              (Names{"EvtIoTargetQueryRemove", "EvtIoTargetRemoveCanceled", "EvtWorkItem"}));
    ASSERT_EQ(service->Queries().size(), 2u);
    EXPECT_EQ(service->Queries()[1].service, 1);
    EXPECT_EQ(service->References(1), 1);
    ASSERT_EQ(owner.Sleep(), STATUS_SUCCESS);
    EXPECT_EQ(CallsByService(), (Calls{{1, 0x20B}, {1, 0x20A}}));
    ASSERT_EQ(owner.Resume(), STATUS_SUCCESS);
    ASSERT_EQ(owner.Stop(), STATUS_SUCCESS);
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 0u);
    ExpectBalancedAfterUnload();
}

// A surprise removal: no query; the driver stops calling (a call would end the run) and
// binds to the next instance.
TEST_F(ServiceLife, SurpriseRemovalIsNeverCalledIntoAndTheNextInstanceIsBound) {
    service->Publish(machine);
    kmdf::DeviceId id = Add(soc::kSecondary);
    kmdf::PowerPolicyOwner owner(machine, id);
    ASSERT_EQ(owner.Start(), STATUS_SUCCESS);
    PFILTER_EXTENSION e = Context(id);
    const std::size_t mark = machine.Callbacks().size();

    service->SurpriseRemove(machine);
    EXPECT_FALSE(WakeInterfaceIsReady(e));
    EXPECT_EQ(e->WakeLineFileObject, nullptr);
    EXPECT_EQ(ServiceCallbacks(mark),
              (Names{"Notification", "EvtIoTargetRemoveComplete", "EvtWorkItem"}));
    ASSERT_EQ(owner.Sleep(), STATUS_SUCCESS);
    ASSERT_EQ(owner.Resume(), STATUS_SUCCESS);
    EXPECT_TRUE(service->Calls().empty());

    EXPECT_EQ(service->Publish(machine), 2);
    ASSERT_EQ(owner.Sleep(), STATUS_SUCCESS);
    EXPECT_EQ(CallsByService(), (Calls{{2, 0x20B}, {2, 0x20A}}));
    ASSERT_EQ(owner.Resume(), STATUS_SUCCESS);
    ASSERT_EQ(owner.Stop(), STATUS_SUCCESS);
    EXPECT_EQ(service->References(), 0);
    ExpectBalancedAfterUnload();
}

// Two instances present at registration: each arrival is delivered, the first instance is
// bound, and when it goes the second one answers.
TEST_F(ServiceLife, SeveralInstancesAtRegistrationAreEachDeliveredAndTheNextTakesOver) {
    service->Publish(machine);
    service->Publish(machine);
    kmdf::DeviceId id = Add(soc::kSecondary);
    kmdf::PowerPolicyOwner owner(machine, id);
    ASSERT_EQ(owner.Start(), STATUS_SUCCESS);
    EXPECT_EQ(ServiceCallbacks(), (Names{"Notification", "Notification", "EvtWorkItem"}));
    EXPECT_EQ(service->References(1), 1);
    EXPECT_EQ(service->References(2), 0);

    ASSERT_TRUE(service->Withdraw(machine, 1));
    EXPECT_EQ(service->References(2), 1);
    ASSERT_EQ(owner.Sleep(), STATUS_SUCCESS);
    EXPECT_EQ(CallsByService(), (Calls{{2, 0x20B}, {2, 0x20A}}));
    ASSERT_EQ(owner.Resume(), STATUS_SUCCESS);
    ASSERT_EQ(owner.Stop(), STATUS_SUCCESS);
    ExpectBalancedAfterUnload();
}

// The stand-in: a file object still referenced after the query vetoes the removal, and the
// removal is cancelled for everybody; a remote target without callbacks is closed by the
// framework at the query and stays closed after the cancel.
TEST_F(ServiceLife, HeldFileObjectVetoesAndTargetsWithoutCallbacksGetTheDefaults) {
    service->Publish(machine);
    kmdf::DeviceId id = Add(soc::kPrimary);
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    std::wstring link = WakeLineService::kSymbolicLink;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, link.c_str());
    PFILE_OBJECT file = nullptr;
    PDEVICE_OBJECT device = nullptr;
    ASSERT_EQ(IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &file, &device), STATUS_SUCCESS);
    WDFIOTARGET target = nullptr;
    ASSERT_EQ(WdfIoTargetCreate(machine.Device(id), WDF_NO_OBJECT_ATTRIBUTES, &target),
              STATUS_SUCCESS);
    WDF_IO_TARGET_OPEN_PARAMS params;
    WDF_IO_TARGET_OPEN_PARAMS_INIT_EXISTING_DEVICE(&params, device);
    params.TargetFileObject = file;
    ASSERT_EQ(WdfIoTargetOpen(target, &params), STATUS_SUCCESS);
    WAKE_LINE_INTERFACE iface{};
    EXPECT_EQ(machine.DeviceReferences(WakeLineService::kDeviceName), 4u);

    EXPECT_FALSE(service->Withdraw(machine)) << "our own reference on the file object";
    EXPECT_EQ(Events(), (std::vector<std::string>{"arrival 1", "query-remove 1 vetoed",
                                                  "remove-cancelled 1"}));
    EXPECT_EQ(service->Present(), 1);
    EXPECT_EQ(WdfIoTargetQueryForInterface(target, &GUID_WAKE_LINE_INTERFACE,
                                           reinterpret_cast<PINTERFACE>(&iface), sizeof iface, 1,
                                           nullptr),
              STATUS_INVALID_DEVICE_STATE)
        << "closed at the query, not opened again at the cancel";
    EXPECT_TRUE(WakeInterfaceIsReady(Context(id))) << "the driver reopened by its link";
    ObDereferenceObject(file);

    EXPECT_TRUE(service->Withdraw(machine));
    WdfObjectDelete(target);
    EXPECT_EQ(machine.DeviceReferences(WakeLineService::kDeviceName), 0u);
    ExpectBalancedAfterUnload();
}

// The stand-in: once a query-remove has passed, the device is remove-pending and opens fail
// (by link and by name) until the removal is cancelled; after the removal completes nothing
// of it can be found. Without this, an open between the query and the removal would bind to
// an instance that no removal notification ever reaches.
TEST_F(ServiceLife, OpensFailWhileARemovalIsPendingAndWorkAgainAfterTheCancel) {
    service->Publish(machine);
    std::wstring link = WakeLineService::kSymbolicLink;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, link.c_str());
    PFILE_OBJECT file = nullptr;
    PDEVICE_OBJECT device = nullptr;
    auto open = [&] {
        NTSTATUS status = IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &file, &device);
        if (NT_SUCCESS(status)) {
            ObDereferenceObject(file);
        }
        return status;
    };
    kmdf::DeviceId id = Add(soc::kPrimary);
    WDFIOTARGET target = nullptr;
    ASSERT_EQ(WdfIoTargetCreate(machine.Device(id), WDF_NO_OBJECT_ATTRIBUTES, &target),
              STATUS_SUCCESS);
    std::wstring deviceName = WakeLineService::kDeviceName;
    WDF_IO_TARGET_OPEN_PARAMS byName;
    UNICODE_STRING targetName;
    RtlInitUnicodeString(&targetName, deviceName.c_str());
    WDF_IO_TARGET_OPEN_PARAMS_INIT_OPEN_BY_NAME(&byName, &targetName, FILE_ALL_ACCESS);

    ASSERT_TRUE(service->QueryRemove(machine));
    EXPECT_EQ(open(), STATUS_DELETE_PENDING);
    EXPECT_EQ(WdfIoTargetOpen(target, &byName), STATUS_DELETE_PENDING);
    service->CancelRemove(machine);
    EXPECT_EQ(open(), STATUS_SUCCESS);

    ASSERT_TRUE(service->QueryRemove(machine));
    service->CompleteRemove(machine);
    EXPECT_EQ(open(), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(WdfIoTargetOpen(target, &byName), STATUS_OBJECT_NAME_NOT_FOUND);
    WdfObjectDelete(target);
    ExpectBalancedAfterUnload();
}

// A call through an interface of a removed instance ends the run, like an access past a
// mapping.
TEST_F(ServiceLife, CallIntoASurpriseRemovedInstanceIsFatal) {
    service->Publish(machine);
    kmdf::DeviceId id = Add(soc::kPrimary);
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    WAKE_LINE_INTERFACE kept = Context(id)->WakeLineInterface;
    kept.InterfaceReference(kept.Context); // held past the removal, as a careless driver would
    service->SurpriseRemove(machine);
    EXPECT_DEATH(kept.ConfigureWakeLine({0x209, 1, 2}), "service instance 1, which was removed");
    kept.InterfaceDereference(kept.Context);
    ExpectBalancedAfterUnload();
}

} // namespace
