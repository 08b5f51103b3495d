#include <cstring>

#include "ChannelFixture.h"
#include "channel/McuDevice.h"

using RequestFrame = ChannelTest;

TEST_F(RequestFrame, PayloadLengthOutsideTheFrameIsRefusedWithoutWriting) {
    StartDriver();
    for (int32_t length : {-1, 57}) {
        PacketContext context = RequestContext(0x64, 0, length);
        context.writeHandle = OpenMcuDevice();
        Packet().SendRequest(context);
        EXPECT_EQ(int32_t{context.status}, PacketStatusSuccess);
        CloseHandle(context.writeHandle);
    }
    EXPECT_TRUE(driver->Requests().empty());
    EXPECT_EQ(ErrorMessages(LogRecords()),
              std::vector<std::string>(2, "Copy data Failed! error code"));
}

TEST_F(RequestFrame, InvalidWriteHandleOrRangeSetsTheStatus) {
    PacketContext context = RequestContext(0x64);
    context.writeHandle = INVALID_HANDLE_VALUE;
    Packet().SendRequest(context);
    EXPECT_EQ(int32_t{context.status}, PacketStatusFailure);

    context = RequestContext(0x64, 4);
    context.writeHandle = reinterpret_cast<HANDLE>(0x1234);
    Packet().SendRequest(context);
    EXPECT_EQ(int32_t{context.status}, 1);
}

TEST(AcceptResponse, CopiesTheAnswerOrRefusesItsLength) {
    uint8_t frame[PacketFrameBytes] = {9, 0, 2, 0, 0, 0x64, 0x11, 3, 0xA1, 0xA2, 0xA3, 0xA4};
    PacketContext context = RequestContext(0x64);
    std::memset(context.payload, 0xEE, sizeof context.payload);

    Packet::AcceptResponse(context, frame);
    EXPECT_EQ(context.running, 0);
    EXPECT_EQ(int32_t{context.length}, 3);
    // Bytes beyond the answer keep what they held.
    EXPECT_EQ(std::vector<uint8_t>(context.payload, context.payload + 4),
              (std::vector<uint8_t>{0xA1, 0xA2, 0xA3, 0xEE}));

    frame[7] = 56;
    context.running = 1;
    Packet::AcceptResponse(context, frame);
    EXPECT_EQ(int32_t{context.length}, 56);
    EXPECT_EQ(context.running, 0);

    frame[7] = 0;
    context.running = 1;
    Packet::AcceptResponse(context, frame);
    EXPECT_EQ(int32_t{context.status}, PacketStatusFailure);
    EXPECT_EQ(context.running, 0);
    EXPECT_EQ(int32_t{context.length}, 56);
}

TEST(PacketContextLayout, IsPackedInTheOrderOfItsFields) {
    EXPECT_EQ(offsetof(PacketContext, kind), 1u);
    EXPECT_EQ(offsetof(PacketContext, event), 21u);
    EXPECT_EQ(offsetof(PacketContext, status), 21u + 3 * sizeof(HANDLE));
    EXPECT_EQ(offsetof(PacketContext, payload), 29u + 3 * sizeof(HANDLE));
    EXPECT_EQ(sizeof(PacketContext), 85u + 3 * sizeof(HANDLE));
}
