// WorkerThread: the thread holder of the animation. Stopping it asks the
// thread to end and waits for it, up to a time-out.
#pragma once

#include <atomic>

#include "platform/win32.h"

class WorkerThread {
public:
    static constexpr DWORD kStopTimeoutSeconds = 30;

    WorkerThread();
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;
    ~WorkerThread(); // stops the thread

    // Starts the thread; if one is still running, does nothing and succeeds.
    BOOL Start(LPTHREAD_START_ROUTINE function, LPVOID argument);
    DWORD Suspend();
    DWORD Resume();
    void Stop();
    bool StopRequested() const { return m_stop.load() != 0; }
    bool Running();

private:
    HANDLE m_hThread = nullptr;
    std::atomic<int> m_stop{0};
    DWORD m_timeoutSeconds = kStopTimeoutSeconds;
    CRITICAL_SECTION m_lock;
};
