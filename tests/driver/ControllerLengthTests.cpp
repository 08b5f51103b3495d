// The length of the controller's memory resource, from pelvane-sim's command line to prepare
// hardware: a block that ends before the highest register the sequences use is refused before
// anything is mapped; one that just reaches it runs a whole sleep and wake inside the mapping
// (the stand-in bug-checks an access past a mapping).
#include "CommandLine.h"
#include "Scenario.h"

#include <evntrace.h>

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct LengthRun {
    bool parsed = false;
    bool ok = false;
    std::string errors;
    std::size_t registerAccesses = 0;
    std::size_t lengthErrors = 0;
    std::size_t mappingsLeft = 0;

    explicit LengthRun(const std::string& length) {
        std::ostringstream messages;
        auto line = pelvane::ParseCommandLine(
            {"--controller-length", length, "--scenario", "sleep-wake", "--instance", "multiport"},
            messages);
        errors = messages.str();
        if (!line) {
            return;
        }
        parsed = true;
        soc::Soc soc;
        kmdf::Machine machine(soc);
        pelvane::World world(soc, machine, line->world);
        std::ostringstream out;
        ok = pelvane::RunScenario(line->scenario, line->instances, world, machine, out);
        errors = out.str();
        for (auto& r : soc.Records()) {
            registerAccesses += r.op == soc::Op::Read || r.op == soc::Op::Write;
        }
        for (auto& d : machine.Diagnostics()) {
            lengthErrors +=
                d.level == TRACE_LEVEL_ERROR &&
                d.message == "controller block of 0x" + length + " bytes, 0xF89F4 needed";
        }
        mappingsLeft = machine.GetBooks().mappings;
    }
};

TEST(ControllerLength, BlockThatEndsBeforeTheLastGlueRegisterIsRefusedUnmapped) {
    // GLUE_IRQ_STAT1 at 0xF89F0 is the highest register: 0xF89F4 bytes reach its last byte.
    LengthRun enough("F89F4");
    ASSERT_TRUE(enough.parsed) << enough.errors;
    EXPECT_TRUE(enough.ok) << enough.errors;
    EXPECT_GT(enough.registerAccesses, 0u);
    EXPECT_EQ(enough.lengthErrors, 0u);

    for (const char* length : {"F89F0", "0"}) {
        SCOPED_TRACE(length);
        LengthRun shorter(length);
        ASSERT_TRUE(shorter.parsed) << shorter.errors;
        EXPECT_FALSE(shorter.ok);
        EXPECT_NE(shorter.errors.find("0xC00000E5"), std::string::npos) << shorter.errors;
        EXPECT_EQ(shorter.lengthErrors, 1u);
        EXPECT_EQ(shorter.registerAccesses, 0u);
        EXPECT_EQ(shorter.mappingsLeft, 0u);
    }
}

TEST(ControllerLength, CommandLineTakesHexadecimalOnly) {
    for (const char* bad : {"-1", "0x", "100000000", "ten"}) {
        LengthRun run(bad);
        EXPECT_FALSE(run.parsed) << bad;
        EXPECT_NE(run.errors.find("--controller-length"), std::string::npos) << run.errors;
    }
}

} // namespace
