#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HostRoot.h"
#include "McuServer.h"
#include "Records.h"
#include "channel/Packet.h"

// Each test gets its own host root and, when it asks for one, an MCU driver running in the test
// process. After every test no handle and no thread of the stand-in may be left.
class ChannelTest : public testing::Test {
  protected:
    void TearDown() override;

    mcusim::McuServer& StartDriver(mcusim::McuSettings settings = mcusim::McuSettings::Defaults());
    static mcusim::McuSettings WithFault(uint8_t command, mcusim::FaultKind kind,
                                         unsigned value = 0);

    std::vector<Record> LogRecords() const;

    HostRoot root;
    std::unique_ptr<mcusim::McuServer> driver;
};

// A context as the commands prepare it: zero-filled, running, target 9.
PacketContext RequestContext(uint32_t command, uint32_t device = 0, int32_t length = 0);

struct Exchange {
    PacketContext context;
    double milliseconds;
};

Exchange RunExchange(PacketContext context);
