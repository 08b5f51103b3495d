// Virtual time with instances running at once: each instance's records carry its own clock,
// so its durations are the sum of its own waits whatever the others do meanwhile.
#include <gtest/gtest.h>
#include <kmdf/Machine.h>
#include <soc/Soc.h>

#include "sequencing/RegisterAccess.h"

#include <thread>
#include <vector>

namespace {

struct Timeline {
    std::vector<soc::TraceRecord> accesses; // this actor's reads and writes, in order
    std::uint64_t sleptNs = 0;
    std::uint64_t busyNs = 0;
};

// What one instance does: writes, reads, sleeps and busy-waits of lengths of its own.
void RunInstance(soc::Soc& s, int instance) {
    s.SetActor(instance);
    PHYSICAL_ADDRESS start;
    start.QuadPart = static_cast<LONGLONG>(soc::kControllerBase[instance]);
    PVOID base = MmMapIoSpaceEx(start, 0x100000, PAGE_READWRITE | PAGE_NOCACHE);
    ASSERT_NE(base, nullptr);
    for (ULONG k = 0; k < 40; ++k) {
        WriteRegister(base, 0xC110, k);
        DelayMicroseconds(10 * (instance + 1) + k);
        ReadRegister(base, 0xC110);
        StallMicroseconds(5 + instance);
        if (k % 8 == 0) {
            DelayMilliseconds(1 + instance);
        }
    }
    MmUnmapIoSpace(base, 0x100000);
    s.SetActor(-1);
}

Timeline Of(const soc::Soc& s, int instance) {
    Timeline t;
    for (const auto& r : s.Records()) {
        if (r.actor != instance) {
            continue;
        }
        if (r.op == soc::Op::Read || r.op == soc::Op::Write) {
            t.accesses.push_back(r);
        } else if (r.op == soc::Op::Delay && r.delay == soc::DelayKind::Sleep) {
            t.sleptNs += r.lengthNs;
        } else if (r.op == soc::Op::Delay) {
            t.busyNs += r.lengthNs;
        }
    }
    return t;
}

TEST(VirtualTime, InstancesRunningAtOnceKeepTheDurationsOfARunOnTheirOwn) {
    std::vector<Timeline> alone;
    for (int instance = 0; instance < 3; ++instance) {
        soc::Soc s;
        kmdf::Machine machine(s);
        RunInstance(s, instance);
        alone.push_back(Of(s, instance));
    }

    soc::Soc s;
    kmdf::Machine machine(s);
    std::vector<std::thread> threads;
    for (int instance = 0; instance < 3; ++instance) {
        threads.emplace_back([&s, instance] { RunInstance(s, instance); });
    }
    for (auto& t : threads) {
        t.join();
    }

    for (int instance = 0; instance < 3; ++instance) {
        SCOPED_TRACE(soc::InstanceName(instance));
        Timeline together = Of(s, instance);
        EXPECT_EQ(together.sleptNs, alone[instance].sleptNs);
        EXPECT_EQ(together.busyNs, alone[instance].busyNs);
        ASSERT_EQ(together.accesses.size(), alone[instance].accesses.size());
        ASSERT_EQ(together.accesses.size(), 80u);
        for (std::size_t i = 0; i < together.accesses.size(); ++i) {
            const auto& a = together.accesses[i];
            const auto& b = alone[instance].accesses[i];
            ASSERT_TRUE(a.tNs == b.tNs && a.op == b.op && a.offset == b.offset &&
                        a.value == b.value && a.instance == instance)
                << "access " << i << " differs: " << soc::FormatText(a) << " vs "
                << soc::FormatText(b);
        }
    }
    // Sleeps of 1, 2 and 3 ms five times, and microsecond sleeps of their own lengths.
    EXPECT_EQ(alone[0].sleptNs, 5 * 1000000u + (40 * 10 + 780) * 1000u);
    EXPECT_EQ(alone[2].sleptNs, 5 * 3000000u + (40 * 30 + 780) * 1000u);
}

TEST(VirtualTime, ClockOfAThreadWithoutAnActorIsTheSingleClockOfBefore) {
    soc::Soc s;
    s.Sleep(-10000);
    EXPECT_EQ(s.Clock().NowNs(), 1000000u);
    std::thread other([&] {
        s.SetActor(soc::kSecondary);
        s.Sleep(-30000);
        EXPECT_EQ(s.Clock().NowNs(), 3000000u);
    });
    other.join();
    EXPECT_EQ(s.Clock().NowNs(), 1000000u);
    EXPECT_EQ(s.Clock().NowNs(soc::kSecondary), 3000000u);
    // An absolute wait ends at that time of the waiting actor's own clock.
    s.Sleep(15000);
    EXPECT_EQ(s.Clock().NowNs(), 1500000u);
}

} // namespace
