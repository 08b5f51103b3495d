// What the commands make of a response that the exchange has taken: the key copy rule, the
// four-byte answers and the version reply.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "channel/McuCommands.h"
#include "version/VersionQuery.h"

namespace {

PacketContext Response(const std::vector<uint8_t>& payload, int32_t status = 0) {
    PacketContext context{};
    context.status = status;
    context.length = static_cast<int32_t>(payload.size());
    if (!payload.empty()) {
        std::memcpy(context.payload, payload.data(), std::min<size_t>(payload.size(), 56));
    }
    return context;
}

std::vector<uint8_t> KeyPayload(size_t keyBytes, uint8_t first = 0x10) {
    std::vector<uint8_t> payload = {0x00, static_cast<uint8_t>(keyBytes)};
    for (size_t i = 0; i < keyBytes; ++i) {
        payload.push_back(static_cast<uint8_t>(first + i));
    }
    return payload;
}

KeyRecord FilledRecord(uint8_t value) {
    KeyRecord record{};
    std::memset(record.key, value, sizeof(record.key));
    return record;
}

// Error records land in the host root's log; each test gets a root of its own.
class Responses : public testing::Test {
  protected:
    void SetUp() override {
        root = std::filesystem::temp_directory_path() /
               ("ostrel-responses-" + std::to_string(getpid()));
        std::filesystem::create_directories(root);
        setenv("WINHOST_ROOT", root.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    std::string Records() const {
        std::ifstream log(root / "drive_c/ProgramData/MCUInterfaceRecords.log");
        return std::string(std::istreambuf_iterator<char>(log), {});
    }

    std::filesystem::path root;
};

TEST_F(Responses, FullKeyFillsAllKeyBytes) {
    KeyRecord record = FilledRecord(0xEE);
    ASSERT_EQ(TakeKey(Response(KeyPayload(32)), record), 0);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(record.key[i], 0x10 + i) << i;
    }
    EXPECT_EQ(Records(), "");
}

TEST_F(Responses, ShortKeyOverwritesOnlyItsOwnBytes) {
    KeyRecord record = FilledRecord(0xEE);
    ASSERT_EQ(TakeKey(Response(KeyPayload(18)), record), 0);
    EXPECT_EQ(record.key[17], 0x10 + 17);
    for (int i = 18; i < 32; ++i) {
        EXPECT_EQ(record.key[i], 0xEE) << i;
    }
}

TEST_F(Responses, HeaderOnlyKeepsTheEarlierKey) {
    KeyRecord record = FilledRecord(0xEE);
    record.selector = 1;
    ASSERT_EQ(TakeKey(Response(KeyPayload(0)), record), 0);
    for (uint8_t byte : record.key) {
        EXPECT_EQ(byte, 0xEE);
    }
    EXPECT_EQ(record.selector, 1);
}

TEST_F(Responses, KeyThatDoesNotFitIsZeroedAndReported) {
    for (const std::vector<uint8_t>& payload : {KeyPayload(33), std::vector<uint8_t>{0x00}}) {
        KeyRecord record = FilledRecord(0xEE);
        EXPECT_EQ(TakeKey(Response(payload), record), 3);
        for (uint8_t byte : record.key) {
            EXPECT_EQ(byte, 0);
        }
    }
    const std::string records = Records();
    EXPECT_NE(records.find("[ERROR]    "), std::string::npos);
    EXPECT_NE(records.find(" : Copy data Failed! error code:34\n"), std::string::npos);
}

TEST_F(Responses, FourByteAnswersAreLittleEndianWithMissingBytesZero) {
    EXPECT_EQ(PayloadWord(Response({0x01})), 1u);
    EXPECT_EQ(PayloadWord(Response({0x02})), 2u);
    EXPECT_EQ(PayloadWord(Response({0x00, 0x00, 0x00, 0x00})), 0u);
    EXPECT_EQ(PayloadWord(Response({0x34, 0x12})), 0x1234u);
    EXPECT_EQ(static_cast<int32_t>(PayloadWord(Response({0xFF, 0xFF, 0xFF, 0xFF}))), -1);
    EXPECT_EQ(PayloadWord(Response({0x01, 0x02, 0x03, 0x04, 0x05})), 0x04030201u);
}

TEST_F(Responses, EnableRequestCarriesTheCommandTableValues) {
    const PacketContext request = EnableRequest(KeyboardMcuDevice);
    // Packed fields are compared by value: no reference may bind to them.
    EXPECT_EQ(int{request.running}, 1);
    EXPECT_EQ(uint32_t{request.kind}, 99u);
    EXPECT_EQ(uint32_t{request.target}, 9u);
    EXPECT_EQ(uint32_t{request.device}, 2u);
    EXPECT_EQ(uint32_t{request.command}, 0x63u);
    EXPECT_EQ(int32_t{request.length}, 0);
    EXPECT_EQ(uint32_t{request.extraTimeoutSeconds}, 0u);
}

struct Reply {
    int result;
    std::string text;
    int length;
};

Reply TakeReply(const PacketContext& response) {
    VersionQuery query{};
    std::memset(query.text, '#', sizeof(query.text));
    query.length = 99;
    const int result = TakeVersionReply(response, query.text, query.length);
    return {result, std::string(query.text, strnlen(query.text, sizeof(query.text))), query.length};
}

std::vector<uint8_t> Text(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

TEST_F(Responses, VersionReplyIsCopiedAndTerminated) {
    const Reply reply = TakeReply(Response(Text("BRIDGE_MCU 1.0.0.15")));
    EXPECT_EQ(reply.result, 0);
    EXPECT_EQ(reply.text, "BRIDGE_MCU 1.0.0.15");
    EXPECT_EQ(reply.length, 19);
}

TEST_F(Responses, VersionReplyOfAFailedExchangeKeepsItsStatus) {
    // A read that failed leaves the request's length (0) behind: nothing is copied.
    PacketContext response = Response({}, 4);
    Reply reply = TakeReply(response);
    EXPECT_EQ(reply.result, 4);
    EXPECT_EQ(reply.length, 0);
    EXPECT_EQ(reply.text, "");

    // A frame too long to take: the zeroed payload is copied, the length clamps to 63.
    response = Response(std::vector<uint8_t>(56, 0), 4);
    response.length = 64;
    reply = TakeReply(response);
    EXPECT_EQ(reply.result, 4);
    EXPECT_EQ(reply.length, 63);
}

TEST_F(Responses, VersionReplyLongerThan64IsRejected) {
    PacketContext response = Response(std::vector<uint8_t>(56, 'x'), 4);
    response.length = 65;
    const Reply reply = TakeReply(response);
    EXPECT_EQ(reply.result, 34);
    EXPECT_EQ(reply.text, "");
    EXPECT_NE(Records().find(" : Copy data Failed! error code:34\n"), std::string::npos);
}

} // namespace
