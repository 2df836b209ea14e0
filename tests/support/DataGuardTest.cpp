#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <iostream>
#include <sys/wait.h>
#include <string>
#include <unistd.h>

#include "support/DataGuard.h"
#include "testing/TestSupport.h"

namespace {

std::string UniqueName() {
    return "AE9D5D26-TEST-" + std::to_string(getpid()) + "-" + std::to_string(timeGetTime());
}

const std::string kWorker = GUARD_WORKER_PATH;

// How long the stress run may take in all; instrumented builds run slower.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QB_INSTRUMENTED 1
#endif
#endif
#if defined(QB_INSTRUMENTED) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kStressSeconds = 300;
#else
constexpr int kStressSeconds = 120;
#endif

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
    int a =
        testing_support::Spawn({kWorker, "count", name, std::to_string(kRounds), counter}, nullptr);
    int b =
        testing_support::Spawn({kWorker, "count", name, std::to_string(kRounds), counter}, nullptr);
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
    DataGuard((name + "-one").c_str()); // the last user lets the killed holder's objects go
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

TEST(DataGuard, ANameTooLongForItsObjectsIsRefused) {
    const std::string name(300, 'G');
    SetLastError(0xdeadbeef);
    DataGuard guard(name.c_str());
    EXPECT_FALSE(guard.IsUsable());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_FALSE(guard.Lock());
    EXPECT_FALSE(guard.Unlock());
    // The longest name that fits still makes a guard.
    DataGuard longest((UniqueName() + std::string(182, 'G')).substr(0, 182).c_str());
    EXPECT_TRUE(longest.IsUsable());
}

TEST(DataGuard, ProcessesKilledAtRandomMomentsNeverStopTheOthers) {
    const std::string dir = testing_support::MakeTempDir("guard-stress-");
    int fd = -1;
    const int stress =
        testing_support::Spawn({kWorker, "stress", UniqueName(), dir + "/board", "1000"}, &fd);
    ASSERT_GT(stress, 0);
    // The run is bounded: each of its rounds must end within ten seconds,
    // and the whole within kStressSeconds, or it is ended (its workers die
    // with it).
    int status = -1;
    for (int waited = 0; waitpid(stress, &status, WNOHANG) == 0; waited += 100) {
        if (waited > kStressSeconds * 1000) {
            kill(stress, SIGKILL);
            waitpid(stress, &status, 0);
            ADD_FAILURE() << "the stress run did not end within " << kStressSeconds << " s";
            break;
        }
        usleep(100000);
    }
    std::string output;
    char buffer[512];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        output.append(buffer, static_cast<size_t>(n));
    close(fd);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    std::cout << output;
    testing_support::RemoveTree(dir);
}
