// Critical sections, unnamed events and the wait functions.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "KernelObject.h"
#include "NamedObjects.h"
#include "SpinWait.h"
#include "winbase.h"

namespace platform {
namespace {

std::condition_variable &WaitCondition() {
    static auto *condition = new std::condition_variable;
    return *condition;
}

// Threads asleep in a wait on the condition; guarded by WaitMutex().
int g_sleepers = 0;

// An event local to the process. Its state changes under WaitMutex(); a
// spinning waiter reads it without the lock.
class LocalEvent : public KernelObject {
public:
    LocalEvent(bool manualReset, bool signalled) : m_manual(manualReset), m_signalled(signalled) {}

    bool IsWaitable() const override { return true; }
    bool IsSignalled() const override { return m_signalled.load(std::memory_order_relaxed); }
    const std::atomic<bool> *SignalFlag() const override { return &m_signalled; }
    void Acquire() override {
        if (!m_manual)
            m_signalled.store(false, std::memory_order_relaxed);
    }
    void Set() { m_signalled.store(true, std::memory_order_release); }
    void Reset() { m_signalled.store(false, std::memory_order_relaxed); }

private:
    bool m_manual;
    std::atomic<bool> m_signalled;
};

using Clock = std::chrono::steady_clock;

// Watches the objects' states for a while before the waiter sleeps (see
// SpinWait.h), when every object shows its state without the lock; false
// when one does not, and nothing was watched.
bool SpinOnFlags(std::vector<std::shared_ptr<KernelObject>> &objects, bool waitAll,
                 SpinWait &spin) {
    const std::atomic<bool> *flags[MAXIMUM_WAIT_OBJECTS];
    for (size_t i = 0; i < objects.size(); ++i) {
        flags[i] = objects[i]->SignalFlag();
        if (!flags[i])
            return false;
    }
    const size_t count = objects.size();
    spin.Spin([&] {
        for (size_t i = 0; i < count; ++i) {
            const bool set = flags[i]->load(std::memory_order_acquire);
            if (set != waitAll)
                return set; // any: one is set; all: one is not
        }
        return waitAll;
    });
    return true;
}

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
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::milliseconds(milliseconds);
    // Each thread learns how long its own waits take.
    thread_local SpinWait spin;
    // The locked test below takes what a spin found.
    const bool learn = !anyShared && milliseconds != 0 && SpinOnFlags(objects, waitAll, spin);
    std::unique_lock<std::mutex> lock(WaitMutex());
    for (;;) {
        if (waitAll) {
            bool all = true;
            for (auto &object : objects)
                all = all && object->IsSignalled();
            if (all) {
                for (auto &object : objects)
                    object->Acquire();
                if (learn)
                    spin.Learn(start);
                return WAIT_OBJECT_0;
            }
        } else {
            for (size_t i = 0; i < objects.size(); ++i) {
                bool ready =
                    objects[i]->IsShared() ? objects[i]->WaitShared(0) : objects[i]->IsSignalled();
                if (ready) {
                    if (!objects[i]->IsShared())
                        objects[i]->Acquire();
                    if (learn)
                        spin.Learn(start);
                    return WAIT_OBJECT_0 + static_cast<DWORD>(i);
                }
            }
        }
        if (!forever && Clock::now() >= deadline) {
            if (learn)
                spin.Learn(start);
            return WAIT_TIMEOUT;
        }
        Clock::time_point until = forever ? Clock::now() + std::chrono::hours(1) : deadline;
        if (anyShared)
            until = std::min(until, Clock::now() + std::chrono::milliseconds(2));
        ++g_sleepers;
        WaitCondition().wait_until(lock, until);
        --g_sleepers;
    }
}

} // namespace

std::mutex &WaitMutex() {
    static auto *mutex = new std::mutex;
    return *mutex;
}

void NotifyWaiters() {
    if (g_sleepers > 0)
        WaitCondition().notify_all();
}

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
        bool sleepers;
        {
            std::lock_guard<std::mutex> guard(WaitMutex());
            local->Set();
            sleepers = g_sleepers > 0;
        }
        // Woken outside the lock, so a sleeper does not wake only to wait
        // for it.
        if (sleepers)
            WaitCondition().notify_all();
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
        // No waiter needs to learn of a reset, so no lock is needed: a wait
        // that ran before it found the event set, one after it finds it
        // clear.
        local->Reset();
        return TRUE;
    }
    if (object && SetNamedEvent(object.get(), false))
        return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

// ---- Waits ------------------------------------------------------------------

extern "C" DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll,
                                               DWORD dwMilliseconds) {
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<KernelObject>> objects;
    objects.reserve(nCount);
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
