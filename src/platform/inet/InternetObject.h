// The objects behind HINTERNET values, their handle table, and the delivery
// of statuses to the application's callback.
//
// A HINTERNET is a number from the inet table (never a pointer), so a closed
// or forged handle is refused with ERROR_INVALID_HANDLE. Each object holds the
// callback and context it was created with; a child inherits its parent's
// callback and time-outs. Closing a handle closes its children too.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../kernel/winbase.h"
#include "wininet.h"

namespace platform::inet {

class InternetSession;

// The connect, send and receive time-outs, milliseconds.
struct Timeouts {
    DWORD connect = 60000;
    DWORD send = 30000;
    DWORD receive = 30000;
};

class InternetObject : public std::enable_shared_from_this<InternetObject> {
public:
    InternetObject(DWORD type, std::shared_ptr<InternetObject> parent, DWORD_PTR context);
    virtual ~InternetObject() = default;
    InternetObject(const InternetObject &) = delete;
    InternetObject &operator=(const InternetObject &) = delete;

    DWORD Type() const { return m_type; }
    HINTERNET Handle() const { return m_handle; }
    DWORD_PTR Context() const { return m_context; }
    // The session the handle belongs to (a session's is itself).
    InternetSession &Session();
    std::shared_ptr<InternetSession> SessionPtr();

    INTERNET_STATUS_CALLBACK Callback() const { return m_callback.load(); }
    INTERNET_STATUS_CALLBACK SetCallback(INTERNET_STATUS_CALLBACK callback) {
        return m_callback.exchange(callback);
    }
    bool IsClosed() const { return m_closed.load(); }

    Timeouts GetTimeouts() const;
    void SetTimeouts(const Timeouts &timeouts);

    // Reports a status to the callback on the calling thread, when the handle
    // has a callback and a non-zero context (the platform's rule) and is not
    // closed. The context is the handle's unless another is given.
    void Notify(DWORD status, LPVOID info, DWORD length, DWORD_PTR context = 0);

    // Marks the handle and its children closed and takes them out of the
    // table; HANDLE_CLOSING goes to the callback. Overridden to stop work.
    virtual void Close();

    // Enters the table; false when it is full.
    bool Register();

    void AddChild(const std::shared_ptr<InternetObject> &child);

protected:
private:
    const DWORD m_type;
    HINTERNET m_handle = nullptr;
    const DWORD_PTR m_context;
    std::shared_ptr<InternetSession> m_session; // null in a session
    std::atomic<INTERNET_STATUS_CALLBACK> m_callback{nullptr};
    std::atomic<bool> m_closed{false};
    mutable std::mutex m_lock; // time-outs and children
    Timeouts m_timeouts;
    std::vector<std::weak_ptr<InternetObject>> m_children;
};

// The object behind a handle, or null (with ERROR_INVALID_HANDLE set).
std::shared_ptr<InternetObject> LookupInternetHandle(HINTERNET handle);
template <class T> std::shared_ptr<T> LookupInternetHandleAs(HINTERNET handle, DWORD wrongType) {
    auto object = LookupInternetHandle(handle);
    if (!object)
        return nullptr;
    auto typed = std::dynamic_pointer_cast<T>(object);
    if (!typed)
        SetLastError(wrongType);
    return typed;
}

// Whether this thread is inside a status callback the platform called.
bool InsideCallback();

} // namespace platform::inet
