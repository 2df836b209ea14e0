#include <atomic>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/win32.h"

TEST(Threads, ExitCodeIsStillActiveUntilTheThreadReturns) {
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD id = 0;
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID gate) -> DWORD {
            WaitForSingleObject(static_cast<HANDLE>(gate), INFINITE);
            return 100;
        },
        gate, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    DWORD code = 0xdeadbeef;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(thread, 10), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(gate);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 100u);
    CloseHandle(thread);
    CloseHandle(gate);
}

TEST(Threads, SuspendedThreadsStartOnResume) {
    static std::atomic<int> ran{0};
    ran = 0;
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
            ran = 1;
            return 0;
        },
        nullptr, CREATE_SUSPENDED, nullptr);
    Sleep(20);
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(ResumeThread(thread), 1u);
    WaitForSingleObject(thread, INFINITE);
    EXPECT_EQ(ran.load(), 1);
    EXPECT_EQ(ResumeThread(thread), 0u);
    CloseHandle(thread);
}

TEST(Threads, TerminatedThreadsEndWithTheGivenCode) {
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
            for (;;)
                Sleep(5);
        },
        nullptr, 0, nullptr);
    EXPECT_TRUE(TerminateThread(thread, static_cast<DWORD>(-1)));
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, static_cast<DWORD>(-1));
    CloseHandle(thread);
}

TEST(Threads, IdsAreUniqueAcrossProcesses) {
    int pipes[2];
    ASSERT_EQ(pipe(pipes), 0);
    pid_t child = fork();
    if (child == 0) {
        DWORD id = GetCurrentThreadId();
        (void)!write(pipes[1], &id, sizeof id);
        Sleep(300);
        _exit(0);
    }
    DWORD childId = 0;
    ASSERT_EQ(read(pipes[0], &childId, sizeof childId), static_cast<ssize_t>(sizeof childId));
    EXPECT_NE(childId, GetCurrentThreadId());
    HANDLE other = OpenThread(THREAD_QUERY_INFORMATION, FALSE, childId);
    ASSERT_NE(other, nullptr);
    DWORD code = 0;
    GetExitCodeThread(other, &code);
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(other, 10000), WAIT_OBJECT_0); // ends with its process
    waitpid(child, nullptr, 0);
    CloseHandle(other);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(OpenThread(THREAD_QUERY_INFORMATION, FALSE, childId), nullptr);
    close(pipes[0]);
    close(pipes[1]);
}

TEST(Time, ClocksCountMillisecondsAndSleepWaits) {
    DWORD start = timeGetTime();
    Sleep(30);
    DWORD elapsed = timeGetTime() - start;
    EXPECT_GE(elapsed, 30u);
    EXPECT_TRUE(SwitchToThread());
}
