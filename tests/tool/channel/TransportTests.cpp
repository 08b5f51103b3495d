#include <iostream>
#include <regex>
#include <streambuf>

#include "ChannelFixture.h"
#include "winhost/Books.h"

using mcusim::FaultKind;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

constexpr uint8_t GetFlag = 0x64;
constexpr uint8_t Enable = 0x63;
constexpr uint8_t GetKey = 0x62;

const std::string Aborted = "ReadFile failed - error:995";

bool IsTimeoutRecord(const std::string& message) {
    return std::regex_match(message, std::regex("Timeout While Waiting Response:\\d+"));
}

} // namespace

using Transport = ChannelTest;

TEST_F(Transport, AnswerAtOnceTakesLittleMoreThanTheRequestDelay) {
    mcusim::McuSettings settings = mcusim::McuSettings::Defaults();
    settings.secureBootFlag = 0x04030201;
    StartDriver(settings);

    size_t threadsBefore = winhost::ThreadsCreated();
    CaptureStdout();
    Exchange exchange = RunExchange(RequestContext(GetFlag));
    EXPECT_EQ(GetCapturedStdout(), "");

    EXPECT_EQ(int32_t{exchange.context.status}, PacketStatusSuccess);
    EXPECT_EQ(int32_t{exchange.context.length}, 4);
    EXPECT_EQ(std::vector<uint8_t>(exchange.context.payload, exchange.context.payload + 4),
              (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_GE(exchange.milliseconds, 50);
    EXPECT_LT(exchange.milliseconds, 500);
    EXPECT_EQ(HANDLE{exchange.context.readHandle}, INVALID_HANDLE_VALUE);
    EXPECT_EQ(HANDLE{exchange.context.writeHandle}, INVALID_HANDLE_VALUE);
    // Two opens per exchange, nothing else.
    EXPECT_EQ(Messages(LogRecords()),
              std::vector<std::string>(2, "Opened the device successfully.\n"));
    EXPECT_EQ(winhost::ThreadsCreated() - threadsBefore, 1u);
}

TEST_F(Transport, FramesWithOtherCodesAreDroppedUntilTheAnswer) {
    StartDriver(WithFault(GetKey, FaultKind::Noise, 3));
    PacketContext request = RequestContext(GetKey, 2, 1);
    request.payload[0] = 1;
    Exchange exchange = RunExchange(request);
    EXPECT_EQ(int32_t{exchange.context.status}, PacketStatusSuccess);
    ASSERT_EQ(int32_t{exchange.context.length}, 34);
    EXPECT_EQ(exchange.context.payload[0], 1);
    EXPECT_EQ(exchange.context.payload[2], 0xC0);
    EXPECT_EQ(exchange.context.payload[33], 0xDF);
}

TEST_F(Transport, NoAnswerTimesOutWithBothRecords) {
    StartDriver(WithFault(Enable, FaultKind::Silent));
    CaptureStdout();
    Exchange exchange = RunExchange(RequestContext(Enable));
    std::string console = GetCapturedStdout();

    EXPECT_EQ(int32_t{exchange.context.status}, PacketStatusTimeout);
    EXPECT_GE(exchange.milliseconds, 2050);
    EXPECT_LT(exchange.milliseconds, 2500);
    auto errors = ErrorMessages(LogRecords());
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_TRUE(IsTimeoutRecord(errors[0])) << errors[0];
    EXPECT_EQ(errors[1], Aborted);
    EXPECT_EQ(ErrorMessages(ParseRecords(console)), errors);
}

TEST_F(Transport, DeviceOrTargetOutOfRangeSendsNothingAndStopsAtOnce) {
    StartDriver();
    PacketContext badDevice = RequestContext(GetFlag, 4);
    PacketContext badTarget = RequestContext(GetFlag, 0);
    badTarget.target = 10;
    for (const PacketContext& request : {badDevice, badTarget}) {
        Exchange exchange = RunExchange(request);
        EXPECT_EQ(int32_t{exchange.context.status}, PacketStatusFailure);
        EXPECT_LT(exchange.milliseconds, 500);
    }
    EXPECT_TRUE(driver->Requests().empty());
    EXPECT_EQ(ErrorMessages(LogRecords()),
              (std::vector<std::string>{"Retrieve MAC failed!,errorCode:1", Aborted,
                                        "Retrieve MAC failed!,errorCode:1", Aborted}));
}

TEST_F(Transport, PayloadLengthZeroFailsAtOnceWithoutRecord) {
    StartDriver(WithFault(GetFlag, FaultKind::ZeroLength));
    Exchange exchange = RunExchange(RequestContext(GetFlag));
    EXPECT_EQ(int32_t{exchange.context.status}, PacketStatusFailure);
    EXPECT_LT(exchange.milliseconds, 500);
    EXPECT_TRUE(ErrorMessages(LogRecords()).empty());
}

TEST_F(Transport, PayloadLength57ClearsThePayloadAndTimesOut) {
    StartDriver(WithFault(GetFlag, FaultKind::Overlong, 57));
    PacketContext request = RequestContext(GetFlag);
    std::fill(std::begin(request.payload), std::end(request.payload), 0xAB);
    Exchange exchange = RunExchange(request);

    EXPECT_EQ(int32_t{exchange.context.status}, PacketStatusTimeout);
    EXPECT_EQ(int32_t{exchange.context.length}, 57);
    EXPECT_EQ(std::vector<uint8_t>(std::begin(exchange.context.payload),
                                   std::end(exchange.context.payload)),
              std::vector<uint8_t>(PacketPayloadBytes, 0));
    auto errors = ErrorMessages(LogRecords());
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0], "Copy data Failed! error code:34");
    EXPECT_TRUE(IsTimeoutRecord(errors[1])) << errors[1];
    EXPECT_EQ(errors[2], Aborted);
}

TEST_F(Transport, RequestFrameCarriesExactlyLengthPayloadBytes) {
    StartDriver();
    PacketContext empty = RequestContext(GetFlag, 2, 0);
    empty.payload[0] = 0x77; // not sent
    PacketContext one = RequestContext(GetKey, 0, 1);
    one.payload[0] = 1;
    EXPECT_EQ(int32_t{RunExchange(empty).context.status}, PacketStatusSuccess);
    EXPECT_EQ(int32_t{RunExchange(one).context.status}, PacketStatusSuccess);

    auto requests = driver->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], (std::vector<uint8_t>{9, 0x00, 0x02, 0x00, 2, 0x64, 0x11, 0x00}));
    EXPECT_EQ(requests[1], (std::vector<uint8_t>{9, 0x00, 0x02, 0x00, 0, 0x62, 0x11, 0x01, 0x01}));
}

TEST_F(Transport, NoDriverFailsBeforeAnyThreadStarts) {
    size_t threadsBefore = winhost::ThreadsCreated();
    Exchange exchange = RunExchange(RequestContext(GetFlag));
    EXPECT_EQ(int32_t{exchange.context.status}, PacketStatusFailure);
    EXPECT_EQ(exchange.context.running, 0);
    EXPECT_EQ(winhost::ThreadsCreated(), threadsBefore);
    EXPECT_EQ(
        ErrorMessages(LogRecords()),
        (std::vector<std::string>{"Error: No active device found.Is the sample driver loaded?",
                                  "Unable to find any MCU devices!", "Open Handle failed!"}));
}

TEST_F(Transport, SecondOpenRefusedClosesTheFirstHandle) {
    mcusim::McuSettings settings = mcusim::McuSettings::Defaults();
    settings.denyOpen = 32;
    settings.allowOpens = 1;
    StartDriver(settings);
    Exchange exchange = RunExchange(RequestContext(GetFlag));
    EXPECT_EQ(int32_t{exchange.context.status}, PacketStatusFailure);
    EXPECT_EQ(ErrorMessages(LogRecords()),
              (std::vector<std::string>{"Failed to open the device, error - 32",
                                        "Unable to find any MCU devices!", "Open Handle failed!"}));
}

TEST_F(Transport, EventOrThreadThatCannotBeCreatedEndsTheExchange) {
    StartDriver();
    winhost::FailNext(winhost::Failure::CreateEvent, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(int32_t{RunExchange(RequestContext(GetFlag)).context.status}, PacketStatusFailure);
    winhost::FailNext(winhost::Failure::CreateThread, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(int32_t{RunExchange(RequestContext(GetFlag)).context.status}, PacketStatusFailure);
    EXPECT_EQ(ErrorMessages(LogRecords()),
              (std::vector<std::string>{"Create Event failed!,errorCode:8", "Open Handle failed!",
                                        "Failed to create ReadThread\n"}));
    EXPECT_TRUE(driver->Requests().empty());
}

// The wait leaves the last error as the record before it left it: opening the existing log for
// appending leaves ERROR_ALREADY_EXISTS, as on Windows.
TEST_F(Transport, FailedWriteIsRecordedAndTimesOut) {
    StartDriver();
    winhost::FailNext(winhost::Failure::WriteFile, ERROR_GEN_FAILURE);
    Exchange exchange = RunExchange(RequestContext(GetFlag));
    EXPECT_EQ(int32_t{exchange.context.status}, PacketStatusTimeout);
    EXPECT_EQ(ErrorMessages(LogRecords()),
              (std::vector<std::string>{"WriteFile failed, error code:31",
                                        "Timeout While Waiting Response:183", Aborted}));
}

// A read that fails while the answer is awaited is a failed exchange, not a success carrying the
// request's own bytes.
TEST_F(Transport, ReadFailingWhileWaitingEndsWithStatus5) {
    StartDriver(WithFault(Enable, FaultKind::Drop));
    PacketContext request = RequestContext(Enable);
    Exchange exchange = RunExchange(request);
    EXPECT_EQ(int32_t{exchange.context.status}, PacketStatusFailure);
    EXPECT_LT(exchange.milliseconds, 1000);
    EXPECT_EQ(ErrorMessages(LogRecords()),
              std::vector<std::string>{"ReadFile failed - error:1167"});
}

// The frame buffer is cleared before every read: a short answer after a full frame of another
// code shows zeros, not that frame's bytes.
TEST_F(Transport, ShortAnswerNeverShowsAnEarlierFramesBytes) {
    mcusim::McuSettings settings = WithFault(GetFlag, FaultKind::Noise, 1);
    settings.faults[GetFlag].push_back({FaultKind::Short, 10});
    settings.secureBootFlag = 0x04030201;
    StartDriver(settings);
    Exchange exchange = RunExchange(RequestContext(GetFlag));
    EXPECT_EQ(int32_t{exchange.context.status}, PacketStatusSuccess);
    ASSERT_EQ(int32_t{exchange.context.length}, 4);
    EXPECT_EQ(std::vector<uint8_t>(exchange.context.payload, exchange.context.payload + 4),
              (std::vector<uint8_t>{1, 2, 0, 0}));
}

// The stop comes while the read thread is between its check of `running` and its read: the first
// cancel finds nothing to cancel, and the read that starts afterwards must still be ended.
TEST_F(Transport, StopEndsAReadThatStartsAfterTheCancel) {
    StartDriver();
    winhost::DelayNextRead(150);
    Exchange exchange = RunExchange(RequestContext(GetFlag, 4));
    EXPECT_EQ(int32_t{exchange.context.status}, PacketStatusFailure);
    EXPECT_LT(exchange.milliseconds, 1000);
    EXPECT_EQ(ErrorMessages(LogRecords()),
              (std::vector<std::string>{"Retrieve MAC failed!,errorCode:1", Aborted}));
}

namespace {

// A console that refuses every write; with exceptions enabled each error record then throws
// std::ios_base::failure from inside the exchange and its read thread.
class RefusingConsole : public std::streambuf {
  public:
    RefusingConsole() : saved(std::cout.rdbuf(this)) { std::cout.exceptions(std::ios::badbit); }
    ~RefusingConsole() override {
        std::cout.exceptions(std::ios::goodbit);
        std::cout.rdbuf(saved);
        std::cout.clear();
    }

  protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }

  private:
    std::streambuf* saved;
};

} // namespace

TEST_F(Transport, ExceptionStillStopsTheThreadAndClosesEverything) {
    StartDriver();
    Exchange exchange;
    {
        RefusingConsole console;
        exchange = RunExchange(RequestContext(GetFlag, 4));
    }
    EXPECT_EQ(int32_t{exchange.context.status}, PacketStatusException);
    EXPECT_LT(exchange.milliseconds, 1000);
    EXPECT_EQ(HANDLE{exchange.context.readHandle}, INVALID_HANDLE_VALUE);
    EXPECT_EQ(HANDLE{exchange.context.writeHandle}, INVALID_HANDLE_VALUE);
    EXPECT_EQ(HANDLE{exchange.context.event}, nullptr);
    // The fixture checks that no handle and no thread is left.
}
