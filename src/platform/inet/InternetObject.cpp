#include "InternetObject.h"

#include "InternetSession.h"

#include <unordered_map>

namespace platform::inet {
namespace {

// The inet handles: numbers from 0xCC0004 up in steps of 4, as the platform
// hands them out, apart from the kernel's handle values.
class HandleTable {
public:
    HINTERNET Add(std::shared_ptr<InternetObject> object) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_objects.size() >= kLimit)
            return nullptr;
        do {
            m_next = m_next >= kLast ? kFirst : m_next + 4;
        } while (m_objects.count(m_next));
        m_objects.emplace(m_next, std::move(object));
        return reinterpret_cast<HINTERNET>(m_next);
    }
    std::shared_ptr<InternetObject> Find(HINTERNET handle) {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_objects.find(reinterpret_cast<uintptr_t>(handle));
        return it == m_objects.end() ? nullptr : it->second;
    }
    void Remove(HINTERNET handle) {
        std::shared_ptr<InternetObject> last;
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_objects.find(reinterpret_cast<uintptr_t>(handle));
        if (it != m_objects.end()) {
            last = std::move(it->second); // destroyed after the lock is left
            m_objects.erase(it);
        }
    }

private:
    static constexpr uintptr_t kFirst = 0xCC0004, kLast = 0xFFFFFFFC;
    static constexpr size_t kLimit = 1 << 16;
    std::mutex m_lock;
    std::unordered_map<uintptr_t, std::shared_ptr<InternetObject>> m_objects;
    uintptr_t m_next = kFirst - 4;
};

HandleTable &Table() {
    static auto *table = new HandleTable; // outlives every static destructor
    return *table;
}

thread_local int t_callbackDepth = 0;

} // namespace

InternetObject::InternetObject(DWORD type, std::shared_ptr<InternetObject> parent,
                               DWORD_PTR context)
    : m_type(type), m_context(context) {
    if (parent) {
        m_session = parent->SessionPtr();
        m_callback.store(parent->Callback());
        m_timeouts = parent->GetTimeouts();
    }
}

InternetSession &InternetObject::Session() {
    return m_session ? *m_session : static_cast<InternetSession &>(*this);
}

std::shared_ptr<InternetSession> InternetObject::SessionPtr() {
    return m_session ? m_session : std::static_pointer_cast<InternetSession>(shared_from_this());
}

bool InternetObject::Register() {
    m_handle = Table().Add(shared_from_this());
    if (!m_handle) {
        SetLastError(ERROR_INTERNET_OUT_OF_HANDLES);
        return false;
    }
    return true;
}

void InternetObject::AddChild(const std::shared_ptr<InternetObject> &child) {
    std::lock_guard<std::mutex> guard(m_lock);
    // Forget children that are gone, so a long-lived parent stays small.
    std::erase_if(m_children, [](const std::weak_ptr<InternetObject> &c) { return c.expired(); });
    m_children.push_back(child);
}

Timeouts InternetObject::GetTimeouts() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_timeouts;
}

void InternetObject::SetTimeouts(const Timeouts &timeouts) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_timeouts = timeouts;
}

void InternetObject::Notify(DWORD status, LPVOID info, DWORD length, DWORD_PTR context) {
    INTERNET_STATUS_CALLBACK callback = Callback();
    if (!context)
        context = m_context;
    if (!callback || callback == INTERNET_INVALID_STATUS_CALLBACK || !context)
        return;
    ++t_callbackDepth;
    callback(m_handle, context, status, info, length);
    --t_callbackDepth;
}

void InternetObject::Close() {
    if (m_closed.exchange(true))
        return;
    std::vector<std::weak_ptr<InternetObject>> children;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        children.swap(m_children);
    }
    for (auto &weak : children) {
        if (auto child = weak.lock())
            child->Close();
    }
    HINTERNET handle = m_handle;
    Notify(INTERNET_STATUS_HANDLE_CLOSING, &handle, sizeof(handle));
    Table().Remove(m_handle);
}

std::shared_ptr<InternetObject> LookupInternetHandle(HINTERNET handle) {
    auto object = handle ? Table().Find(handle) : nullptr;
    if (!object)
        SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

bool InsideCallback() {
    return t_callbackDepth > 0;
}

} // namespace platform::inet
