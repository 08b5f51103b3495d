// The picture of a scenario that the driver runs on the simulated SoC: its diagnostics open
// and close the bands the picture is built from.
#include <Scenario.h>
#include <Timeline.h>
#include <XmlReader.h>

#include <gtest/gtest.h>

#include <sstream>

TEST(ScenarioTimeline, EveryBandOfTheDefaultScenarioIsClosedByItsExit) {
    soc::Soc soc;
    std::ostringstream errors;
    {
        kmdf::Machine machine(soc);
        ASSERT_TRUE(pelvane::RunScenario("load-add-unload", {0, 1, 2}, soc, machine, errors))
            << errors.str();
    }
    std::ostringstream svg;
    timeline::WriteTimelineSvg(soc.Records(), svg);
    std::string error;
    std::optional<timeline::XmlElement> root = timeline::ParseXml(svg.str(), &error);
    ASSERT_TRUE(root) << error;

    std::vector<const timeline::XmlElement*> groups;
    root->Collect("g", groups);
    std::size_t bands = 0;
    for (const timeline::XmlElement* g : groups) {
        if (g->Attribute("class") == "band") {
            ++bands;
            EXPECT_EQ(g->Attribute("data-closed"), "true")
                << g->Attribute("data-lane") << " " << g->Attribute("data-function");
        }
    }
    EXPECT_GE(bands, 4u) << "driver entry and a device add per instance";
}
