// Threads, thread IDs, sleeping and the millisecond clocks.
//
// Thread IDs are the kernel's thread IDs, unique across the system, so an ID
// recorded in memory shared between processes names one thread. A thread's
// state is shared between its handle and the running thread, so a handle may
// be closed while the thread runs on.
#include <atomic>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "KernelObject.h"
#include "NamedObjects.h"
#include "winbase.h"

namespace platform {
namespace {

struct ThreadState {
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID parameter = nullptr;
    pthread_t thread{};
    std::atomic<DWORD> id{0};
    // Guarded by WaitMutex():
    bool finished = false;
    DWORD exitCode = STILL_ACTIVE;
    int suspendCount = 0;
};

class ThreadObject : public KernelObject {
public:
    explicit ThreadObject(std::shared_ptr<ThreadState> state) : m_state(std::move(state)) {}
    bool IsWaitable() const override { return true; }
    bool IsSignalled() const override { return m_state->finished; }
    const std::shared_ptr<ThreadState> &State() const { return m_state; }

private:
    std::shared_ptr<ThreadState> m_state;
};

// A thread of another process (or one this process did not start), known
// only by its ID: signalled once the system no longer runs it.
class ForeignThread : public KernelObject {
public:
    explicit ForeignThread(DWORD id) : m_id(id) {}
    bool IsShared() const override { return true; }
    bool WaitShared(DWORD milliseconds) override {
        DWORD start = GetTickCount();
        for (;;) {
            if (!ThreadIsAlive(m_id))
                return true;
            if (milliseconds != INFINITE && GetTickCount() - start >= milliseconds)
                return false;
            usleep(2000);
        }
    }
    DWORD Id() const { return m_id; }

private:
    DWORD m_id;
};

std::condition_variable &ResumeCondition() {
    static auto *condition = new std::condition_variable;
    return *condition;
}

// Marks the thread finished however it ends: by returning or by being
// cancelled (cancellation unwinds the stack and runs this destructor).
struct FinishOnExit {
    ThreadState *state;
    ~FinishOnExit() {
        std::lock_guard<std::mutex> guard(WaitMutex());
        state->finished = true;
        NotifyWaiters();
    }
};

void *ThreadMain(void *argument) {
    auto *holder = static_cast<std::shared_ptr<ThreadState> *>(argument);
    std::shared_ptr<ThreadState> state = *holder;
    delete holder;
    state->id = static_cast<DWORD>(syscall(SYS_gettid));
    {
        std::unique_lock<std::mutex> lock(WaitMutex());
        NotifyWaiters(); // the creator waits for the ID
        ResumeCondition().wait(lock, [&] { return state->suspendCount == 0; });
    }
    FinishOnExit finish{state.get()};
    DWORD code = state->start(state->parameter);
    std::lock_guard<std::mutex> guard(WaitMutex());
    if (state->exitCode == STILL_ACTIVE)
        state->exitCode = code;
    return nullptr;
}

std::shared_ptr<ThreadState> StateOf(HANDLE handle) {
    auto object = LookupHandleAs<ThreadObject>(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return object->State();
}

} // namespace
} // namespace platform

using namespace platform;

extern "C" HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T dwStackSize,
                                      LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                      DWORD dwCreationFlags, LPDWORD lpThreadId) {
    if (!lpStartAddress) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto state = std::make_shared<ThreadState>();
    state->start = lpStartAddress;
    state->parameter = lpParameter;
    state->suspendCount = (dwCreationFlags & CREATE_SUSPENDED) ? 1 : 0;

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (dwStackSize)
        pthread_attr_setstacksize(&attributes, std::max<SIZE_T>(dwStackSize, PTHREAD_STACK_MIN));
    auto *holder = new std::shared_ptr<ThreadState>(state);
    int rc = pthread_create(&state->thread, &attributes, ThreadMain, holder);
    pthread_attr_destroy(&attributes);
    if (rc != 0) {
        delete holder;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    {
        std::unique_lock<std::mutex> lock(WaitMutex());
        while (state->id == 0)
            lock.unlock(), sched_yield(), lock.lock();
    }
    if (lpThreadId)
        *lpThreadId = state->id;
    return AddHandle(std::make_shared<ThreadObject>(std::move(state)));
}

extern "C" HANDLE WINAPI OpenThread(DWORD, BOOL, DWORD dwThreadId) {
    if (!ThreadIsAlive(dwThreadId)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return AddHandle(std::make_shared<ForeignThread>(dwThreadId));
}

extern "C" BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    if (!lpExitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (auto foreign = LookupHandleAs<ForeignThread>(hThread)) {
        *lpExitCode = ThreadIsAlive(foreign->Id()) ? STILL_ACTIVE : 0;
        return TRUE;
    }
    auto state = StateOf(hThread);
    if (!state)
        return FALSE;
    std::lock_guard<std::mutex> guard(WaitMutex());
    *lpExitCode =
        state->finished || state->exitCode != STILL_ACTIVE ? state->exitCode : STILL_ACTIVE;
    return TRUE;
}

extern "C" BOOL WINAPI TerminateThread(HANDLE hThread, DWORD dwExitCode) {
    auto state = StateOf(hThread);
    if (!state)
        return FALSE;
    std::lock_guard<std::mutex> guard(WaitMutex());
    if (state->finished)
        return TRUE;
    state->exitCode = dwExitCode;
    // The thread ends at its next cancellation point (a sleep or a wait).
    pthread_cancel(state->thread);
    if (state->suspendCount > 0) {
        state->suspendCount = 0;
        ResumeCondition().notify_all();
    }
    return TRUE;
}

extern "C" DWORD WINAPI ResumeThread(HANDLE hThread) {
    auto state = StateOf(hThread);
    if (!state)
        return static_cast<DWORD>(-1);
    std::lock_guard<std::mutex> guard(WaitMutex());
    DWORD previous = static_cast<DWORD>(state->suspendCount);
    if (state->suspendCount > 0 && --state->suspendCount == 0)
        ResumeCondition().notify_all();
    return previous;
}

extern "C" DWORD WINAPI SuspendThread(HANDLE hThread) {
    auto state = StateOf(hThread);
    if (!state)
        return static_cast<DWORD>(-1);
    std::lock_guard<std::mutex> guard(WaitMutex());
    // Only a thread that has not started running yet can be held here; a
    // running thread cannot be stopped from outside on this system.
    if (state->suspendCount == 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return static_cast<DWORD>(-1);
    }
    return static_cast<DWORD>(state->suspendCount++);
}

namespace {

// Each thread's ID, asked of the kernel once (the question is a system call,
// dearer than the data guard's whole uncontended lock). A child made by fork
// is its forking thread's copy and forgets it, so it asks for its own.
thread_local DWORD t_threadId = 0;

void ForgetThreadId() {
    t_threadId = 0;
}

} // namespace

extern "C" DWORD WINAPI GetCurrentThreadId() {
    if (t_threadId == 0) {
        static const int registered = pthread_atfork(nullptr, nullptr, ForgetThreadId);
        (void)registered;
        t_threadId = static_cast<DWORD>(syscall(SYS_gettid));
    }
    return t_threadId;
}

extern "C" DWORD WINAPI GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}

extern "C" void WINAPI Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    if (dwMilliseconds == INFINITE) {
        for (;;)
            pause();
    }
    timespec delay{static_cast<time_t>(dwMilliseconds / 1000),
                   static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0) {
    }
}

extern "C" BOOL WINAPI SwitchToThread() {
    sched_yield();
    return TRUE;
}

extern "C" DWORD WINAPI GetTickCount() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<DWORD>(static_cast<ULONGLONG>(now.tv_sec) * 1000u +
                              static_cast<ULONGLONG>(now.tv_nsec) / 1000000u);
}

extern "C" DWORD WINAPI timeGetTime() {
    return GetTickCount();
}
