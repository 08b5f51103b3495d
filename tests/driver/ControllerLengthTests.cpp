// The length of the controller's memory resource, from pelvane-sim's command line to prepare
// hardware: a block that ends before the highest register the sequences use is refused before
// anything is mapped; one that just reaches it runs a whole sleep and wake inside the mapping
// (the stand-in bug-checks an access past a mapping).
#include "SimRun.h"

#include <evntrace.h>
#include <gtest/gtest.h>

namespace {

struct LengthRun {
    SimRun run;
    std::size_t registerAccesses = 0;
    std::size_t lengthErrors = 0;
    std::size_t mappingsLeft = 99;

    explicit LengthRun(const std::string& length) {
        run = RunSim(
            {"--controller-length", length, "--scenario", "sleep-wake", "--instance", "multiport"},
            [&](soc::Soc& soc, kmdf::Machine& machine) {
                for (auto& r : soc.Records()) {
                    registerAccesses += r.op == soc::Op::Read || r.op == soc::Op::Write;
                }
                for (auto& d : machine.Diagnostics()) {
                    lengthErrors +=
                        d.level == TRACE_LEVEL_ERROR &&
                        d.message == "controller block of 0x" + length + " bytes, 0xF89F4 needed";
                }
                // What prepare hardware left mapped when it returned, before release.
                for (auto& callback : machine.Callbacks()) {
                    if (callback.callback == "EvtDevicePrepareHardware") {
                        mappingsLeft = callback.books.mappings;
                    }
                }
            });
    }
};

TEST(ControllerLength, BlockThatEndsBeforeTheLastGlueRegisterIsRefusedUnmapped) {
    // GLUE_IRQ_STAT1 at 0xF89F0 is the highest register: 0xF89F4 bytes reach its last byte.
    LengthRun enough("F89F4");
    ASSERT_TRUE(enough.run.parsed) << enough.run.errors;
    EXPECT_TRUE(enough.run.ok) << enough.run.errors;
    EXPECT_GT(enough.registerAccesses, 0u);
    EXPECT_EQ(enough.lengthErrors, 0u);

    for (const char* length : {"F89F0", "0"}) {
        SCOPED_TRACE(length);
        LengthRun shorter(length);
        ASSERT_TRUE(shorter.run.parsed) << shorter.run.errors;
        EXPECT_FALSE(shorter.run.ok);
        EXPECT_NE(shorter.run.errors.find("0xC00000E5"), std::string::npos) << shorter.run.errors;
        EXPECT_EQ(shorter.lengthErrors, 1u);
        EXPECT_EQ(shorter.registerAccesses, 0u);
        EXPECT_EQ(shorter.mappingsLeft, 0u);
    }
}

} // namespace
