// The power events the driver writes, across the power scenarios on every instance, against
// the instrumentation manifest that Windows' tools decode them with.
#include "Scenario.h"
#include "World.h"

#include <Manifest.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace {

std::vector<kmdf::EventRecord> EventsOf(const char* scenario) {
    soc::Soc soc;
    kmdf::Machine machine(soc);
    pelvane::World world(soc, machine);
    std::ostringstream errors;
    EXPECT_TRUE(pelvane::RunScenario(scenario, {0, 1, 2}, world, machine, errors)) << errors.str();
    return machine.Events();
}

TEST(PowerEventManifest, EveryEventWrittenIsDeclaredAsWrittenAndEveryDeclaredEventIsWritten) {
    std::string error;
    auto manifest = timeline::LoadManifest(PELVANE_MANIFEST_PATH, &error);
    ASSERT_TRUE(manifest) << error;
    EXPECT_EQ(manifest->providerGuid, "{552F0202-67E3-40CD-83A9-03E530917D36}");

    std::set<int> written;
    for (const char* scenario : {"sleep-wake", "hibernate", "cycle"}) {
        SCOPED_TRACE(scenario);
        for (const kmdf::EventRecord& e : EventsOf(scenario)) {
            const timeline::ManifestEvent* declared = manifest->Find(e.id);
            ASSERT_NE(declared, nullptr) << "event " << e.id << " is not declared";
            EXPECT_EQ(declared->version, e.version) << e.id;
            EXPECT_EQ(declared->channel, e.channel) << e.id;
            EXPECT_EQ(declared->level, e.level) << e.id;
            EXPECT_EQ(declared->opcode, e.opcode) << e.id;
            EXPECT_EQ(declared->task, e.task) << e.id;
            EXPECT_EQ(declared->keyword, e.keyword) << e.id;
            // One data item of four bytes per declared 32-bit field.
            ASSERT_EQ(declared->PayloadFieldCount(), e.data.size()) << e.id;
            for (auto& item : e.data) {
                EXPECT_EQ(item.size(), 4u) << e.id;
            }
            written.insert(e.id);
        }
    }
    for (auto& [id, event] : manifest->events) {
        EXPECT_TRUE(written.count(id)) << event.name << " (" << id << ") is never written";
    }
}

} // namespace
