// Synchronous reads on a device handle and their cancellation from another thread.

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "HostRoot.h"
#include "McuServer.h"
#include "winhost/Books.h"
#include "winhost/Devices.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Reader {
    HANDLE device = INVALID_HANDLE_VALUE;
    std::atomic<bool> started{false};
    BOOL result = TRUE;
    DWORD error = 0;
    DWORD received = 0;
};

DWORD WINAPI ReadOnce(LPVOID parameter) {
    auto& reader = *static_cast<Reader*>(parameter);
    uint8_t frame[64];
    reader.started = true;
    reader.result = ReadFile(reader.device, frame, sizeof frame, &reader.received, nullptr);
    reader.error = GetLastError();
    return 0;
}

DWORD WINAPI Idle(LPVOID) {
    return 7;
}

class ThreadIo : public testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(driver.Start(error)) << error;
        std::wstring path(driver.InterfacePaths()[0].begin(), driver.InterfacePaths()[0].end());
        reader.device = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(reader.device, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        CloseHandle(reader.device);
        driver.Stop();
        EXPECT_EQ(winhost::LiveHandles(), 0u);
        EXPECT_EQ(winhost::LiveThreads(), 0u);
    }

    HANDLE StartReader() {
        HANDLE thread = CreateThread(nullptr, 0, ReadOnce, &reader, 0, nullptr);
        EXPECT_NE(thread, nullptr);
        return thread;
    }

    // Repeats the cancel until it finds the read pending (the thread may not be in it yet).
    static void CancelPendingRead(HANDLE thread) {
        auto deadline = Clock::now() + std::chrono::seconds(2);
        while (!CancelSynchronousIo(thread) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    HostRoot root;
    mcusim::McuServer driver{mcusim::McuSettings::Defaults()};
    Reader reader;
};

} // namespace

TEST_F(ThreadIo, CancelDuringReadAbortsItPromptly) {
    HANDLE thread = StartReader();
    CancelPendingRead(thread);
    auto cancelled = Clock::now();
    ASSERT_EQ(WaitForSingleObject(thread, 1000), WAIT_OBJECT_0);
    EXPECT_LT(Clock::now() - cancelled, std::chrono::milliseconds(50));
    EXPECT_FALSE(reader.result);
    EXPECT_EQ(reader.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    CloseHandle(thread);
}

TEST_F(ThreadIo, CancelWithNothingPendingIsNotRemembered) {
    // The thread is kept out of its read until after the cancel.
    winhost::DelayNextRead(100);
    HANDLE thread = StartReader();
    while (!reader.started)
        std::this_thread::yield();
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CancelSynchronousIo(thread));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));

    // The read that starts afterwards blocks until another cancel reaches it.
    EXPECT_EQ(WaitForSingleObject(thread, 300), WAIT_TIMEOUT);
    CancelPendingRead(thread);
    ASSERT_EQ(WaitForSingleObject(thread, 1000), WAIT_OBJECT_0);
    EXPECT_EQ(reader.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    CloseHandle(thread);
}

TEST_F(ThreadIo, CancelAfterTheThreadEndedFindsNothing) {
    HANDLE thread = CreateThread(nullptr, 0, Idle, nullptr, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 1000), WAIT_OBJECT_0);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CancelSynchronousIo(thread));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
    CloseHandle(thread);
}

TEST_F(ThreadIo, ReadGetsOneWholeFrameAndWriteSendsOne) {
    HANDLE thread = StartReader();
    uint8_t request[8] = {9, 0, 2, 0, 0, 0x64, 0x11, 0};
    DWORD written = 0;
    // The answer goes to every open file of the device, the reader's included.
    ASSERT_TRUE(WriteFile(reader.device, request, sizeof request, &written, nullptr));
    EXPECT_EQ(written, 8u);
    ASSERT_EQ(WaitForSingleObject(thread, 1000), WAIT_OBJECT_0);
    EXPECT_TRUE(reader.result);
    EXPECT_EQ(reader.received, 64u);
    CloseHandle(thread);
}

TEST_F(ThreadIo, ClosedDeviceFailsReadsAsDisconnected) {
    driver.Stop();
    HANDLE thread = StartReader();
    ASSERT_EQ(WaitForSingleObject(thread, 1000), WAIT_OBJECT_0);
    EXPECT_FALSE(reader.result);
    EXPECT_EQ(reader.error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    CloseHandle(thread);
}

TEST(Handles, ClosingTwiceOrAnUnknownHandleFails) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(winhost::LiveHandles(), 1u);
    EXPECT_TRUE(CloseHandle(event));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_EQ(winhost::LiveHandles(), 0u);
}
