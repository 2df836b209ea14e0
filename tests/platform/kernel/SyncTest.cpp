#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/win32.h"

namespace {

std::string UniqueName(const char *base) {
    return std::string(base) + "_" + std::to_string(getpid()) + "_" + std::to_string(timeGetTime());
}

} // namespace

TEST(Sync, CriticalSectionsAreRecursive) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    DeleteCriticalSection(&cs);
}

TEST(Sync, InterlockedOperationsReturnTheNewOrOldValue) {
    LONG v = 5;
    EXPECT_EQ(InterlockedIncrement(&v), 6);
    EXPECT_EQ(InterlockedDecrement(&v), 5);
    EXPECT_EQ(InterlockedExchangeAdd(&v, -3), 5);
    EXPECT_EQ(v, 2);
    EXPECT_EQ(InterlockedCompareExchange(&v, 9, 1), 2);
    EXPECT_EQ(v, 2);
    EXPECT_EQ(InterlockedCompareExchange(&v, 9, 2), 2);
    EXPECT_EQ(v, 9);
    EXPECT_EQ(InterlockedExchange(&v, 1), 9);
}

TEST(Sync, ManualResetEventsStaySignalled) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    ResetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 10), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(event);
}

TEST(Sync, AutoResetEventsReleaseOneWait) {
    HANDLE event = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(event);
}

TEST(Sync, WaitForMultipleObjectsAnyAndAll) {
    HANDLE events[2] = {CreateEventA(nullptr, TRUE, FALSE, nullptr),
                        CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 5), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 5), static_cast<DWORD>(WAIT_TIMEOUT));
    HANDLE setter = CreateThread(
        nullptr, 0,
        [](LPVOID event) -> DWORD {
            Sleep(20);
            SetEvent(static_cast<HANDLE>(event));
            return 0;
        },
        events[0], 0, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 5000), WAIT_OBJECT_0);
    WaitForSingleObject(setter, INFINITE);
    CloseHandle(setter);
    HANDLE bogus[1] = {reinterpret_cast<HANDLE>(0x7777)};
    EXPECT_EQ(WaitForMultipleObjects(1, bogus, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(events[0]);
    CloseHandle(events[1]);
}

TEST(Sync, NamedEventsAreSharedAcrossProcesses) {
    std::string name = UniqueName("event");
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE again = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(again);

    pid_t child = fork();
    if (child == 0) {
        HANDLE mine = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
        Sleep(50);
        SetEvent(mine);
        _exit(GetLastError() == ERROR_ALREADY_EXISTS ? 0 : 1);
    }
    EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT)); // auto-reset
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    CloseHandle(event);
}

TEST(Sync, NamedMappingsAreSharedAndStartZeroed) {
    std::string name = UniqueName("map");
    HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 12, name.c_str());
    ASSERT_NE(mapping, nullptr);
    auto *block = static_cast<LONG *>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[0], 0);
    pid_t child = fork();
    if (child == 0) {
        HANDLE mine =
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 12, name.c_str());
        auto *view = static_cast<LONG *>(MapViewOfFile(mine, FILE_MAP_WRITE, 0, 0, 0));
        for (int i = 0; i < 1000; ++i)
            InterlockedIncrement(&view[1]);
        view[0] = 77;
        _exit(0);
    }
    for (int i = 0; i < 1000; ++i)
        InterlockedIncrement(&block[1]);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(block[0], 77);
    EXPECT_EQ(block[1], 2000);
    EXPECT_TRUE(UnmapViewOfFile(block));
    EXPECT_FALSE(UnmapViewOfFile(block));
    CloseHandle(mapping);

    // Every handle closed: the next creator gets a fresh, zeroed object.
    mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 12, name.c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    block = static_cast<LONG *>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[1], 0);
    UnmapViewOfFile(block);
    CloseHandle(mapping);
}

TEST(Sync, ViewsOutliveTheMappingHandle) {
    HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr);
    auto *first = static_cast<char *>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    auto *second = static_cast<char *>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    CloseHandle(mapping);
    first[100] = 'q';
    EXPECT_EQ(second[100], 'q');
    UnmapViewOfFile(first);
    UnmapViewOfFile(second);
}

TEST(Sync, AWaiterKilledWhileWaitingLeavesTheNamedEventWorking) {
    std::string name = UniqueName("killed");
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    ASSERT_NE(event, nullptr);
    auto waiter = [&](DWORD milliseconds) {
        pid_t child = fork();
        if (child == 0) {
            HANDLE mine = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
            _exit(WaitForSingleObject(mine, milliseconds) == WAIT_OBJECT_0 ? 0 : 1);
        }
        return child;
    };
    // Killed in its wait, over and over: nothing it held stays held.
    for (int round = 0; round < 5; ++round) {
        pid_t doomed = waiter(INFINITE);
        Sleep(20);
        kill(doomed, SIGKILL);
        waitpid(doomed, nullptr, 0);
    }
    pid_t survivor = waiter(10000);
    Sleep(20);
    EXPECT_TRUE(SetEvent(event));
    int status = 0;
    waitpid(survivor, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT)); // taken once
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 1000), WAIT_OBJECT_0);
    CloseHandle(event);
}

TEST(Sync, NamedObjectsRefuseNamesThatDoNotFit) {
    const std::string tooLong = UniqueName("long") + std::string(300, 'n');
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, tooLong.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 12, tooLong.c_str()),
        nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    const std::string longest = tooLong.substr(0, MAX_PATH - 1);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, longest.c_str());
    EXPECT_NE(event, nullptr);
    CloseHandle(event);
}
