#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "support/DataGuard.h"
#include "testing/TestSupport.h"

namespace {

std::string UniqueName() {
    return "AE9D5D26-TEST-" + std::to_string(getpid()) + "-" + std::to_string(timeGetTime());
}

const std::string kWorker = GUARD_WORKER_PATH;

} // namespace

TEST(DataGuard, LockingTwiceOnOneThreadNeverWaits) {
    DataGuard guard(UniqueName().c_str());
    ASSERT_TRUE(guard.IsUsable());
    EXPECT_TRUE(guard.Lock());
    EXPECT_TRUE(guard.Lock());
    EXPECT_EQ(guard.Counters()->count, 2);
    EXPECT_EQ(guard.Counters()->depth, 2);
    EXPECT_EQ(guard.Counters()->owner, GetCurrentThreadId());
    EXPECT_TRUE(guard.Unlock());
    EXPECT_TRUE(guard.Unlock());
    EXPECT_EQ(guard.Counters()->count, 0);
    EXPECT_EQ(guard.Counters()->depth, 0);
    EXPECT_EQ(guard.Counters()->owner, 0u);
}

TEST(DataGuard, UnlockByANonOwnerChangesNothing) {
    std::string name = UniqueName();
    DataGuard guard(name.c_str());
    guard.Lock();
    std::atomic<bool> result{true};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID arg) -> DWORD {
            auto *guard = static_cast<DataGuard *>(arg);
            return guard->Unlock() ? 1 : 0;
        },
        &guard, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 9;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(guard.Counters()->count, 1);
    EXPECT_EQ(guard.Counters()->owner, GetCurrentThreadId());
    guard.Unlock();
}

TEST(DataGuard, TheLastUnlockHandsTheLockToTheWaiter) {
    std::string name = UniqueName();
    DataGuard guard(name.c_str());
    guard.Lock();
    struct Shared {
        std::string name;
        DWORD ownerSeen = 0;
        LONG depthSeen = 0;
    } shared{name};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID arg) -> DWORD {
            auto *shared = static_cast<Shared *>(arg);
            DataGuard mine(shared->name.c_str());
            mine.Lock();
            shared->ownerSeen = mine.Counters()->owner;
            shared->depthSeen = mine.Counters()->depth;
            mine.Unlock();
            return GetCurrentThreadId();
        },
        &shared, 0, nullptr);
    while (guard.Counters()->count < 2)
        Sleep(1);
    EXPECT_EQ(WaitForSingleObject(thread, 50), static_cast<DWORD>(WAIT_TIMEOUT)); // still waits
    guard.Unlock();
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD waiterId = 0;
    GetExitCodeThread(thread, &waiterId);
    CloseHandle(thread);
    EXPECT_EQ(shared.ownerSeen, waiterId);
    EXPECT_EQ(shared.depthSeen, 1);
    EXPECT_EQ(guard.Counters()->count, 0);
}

TEST(DataGuard, ProcessesExcludeEachOtherAndLoseNoIncrement) {
    std::string name = UniqueName();
    std::string dir = testing_support::MakeTempDir("guard-");
    std::string counter = dir + "/counter";
    testing_support::WriteFile(counter, "0\n");
    const int kRounds = 2000;
    int a = testing_support::Spawn({kWorker, "count", name, std::to_string(kRounds), counter}, nullptr);
    int b = testing_support::Spawn({kWorker, "count", name, std::to_string(kRounds), counter}, nullptr);
    EXPECT_EQ(testing_support::Wait(a), 0);
    EXPECT_EQ(testing_support::Wait(b), 0);
    EXPECT_EQ(std::stol(testing_support::ReadFile(counter)), 2L * kRounds);
    testing_support::RemoveTree(dir);
}

TEST(DataGuard, DifferentNamesDoNotExclude) {
    std::string name = UniqueName();
    int fd = -1;
    int holder = testing_support::Spawn({kWorker, "hold", name + "-one"}, &fd);
    char line[16] = {};
    ASSERT_GT(read(fd, line, sizeof line - 1), 0);
    EXPECT_STREQ(line, "locked\n");
    DataGuard other((name + "-two").c_str());
    EXPECT_TRUE(other.Lock());
    EXPECT_EQ(other.Counters()->count, 1);
    other.Unlock();
    kill(holder, SIGKILL);
    testing_support::Wait(holder);
    close(fd);
}

TEST(DataGuard, AWaiterTakesOverFromAKilledHolder) {
    std::string name = UniqueName();
    DataGuard guard(name.c_str());
    int fd = -1;
    int holder = testing_support::Spawn({kWorker, "hold", name}, &fd);
    char line[16] = {};
    ASSERT_GT(read(fd, line, sizeof line - 1), 0);
    ASSERT_NE(guard.Counters()->owner, 0u);
    kill(holder, SIGKILL);
    testing_support::Wait(holder);
    close(fd);
    EXPECT_TRUE(guard.Lock());
    EXPECT_EQ(guard.Counters()->owner, GetCurrentThreadId());
    EXPECT_EQ(guard.Counters()->count, 1);
    EXPECT_EQ(guard.Counters()->depth, 1);
    EXPECT_TRUE(guard.Unlock());
    EXPECT_EQ(guard.Counters()->count, 0);
}

TEST(DataGuard, AGuardThatCouldNotBeMadeIsNeverUsed) {
    DataGuard unnamed("");
    EXPECT_FALSE(unnamed.IsUsable());
    EXPECT_FALSE(unnamed.Lock());
    EXPECT_FALSE(unnamed.Unlock());
    DataGuard none;
    EXPECT_FALSE(none.Lock());
}
