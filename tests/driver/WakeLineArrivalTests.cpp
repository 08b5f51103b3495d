// Arrival of the wake-line service: present before the start, arriving later, look-ups and
// queries that fail, a second arrival, the service going away, and the published interface
// seen from another thread.
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
    EXPECT_EQ(machine.GetBooks().references, 1u); // the file object the target was opened with
    ExpectBalancedAfterUnload();
}

TEST_F(WakeLineArrival, FailedLookUpOrTargetLeavesEverythingAsItWas) {
    kmdf::DeviceId id = Add(soc::kSecondary);
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    PFILTER_EXTENSION e = Context(id);
    const std::size_t objects = machine.GetBooks().objects;

    machine.FailNext("IoGetDeviceObjectPointer", STATUS_OBJECT_NAME_NOT_FOUND);
    service->Publish(machine);
    EXPECT_TRUE(ReportedError("IoGetDeviceObjectPointer failed, status 0xC0000034"));
    ExpectNothingOpen(e);

    for (const char* routine : {"WdfIoTargetCreate", "WdfIoTargetOpen"}) {
        SCOPED_TRACE(routine);
        machine.FailNext(routine, STATUS_INSUFFICIENT_RESOURCES);
        machine.ArriveInterface(GUID_WAKE_LINE_INTERFACE,
                                std::wstring(L"\\??\\again-") +
                                    std::wstring(routine, routine + std::strlen(routine)),
                                WakeLineService::kDeviceName);
        ExpectNothingOpen(e);
        EXPECT_EQ(machine.GetBooks().objects, objects);
    }
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

    service->FailQueries(STATUS_SUCCESS);
    machine.ArriveInterface(GUID_WAKE_LINE_INTERFACE, L"\\??\\second-link",
                            WakeLineService::kDeviceName);
    EXPECT_TRUE(WakeInterfaceIsReady(e));
    EXPECT_EQ(service->Queries().size(), 2u);
    ExpectBalancedAfterUnload();
}

TEST_F(WakeLineArrival, SecondArrivalAndTheRemovalLeaveThePublishedInterfaceAlone) {
    service->Publish(machine);
    kmdf::DeviceId id = Add(soc::kPrimary);
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    PFILTER_EXTENSION e = Context(id);
    ASSERT_TRUE(WakeInterfaceIsReady(e));
    const WDFIOTARGET target = e->WakeLineTarget;
    const kmdf::Books books = machine.GetBooks();

    machine.ArriveInterface(GUID_WAKE_LINE_INTERFACE, L"\\??\\second-link",
                            WakeLineService::kDeviceName);
    service->Withdraw(machine); // removal notifications for both links
    EXPECT_EQ(e->WakeLineTarget, target);
    EXPECT_TRUE(WakeInterfaceIsReady(e));
    EXPECT_EQ(service->Queries().size(), 1u);
    EXPECT_EQ(machine.GetBooks().objects, books.objects);
    EXPECT_EQ(machine.GetBooks().references, books.references);

    ASSERT_EQ(machine.StopDevice(id), STATUS_SUCCESS);
    ExpectNothingOpen(e);
    EXPECT_EQ(service->References(), 0);
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 0u);

    // After release no callback runs: a service that comes back is not opened.
    service->Publish(machine);
    EXPECT_EQ(service->Queries().size(), 1u);
    ExpectBalancedAfterUnload();
}

TEST_F(WakeLineArrival, ServiceGoneBeforeItWasReadyIsLookedUpInVainAndReported) {
    service->FailQueries(STATUS_DEVICE_NOT_CONNECTED);
    kmdf::DeviceId id = Add(soc::kSecondary);
    service->Publish(machine);
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    service->Withdraw(machine);
    PFILTER_EXTENSION e = Context(id);
    ExpectNothingOpen(e);
    EXPECT_TRUE(ReportedError("IoGetDeviceObjectPointer failed"));
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

// A device behind the first link: while the driver queries its interface, a second
// notification of the same registration, for another link, starts on another thread, as the
// system may deliver the one for an interface present at registration and a later one at the
// same time. The query is answered only once that notification waits or has returned.
class OverlappingNotification : public kmdf::Endpoint {
  public:
    OverlappingNotification(kmdf::Machine& m, std::shared_ptr<WakeLineService> s, NTSTATUS a)
        : machine(m), service(std::move(s)), answer(a) {
        secondName.Buffer = secondLink.data();
        secondName.Length = static_cast<USHORT>(secondLink.size() * sizeof(WCHAR));
        secondName.MaximumLength = secondName.Length;
        second.Event = GUID_DEVICE_INTERFACE_ARRIVAL;
        second.InterfaceClassGuid = GUID_WAKE_LINE_INTERFACE;
        second.SymbolicLinkName = &secondName;
    }
    ~OverlappingNotification() override { Join(); }

    NTSTATUS QueryInterface(const GUID& type, INTERFACE* iface, USHORT size, USHORT version,
                            PVOID data) override {
        ++queries;
        if (!overlap.joinable()) {
            overlap = std::thread([this] {
                secondStatus = OnWakeLineArrival(&second, context);
                secondDone = true;
            });
            while (machine.ThreadsWaiting() == 0 && !secondDone) {
                std::this_thread::yield();
            }
        }
        if (!NT_SUCCESS(answer)) {
            return answer;
        }
        return service->QueryInterface(type, iface, size, version, data);
    }
    void Join() {
        if (overlap.joinable()) {
            overlap.join();
        }
    }

    kmdf::Machine& machine;
    std::shared_ptr<WakeLineService> service;
    NTSTATUS answer;
    PVOID context = nullptr;
    std::wstring secondLink = WakeLineService::kDeviceName; // the working service
    UNICODE_STRING secondName{};
    DEVICE_INTERFACE_CHANGE_NOTIFICATION second{};
    std::thread overlap;
    std::atomic<bool> secondDone{false};
    NTSTATUS secondStatus = STATUS_UNSUCCESSFUL;
    int queries = 0;
};

class OverlappingArrivals : public WakeLineArrival {
  protected:
    // The first link's device answers the query with `answer`; the second link is the service.
    std::shared_ptr<OverlappingNotification> Overlap(PFILTER_EXTENSION e, NTSTATUS answer) {
        auto first = std::make_shared<OverlappingNotification>(machine, service, answer);
        first->context = e;
        machine.AddNamedDevice(WakeLineService::kDeviceName, service);
        machine.AddNamedDevice(L"\\Device\\Overlapping", first);
        machine.ArriveInterface(GUID_WAKE_LINE_INTERFACE, L"\\??\\overlapping",
                                L"\\Device\\Overlapping");
        first->Join();
        EXPECT_EQ(first->secondStatus, STATUS_SUCCESS);
        return first;
    }

    void ExpectReadyOnTheServiceUntilRelease(kmdf::DeviceId id, PFILTER_EXTENSION e) {
        EXPECT_TRUE(WakeInterfaceIsReady(e));
        EXPECT_EQ(service->Queries().size(), 1u);
        EXPECT_EQ(service->References(), 1);
        EXPECT_EQ(machine.GetBooks().references, 1u) << "one file object, that of the target";
        ASSERT_EQ(machine.StopDevice(id), STATUS_SUCCESS);
        EXPECT_EQ(service->References(), 0);
        ExpectNothingOpen(e);
    }
};

TEST_F(OverlappingArrivals, NotificationsTakeTurnsAndTheSecondLeavesTheReadyInterfaceAlone) {
    kmdf::DeviceId id = Add(soc::kPrimary);
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    PFILTER_EXTENSION e = Context(id);
    auto first = Overlap(e, STATUS_SUCCESS);
    EXPECT_EQ(first->queries, 1);
    ExpectReadyOnTheServiceUntilRelease(id, e);
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 0u);
    ExpectBalancedAfterUnload();
}

// The first link fails its query while the working service arrives: the second notification
// tries its own link, not the first one again, and the interface becomes ready.
TEST_F(OverlappingArrivals, SecondNotificationTriesItsOwnLinkAfterTheFirstFailed) {
    kmdf::DeviceId id = Add(soc::kMultiport);
    ASSERT_EQ(machine.StartDevice(id), STATUS_SUCCESS);
    PFILTER_EXTENSION e = Context(id);
    auto first = Overlap(e, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(first->queries, 1) << "the failing link is queried once";
    EXPECT_TRUE(ReportedError("WdfIoTargetQueryForInterface failed, status 0xC00000BB"));
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 1u);
    ExpectReadyOnTheServiceUntilRelease(id, e);
    ExpectBalancedAfterUnload();
}

// A device that leaves while the driver holds a file object on it lives on, and its interface
// keeps answering, until release hardware gives both back.
TEST_F(WakeLineArrival, ServiceWithdrawnWhileReferencedAnswersUntilRelease) {
    service->Publish(machine);
    kmdf::DeviceId id = Add(soc::kSecondary);
    kmdf::PowerPolicyOwner owner(machine, id);
    ASSERT_EQ(owner.Start(), STATUS_SUCCESS);
    service->Withdraw(machine);
    ASSERT_EQ(owner.Sleep(), STATUS_SUCCESS);
    auto calls = service->Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].line, 0x20Bu);
    EXPECT_EQ(calls[1].line, 0x20Au);
    EXPECT_EQ(calls[1].status, STATUS_SUCCESS);
    ASSERT_EQ(owner.Resume(), STATUS_SUCCESS);
    EXPECT_EQ(machine.GetBooks().references, 1u);
    ASSERT_EQ(owner.Stop(), STATUS_SUCCESS);
    EXPECT_EQ(service->References(), 0);
    EXPECT_EQ(machine.CountDiagnostics(TRACE_LEVEL_ERROR), 0u);
    ExpectBalancedAfterUnload();
}

} // namespace
