// Critical sections, unnamed events and the wait functions.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "KernelObject.h"
#include "NamedObjects.h"
#include "winbase.h"

namespace platform {
namespace {

std::condition_variable &WaitCondition() {
    static auto *condition = new std::condition_variable;
    return *condition;
}

// An event local to the process. Its state is guarded by WaitMutex().
class LocalEvent : public KernelObject {
public:
    LocalEvent(bool manualReset, bool signalled) : m_manual(manualReset), m_signalled(signalled) {}

    bool IsWaitable() const override { return true; }
    bool IsSignalled() const override { return m_signalled; }
    void Acquire() override {
        if (!m_manual)
            m_signalled = false;
    }
    void Set() { m_signalled = true; }
    void Reset() { m_signalled = false; }

private:
    bool m_manual;
    bool m_signalled;
};

using Clock = std::chrono::steady_clock;

// Waits on local objects under WaitMutex(); objects shared between processes
// are polled in short steps when they are mixed with others.
DWORD WaitObjects(std::vector<std::shared_ptr<KernelObject>> &objects, bool waitAll,
                  DWORD milliseconds) {
    bool anyShared = false;
    for (auto &object : objects)
        anyShared = anyShared || object->IsShared();
    if (objects.size() == 1 && anyShared)
        return objects[0]->WaitShared(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;

    const bool forever = milliseconds == INFINITE;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock<std::mutex> lock(WaitMutex());
    for (;;) {
        if (waitAll) {
            bool all = true;
            for (auto &object : objects)
                all = all && object->IsSignalled();
            if (all) {
                for (auto &object : objects)
                    object->Acquire();
                return WAIT_OBJECT_0;
            }
        } else {
            for (size_t i = 0; i < objects.size(); ++i) {
                bool ready = objects[i]->IsShared() ? objects[i]->WaitShared(0)
                                                    : objects[i]->IsSignalled();
                if (ready) {
                    if (!objects[i]->IsShared())
                        objects[i]->Acquire();
                    return WAIT_OBJECT_0 + static_cast<DWORD>(i);
                }
            }
        }
        if (!forever && Clock::now() >= deadline)
            return WAIT_TIMEOUT;
        Clock::time_point until = forever ? Clock::now() + std::chrono::hours(1) : deadline;
        if (anyShared)
            until = std::min(until, Clock::now() + std::chrono::milliseconds(2));
        WaitCondition().wait_until(lock, until);
    }
}

} // namespace

std::mutex &WaitMutex() {
    static auto *mutex = new std::mutex;
    return *mutex;
}

void NotifyWaiters() { WaitCondition().notify_all(); }

} // namespace platform

using namespace platform;

// ---- Critical sections ------------------------------------------------------

extern "C" void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    cs->Impl = new std::recursive_mutex;
}

extern "C" void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    delete static_cast<std::recursive_mutex *>(cs->Impl);
    cs->Impl = nullptr;
}

extern "C" void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs) {
    static_cast<std::recursive_mutex *>(cs->Impl)->lock();
}

extern "C" BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    return static_cast<std::recursive_mutex *>(cs->Impl)->try_lock() ? TRUE : FALSE;
}

extern "C" void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs) {
    static_cast<std::recursive_mutex *>(cs->Impl)->unlock();
}

// ---- Events -----------------------------------------------------------------

extern "C" HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState,
                                      LPCSTR lpName) {
    if (lpName && *lpName)
        return CreateNamedEvent(lpName, bManualReset != FALSE, bInitialState != FALSE);
    SetLastError(ERROR_SUCCESS);
    return AddHandle(std::make_shared<LocalEvent>(bManualReset != FALSE, bInitialState != FALSE));
}

extern "C" BOOL WINAPI SetEvent(HANDLE hEvent) {
    auto object = LookupHandle(hEvent);
    if (auto local = std::dynamic_pointer_cast<LocalEvent>(object)) {
        std::lock_guard<std::mutex> guard(WaitMutex());
        local->Set();
        NotifyWaiters();
        return TRUE;
    }
    if (object && SetNamedEvent(object.get(), true))
        return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

extern "C" BOOL WINAPI ResetEvent(HANDLE hEvent) {
    auto object = LookupHandle(hEvent);
    if (auto local = std::dynamic_pointer_cast<LocalEvent>(object)) {
        std::lock_guard<std::mutex> guard(WaitMutex());
        local->Reset();
        return TRUE;
    }
    if (object && SetNamedEvent(object.get(), false))
        return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

// ---- Waits ------------------------------------------------------------------

extern "C" DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles,
                                               BOOL bWaitAll, DWORD dwMilliseconds) {
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<KernelObject>> objects;
    for (DWORD i = 0; i < nCount; ++i) {
        auto object = LookupHandle(lpHandles[i]);
        if (!object || !(object->IsWaitable() || object->IsShared())) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(std::move(object));
    }
    const bool waitAll = bWaitAll != FALSE && nCount > 1;
    if (waitAll) {
        // Taking several objects at once is atomic only for local objects.
        for (auto &object : objects) {
            if (object->IsShared()) {
                SetLastError(ERROR_NOT_SUPPORTED);
                return WAIT_FAILED;
            }
        }
    }
    return WaitObjects(objects, waitAll, dwMilliseconds);
}

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}
