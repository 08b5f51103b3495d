#include "ChannelFixture.h"

#include <chrono>
#include <cstring>

#include "winhost/Books.h"

void ChannelTest::TearDown() {
    driver.reset();
    winhost::ClearFailures();
    EXPECT_EQ(winhost::LiveHandles(), 0u);
    EXPECT_EQ(winhost::LiveThreads(), 0u);
}

mcusim::McuServer& ChannelTest::StartDriver(mcusim::McuSettings settings) {
    driver = std::make_unique<mcusim::McuServer>(std::move(settings));
    std::string error;
    EXPECT_TRUE(driver->Start(error)) << error;
    return *driver;
}

mcusim::McuSettings ChannelTest::WithFault(uint8_t command, mcusim::FaultKind kind,
                                           unsigned value) {
    mcusim::McuSettings settings = mcusim::McuSettings::Defaults();
    settings.faults[command].push_back({kind, value});
    return settings;
}

std::vector<Record> ChannelTest::LogRecords() const {
    bool wellFormed = false;
    auto records = ParseRecords(ReadFileText(root.LogFile()), &wellFormed);
    EXPECT_TRUE(wellFormed);
    return records;
}

PacketContext RequestContext(uint32_t command, uint32_t device, int32_t length) {
    PacketContext context;
    std::memset(&context, 0, sizeof context);
    context.running = 1;
    context.kind = 4;
    context.target = 9;
    context.device = device;
    context.command = command;
    context.length = length;
    return context;
}

Exchange RunExchange(PacketContext context) {
    auto start = std::chrono::steady_clock::now();
    Packet packet;
    packet.Transfer(context);
    std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    return {context, elapsed.count()};
}
