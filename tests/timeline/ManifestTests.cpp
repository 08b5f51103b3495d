// The driver's event manifest: the provider and the power events as the driver writes them.
#include <Manifest.h>

#include <gtest/gtest.h>

#include <set>
#include <tuple>

using timeline::LoadManifest;
using timeline::ParseManifest;

TEST(Manifest, DeclaresTheProviderAndItsFivePowerEvents) {
    std::string error;
    auto m = LoadManifest(PELVANE_MANIFEST_PATH, &error);
    ASSERT_TRUE(m) << error;
    EXPECT_EQ(m->providerGuid, "{552F0202-67E3-40CD-83A9-03E530917D36}");
    EXPECT_EQ(m->providerName, "Pelvane");

    // id, version, channel, level, opcode, task, keyword, payload fields
    using Row = std::tuple<int, int, int, int, int, int, std::uint64_t, std::size_t>;
    std::vector<Row> expected = {
        {2, 0, 0, 4, 1, 0, 0, 0}, {3, 0, 0, 4, 2, 0, 0, 0}, {4, 0, 0, 4, 0, 0, 0, 2},
        {5, 0, 0, 4, 0, 0, 0, 2}, {6, 0, 0, 4, 0, 0, 0, 3},
    };
    std::vector<Row> declared;
    for (const auto& [id, e] : m->events) {
        declared.emplace_back(e.id, e.version, e.channel, e.level, e.opcode, e.task, e.keyword,
                              e.PayloadFieldCount());
        EXPECT_EQ(id, e.id);
        EXPECT_FALSE(e.name.empty()) << id;
        EXPECT_FALSE(e.message.empty()) << id;
        for (const timeline::ManifestField& f : e.fields) {
            EXPECT_EQ(f.inType, "win:UInt32") << id << " " << f.name;
        }
    }
    EXPECT_EQ(declared, expected);
    std::set<std::string> names;
    for (const auto& [id, name] : m->EventNames()) {
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 5u) << "event names are distinct";
}

TEST(Manifest, ResolvesTheProvidersOwnNamesAndRefusesWhatItCannotResolve) {
    const std::string head =
        "<instrumentationManifest xmlns='http://schemas.microsoft.com/win/2004/08/events'>"
        "<instrumentation><events><provider name='P' guid='{1}' symbol='S'>"
        "<channels><channel chid='c1' name='P/Operational' type='Operational' value='17'/>"
        "</channels><levels><level name='Loud' value='16'/></levels>"
        "<tasks><task name='Work' value='7'><opcodes><opcode name='Go' value='11'/></opcodes>"
        "</task></tasks><keywords><keyword name='K1' mask='0x1'/><keyword name='K4' mask='0x4'/>"
        "</keywords><templates><template tid='T'><data name='A' inType='win:UInt32'/>"
        "</template></templates><events>";
    const std::string tail = "</events></provider></events></instrumentation>"
                             "</instrumentationManifest>";
    std::string error;
    auto m = ParseManifest(head +
                               "<event value='9' version='2' channel='c1' level='Loud' "
                               "task='Work' opcode='Go' keywords='K1 K4' template='T' "
                               "symbol='E9' message='plain'/>" +
                               tail,
                           &error);
    ASSERT_TRUE(m) << error;
    const timeline::ManifestEvent* e = m->Find(9);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(std::make_tuple(e->version, e->channel, e->level, e->task, e->opcode, e->keyword,
                              e->PayloadFieldCount(), e->name, e->message),
              std::make_tuple(2, 17, 16, 7, 11, std::uint64_t{5}, std::size_t{1}, std::string("E9"),
                              std::string("plain")));
    EXPECT_EQ(m->Find(8), nullptr);

    const char* const bad[] = {
        "<event value='1' template='Missing'/>",
        "<event value='1' level='win:Nowhere'/>",
        "<event value='1' keywords='K1 K2'/>",
        "<event value='x'/>",
        "<event/>",
        "<event value='1'/><event value='1'/>",
    };
    for (const char* events : bad) {
        error.clear();
        EXPECT_FALSE(ParseManifest(head + events + tail, &error)) << events;
        EXPECT_FALSE(error.empty()) << events;
    }
    EXPECT_FALSE(ParseManifest("<instrumentationManifest/>", &error));
    EXPECT_FALSE(LoadManifest("/nonexistent/Pelvane.man", &error));
}
