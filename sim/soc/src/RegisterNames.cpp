// Register names for the readable trace: the xHCI and core registers by their own names,
// the wrapper's glue registers, the reset and gate registers, and PHY windows by PHY.
#include <soc/Trace.h>

#include <cstdio>

namespace soc {

namespace {

struct Named {
    std::uint32_t offset;
    const char* name;
};

constexpr Named kController[] = {
    {0x420, "PORTSC1"},
    {0x430, "PORTSC2"},
    {0x440, "PORTSC3"},
    {0x450, "PORTSC4"},
    {0xC104, "GSBUSCFG1"},
    {0xC10C, "GRXTHRCFG"},
    {0xC110, "GCTL"},
    {0xC11C, "GUCTL1"},
    {0xC200, "GUSB2PHYCFG0"},
    {0xC204, "GUSB2PHYCFG1"},
    {0xC2C0, "GUSB3PIPECTL0"},
    {0xC2C4, "GUSB3PIPECTL1"},
    {0xC60C, "GUCTL3"},
    {0xD010, "LINK_TIMER0"},
    {0xD090, "LINK_TIMER1"},
    {0xD024, "LLUCTL0"},
    {0xD0A4, "LLUCTL1"},
    {0xF8808, "GLUE_GENERAL_CFG"},
    {0xF8820, "GLUE_IRQ_ENABLE"},
    {0xF8824, "GLUE_IRQ_STAT0"},
    {0xF8828, "GLUE_CTL_F8828"},
    {0xF8858, "GLUE_EVT_STAT0"},
    {0xF885C, "GLUE_EVT_ENABLE0"},
    {0xF88B4, "GLUE_CTL_F88B4"},
    {0xF88F8, "GLUE_STATUS0"},
    {0xF89D8, "GLUE_STATUS1"},
    {0xF89DC, "GLUE_EVT_STAT1"},
    {0xF89E0, "GLUE_EVT_ENABLE1"},
    {0xF89F0, "GLUE_IRQ_STAT1"},
};

constexpr Named kClockReset[] = {
    {0xF000, "PRIMARY_RESET_B"},    {0xF004, "PRIMARY_RESET_A"},    {0x10000, "SECONDARY_RESET_B"},
    {0x10004, "SECONDARY_RESET_A"}, {0xA6000, "MULTIPORT_RESET_B"}, {0xA6004, "MULTIPORT_RESET_A"},
    {0x12000, "HSPHY0_RESET"},      {0x12004, "HSPHY1_RESET"},      {0x12008, "HSPHY2_RESET"},
    {0x1200C, "HSPHY3_RESET"},      {0xF058, "SSPHY0_GATE"},        {0x10058, "SSPHY1_GATE"},
    {0xA6058, "SSPHY2_GATE"},       {0xA605C, "SSPHY3_GATE"},
};

struct Window {
    std::uint32_t start, size;
    const char* name;
};

constexpr Window kPhyWindows[] = {
    {0x2000, 0x100, "HSPHY0"},  {0x3000, 0x100, "HSPHY1"},      {0x4000, 0x100, "HSPHY2"},
    {0x5000, 0x100, "HSPHY3"},  {0x8000, 0x1000, "SSPHY0_COM"}, {0x9000, 0x1000, "SSPHY0"},
    {0xB000, 0x1000, "SSPHY2"}, {0xC000, 0x1000, "SSPHY3"},     {0xD000, 0x1000, "SSPHY1_COM"},
    {0xE000, 0x1000, "SSPHY1"},
};

template <std::size_t N> const char* Find(const Named (&table)[N], std::uint32_t offset) {
    for (const Named& n : table) {
        if (n.offset == offset) {
            return n.name;
        }
    }
    return nullptr;
}

std::string Hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

} // namespace

std::string RegisterName(BlockKind block, std::uint32_t offset) {
    const char* name = nullptr;
    switch (block) {
    case BlockKind::Controller:
        name = Find(kController, offset);
        break;
    case BlockKind::ClockReset:
        name = Find(kClockReset, offset);
        if (name == nullptr && offset >= 0x50000 && offset < 0x50040) {
            return "SSPHY_RESET+" + Hex(offset - 0x50000);
        }
        break;
    case BlockKind::Phy:
        if (offset == 0x1018) {
            return "PHY_SHARED_CTL";
        }
        for (const Window& w : kPhyWindows) {
            if (offset >= w.start && offset < w.start + w.size) {
                return std::string(w.name) + "+" + Hex(offset - w.start);
            }
        }
        break;
    }
    return name != nullptr ? name : std::string();
}

} // namespace soc
