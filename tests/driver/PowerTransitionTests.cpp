// D0 exit and D0 entry through the framework: the system power action, the wake-line service
// reached through its arrival, the GPIO target closed for hibernation and opened again, the
// hibernation resume with its bring-up, and the books after unload.
#include "Harness.h"
#include "Platform.h"
#include "SocInformation.h"
#include "WakeLineService.h"
#include "frame/Driver.h"
#include "frame/EventProvider.h"

#include <acpi/AcpiModel.h>
#include <gpio/GpioModel.h>

#include <algorithm>
#include <map>
#include <memory>
#include <utility>

namespace {

using soc::link::kU3;

class PowerTransitions : public MachineTest {
  protected:
    std::shared_ptr<acpi::AcpiModel> firmware = std::make_shared<acpi::AcpiModel>(soc);
    std::shared_ptr<gpio::GpioModel> line = std::make_shared<gpio::GpioModel>(soc);
    std::shared_ptr<wakeline::WakeLineService> service = wakeline::WakeLineService::Create(soc);

    void SetUp() override {
        for (int i = 0; i < 3; ++i) {
            std::shared_ptr<kmdf::Endpoint> endpoint = i == soc::kMultiport
                                                           ? std::shared_ptr<kmdf::Endpoint>(line)
                                                           : std::make_shared<kmdf::Endpoint>();
            machine.AddNamedDevice(pelvane::ResourceHubPath(pelvane::GpioConnectionId(i)),
                                   endpoint);
        }
        pelvane::InstallSocInformation(machine, soc, pelvane::SocInformation{});
        machine.EnableProvider(PELVANE_PROVIDER_GUID, TRACE_LEVEL_INFORMATION, 0);
        ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
        service->Publish(machine);
    }

    void TearDown() override {
        machine.UnloadDriver();
        EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
    }

    // Added and started; the power policy owner above the filter takes it from there.
    kmdf::DeviceId Start(int instance) {
        kmdf::DeviceSpec spec = pelvane::ControllerDevice(instance);
        spec.lowerDevice = firmware;
        kmdf::DeviceId id = 0;
        EXPECT_EQ(machine.AddDevice(spec, &id), STATUS_SUCCESS);
        owners[id] = std::make_unique<kmdf::PowerPolicyOwner>(machine, id);
        EXPECT_EQ(owners[id]->Start(), STATUS_SUCCESS);
        return id;
    }

    kmdf::PowerPolicyOwner& Owner(kmdf::DeviceId id) { return *owners.at(id); }

    // Hibernation as the system makes it: the owner's request, then the SoC and the GPIO line
    // lose their state while the system is off.
    NTSTATUS Hibernate(kmdf::DeviceId id) {
        NTSTATUS status = Owner(id).Hibernate();
        soc.PowerLoss();
        line->PowerLoss();
        return status;
    }

    std::map<kmdf::DeviceId, std::unique_ptr<kmdf::PowerPolicyOwner>> owners;

    PFILTER_EXTENSION Context(kmdf::DeviceId id) { return GetFilterExtension(machine.Device(id)); }

    std::vector<int> GpioLevels() const {
        std::vector<int> out;
        for (auto& r : soc.Records()) {
            if (r.op == soc::Op::Request && r.target == "gpio") {
                out.push_back(r.level);
            }
        }
        return out;
    }

    std::vector<std::pair<std::int64_t, std::int64_t>> WakeLineRequests() const {
        std::vector<std::pair<std::int64_t, std::int64_t>> out;
        for (auto& r : soc.Records()) {
            if (r.op == soc::Op::Request && r.target == "wake-line") {
                out.emplace_back(r.line, r.mode);
            }
        }
        return out;
    }

    // Index in the trace of the first record that `pred` accepts, or the trace's size.
    template <typename Pred> std::size_t First(Pred pred) const {
        auto records = soc.Records();
        return std::find_if(records.begin(), records.end(), pred) - records.begin();
    }
    template <typename Pred> std::size_t Last(Pred pred) const {
        auto records = soc.Records();
        auto it = std::find_if(records.rbegin(), records.rend(), pred);
        return it == records.rend() ? records.size() : records.rend() - it - 1;
    }
};

bool IsPhyAccess(const soc::TraceRecord& r, soc::Op op, std::uint32_t offset) {
    return r.op == op && r.block == soc::BlockKind::Phy && r.offset == offset;
}

TEST_F(PowerTransitions, PrimarySleepsWithItsWakeLinesAfterTheHsStepsAndWakes) {
    soc.AttachPort(soc::kPrimary, 1, 3, kU3);
    kmdf::DeviceId id = Start(soc::kPrimary);
    PFILTER_EXTENSION c = Context(id);
    soc.ClearTrace();

    ASSERT_EQ(Owner(id).Sleep(), STATUS_SUCCESS);
    using Request = std::pair<std::int64_t, std::int64_t>;
    EXPECT_EQ(WakeLineRequests(), (std::vector<Request>{{0x209, 2}, {0x208, 2}}));
    // Asked once, after the HS PHY pulse and before the SS PHY events are cleared.
    auto pulseEnd = Last([](auto& r) { return IsPhyAccess(r, soc::Op::Write, 0x2064); });
    auto request =
        First([](auto& r) { return r.op == soc::Op::Request && r.target == "wake-line"; });
    auto ssEvents = First([](auto& r) { return IsPhyAccess(r, soc::Op::Read, 0x9F10); });
    EXPECT_LT(pulseEnd, request);
    EXPECT_LT(request, ssEvents);
    EXPECT_EQ(c->PoweredDown, 1);

    soc.ClearTrace();
    ASSERT_EQ(Owner(id).Resume(), STATUS_SUCCESS);
    std::vector<int> ids;
    for (auto& r : soc.Records()) {
        if (r.op == soc::Op::Event) {
            ids.push_back(r.eventId);
        }
    }
    EXPECT_EQ(ids, (std::vector<int>{5, 5, 5, 4, 4, 6, 6, 2}));
    EXPECT_EQ(c->PoweredDown, 0);
    EXPECT_EQ(c->PortPairs[0].HsWakeArmed, 0);
}

TEST_F(PowerTransitions, MultiportHibernationClosesTheGpioTargetAndResumeOpensANewOne) {
    firmware->SetFlag("MPRD", 1);
    firmware->SetFlag("MPDP", 0);
    kmdf::DeviceId id = Start(soc::kMultiport);
    PFILTER_EXTENSION c = Context(id);
    ASSERT_NE(c->GpioTarget, nullptr);
    c->Mprd = 1;
    soc.ClearTrace();

    ASSERT_EQ(Hibernate(id), STATUS_SUCCESS);
    EXPECT_EQ(GpioLevels(), (std::vector<int>{0})) << "SS PHY 2 off, its supply follows";
    EXPECT_EQ(line->Level(), 0);
    EXPECT_EQ(c->GpioTarget, nullptr);
    EXPECT_EQ(c->Mprd, 0);
    EXPECT_EQ(c->PoweredDown, 1);

    soc.ClearTrace();
    ASSERT_EQ(Owner(id).Resume(), STATUS_SUCCESS);
    EXPECT_NE(c->GpioTarget, nullptr);
    EXPECT_EQ(c->PoweredDown, 0);
    EXPECT_EQ(c->PortPairs[0].SsPhyOff, 0) << "the bring-up programmed both SS PHYs";
    EXPECT_EQ(c->PortPairs[1].SsPhyOff, 0);
    // The power-up found nothing to resume: no power event 2.
    for (auto& r : soc.Records()) {
        EXPECT_FALSE(r.op == soc::Op::Event && r.eventId == 2);
    }

    // The new target reaches the line.
    c->Mprd = 1;
    soc.ClearTrace();
    ASSERT_EQ(Owner(id).Sleep(), STATUS_SUCCESS);
    EXPECT_EQ(GpioLevels(), (std::vector<int>{0}));
    EXPECT_NE(c->GpioTarget, nullptr) << "kept when the system only sleeps";
}

TEST_F(PowerTransitions, MprdDrivesTheGpioLineHighAtTheBringUpBetweenItsTwoReads) {
    firmware->SetFlag("MPRD", 1);
    firmware->SetFlag("MPDP", 1);
    soc.ClearTrace();
    kmdf::DeviceId id = Start(soc::kMultiport);
    EXPECT_EQ(GpioLevels(), (std::vector<int>{1}));
    EXPECT_EQ(line->Level(), 1);
    // MPRD, then the line, then MPDP.
    std::vector<std::string> order;
    for (auto& r : soc.Records()) {
        if (r.op == soc::Op::Request &&
            (r.method == "MPRD" || r.method == "MPDP" || r.target == "gpio")) {
            order.push_back(r.target == "gpio" ? "gpio" : r.method);
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"MPRD", "gpio", "MPDP"}));
    EXPECT_EQ(Context(id)->Mprd, 1);
    EXPECT_EQ(Context(id)->Mpdp, 1);
}

// Idle and not armed, the device sleeps through hibernation without a request: its D0 exit
// (action None) kept the target, and the bring-up after the power loss keeps it too.
TEST_F(PowerTransitions, HibernationResumeKeepsATargetThatIsStillOpen) {
    kmdf::DeviceId id = Start(soc::kMultiport);
    PFILTER_EXTENSION c = Context(id);
    WDFIOTARGET target = c->GpioTarget;
    ASSERT_NE(target, nullptr);
    ASSERT_EQ(Owner(id).Idle(false), STATUS_SUCCESS);
    ASSERT_EQ(Hibernate(id), STATUS_SUCCESS);
    ASSERT_EQ(Owner(id).Resume(), STATUS_SUCCESS);
    ASSERT_EQ(Owner(id).Active(), STATUS_SUCCESS);
    EXPECT_EQ(c->GpioTarget, target);
}

// The failed D0 entry on a resume tears the stack down: release hardware, no D0 exit.
TEST_F(PowerTransitions, FailedBringUpOnResumeFromHibernationIsTheResult) {
    kmdf::DeviceId id = Start(soc::kPrimary);
    PFILTER_EXTENSION c = Context(id);
    ASSERT_EQ(Hibernate(id), STATUS_SUCCESS);
    c->Instance = 3; // the only way the bring-up itself fails
    soc.ClearTrace();
    EXPECT_EQ(Owner(id).Resume(), STATUS_DEVICE_HARDWARE_ERROR);
    EXPECT_EQ(First([](auto& r) { return IsPhyAccess(r, soc::Op::Read, 0x1018); }),
              soc.Records().size())
        << "the power-up did not run";
    std::vector<std::string> after;
    for (auto& r : soc.Records()) {
        if (r.op == soc::Op::Callback && r.returned) {
            after.push_back(r.function);
        }
    }
    EXPECT_EQ(after, (std::vector<std::string>{"EvtDeviceD0Entry", "EvtDeviceReleaseHardware"}));
    EXPECT_EQ(Owner(id).State(), kmdf::PolicyState::Removed);
    EXPECT_FALSE(machine.DevicePresent(id));
}

TEST_F(PowerTransitions, FailedWakeLineRegistrationIsOnlyReported) {
    machine.FailNext("IoRegisterPlugPlayNotification", STATUS_INSUFFICIENT_RESOURCES);
    kmdf::DeviceId id = Start(soc::kSecondary);
    PFILTER_EXTENSION c = Context(id);
    EXPECT_EQ(c->ArrivalNotification, nullptr);
    soc.ClearTrace();
    ASSERT_EQ(Hibernate(id), STATUS_SUCCESS);
    EXPECT_TRUE(WakeLineRequests().empty()) << "the service never became ready";
    machine.FailNext("IoRegisterPlugPlayNotification", STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(Owner(id).Resume(), STATUS_SUCCESS);
    EXPECT_TRUE(ReportedError("wake-line registration"));

    // A later resume registers, and the service, present all along, becomes ready.
    ASSERT_EQ(Hibernate(id), STATUS_SUCCESS);
    ASSERT_EQ(Owner(id).Resume(), STATUS_SUCCESS);
    EXPECT_NE(c->ArrivalNotification, nullptr);
    soc.ClearTrace();
    ASSERT_EQ(Owner(id).Sleep(), STATUS_SUCCESS);
    using Request = std::pair<std::int64_t, std::int64_t>;
    EXPECT_EQ(WakeLineRequests(), (std::vector<Request>{{0x20B, 1}, {0x20A, 1}}));
}

// The same on a stack that is not power pageable: the resume makes no registration, which is
// pageable code, until the stack is pageable again.
TEST_F(PowerTransitions, NoWakeLineRegistrationOnTheResumeOfANonPageableStack) {
    machine.FailNext("IoRegisterPlugPlayNotification", STATUS_INSUFFICIENT_RESOURCES);
    kmdf::DeviceId id = Start(soc::kSecondary);
    PFILTER_EXTENSION c = Context(id);
    ASSERT_EQ(machine.NotifyUsage(id, DeviceUsageTypePaging, true), STATUS_SUCCESS);
    const std::size_t registrations = machine.CallCount("IoRegisterPlugPlayNotification");
    ASSERT_EQ(Hibernate(id), STATUS_SUCCESS);
    ASSERT_EQ(Owner(id).Resume(), STATUS_SUCCESS);
    EXPECT_EQ(machine.CallCount("IoRegisterPlugPlayNotification"), registrations);
    EXPECT_EQ(c->ArrivalNotification, nullptr);
    EXPECT_TRUE(ReportedError("no wake-line registration"));

    ASSERT_EQ(machine.NotifyUsage(id, DeviceUsageTypePaging, false), STATUS_SUCCESS);
    ASSERT_EQ(Hibernate(id), STATUS_SUCCESS);
    ASSERT_EQ(Owner(id).Resume(), STATUS_SUCCESS);
    EXPECT_NE(c->ArrivalNotification, nullptr);
}

} // namespace
