// PHY_SHARED_CTL is read-modified-written by the power-up of every instance without a lock.
// These tests run two power-ups at once on two threads and, through a turnstile in front of
// the simulated SoC, force the interleavings of their accesses to that one register that the
// hardware can see, to show what each leaves behind.
#include "frame/Driver.h"
#include "sequencing/PowerUp.h"

#include <gtest/gtest.h>
#include <kmdf/Machine.h>
#include <soc/Soc.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

namespace {

constexpr std::uint64_t kSharedCtl = soc::kPhyBase + 0x1018;

enum class Access { Read, Write };
struct Turn {
    int actor;
    Access access;
};

// The hardware seen through a turnstile: accesses of the scripted actors to PHY_SHARED_CTL
// wait until they are next in the script; everything else passes straight to the SoC.
class Turnstile : public kmdf::Hardware {
  public:
    explicit Turnstile(soc::Soc& soc) : soc_(soc) {}

    void Script(std::vector<Turn> turns) {
        std::lock_guard guard(lock_);
        script_ = std::move(turns);
        next_ = 0;
    }
    static void Act(int actor) { t_actor = actor; }

    kmdf::IoSpaceKind Classify(std::uint64_t p, std::size_t n) override {
        return soc_.Classify(p, n);
    }
    void* MemoryAt(std::uint64_t p, std::size_t n) override { return soc_.MemoryAt(p, n); }
    std::uint32_t Read32(std::uint64_t p) override {
        Wait(p, Access::Read);
        std::uint32_t v = soc_.Read32(p);
        Done(p);
        return v;
    }
    void Write32(std::uint64_t p, std::uint32_t v) override {
        Wait(p, Access::Write);
        soc_.Write32(p, v);
        Done(p);
    }
    void Barrier() override { soc_.Barrier(); }
    std::int64_t QueryPerformanceCounter() override { return soc_.QueryPerformanceCounter(); }
    std::int64_t PerformanceFrequency() override { return soc_.PerformanceFrequency(); }
    void Sleep(std::int64_t interval) override { soc_.Sleep(interval); }
    void SetActor(int instance) override { soc_.SetActor(instance); }
    void OnDiagnostic(const kmdf::DiagnosticRecord& d) override { soc_.OnDiagnostic(d); }
    void OnEvent(const kmdf::EventRecord& e) override { soc_.OnEvent(e); }

  private:
    bool Scripted(std::uint64_t p) const { return p == kSharedCtl && next_ < script_.size(); }
    void Wait(std::uint64_t p, Access access) {
        std::unique_lock guard(lock_);
        turn_.wait(guard, [&] {
            return !Scripted(p) ||
                   (script_[next_].actor == t_actor && script_[next_].access == access);
        });
    }
    void Done(std::uint64_t p) {
        std::lock_guard guard(lock_);
        if (Scripted(p)) {
            ++next_;
        }
        turn_.notify_all();
    }

    soc::Soc& soc_;
    std::mutex lock_;
    std::condition_variable turn_;
    std::vector<Turn> script_;
    std::size_t next_ = 0;
    static inline thread_local int t_actor = -1;
};

class PhySharedControl : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
        for (int i = 0; i < 2; ++i) {
            controller[i] = Map(soc::kControllerBase[i], soc::kControllerSize);
        }
        clockReset = Map(soc::kClockResetBase, soc::kClockResetSize);
        phy = Map(soc::kPhyBase, soc::kPhySize);
    }
    void TearDown() override {
        for (int i = 0; i < 2; ++i) {
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
        return MmMapIoSpaceEx(at, length, PAGE_READWRITE | PAGE_NOCACHE);
    }

    // A first D0 entry of "Primary" and "Secondary": nothing to resume, only the shared bit.
    FILTER_EXTENSION Context(LONG instance) {
        FILTER_EXTENSION c;
        std::memset(&c, 0, sizeof c);
        c.Instance = instance;
        c.ControllerBase = controller[instance];
        c.ClockResetBase = clockReset;
        c.PhyBase = phy;
        c.PortPairCount = 1;
        c.PortPairs = &pairs[instance];
        return c;
    }

    // Both power-ups at once, each on its own thread.
    void PowerUpBoth() {
        FILTER_EXTENSION a = Context(0), b = Context(1);
        std::thread ta([&] {
            Turnstile::Act(0);
            gate.SetActor(0);
            EXPECT_EQ(PowerUpController(&a, WdfPowerDeviceD3), STATUS_SUCCESS);
        });
        std::thread tb([&] {
            Turnstile::Act(1);
            gate.SetActor(1);
            EXPECT_EQ(PowerUpController(&b, WdfPowerDeviceD3), STATUS_SUCCESS);
        });
        ta.join();
        tb.join();
    }

    // The accesses to PHY_SHARED_CTL in the order the SoC saw them: actor, 'R' or 'W', value.
    std::vector<std::tuple<int, char, std::uint32_t>> SharedAccesses() const {
        std::vector<std::tuple<int, char, std::uint32_t>> out;
        for (auto& r : soc.Records()) {
            if ((r.op == soc::Op::Read || r.op == soc::Op::Write) &&
                r.block == soc::BlockKind::Phy && r.offset == 0x1018) {
                out.emplace_back(r.actor, r.op == soc::Op::Read ? 'R' : 'W', r.value);
            }
        }
        return out;
    }

    soc::Soc soc;
    Turnstile gate{soc};
    kmdf::Machine machine{gate};
    PVOID controller[2] = {};
    PVOID clockReset = nullptr, phy = nullptr;
    PORT_PAIR_STATE pairs[2] = {};
};

// A stale write: "Primary" reads the bit as 1 for its clear, is held before the write while
// "Secondary" runs its whole pulse, then writes its 0. Secondary has returned believing the
// bit set, yet it reads 0 until Primary sets it again 1 ms later: Secondary's update is lost
// for that time. The register ends set.
TEST_F(PhySharedControl, StaleClearUndoesTheOtherInstancesSet) {
    soc.Poke(soc::BlockKind::Phy, 0, 0x1018, 0xA1); // bit 0 set; other bits nobody writes
    gate.Script({{0, Access::Read},
                 {0, Access::Read},
                 {1, Access::Read},
                 {1, Access::Read},
                 {1, Access::Write},
                 {1, Access::Read},
                 {1, Access::Write},
                 {0, Access::Write},
                 {0, Access::Read},
                 {0, Access::Write}});
    PowerUpBoth();
    using Row = std::tuple<int, char, std::uint32_t>;
    EXPECT_EQ(SharedAccesses(), (std::vector<Row>{{0, 'R', 0xA1},
                                                  {0, 'R', 0xA1}, // test, clear
                                                  {1, 'R', 0xA1},
                                                  {1, 'R', 0xA1},
                                                  {1, 'W', 0xA0}, // clear
                                                  {1, 'R', 0xA0},
                                                  {1, 'W', 0xA1}, // set, done
                                                  {0, 'W', 0xA0}, // stale clear
                                                  {0, 'R', 0xA0},
                                                  {0, 'W', 0xA1}})); // set
    EXPECT_EQ(soc.Peek(soc::BlockKind::Phy, 0, 0x1018), 0xA1u);
}

// No preemption needed: the second instance starts inside the first one's 1 ms low phase,
// finds the bit clear and sets it at once. The first instance's low phase is cut short (its
// set reads the bit already 1), so the pulse it asked for never reaches 1 ms.
TEST_F(PhySharedControl, SecondInstanceCutsTheFirstOnesLowPhaseShort) {
    soc.Poke(soc::BlockKind::Phy, 0, 0x1018, 0x1);
    gate.Script({{0, Access::Read},
                 {0, Access::Read},
                 {0, Access::Write},
                 {1, Access::Read},
                 {1, Access::Read},
                 {1, Access::Write},
                 {0, Access::Read},
                 {0, Access::Write}});
    PowerUpBoth();
    using Row = std::tuple<int, char, std::uint32_t>;
    EXPECT_EQ(SharedAccesses(), (std::vector<Row>{{0, 'R', 1},
                                                  {0, 'R', 1},
                                                  {0, 'W', 0}, // test, clear
                                                  {1, 'R', 0},
                                                  {1, 'R', 0},
                                                  {1, 'W', 1}, // sees it clear, sets
                                                  {0, 'R', 1},
                                                  {0, 'W', 1}})); // set after its 1 ms
    EXPECT_EQ(soc.Peek(soc::BlockKind::Phy, 0, 0x1018), 0x1u);
}

// Whatever the interleaving, the register ends with bit 0 set and its other bits as they were:
// every instance ends with a set, and nobody writes another bit.
TEST_F(PhySharedControl, FreeRunningPowerUpsAlwaysEndWithTheBitSet) {
    for (int round = 0; round < 50; ++round) {
        soc.Poke(soc::BlockKind::Phy, 0, 0x1018, round % 2 == 0 ? 0x80000001u : 0x80000000u);
        PowerUpBoth();
        ASSERT_EQ(soc.Peek(soc::BlockKind::Phy, 0, 0x1018), 0x80000001u) << "round " << round;
    }
}

} // namespace
