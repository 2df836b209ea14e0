// Kernel objects behind HANDLE values, and the process's handle table.
//
// A HANDLE is an index into the table (a multiple of 4, as the platform hands
// them out), never a pointer, so a stale or forged handle is refused with
// ERROR_INVALID_HANDLE instead of being dereferenced.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "windef.h"

namespace platform {

class KernelObject {
public:
    virtual ~KernelObject() = default;

    // Waitable objects answer whether a wait on them is satisfied now; a
    // satisfied wait then acquires them (an auto-reset event resets). Both
    // run under WaitMutex().
    virtual bool IsWaitable() const { return false; }
    virtual bool IsSignalled() const { return false; }
    virtual void Acquire() {}
    // The object's state as a flag that a spinning waiter may read without
    // WaitMutex() (see SpinWait.h); null for objects that have none.
    virtual const std::atomic<bool> *SignalFlag() const { return nullptr; }
    // Objects that live outside the process (named events) wait on their own.
    virtual bool IsShared() const { return false; }
    virtual bool WaitShared(DWORD /*milliseconds*/) { return false; }
};

HANDLE AddHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
bool RemoveHandle(HANDLE handle);

template <class T> std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// The lock under which local waitable objects change state and waiters test
// them, so a test and its acquisition are one step.
std::mutex &WaitMutex();

// Wakes every thread waiting in WaitForSingleObject or WaitForMultipleObjects
// so it looks at its objects again; called whenever a local object becomes
// signalled.
void NotifyWaiters();

} // namespace platform
