// A walk's events applied to the world, the framework and the instances.
#include "WalkRun.h"

#include "Scenario.h"
#include "WalkFirmware.h"
#include "WalkScheduler.h"
#include "frame/Driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace pelvane {

namespace {

using Owner = kmdf::PowerPolicyOwner;
using kmdf::PolicyState;

// The SS PHYs' start, status and power control registers (PHY block).
struct SsPhyRegs {
    std::uint32_t start, status, power;
};
constexpr SsPhyRegs kSsPhys[4] = {{0x9C44, 0x9C14, 0x9C40},
                                  {0xEC44, 0xEC14, 0xEC40},
                                  {0xB844, 0xB814, 0xB840},
                                  {0xC844, 0xC814, 0xC840}};
constexpr std::uint32_t kSsPhyNotReady = 0x40; // status bit 6

// Glue status 0 bit 4: the HS PHY's suspend not yet confirmed (as World stages it).
constexpr std::uint32_t kGuSb2PhyCfg0 = 0xC200;
constexpr std::uint32_t kGlueStatus0 = 0xF88F8;

std::string Status(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    return text;
}

bool Waiting(PolicyState s) {
    return s == PolicyState::WaitingUnarmed || s == PolicyState::WaitingArmed;
}

// The wake-line service's changes, which the system delivers on a thread of its own.
bool ServiceEvent(const std::string& kind) {
    return kind.rfind("service-", 0) == 0;
}

bool SystemEvent(const std::string& kind) {
    return kind == "sleep" || kind == "hibernate" || kind == "hibernate-aborted" ||
           kind == "fast-startup" || kind == "shutdown" || kind == "resume" || kind == "standby";
}

// Routines that only a load of the driver calls: a failure of theirs waits for the next load.
bool EntryRoutine(const std::string& routine) {
    return routine == "WdfDriverCreate" || routine == "EtwRegister";
}

bool Answers(const WorldOptions& o, const char* name) {
    for (const AcpiSetting& s : o.acpi) {
        if (s.name == name) {
            return s.kind != AcpiSetting::Kind::Missing && s.value == 1;
        }
    }
    return false;
}

} // namespace

std::uint64_t WalkRandom::Next() {
    // splitmix64
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

const std::vector<std::string>& InvariantNames() {
    static const std::vector<std::string> names = {
        "driver entry succeeds",
        "books at zero once the driver unloads",
        "a D0 exit with the HS PHY's suspend unconfirmed fails",
        "a transition fails only where the rules make it fail",
        "the hibernation image is written",
        "the driver never vetoes the wake-line service's removal",
        "a transition's virtual time stays bounded",
        "books balanced at the end",
        "books back where they were with no device left",
        "a removed device leaves nothing behind",
        "every instance in D0 has a core configured as a host",
        "wake events disarmed in D0",
        "every SS PHY of a running controller is programmed",
        "the MPRD GPIO line is high while Multiport runs",
    };
    return names;
}

const std::vector<std::string>& FailableRoutines() {
    static const std::vector<std::string> routines = {
        "WdfDeviceCreate",
        "WdfMemoryCreate",
        "WdfCollectionCreate",
        "WdfCollectionAdd",
        "WdfIoTargetCreate",
        "WdfIoTargetOpen",
        "WdfIoTargetSendIoctlSynchronously",
        "WdfIoTargetQueryForInterface",
        "WdfWorkItemCreate",
        "IoRegisterPlugPlayNotification",
        "IoGetDeviceObjectPointer",
        "IoGetDeviceInterfaces",
        "MmMapIoSpaceEx",
        "ExAllocatePool2",
        "EtwWriteTransfer",
        "AuxKlibGetSystemFirmwareTable",
        "AuxKlibInitialize",
        "WdfDriverCreate",
        "EtwRegister",
    };
    return routines;
}

WorldOptions DrawWorld(std::uint64_t seed) {
    WalkRandom random(seed ^ 0x5757414C4B000000ULL);
    WorldOptions o;
    for (const char* name : {"GEN1", "MPRD", "MPDP", "CCVL"}) {
        o.acpi.push_back({name, AcpiSetting::Kind::Byte, random.Chance(50) ? 1u : 0u});
    }
    int ready = random.Below(10);
    o.ssPhyReadyAfter = ready < 7 ? 1 : ready < 9 ? 3 : -1;
    int service = random.Below(10);
    o.service = service < 6   ? ServiceArrival::Early
                : service < 8 ? ServiceArrival::Late
                              : ServiceArrival::Absent;
    o.provider = random.Chance(70);
    if (random.Chance(40)) {
        o.pagingDevice = random.Below(kInstances);
    }
    if (random.Chance(40)) {
        o.hibernationDevice = random.Below(kInstances);
    }
    return o;
}

struct WalkRun::Sink : soc::TraceSink {
    static constexpr std::size_t kKeep = 16;
    std::ostream* out = nullptr;
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    std::deque<std::string> last;
    // Port resets that the driver started on Multiport's PORTSC4 (bit 4 written 1): only a
    // power-down abandoned for a port reset starts one.
    std::uint64_t portResets = 0;
    // What each instance's firmware answers for MPRD now, and whether its last evaluation by
    // the driver found 1.
    bool firmwareMprd[kInstances] = {false, false, false};
    bool mprdRead[kInstances] = {false, false, false};

    void Take(const soc::TraceRecord& r) override {
        if (r.target == "acpi" && r.method == "MPRD" && r.actor >= 0 && r.actor < kInstances) {
            mprdRead[r.actor] = NT_SUCCESS(r.status) && firmwareMprd[r.actor];
        }
        if (r.op == soc::Op::Write && r.block == soc::BlockKind::Controller &&
            r.instance == soc::kMultiport && r.offset == 0x450 && (r.value & 0x10) != 0) {
            ++portResets;
        }
        std::string line = soc::FormatJson(r);
        for (unsigned char c : line) {
            hash = (hash ^ c) * 0x100000001B3ULL;
        }
        hash = (hash ^ '\n') * 0x100000001B3ULL;
        if (out) {
            *out << line << "\n";
        }
        last.push_back(std::move(line));
        if (last.size() > kKeep) {
            last.pop_front();
        }
    }
};

WalkRun::WalkRun(const Walk& walk, const WalkRunOptions& options)
    : instances_(walk.instances), options_(options), sink_(std::make_unique<Sink>()) {
    sink_->out = options.trace;
    soc_.StreamTrace(sink_.get());
    seed_ = walk.seed;
    if (walk.threads) {
        scheduler_ = std::make_unique<WalkScheduler>(walk.seed, walk.switches);
        hardware_ = std::make_unique<ScheduledHardware>(soc_, *scheduler_);
        machine_ = std::make_unique<kmdf::Machine>(*hardware_);
        machine_->SetOwnWorker(true);
    } else {
        machine_ = std::make_unique<kmdf::Machine>(soc_);
    }
    world_ = std::make_unique<World>(soc_, *machine_, DrawWorld(walk.seed));
    world_->LimitHistory(kRunHistory);
    for (bool& answers : sink_->firmwareMprd) {
        answers = Answers(world_->Options(), "MPRD");
    }
}

bool WalkRun::MprdRead(int instance) const {
    return sink_->mprdRead[instance];
}

WalkRun::~WalkRun() {
    if (!ended_) {
        End(currentStep_); // a failed walk still leaves the machine as an unload leaves it
    }
    for (auto& life : life_) {
        life.owner.reset();
    }
    world_.reset();
    machine_.reset();
    hardware_.reset();
    scheduler_.reset();
    soc_.StreamTrace(nullptr);
}

bool WalkRun::Fail(std::size_t step, const std::string& invariant, const std::string& detail) {
    if (result_.ok) {
        result_.ok = false;
        result_.step = step;
        result_.invariant = invariant;
        result_.detail = detail;
    }
    return false;
}

WalkResult WalkRun::Result() {
    soc_.FlushTrace();
    WalkResult r = result_;
    r.traceHash = sink_->hash;
    r.lastRecords.assign(sink_->last.begin(), sink_->last.end());
    r.eventsApplied = applied_;
    return r;
}

bool WalkRun::Begin() {
    world_->Install();
    WatchSsPhys();
    bool loaded = false;
    Scheduled(
        [&] {
            NTSTATUS status = machine_->LoadDriver(DriverEntry);
            if (!NT_SUCCESS(status)) {
                Fail(0, "driver entry succeeds", Status(status));
                return;
            }
            loaded = loaded_ = true;
            loadedBooks_ = machine_->GetBooks().Describe();
            for (int instance : instances_) {
                AddInstance(instance);
            }
            world_->AfterStart();
        },
        "begin");
    return loaded && result_.ok && CheckWalkStep(*this, 0);
}

// The interleaving of a step comes from the walk's seed and the step's event, not from its
// place in the walk: a shrunk walk meets its events in the same interleavings.
void WalkRun::Scheduled(const std::function<void()>& body, const std::string& label) {
    if (!scheduler_) {
        body();
        return;
    }
    std::uint64_t seed = seed_ * 0x100000001B3ULL;
    for (unsigned char c : label) {
        seed = (seed ^ c) * 0x100000001B3ULL;
    }
    scheduler_->Run(seed, body, [this] { machine_->RunWorkItems(); });
}

// With threads, a change of the service runs on the notification thread beside the event
// that follows it (or the end), so that its deliveries meet that event's callbacks and the
// work items in the order the seed picks; before it when that is a system transition.
void WalkRun::ApplyStep(const WalkEvent& e) {
    if (!scheduler_) {
        ApplyAndUnload(e);
        return;
    }
    if (ServiceEvent(e.kind) && !deferred_) {
        deferred_ = e;
        return;
    }
    std::optional<WalkEvent> beside = std::exchange(deferred_, std::nullopt);
    if (beside && SystemEvent(e.kind)) {
        // The power manager holds the device tree through a system transition: the PnP
        // manager delivers the change before it, not during it.
        Scheduled([&] { Apply(*beside); }, beside->Text());
        beside.reset();
    }
    Scheduled(
        [&] {
            std::vector<int> world;
            if (beside) {
                world.push_back(scheduler_->Spawn([&] { Apply(*beside); }));
            }
            Apply(e);
            scheduler_->Join(world);
            UnloadIfUnused();
        },
        beside ? beside->Text() + " & " + e.Text() : e.Text());
}

void WalkRun::ApplyAndUnload(const WalkEvent& e) {
    Apply(e);
    UnloadIfUnused();
}

// The PnP manager unloads a driver once its last device object is gone. The books must then
// be at zero: whatever the driver still held is lost for good.
void WalkRun::UnloadIfUnused() {
    if (!loaded_ || system_ != SystemState::Working) {
        return;
    }
    for (int instance : instances_) {
        if (life_[instance].present) {
            return;
        }
    }
    machine_->UnloadDriver();
    loaded_ = false;
    CheckBooksAtZero("");
}

void WalkRun::CheckBooksAtZero(const std::string& when) {
    kmdf::Books books = machine_->GetBooks();
    if (!books.AllZero()) {
        Fail(currentStep_, "books at zero once the driver unloads", when + books.Describe());
    }
}

// The next device of an unloaded driver loads it first. A driver entry that fails (only an
// injected failure may make it) must give back everything it took, and the device is not
// added: the PnP manager tries the load again with the next enumeration.
bool WalkRun::LoadDriver(int instance) {
    if (loaded_) {
        return true;
    }
    NTSTATUS status = machine_->LoadDriver(DriverEntry);
    Transition(instance, "driver entry", status, false);
    if (!NT_SUCCESS(status)) {
        CheckBooksAtZero("after a failed driver entry: ");
        return false;
    }
    loaded_ = true;
    loadedBooks_ = machine_->GetBooks().Describe();
    return true;
}

bool WalkRun::Running(int instance) const {
    const InstanceLife& life = life_[instance];
    return life.present && life.owner && life.owner->State() == PolicyState::Started &&
           machine_->DeviceStarted(life.owner->Id());
}

void WalkRun::Inject(const std::string& routine) {
    armedRoutine_ = routine;
    armedAt_ = machine_->CallCount(routine);
    machine_->FailNext(routine, STATUS_INSUFFICIENT_RESOURCES);
}

bool WalkRun::InjectionFired() {
    if (!armedRoutine_.empty() && machine_->CallCount(armedRoutine_) > armedAt_) {
        armedRoutine_.clear();
        injectedThisStep_ = true;
        for (int instance : instances_) {
            life_[instance].degraded = true;
        }
    }
    return injectedThisStep_;
}

// A transition's result against the rules: `mustFail` where the rules make it fail, and any
// other failure only where an injected failure made a framework or kernel call fail.
void WalkRun::Transition(int instance, const char* name, NTSTATUS status, bool mustFail) {
    InstanceLife& life = life_[instance];
    bool injected = InjectionFired();
    std::string who = std::string(soc::InstanceName(instance)) + " " + name;
    if (NT_SUCCESS(status) && mustFail) {
        Fail(currentStep_, "a D0 exit with the HS PHY's suspend unconfirmed fails",
             who + " succeeded");
    } else if (!NT_SUCCESS(status) && !mustFail && !injected) {
        Fail(currentStep_, "a transition fails only where the rules make it fail",
             who + " failed, status " + Status(status));
    }
    if (life.owner && !machine_->DevicePresent(life.owner->Id())) {
        life.present = false;
    } else if (life.owner && life.owner->Id() != life.id) {
        Restarted(instance);
    }
}

// The framework had the stack enumerated again after a failed D0 exit or entry: a new device,
// freshly brought up, with the disks behind it arriving again.
void WalkRun::Restarted(int instance) {
    InstanceLife& life = life_[instance];
    life.id = life.owner->Id();
    devices_.push_back(life.id);
    life.lowPowerExit = false;
    life.degraded = injectedThisStep_;
    NTSTATUS status = world_->AnnounceSpecialFiles(instance, life.id);
    if (!NT_SUCCESS(status) && !InjectionFired()) {
        Fail(currentStep_, "a transition fails only where the rules make it fail",
             std::string(soc::InstanceName(instance)) +
                 " usage notification after a restart failed, status " + Status(status));
    }
}

void WalkRun::AddInstance(int instance) {
    InstanceLife& life = life_[instance];
    if (!LoadDriver(instance)) {
        life.owner.reset();
        life.present = false;
        return;
    }
    kmdf::DeviceId id = 0;
    NTSTATUS status = machine_->AddDevice(world_->Device(instance), &id);
    if (!NT_SUCCESS(status)) {
        Transition(instance, "device add", status, false);
        life.owner.reset();
        life.present = false;
        return;
    }
    life.owner = std::make_unique<Owner>(*machine_, id);
    life.owner->EnableWakeFromSx(life.wakeFromSx);
    life.id = id;
    devices_.push_back(id);
    life.present = true;
    life.lowPowerExit = false;
    injectedThisStep_ = false;
    status = life.owner->Start();
    Transition(instance, "start", status, false);
    if (!life.present) {
        return;
    }
    if (!injectedThisStep_) {
        life.degraded = false;
    }
    status = world_->AnnounceSpecialFiles(instance, id);
    Transition(instance, "usage notification", status, false);
}

void WalkRun::RemoveInstance(int instance) {
    InstanceLife& life = life_[instance];
    if (life.present && machine_->DeviceStarted(life.owner->Id())) {
        Transition(instance, "stop", life.owner->Stop(), false);
    }
    if (life.owner) {
        machine_->RemoveDevice(life.owner->Id());
    }
    life.present = false;
}

// Counts each SS PHY's starts and notes when its power control is written 0. The start
// keeps the readiness that the world gave the PHY (Soc::SsPhyReadyAfter).
void WalkRun::WatchSsPhys() {
    int ready = world_->Options().ssPhyReadyAfter;
    int busyReads = ready < 0 ? -1 : ready - 1;
    for (int phy = 0; phy < 4; ++phy) {
        soc_.OnWrite(soc::BlockKind::Phy, 0, kSsPhys[phy].start,
                     [this, phy, busyReads](std::uint32_t, soc::Soc::RegisterView& view) {
                         ++phyStarts_[phy];
                         view.ClearBitsAfterReads(soc::BlockKind::Phy, 0, kSsPhys[phy].status,
                                                  kSsPhyNotReady, busyReads);
                     });
        soc_.OnWrite(soc::BlockKind::Phy, 0, kSsPhys[phy].power,
                     [this, phy](std::uint32_t written, soc::Soc::RegisterView&) {
                         if (written == 0) {
                             phyOffAt_[phy] = phyStarts_[phy];
                         }
                     });
    }
}

void WalkRun::PowerOff() {
    world_->PowerOff();
    // The image goes through a running controller only: one torn down after a failed
    // transition, or stopped, has no disk behind it to write to, and the system's hibernation
    // fails there, as it would on Windows.
    const std::optional<int>& disk = world_->Options().hibernationDevice;
    bool running =
        disk && life_[*disk].present && life_[*disk].owner->State() != PolicyState::Stopped;
    if (running && world_->LastHibernationImageLost()) {
        Fail(currentStep_, "the hibernation image is written",
             std::string("lost on ") + soc::InstanceName(*world_->Options().hibernationDevice));
    }
    for (int phy = 0; phy < 4; ++phy) {
        phyOffAt_[phy] = phyStarts_[phy];
    }
}

std::vector<int> WalkRun::Order(const std::string& arg) const {
    std::vector<int> order;
    for (char c : arg) {
        if (c >= '0' && c < '0' + kInstances &&
            std::find(instances_.begin(), instances_.end(), c - '0') != instances_.end()) {
            order.push_back(c - '0');
        }
    }
    for (int instance : instances_) {
        if (std::find(order.begin(), order.end(), instance) == order.end()) {
            order.push_back(instance);
        }
    }
    return order;
}

// A system transition that each instance's power policy owner turns into its requests, in
// the order the event gives. A D0 exit of Primary or Secondary to a low-power state fails when
// its HS PHY never confirms the suspend, unless the controller stays powered for the
// hibernation image.
void WalkRun::SystemTransition(const WalkEvent& e, NTSTATUS (Owner::*call)(),
                               const char* transition, bool d3final) {
    ForInstances(Order(e.arg), [&](int instance) {
        InstanceLife& life = life_[instance];
        if (!life.present) {
            return;
        }
        PolicyState before = life.owner->State();
        // An idle device that is not armed gets no request, unless its owner wants it armed for
        // the system's wake from sleep.
        bool request =
            before == PolicyState::Started || before == PolicyState::WaitingArmed ||
            (before == PolicyState::WaitingUnarmed && life.wakeFromSx && e.kind == "sleep");
        if (!request && before != PolicyState::WaitingUnarmed) {
            return; // stopped: the system goes without it
        }
        bool hibernationPath = e.kind != "sleep" && world_->Options().hibernationDevice == instance;
        bool mustFail =
            request && !d3final && life.hsStuck && instance != soc::kMultiport && !hibernationPath;
        Transition(instance, transition, (life.owner.get()->*call)(), mustFail);
        if (request && !d3final && !hibernationPath) {
            life.lowPowerExit = true;
        }
    });
}

void WalkRun::ForInstances(const std::vector<int>& order, const std::function<void(int)>& step) {
    if (!scheduler_ || !scheduler_->OnThread()) {
        for (int instance : order) {
            step(instance);
        }
        return;
    }
    std::vector<int> threads;
    for (int instance : order) {
        threads.push_back(scheduler_->Spawn([&step, instance] { step(instance); }));
    }
    scheduler_->Join(threads);
}

void WalkRun::System(const WalkEvent& e) {
    const std::string& k = e.kind;
    if (k == "resume") {
        if (system_ == SystemState::Off) {
            world_->PowerOn();
        }
        world_->System("resume");
        ForInstances(Order(e.arg), [&](int instance) {
            InstanceLife& life = life_[instance];
            if (life.present && (life.owner->State() == PolicyState::Sleeping ||
                                 life.owner->State() == PolicyState::SystemAsleepNoWake)) {
                Transition(instance, "resume", life.owner->Resume(), false);
            }
        });
        system_ = SystemState::Working;
        return;
    }
    if (k == "standby") {
        Standby(e);
        return;
    }
    world_->System(k == "hibernate-aborted" ? "hibernate" : k.c_str());
    if (k == "sleep") {
        SystemTransition(e, &Owner::Sleep, "sleep", false);
        system_ = SystemState::Asleep;
    } else if (k == "hibernate" || k == "hibernate-aborted") {
        SystemTransition(e, &Owner::Hibernate, "hibernate", false);
        if (k == "hibernate") {
            PowerOff();
            system_ = SystemState::Off;
        } else {
            bool written = true;
            soc_.WriteHibernationImage(&written); // the image was written, then not used
            system_ = SystemState::HibernationAborted;
        }
    } else if (k == "fast-startup") {
        SystemTransition(e, &Owner::FastStartup, "fast startup", false);
        PowerOff();
        system_ = SystemState::Off;
    } else if (k == "shutdown") {
        SystemTransition(e, &Owner::Shutdown, "shutdown", true);
        PowerOff();
        system_ = SystemState::ShutDown;
    }
}

// Modern standby: the system stays in S0 and every running controller goes to Dx through
// runtime idle, armed for wake, each on the owner's own schedule (the event's order).
void WalkRun::Standby(const WalkEvent& e) {
    world_->System("standby");
    ForInstances(Order(e.arg), [&](int instance) {
        InstanceLife& life = life_[instance];
        if (!life.present || life.owner->State() != PolicyState::Started) {
            return;
        }
        bool mustFail = life.hsStuck && instance != soc::kMultiport;
        life.lowPowerExit = true;
        Transition(instance, "standby", life.owner->Idle(true), mustFail);
    });
}

void WalkRun::PortSituation(const WalkEvent& e) {
    int i = e.instance;
    int k = e.port;
    // Primary and Secondary: PORTSC1 high speed, PORTSC2 super speed; Multiport: 1 and 2
    // high speed, 3 and 4 super speed.
    bool superSpeed = i == soc::kMultiport ? k >= 3 : k == 2;
    std::uint32_t speed = superSpeed ? 4 : 3;
    if (e.arg == "attached") {
        soc_.AttachPort(i, k, speed, soc::link::kU0);
    } else if (e.arg == "suspended") {
        soc_.AttachPort(i, k, speed, soc::link::kU3);
    } else if (e.arg == "polling") {
        soc_.DetachPort(i, k);
        soc_.SetPortLinkState(i, k, soc::link::kPolling);
    } else if (e.arg == "empty") {
        soc_.DetachPort(i, k);
        soc_.SetPortLinkState(i, k, soc::link::kRxDetect);
    } else if (e.arg == "reset-never") {
        soc_.SetPortResetTime(i, k, soc::PortModel::kNever);
    } else if (e.arg == "reset-10ms") {
        soc_.SetPortResetTime(i, k, 10'000'000);
    }
}

void WalkRun::StickHs(int instance, bool stuck) {
    life_[instance].hsStuck = stuck;
    if (stuck) {
        soc_.OnWrite(soc::BlockKind::Controller, instance, kGuSb2PhyCfg0,
                     [instance](std::uint32_t written, soc::Soc::RegisterView& view) {
                         if (written & 0x40) {
                             view.ClearBitsAfterReads(soc::BlockKind::Controller, instance,
                                                      kGlueStatus0, 0x10, -1);
                         }
                     });
    } else {
        soc_.OnWrite(soc::BlockKind::Controller, instance, kGuSb2PhyCfg0,
                     [](std::uint32_t, soc::Soc::RegisterView&) {});
        soc_.ClearBitsAfterReads(soc::BlockKind::Controller, instance, kGlueStatus0, 0x10, 0);
    }
}

void WalkRun::Apply(const WalkEvent& e) {
    const std::string& k = e.kind;
    int i = e.instance;
    InstanceLife* life = i >= 0 ? &life_[i] : nullptr;
    if (k == "idle" || k == "idle-armed") {
        bool mustFail = life->hsStuck && i != soc::kMultiport;
        life->lowPowerExit = true; // unless the stack is enumerated again (Restarted)
        Transition(i, k.c_str(), life->owner->Idle(k == "idle-armed"), mustFail);
    } else if (k == "active") {
        Transition(i, "active", life->owner->Active(), false);
    } else if (k == "stop") {
        Transition(i, "stop", life->owner->Stop(), false);
    } else if (k == "start") {
        life->lowPowerExit = false;
        Transition(i, "restart", life->owner->Start(), false);
        if (!injectedThisStep_ && life->present) {
            life->degraded = false;
        }
    } else if (k == "remove") {
        RemoveInstance(i);
    } else if (k == "rebalance") {
        // D0 exit to D3Final, release, prepare with the same lists, D0 entry from D3Final.
        life->lowPowerExit = false;
        Transition(i, "rebalance", life->owner->Rebalance(), false);
    } else if (k == "surprise-remove") {
        // The device is gone afterwards; an `add` later is its enumeration again.
        Transition(i, "surprise removal", life->owner->SurpriseRemove(), false);
        life->present = false;
    } else if (k == "add") {
        AddInstance(i);
    } else if (k == "port") {
        PortSituation(e);
    } else if (k == "hs-stuck" || k == "hs-free") {
        StickHs(i, k == "hs-stuck");
    } else if (k == "fail") {
        Inject(e.arg);
    } else if (k == "firmware") {
        std::optional<FirmwareChange> change = ParseFirmwareChange(e.arg);
        ApplyFirmwareChange(world_->Firmware(i), i, *change);
        if (change->name == "MPRD") {
            sink_->firmwareMprd[i] = change->answer == "1";
        }
    } else if (k == "wake-sx") {
        life->wakeFromSx = e.arg == "on";
        if (life->owner) {
            life->owner->EnableWakeFromSx(life->wakeFromSx);
        }
    } else if (k == "restarts") {
        machine_->AllowRestarts(std::atoi(e.arg.c_str()));
    } else if (k == "service-arrive") {
        world_->Publish();
    } else if (k == "service-update") {
        world_->Withdraw();
        world_->Publish();
    } else if (k == "service-cancel") {
        world_->CancelledUpdate();
    } else if (k == "service-remove") {
        world_->Withdraw();
    } else if (k == "service-surprise") {
        world_->SurpriseRemoveService();
    } else {
        System(e);
    }
    if (world_->ServiceVetoed()) {
        Fail(currentStep_, "the driver never vetoes the wake-line service's removal", k);
    }
}

bool WalkRun::Step(std::size_t step, const WalkEvent& e) {
    currentStep_ = step;
    injectedThisStep_ = false;
    if (options_.trace) {
        soc_.FlushTrace();
        *options_.trace << "# step " << step << ": " << e.Text() << "\n";
    }
    std::uint64_t before[kInstances];
    for (int instance = 0; instance < kInstances; ++instance) {
        before[instance] = soc_.Clock().NowNs(instance);
    }
    bool lostPower[kInstances];
    for (int instance : instances_) {
        lostPower[instance] = system_ == SystemState::Off;
    }
    soc_.FlushTrace();
    std::uint64_t resets = sink_->portResets;
    ApplyStep(e);
    InjectionFired();
    soc_.FlushTrace();
    if (sink_->portResets > resets) {
        life_[soc::kMultiport].lowPowerExit = false;
    }
    ++applied_;
    // A D0 entry after the power was lost ran the whole bring-up again.
    for (int instance : instances_) {
        if (lostPower[instance] && !injectedThisStep_ && Running(instance)) {
            life_[instance].degraded = false;
        }
    }
    // With every device removed or torn down and the driver still loaded (the system is not
    // working yet), the books are back where they were before the first add.
    bool anyPresent = false;
    for (int instance : instances_) {
        anyPresent = anyPresent || life_[instance].present;
    }
    if (!anyPresent && loaded_ && machine_->GetBooks().Describe() != loadedBooks_) {
        Fail(step, "books back where they were with no device left",
             machine_->GetBooks().Describe() + " after, " + loadedBooks_ + " before the adds");
    }
    CheckGoneDevices(step);
    // Mandated waits and bounded polls: a bring-up, a port reset of 500 ms, the status polls.
    constexpr std::uint64_t kStepBoundNs = 1'500'000'000;
    for (int instance : instances_) {
        std::uint64_t spent = soc_.Clock().NowNs(instance) - before[instance];
        if (spent > kStepBoundNs) {
            Fail(step, "a transition's virtual time stays bounded",
                 std::string(soc::InstanceName(instance)) + " took " + std::to_string(spent) +
                     " ns");
        }
    }
    return result_.ok && CheckWalkStep(*this, step);
}

// A device that is gone (removed, surprise-removed, torn down after a failed transition) holds
// nothing of what its callbacks and work items took, whatever the other devices hold.
void WalkRun::CheckGoneDevices(std::size_t step) {
    std::vector<kmdf::DeviceId> left;
    for (kmdf::DeviceId id : devices_) {
        if (machine_->DevicePresent(id)) {
            left.push_back(id);
            continue;
        }
        kmdf::Books books = machine_->GetBooks(id);
        if (!books.AllZero()) {
            Fail(step, "a removed device leaves nothing behind",
                 "device " + std::to_string(id) + ": " + books.Describe());
        }
    }
    devices_ = std::move(left);
}

bool WalkRun::End(std::size_t step) {
    ended_ = true;
    currentStep_ = step;
    injectedThisStep_ = false;
    if (options_.trace) {
        soc_.FlushTrace();
        *options_.trace << "# end\n";
    }
    std::optional<WalkEvent> beside = std::exchange(deferred_, std::nullopt);
    if (beside && system_ != SystemState::Working) {
        Scheduled([&] { Apply(*beside); }, beside->Text()); // before the resume (ApplyStep)
        beside.reset();
    }
    bool withdrawn = true;
    Scheduled(
        [&] {
            std::vector<int> world;
            if (beside) {
                world.push_back(scheduler_->Spawn([&] { Apply(*beside); }));
            }
            if (system_ == SystemState::Asleep || system_ == SystemState::Off ||
                system_ == SystemState::HibernationAborted) {
                System(WalkEvent{"resume", -1, 0, ""});
            }
            for (int instance : instances_) {
                RemoveInstance(instance);
            }
            machine_->UnloadDriver();
            if (scheduler_) {
                scheduler_->Join(world);
            }
            withdrawn = world_->Withdraw();
        },
        "end");
    if (!withdrawn || world_->ServiceVetoed()) {
        Fail(step, "the driver never vetoes the wake-line service's removal", "at the end");
    }
    kmdf::Books books = machine_->GetBooks();
    if (!books.AllZero()) {
        Fail(step, "books balanced at the end", books.Describe());
    }
    return result_.ok;
}

bool WalkRun::Legal(const WalkEvent& e) const {
    const std::string& k = e.kind;
    bool working = system_ == SystemState::Working;
    if (system_ == SystemState::ShutDown) {
        return false;
    }
    if (k == "resume") {
        return !working;
    }
    if (k == "port") {
        return e.instance >= 0 && e.instance < kInstances && e.port >= 1 &&
               e.port <= (e.instance == soc::kMultiport ? 4 : 2);
    }
    if (!working) {
        return false;
    }
    if (k == "sleep" || k == "hibernate" || k == "hibernate-aborted" || k == "fast-startup" ||
        k == "shutdown" || k == "standby") {
        return true;
    }
    if (k == "fail") {
        return armedRoutine_.empty() && (!EntryRoutine(e.arg) || !loaded_) &&
               std::find(FailableRoutines().begin(), FailableRoutines().end(), e.arg) !=
                   FailableRoutines().end();
    }
    if (k == "restarts") {
        return e.arg.size() == 1 && e.arg[0] >= '0' && e.arg[0] <= '3';
    }
    bool published = world_->Service().Present() != 0;
    if (ServiceEvent(k) && deferred_) {
        return false; // the system delivers one change of the device at a time
    }
    if (k == "service-arrive") {
        return !published;
    }
    if (k == "service-update" || k == "service-cancel" || k == "service-remove" ||
        k == "service-surprise") {
        return published;
    }
    if (std::find(instances_.begin(), instances_.end(), e.instance) == instances_.end()) {
        return false;
    }
    const InstanceLife& life = life_[e.instance];
    if (k == "firmware") {
        return ParseFirmwareChange(e.arg).has_value();
    }
    if (k == "wake-sx") {
        return (e.arg == "on" || e.arg == "off") && life.wakeFromSx != (e.arg == "on");
    }
    if (k == "add") {
        return !life.present;
    }
    if (!life.present) {
        return false;
    }
    PolicyState s = life.owner->State();
    if (k == "idle" || k == "idle-armed") {
        return s == PolicyState::Started;
    }
    if (k == "active") {
        return Waiting(s);
    }
    // The storage stack fails query-stop and query-remove while a disk behind the controller
    // carries the paging or hibernation file, so such a device is never stopped or removed.
    const WorldOptions& o = world_->Options();
    bool specialFile = o.pagingDevice == e.instance || o.hibernationDevice == e.instance;
    if (k == "stop") {
        return !specialFile && (s == PolicyState::Started || Waiting(s));
    }
    if (k == "start") {
        return s == PolicyState::Stopped;
    }
    if (k == "remove") {
        return !specialFile;
    }
    // A rebalance begins with a query-stop, which that stack fails too; losing the disk with
    // the paging file is a bug check, not a walk.
    if (k == "rebalance") {
        return !specialFile && (s == PolicyState::Started || Waiting(s));
    }
    if (k == "surprise-remove") {
        return !specialFile &&
               (s == PolicyState::Started || Waiting(s) || s == PolicyState::Stopped);
    }
    if (k == "hs-stuck" || k == "hs-free") {
        return e.instance != soc::kMultiport && life.hsStuck == (k == "hs-free");
    }
    return false;
}

std::vector<WalkEvent> WalkRun::Candidates(WalkRandom& random) const {
    std::vector<WalkEvent> all;
    std::string order;
    std::vector<int> shuffled = instances_;
    for (std::size_t n = shuffled.size(); n > 1; --n) {
        std::swap(shuffled[n - 1], shuffled[random.Below(static_cast<int>(n))]);
    }
    for (int instance : shuffled) {
        order += (order.empty() ? "" : ",") + std::to_string(instance);
    }
    auto add = [&](WalkEvent e, int weight) {
        if (Legal(e)) {
            for (int w = 0; w < weight; ++w) {
                all.push_back(e);
            }
        }
    };
    add({"resume", -1, 0, order}, 12);
    for (const char* k : {"sleep", "hibernate", "fast-startup"}) {
        add({k, -1, 0, order}, 3);
    }
    add({"hibernate-aborted", -1, 0, order}, 2);
    add({"standby", -1, 0, order}, 2);
    add({"restarts", -1, 0, std::to_string(random.Below(4))}, 1);
    if (random.Chance(5)) {
        add({"shutdown", -1, 0, order}, 1); // it ends the walk
    }
    for (const char* k : {"service-arrive", "service-update", "service-cancel", "service-remove",
                          "service-surprise"}) {
        // With threads, a change of the service runs beside the next event, and those races
        // are what the threads are for: they are drawn three times as often.
        add({k, -1, 0, ""}, scheduler_ ? 3 : 1);
    }
    add({"fail", -1, 0,
         FailableRoutines()[random.Below(static_cast<int>(FailableRoutines().size()))]},
        2);
    // The driver is loaded again with the next device: its entry may be made to fail.
    for (const char* routine : {"WdfDriverCreate", "EtwRegister"}) {
        add({"fail", -1, 0, routine}, loaded_ ? 0 : 3);
    }
    for (int instance : instances_) {
        add({"firmware", instance, 0, DrawFirmwareChange(random)}, 1);
        add({"wake-sx", instance, 0, random.Chance(50) ? "on" : "off"}, 1);
        for (const char* k : {"idle", "idle-armed", "active"}) {
            add({k, instance, 0, ""}, 3);
        }
        for (const char* k : {"stop", "start", "add"}) {
            add({k, instance, 0, ""}, 2);
        }
        add({"remove", instance, 0, ""}, 1);
        add({"rebalance", instance, 0, ""}, 1);
        add({"surprise-remove", instance, 0, ""}, 1);
        add({"hs-stuck", instance, 0, ""}, 1);
        add({"hs-free", instance, 0, ""}, 3);
        static const char* const situations[] = {"attached", "suspended",   "polling",
                                                 "empty",    "reset-never", "reset-10ms"};
        int ports = instance == soc::kMultiport ? 4 : 2;
        add({"port", instance, 1 + random.Below(ports), situations[random.Below(6)]}, 3);
    }
    return all;
}

} // namespace pelvane
