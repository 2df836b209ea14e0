#include "WorkerThread.h"

WorkerThread::WorkerThread() { InitializeCriticalSection(&m_lock); }

WorkerThread::~WorkerThread() {
    Stop();
    DeleteCriticalSection(&m_lock);
}

bool WorkerThread::Running() {
    EnterCriticalSection(&m_lock);
    DWORD code = 0;
    bool running = m_hThread && GetExitCodeThread(m_hThread, &code) && code == STILL_ACTIVE;
    LeaveCriticalSection(&m_lock);
    return running;
}

BOOL WorkerThread::Start(LPTHREAD_START_ROUTINE function, LPVOID argument) {
    if (Running())
        return TRUE;
    EnterCriticalSection(&m_lock);
    if (m_hThread)
        CloseHandle(m_hThread);
    m_stop = 0;
    m_hThread = CreateThread(nullptr, 0, function, argument, 0, nullptr);
    BOOL ok = m_hThread != nullptr;
    LeaveCriticalSection(&m_lock);
    return ok;
}

DWORD WorkerThread::Suspend() { return m_hThread ? SuspendThread(m_hThread) : static_cast<DWORD>(-1); }

DWORD WorkerThread::Resume() { return m_hThread ? ResumeThread(m_hThread) : static_cast<DWORD>(-1); }

void WorkerThread::Stop() {
    EnterCriticalSection(&m_lock);
    if (m_hThread) {
        m_stop = 1;
        // Waits in 200 ms steps; past the time-out the thread is terminated.
        DWORD steps = 0, code = STILL_ACTIVE;
        while (GetExitCodeThread(m_hThread, &code) && code == STILL_ACTIVE) {
            SwitchToThread();
            if (WaitForSingleObject(m_hThread, 200) == WAIT_OBJECT_0)
                continue;
            if (++steps * 200 > m_timeoutSeconds * 1000) {
                TerminateThread(m_hThread, static_cast<DWORD>(-1));
                WaitForSingleObject(m_hThread, INFINITE);
                break;
            }
        }
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    m_stop = 0;
    LeaveCriticalSection(&m_lock);
}
