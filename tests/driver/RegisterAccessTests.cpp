// The register primitives as the hardware sees them: one barrier-preceded 32-bit access per
// operation, in program order, and the exact wait intervals.
#include "Harness.h"
#include "sequencing/RegisterAccess.h"

#include <evntrace.h>

#include <string>

namespace {

class RegisterAccess : public MachineTest {
  protected:
    void SetUp() override {
        PHYSICAL_ADDRESS at;
        at.QuadPart = static_cast<LONGLONG>(soc::kPhyBase);
        base = MmMapIoSpaceEx(at, soc::kPhySize, PAGE_READWRITE | PAGE_NOCACHE);
        ASSERT_NE(base, nullptr);
    }
    void TearDown() override { MmUnmapIoSpace(base, soc::kPhySize); }

    PVOID base = nullptr;
};

TEST_F(RegisterAccess, EveryAccessIsOneBarrierPrecededAccessInProgramOrder) {
    soc.Poke(soc::BlockKind::Phy, 0, 0x2064, 0x3);
    WriteRegister(base, 0x1018, 0x5);
    EXPECT_EQ(ReadRegister(base, 0x2064), 0x3u);
    ModifyRegister(base, 0x2064, 0x10, 0x12);
    ModifyRegister(base, 0x2064, 0x0, 0x1);

    auto a = Accesses();
    ASSERT_EQ(a.size(), 6u);
    struct Expected {
        soc::Op op;
        std::uint32_t offset, value;
    } expected[] = {
        {soc::Op::Write, 0x1018, 0x5}, {soc::Op::Read, 0x2064, 0x3},
        {soc::Op::Read, 0x2064, 0x3},  {soc::Op::Write, 0x2064, 0x11},
        {soc::Op::Read, 0x2064, 0x11}, {soc::Op::Write, 0x2064, 0x10},
    };
    for (std::size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(a[i].op, expected[i].op);
        EXPECT_EQ(a[i].block, soc::BlockKind::Phy);
        EXPECT_EQ(a[i].offset, expected[i].offset);
        EXPECT_EQ(a[i].value, expected[i].value);
        EXPECT_TRUE(a[i].barrier) << "access without a full barrier in front of it";
    }
}

TEST_F(RegisterAccess, ModifyRegisterSetsValueBitsOutsideTheMask) {
    ModifyRegister(base, 0x3064, 0x3, 0x1);
    EXPECT_EQ(soc.Peek(soc::BlockKind::Phy, 0, 0x3064), 0x3u);

    soc.Poke(soc::BlockKind::Phy, 0, 0x4064, 0xFFFF0000);
    ModifyRegister(base, 0x4064, 0x0, 0xFF000000);
    EXPECT_EQ(soc.Peek(soc::BlockKind::Phy, 0, 0x4064), 0x00FF0000u);
}

TEST_F(RegisterAccess, OnlyTheFullSystemBarrierCounts) {
    __dsb(0xB); // inner-shareable: does not order device accesses against everything
    READ_REGISTER_NOFENCE_ULONG(static_cast<volatile ULONG*>(base));
    __dsb(_ARM64_BARRIER_SY);
    WRITE_REGISTER_NOFENCE_ULONG(static_cast<volatile ULONG*>(base), 1);
    WRITE_REGISTER_NOFENCE_ULONG(static_cast<volatile ULONG*>(base), 2);
    auto a = Accesses();
    ASSERT_EQ(a.size(), 3u);
    EXPECT_FALSE(a[0].barrier);
    EXPECT_TRUE(a[1].barrier);
    EXPECT_FALSE(a[2].barrier) << "one barrier is consumed by one access";
}

TEST_F(RegisterAccess, SleepsPassNegativeIntervalsInHundredNanoseconds) {
    DelayMilliseconds(1);
    DelayMicroseconds(100);
    DelayMilliseconds(0xFFFFFFFFu); // widened before scaling: no 32-bit wrap
    DelayMicroseconds(0);
    auto d = Delays();
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[0].interval, -10000);
    EXPECT_EQ(d[0].lengthNs, 1000000u);
    EXPECT_EQ(d[1].interval, -1000);
    EXPECT_EQ(d[1].lengthNs, 100000u);
    EXPECT_EQ(d[2].interval, -10000LL * 0xFFFFFFFFLL);
    EXPECT_EQ(d[3].interval, 0);
    for (auto& r : d) {
        EXPECT_EQ(r.delay, soc::DelayKind::Sleep);
    }
    EXPECT_EQ(soc.Clock().NowNs(), 1100000u + 0xFFFFFFFFull * 1000000u);
}

struct StallCase {
    std::int64_t frequency;
    ULONG microseconds;
    std::uint64_t counterReads; // the start read with the frequency, then the polling reads
};

class Stall : public RegisterAccess, public ::testing::WithParamInterface<StallCase> {};

TEST_P(Stall, BusyWaitsForTheComputedTicksAndNoMore) {
    const StallCase c = GetParam();
    soc.Clock().SetFrequency(c.frequency);
    std::int64_t before = soc.Clock().Counter();
    LONGLONG last = StallMicroseconds(c.microseconds);

    auto d = Delays();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].delay, soc::DelayKind::BusyWait);
    EXPECT_EQ(d[0].counterReads, c.counterReads);
    EXPECT_GE(static_cast<std::uint64_t>(last - before),
              static_cast<std::uint64_t>(c.microseconds) * c.frequency / 1000000);
    EXPECT_TRUE(Accesses().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Frequencies, Stall,
    ::testing::Values(StallCase{1000000, 10, 11},  // 10 ticks, one per counter read
                      StallCase{99999, 10, 2},     // below one tick: one further read
                      StallCase{32768, 10, 2},     //
                      StallCase{1000000, 0, 2},    // n = 0: one further read
                      StallCase{19200000, 0, 2},   //
                      StallCase{1000000, 100, 101} // the HS PHY pulse width
                      ),
    [](const ::testing::TestParamInfo<StallCase>& info) {
        return "f" + std::to_string(info.param.frequency) + "_us" +
               std::to_string(info.param.microseconds);
    });

TEST_F(RegisterAccess, StallDoesNotOverflowForLongWaitsAtHighFrequency) {
    soc.Clock().SetFrequency(1000000);
    soc.Clock().SetCounterReadCost(1000000000); // every read takes 1 s
    StallMicroseconds(4000000000u);             // 4000 s: 4e15 before the division
    auto d = Delays();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].counterReads, 4001u);
}

} // namespace
