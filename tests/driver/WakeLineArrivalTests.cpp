// The wake-line service's life as the driver meets it: present before the start, arriving
// later, look-ups and queries that fail, updated (query-remove, removal, a new instance),
// a removal cancelled, surprise-removed, several instances at once, and the published
// interface seen from another thread.
#include "FrameWorld.h"
#include "WakeLineService.h"
#include "frame/WakeLineArrival.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

using wakeline::WakeLineService;

class WakeLineArrival : public FrameWorld {
  protected:
    std::shared_ptr<WakeLineService> service = WakeLineService::Create(soc);

    std::vector<soc::TraceRecord> WakeLineRequests() const {
        std::vector<soc::TraceRecord> out;
        for (auto& r : soc.Records()) {
            if (r.op == soc::Op::Request && r.target == "wake-line") {
                out.push_back(r);
            }
        }
        return out;
    }

    // Which instance answered which line, in order.
    std::vector<std::pair<int, ULONG>> CallsByService() const {
        std::vector<std::pair<int, ULONG>> out;
        for (auto& c : service->Calls()) {
            out.emplace_back(c.service, c.line);
        }
        return out;
    }

    // The driver's callbacks for the service, in order, without the notifications' own.
    std::vector<std::string> ServiceCallbacks() const {
        std::vector<std::string> out;
        for (auto& c : machine.Callbacks()) {
            if (c.callback.rfind("EvtIoTarget", 0) == 0 || c.callback == "EvtWorkItem" ||
                c.callback == "Notification") {
                out.push_back(c.callback);
            }
        }
        return out;
    }

    void ExpectNothingOpen(PFILTER_EXTENSION e) {
        EXPECT_FALSE(WakeInterfaceIsReady(e));
        EXPECT_EQ(e->WakeLineTarget, nullptr);
        EXPECT_EQ(e->WakeLineFileObject, nullptr);
        EXPECT_EQ(machine.GetBooks().references, 0u);
    }
};

TEST_F(WakeLineArrival, ServicePresentBeforeTheStartIsReadyWhenPrepareReturns) {
    service->Publish(machine);
    kmdf::DeviceId id = Add(soc::kMultiport);
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    PFILTER_EXTENSION e = Context(id);
    ASSERT_TRUE(WakeInterfaceIsReady(e));
    EXPECT_NE(e->WakeLineTarget, nullptr);

    auto queries = service->Queries();
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0].size, 40);
    EXPECT_EQ(queries[0].version, 1);
    EXPECT_EQ(queries[0].interfaceSpecificData, static_cast<PVOID>(machine.Device(id)));
    EXPECT_EQ(e->WakeLineInterface.Size, 40);
    EXPECT_EQ(e->WakeLineInterface.Version, 1);
    EXPECT_EQ(service->References(), 1);
    // The driver's reference from the look-up and the framework's own for the remote target.
    EXPECT_EQ(machine.DeviceReferences(WakeLineService::kDeviceName), 2u);
    // The notification only queues the work item, which binds.
    EXPECT_EQ(ServiceCallbacks(), (std::vector<std::string>{"Notification", "EvtWorkItem"}));

    // The routine the service handed out reaches it, and the call is in the trace.
    WAKE_LINE_REQUEST request = {0x4B, 1, 3};
    EXPECT_EQ(e->WakeLineInterface.ConfigureWakeLine(request), STATUS_SUCCESS);
    service->FailCalls(STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(e->WakeLineInterface.ConfigureWakeLine({0x4C, 1, 4}), STATUS_DEVICE_NOT_CONNECTED);
    auto calls = service->Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].line, 0x4Bu);
    EXPECT_EQ(calls[0].enable, 1u);
    EXPECT_EQ(calls[0].mode, 3u);
    auto requests = WakeLineRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(soc::FormatJson(requests[1]).find("\"target\":\"wake-line\""), std::string::npos);
    EXPECT_EQ(requests[1].line, 0x4C);
    EXPECT_EQ(requests[1].mode, 4);
    EXPECT_EQ(requests[1].status, (NTSTATUS)0xC000009D);

    ASSERT_EQ(machine.StopDevice(id), STATUS_SUCCESS);
    ExpectNothingOpen(e);
    EXPECT_EQ(e->ArrivalNotification, nullptr);
    EXPECT_EQ(service->References(), 0) << "the interface is given back at release";
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 0u);
    ExpectBalancedAfterUnload();
}

TEST_F(WakeLineArrival, ServiceArrivingAfterTheStartBecomesReadyThenAndOnlyThen) {
    kmdf::DeviceId id = Add(soc::kPrimary);
    kmdf::PowerPolicyOwner owner(machine, id);
    ASSERT_EQ(owner.Start(), STATUS_SUCCESS);
    PFILTER_EXTENSION e = Context(id);
    EXPECT_NE(e->ArrivalNotification, nullptr);
    ASSERT_EQ(owner.Sleep(), STATUS_SUCCESS);
    ASSERT_EQ(owner.Resume(), STATUS_SUCCESS);
    ExpectNothingOpen(e);
    EXPECT_TRUE(WakeLineRequests().empty());

    service->Publish(machine);
    EXPECT_TRUE(WakeInterfaceIsReady(e));
    EXPECT_EQ(machine.GetBooks().references, 2u); // the driver's and the framework's
    ExpectBalancedAfterUnload();
}

TEST_F(WakeLineArrival, FailedLookUpOrTargetLeavesEverythingAsItWas) {
    kmdf::DeviceId id = Add(soc::kSecondary);
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    PFILTER_EXTENSION e = Context(id);
    const std::size_t objects = machine.GetBooks().objects;

    // Each instance is tried once, and nothing of a failed attempt is left.
    for (const char* routine :
         {"IoGetDeviceObjectPointer", "WdfIoTargetCreate", "WdfIoTargetOpen"}) {
        SCOPED_TRACE(routine);
        machine.FailNext(routine, STATUS_INSUFFICIENT_RESOURCES);
        service->Publish(machine);
        ExpectNothingOpen(e);
        EXPECT_EQ(machine.GetBooks().objects, objects);
        EXPECT_TRUE(service->Withdraw(machine));
    }
    EXPECT_TRUE(ReportedError("IoGetDeviceObjectPointer failed, status 0xC000009A"));
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 3u);
    EXPECT_TRUE(service->Queries().empty());
    ExpectBalancedAfterUnload();
}

TEST_F(WakeLineArrival, FailedQueryLeavesNoOpenTargetAndALaterArrivalSucceeds) {
    kmdf::DeviceId id = Add(soc::kMultiport);
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    PFILTER_EXTENSION e = Context(id);
    const std::size_t objects = machine.GetBooks().objects;

    service->FailQueries(STATUS_NOT_SUPPORTED);
    service->Publish(machine);
    EXPECT_TRUE(ReportedError("WdfIoTargetQueryForInterface failed, status 0xC00000BB"));
    ExpectNothingOpen(e);
    EXPECT_EQ(machine.GetBooks().objects, objects);

    // The next arrival tries every present instance again, the first one first.
    service->FailQueries(STATUS_SUCCESS);
    EXPECT_EQ(service->Publish(machine), 2);
    EXPECT_TRUE(WakeInterfaceIsReady(e));
    ASSERT_EQ(service->Queries().size(), 2u);
    EXPECT_EQ(service->Queries()[1].service, 1);
    ExpectBalancedAfterUnload();
}

TEST_F(WakeLineArrival, ServiceGoneBeforeItWasReadyIsLookedUpInVainAndReported) {
    service->FailQueries(STATUS_DEVICE_NOT_CONNECTED);
    kmdf::DeviceId id = Add(soc::kSecondary);
    service->Publish(machine);
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    EXPECT_TRUE(service->Withdraw(machine)) << "nothing is held that could veto";
    PFILTER_EXTENSION e = Context(id);
    ExpectNothingOpen(e);
    EXPECT_TRUE(ReportedError("WdfIoTargetQueryForInterface failed, status 0xC000009D"));
    ExpectBalancedAfterUnload();
}

TEST_F(WakeLineArrival, RegistrationHappensOnceAndCallbackChecksItsArguments) {
    kmdf::DeviceId id = Add(soc::kPrimary);
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    PFILTER_EXTENSION e = Context(id);
    PVOID entry = e->ArrivalNotification;
    EXPECT_EQ(RegisterWakeLineArrival(e), STATUS_SUCCESS);
    EXPECT_EQ(e->ArrivalNotification, entry);
    EXPECT_EQ(machine.GetBooks().notifications, 1u);
    EXPECT_EQ(RegisterWakeLineArrival(nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(OnWakeLineArrival(nullptr, e), STATUS_INVALID_PARAMETER);

    // A notification of another class does nothing.
    DEVICE_INTERFACE_CHANGE_NOTIFICATION other{};
    other.InterfaceClassGuid = GUID_DEVICE_INTERFACE_ARRIVAL;
    EXPECT_EQ(OnWakeLineArrival(&other, e), STATUS_SUCCESS);
    ExpectNothingOpen(e);
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 2u);
    ExpectBalancedAfterUnload();
}

// The power-down tests readiness on its own thread before it uses the interface; a reader who
// sees it ready must see the whole record (ThreadSanitizer checks the ordering).
TEST_F(WakeLineArrival, ReaderOnAnotherThreadThatSeesReadySeesTheInterface) {
    kmdf::DeviceId id = Add(soc::kMultiport);
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    PFILTER_EXTENSION e = Context(id);
    std::atomic<bool> stop{false};
    NTSTATUS seen = STATUS_UNSUCCESSFUL;
    std::thread reader([&] {
        while (!stop.load()) {
            if (WakeInterfaceIsReady(e)) {
                seen = e->WakeLineInterface.ConfigureWakeLine({0x4B, 1, 3});
                return;
            }
            std::this_thread::yield();
        }
    });
    std::thread arrival([&] { service->Publish(machine); });
    arrival.join();
    // The reader ends once it has seen the interface; stop only bounds a failure.
    for (int i = 0; i < 2000 && service->Calls().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop = true;
    reader.join();
    EXPECT_EQ(seen, STATUS_SUCCESS);
    ExpectBalancedAfterUnload();
}

} // namespace
