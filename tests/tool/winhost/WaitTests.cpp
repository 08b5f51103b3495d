#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "winhost/Books.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Shared {
    HANDLE event = nullptr;
    int value = 0;
};

DWORD WINAPI SetLater(LPVOID parameter) {
    auto& shared = *static_cast<Shared*>(parameter);
    Sleep(30);
    shared.value = 42; // published by SetEvent
    SetEvent(shared.event);
    return 0;
}

} // namespace

TEST(Waits, TimeoutLeavesTheLastErrorAlone) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetLastError(0xdeadbeef);
    auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 50), WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    CloseHandle(event);
}

TEST(Waits, ManualResetEventStaysSignalledAutoResetDoesNot) {
    HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE automatic = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    SetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    CloseHandle(manual);
    CloseHandle(automatic);
}

TEST(Waits, EventAndThreadEndHandOverWhatTheThreadWrote) {
    Shared shared;
    shared.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, SetLater, &shared, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(winhost::LiveThreads(), 1u);
    EXPECT_EQ(WaitForSingleObject(shared.event, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(shared.value, 42);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(winhost::LiveThreads(), 0u);
    EXPECT_EQ(winhost::LiveHandles(), 2u);
    CloseHandle(thread);
    CloseHandle(shared.event);
    EXPECT_EQ(winhost::LiveHandles(), 0u);
}
